#include "platform/core/MemoryBudget.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "platform/core/Fault.h"

namespace fotolane {
namespace {

std::size_t MachineBudget() {
    constexpr std::size_t kMost = std::size_t{2} << 30;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return kMost;
    return std::min(kMost,
                    static_cast<std::size_t>(pages) / 4 * static_cast<std::size_t>(pageSize));
}

std::atomic<std::size_t>& Budget() {
    static std::atomic<std::size_t> budget{MachineBudget()};
    return budget;
}

std::atomic<std::size_t> drawn{0};

}  // namespace

std::size_t PictureMemoryBudget() {
    return Budget().load();
}

void DrawPictureMemory(std::size_t bytes) {
    std::size_t before = drawn.load();
    do {
        if (bytes > Budget().load() || before > Budget().load() - bytes) {
            throw Fault::OutOfMemory();
        }
    } while (!drawn.compare_exchange_weak(before, before + bytes));
}

void ReturnPictureMemory(std::size_t bytes) noexcept {
    drawn.fetch_sub(bytes);
}

ScopedPictureMemoryBudget::ScopedPictureMemoryBudget(std::size_t bytes)
    : previous_(Budget().exchange(bytes)) {}

ScopedPictureMemoryBudget::~ScopedPictureMemoryBudget() {
    Budget().store(previous_);
}

}  // namespace fotolane
