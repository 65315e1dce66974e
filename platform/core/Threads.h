#pragma once

#include <functional>
#include <stop_token>
#include <thread>

namespace fotolane {

// Starts `work` on a thread of its own, held by `thread`. False, with
// `thread` left without one, when the system refuses another thread (a limit
// of processes or of address space) or the memory for it: the caller then
// does with fewer threads, or does the work itself; a refused thread never
// ends the program. Safe to call from several threads at once. Test switch:
// ThreadsTesting.h.
bool StartThread(std::jthread& thread, std::function<void(std::stop_token)> work);

}  // namespace fotolane
