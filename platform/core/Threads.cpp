#include "platform/core/Threads.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <utility>

#include "platform/core/ThreadsTesting.h"

namespace fotolane {
namespace {

// The threads that may still start before StartThread refuses them; below
// zero when no test switch is in force.
std::atomic<std::int32_t> allowedThreads{-1};

bool RefusedByTest() {
    std::int32_t allowed = allowedThreads.load();
    while (allowed >= 0) {
        if (allowed == 0) return true;
        if (allowedThreads.compare_exchange_weak(allowed, allowed - 1)) return false;
    }
    return false;
}

}  // namespace

bool StartThread(std::jthread& thread, std::function<void(std::stop_token)> work) {
    if (RefusedByTest()) return false;
    try {
        thread = std::jthread(std::move(work));
        return true;
    } catch (const std::exception&) {
        // std::system_error when the system has no thread to give,
        // std::bad_alloc when there is no memory for its state.
        return false;
    }
}

void StartThreads(std::vector<std::jthread>& threads, std::size_t wanted,
                  const std::function<void(std::stop_token)>& work,
                  const std::function<void(std::size_t)>& started) {
    while (threads.size() < wanted) {
        std::jthread thread;
        if (!StartThread(thread, work)) return;
        threads.push_back(std::move(thread));
        started(threads.size());
    }
}

namespace testing {

ScopedThreadRefusal::ScopedThreadRefusal(std::int32_t allowed)
    : previous_(allowedThreads.exchange(allowed < 0 ? 0 : allowed)) {}

ScopedThreadRefusal::~ScopedThreadRefusal() {
    allowedThreads.store(previous_);
}

}  // namespace testing
}  // namespace fotolane
