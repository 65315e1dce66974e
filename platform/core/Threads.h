#pragma once

#include <functional>
#include <stop_token>
#include <thread>
#include <vector>

namespace fotolane {

// Starts `work` on a thread of its own, held by `thread`. False, with
// `thread` left without one, when the system refuses another thread (a limit
// of processes or of address space) or the memory for it: the caller then
// does with fewer threads, or does the work itself; a refused thread never
// ends the program. Safe to call from several threads at once. Test switch:
// ThreadsTesting.h.
bool StartThread(std::jthread& thread, std::function<void(std::stop_token)> work);

// Adds threads running `work` to `threads` until it holds `wanted`, or the
// system refuses one (StartThread); after each, `started` is called with
// the number running, so that the caller's limits can follow them.
void StartThreads(std::vector<std::jthread>& threads, std::size_t wanted,
                  const std::function<void(std::stop_token)>& work,
                  const std::function<void(std::size_t)>& started);

}  // namespace fotolane
