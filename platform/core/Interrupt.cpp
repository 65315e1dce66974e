#include "platform/core/Interrupt.h"

#include <csignal>

namespace fotolane {
namespace {

// Set by the SIGINT handler. Only a lock-free flag may be touched from a
// signal handler.
volatile std::sig_atomic_t interruptRequested = 0;

extern "C" void OnInterrupt(int) {
    interruptRequested = 1;
}

}  // namespace

ScopedInterruptToStop::ScopedInterruptToStop() {
    interruptRequested = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    installed_ = ::sigaction(SIGINT, &action, &previous_) == 0;
}

ScopedInterruptToStop::~ScopedInterruptToStop() {
    if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
}

bool InterruptRequested() {
    return interruptRequested != 0;
}

}  // namespace fotolane
