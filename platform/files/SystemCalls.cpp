#include "platform/files/SystemCalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <thread>
#include <vector>

#include "platform/files/FilesTesting.h"

namespace fotolane::files {
namespace {

struct Switch {
    std::int32_t allowed = -1;  // calls that succeed before one fails; -1: none fails
    int error = 0;
};

// One switch per Step, Remove the last.
std::array<Switch, static_cast<std::size_t>(Step::Remove) + 1> switches;

Switch& SwitchOf(Step step) {
    return switches[static_cast<std::size_t>(step)];
}

// Whether this call of `step` is to fail; then errno holds the error.
bool Refused(Step step) {
    Switch& s = SwitchOf(step);
    if (s.allowed < 0) return false;
    if (s.allowed > 0) {
        --s.allowed;
        return false;
    }
    s.allowed = -1;  // one call fails, the ones after it succeed again
    errno = s.error;
    return true;
}

}  // namespace

ScopedFailure::ScopedFailure(Step step, std::int32_t allowed, int error)
    : step_(step), previousAllowed_(SwitchOf(step).allowed), previousError_(SwitchOf(step).error) {
    SwitchOf(step) = Switch{allowed, error};
}

ScopedFailure::~ScopedFailure() {
    SwitchOf(step_) = Switch{previousAllowed_, previousError_};
}

namespace sys {

int Open(const char* path, int flags, mode_t mode) {
    if (Refused(Step::Open)) return -1;
    return ::open(path, flags, mode);
}

::ssize_t Write(int fd, const void* data, std::size_t size) {
    if (Refused(Step::Write)) return -1;
    return ::write(fd, data, size);
}

int Flush(int fd) {
    if (Refused(Step::Flush)) return -1;
    return ::fsync(fd);
}

void FlushAll(std::span<const int> fds, std::span<int> errors) {
    constexpr int kPending = -1;
    for (std::size_t i = 0; i < fds.size(); ++i)
        errors[i] = Refused(Step::Flush) ? errno : kPending;
    std::atomic<std::size_t> next = 0;
    const auto flush = [&] {
        for (std::size_t i; (i = next++) < fds.size();) {
            if (errors[i] == kPending) errors[i] = ::fsync(fds[i]) == 0 ? 0 : errno;
        }
    };
    {
        // A few at a time are enough for the disk to take them together.
        constexpr std::size_t kMostAtOnce = 8;
        std::vector<std::jthread> helpers;
        try {
            while (helpers.size() + 1 < std::min(fds.size(), kMostAtOnce)) {
                helpers.emplace_back(flush);
            }
        } catch (const std::exception&) {
            // Fewer helpers, or none: this thread flushes the rest.
        }
        flush();
    }  // joins the helpers
}

int Close(int fd) {
    // A refused close still releases the descriptor, as a real failing
    // close does.
    if (Refused(Step::Close)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return ::close(fd);
}

int Rename(const char* from, const char* to) {
    if (Refused(Step::Rename)) return -1;
    return std::rename(from, to);
}

int MakeFolder(const char* path, mode_t mode) {
    if (Refused(Step::CreateFolder)) return -1;
    return ::mkdir(path, mode);
}

int Remove(const char* path) {
    if (Refused(Step::Remove)) return -1;
    return ::unlink(path);
}

dirent* ReadFolder(DIR* dir) {
    if (Refused(Step::ListFolder)) return nullptr;
    return ::readdir(dir);
}

int StatEntry(const char* path, struct stat* info) {
    if (Refused(Step::StatEntry)) return -1;
    return ::stat(path, info);
}

}  // namespace sys
}  // namespace fotolane::files
