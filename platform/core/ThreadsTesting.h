#pragma once

#include <cstdint>

// Test-only switch of StartThread (Threads.h): threads are refused as the
// system refuses them under a limit of processes, so that tests can show
// what a run does with fewer threads than it asked for.
namespace fotolane::testing {

// While an object of this type lives, the first `allowed` threads that
// StartThread is asked for start, and every one after them is refused. The
// switch in force before is restored at the end.
class ScopedThreadRefusal {
  public:
    explicit ScopedThreadRefusal(std::int32_t allowed);
    ScopedThreadRefusal(const ScopedThreadRefusal&) = delete;
    ScopedThreadRefusal& operator=(const ScopedThreadRefusal&) = delete;
    ~ScopedThreadRefusal();

  private:
    std::int32_t previous_;
};

}  // namespace fotolane::testing
