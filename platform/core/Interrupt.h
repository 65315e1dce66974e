#pragma once

#include <signal.h>

namespace fotolane {

// Ctrl+C as a request to stop. While an object of this type lives, SIGINT
// sets a flag that InterruptRequested reads (between pictures, say), and the
// handling in force before is put back at its end. SA_RESETHAND: a second
// Ctrl+C ends the program at once, as users expect when the first seems to
// do nothing. The flag is cleared when the object is made.
class ScopedInterruptToStop {
  public:
    ScopedInterruptToStop();
    ScopedInterruptToStop(const ScopedInterruptToStop&) = delete;
    ScopedInterruptToStop& operator=(const ScopedInterruptToStop&) = delete;
    ~ScopedInterruptToStop();

  private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

// Whether a SIGINT came since the last ScopedInterruptToStop was made.
bool InterruptRequested();

}  // namespace fotolane
