#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

#include "platform/core/Fault.h"
#include "platform/files/WholeFile.h"

namespace fotolane {

// Commits files written whole on a thread of its own: the caller writes a
// file's bytes (WholeFileWriter::FinishWriting) and hands it over; here it is
// flushed to the disk, closed and renamed over its target, so that the
// caller does not wait for the disk. Files are committed in the order they
// were handed over, several together: the thread gathers a few before it
// flushes them, unless somebody waits for one. A file that fails leaves
// no temporary file and its target untouched, as WholeFileWriter::Commit
// does; its fault is kept for the caller. When the system gives no thread,
// each file is committed on the caller's thread as it is handed over, with
// the same files and faults.
class BackgroundCommits {
  public:
    BackgroundCommits();
    BackgroundCommits(const BackgroundCommits&) = delete;
    BackgroundCommits& operator=(const BackgroundCommits&) = delete;
    // Commits what was handed over and not yet committed, then ends the
    // thread; faults not yet taken are dropped.
    ~BackgroundCommits();

    // Hands over a file whose bytes are all written out. Its number, from 0
    // in the order of handing over.
    std::size_t Hand(std::unique_ptr<WholeFileWriter> file);
    // Waits until file `number` is committed or has failed.
    void Wait(std::size_t number);
    // Waits for file `number` and takes the fault of its commit, if any.
    // Files are taken in the order handed over: what comes before `number`
    // is forgotten, and no number is taken twice.
    std::optional<Fault> TakeFault(std::size_t number);

  private:
    struct Item {
        std::unique_ptr<WholeFileWriter> file;  // until committed
        std::optional<Fault> fault;
    };

    void Run(std::stop_token stop);
    // Waits, with `lock` held on mutex_, until file `number` is settled.
    void AwaitSettled(std::unique_lock<std::mutex>& lock, std::size_t number);
    Item& ItemAt(std::size_t number);
    void FlushTogether(std::span<Item* const> batch) noexcept;
    // One step of the commit of the item's file; the file is let go once
    // it is committed or has failed.
    void Settle(Item& item, void (WholeFileWriter::*step)()) noexcept;

    std::mutex mutex_;
    std::condition_variable_any changed_;
    // Files numbered from firstKept_ on; references stay valid while items
    // are added at the back, so the thread works on its items unlocked.
    std::deque<Item> items_;
    std::size_t firstKept_ = 0;
    std::size_t settled_ = 0;  // files numbered below are committed or failed
    std::size_t waiters_ = 0;  // callers waiting for a file to be settled
    // Files gathered before a flush when nobody waits for them.
    static constexpr std::size_t kGathered = 8;
    // Given when even a fault cannot be stored: copying it needs no memory.
    const Fault outOfMemory_ = Fault::OutOfMemory();
    std::jthread thread_;  // last: joined before the rest goes; none if refused
};

}  // namespace fotolane
