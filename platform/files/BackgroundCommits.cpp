#include "platform/files/BackgroundCommits.h"

#include <exception>
#include <new>
#include <utility>

#include "platform/core/Threads.h"

namespace fotolane {

BackgroundCommits::BackgroundCommits() {
    // Without a thread of its own every file is committed as it is handed
    // over (Hand).
    StartThread(thread_, [this](std::stop_token stop) { Run(std::move(stop)); });
}

BackgroundCommits::~BackgroundCommits() {
    thread_.request_stop();
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::size_t BackgroundCommits::Hand(std::unique_ptr<WholeFileWriter> file) {
    std::size_t number = 0;
    {
        const std::scoped_lock lock(mutex_);
        items_.push_back(Item{std::move(file), std::nullopt});
        number = firstKept_ + items_.size() - 1;
        if (!thread_.joinable()) {
            // The caller waits for the disk, and its faults are kept as
            // the thread keeps them.
            Settle(items_.back(), &WholeFileWriter::FlushToDisk);
            Settle(items_.back(), &WholeFileWriter::Commit);
            ++settled_;
            return number;
        }
    }
    changed_.notify_all();
    return number;
}

void BackgroundCommits::Wait(std::size_t number) {
    std::unique_lock lock(mutex_);
    AwaitSettled(lock, number);
}

void BackgroundCommits::AwaitSettled(std::unique_lock<std::mutex>& lock, std::size_t number) {
    const auto settled = [&] { return settled_ > number || number >= firstKept_ + items_.size(); };
    if (settled()) return;
    // The thread starts on what it has rather than wait for more.
    ++waiters_;
    changed_.notify_all();
    changed_.wait(lock, settled);
    --waiters_;
}

std::optional<Fault> BackgroundCommits::TakeFault(std::size_t number) {
    std::unique_lock lock(mutex_);
    AwaitSettled(lock, number);
    if (number < firstKept_ || number >= settled_) return std::nullopt;
    while (firstKept_ < number) {
        items_.pop_front();
        ++firstKept_;
    }
    std::optional<Fault> fault = std::move(items_.front().fault);
    items_.pop_front();
    ++firstKept_;
    return fault;
}

void BackgroundCommits::Run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        // Files are gathered until there are a few to flush together, or
        // somebody waits for one, or the thread is asked to stop: it then
        // still commits what it was given.
        const auto due = [&] {
            const std::size_t waiting = firstKept_ + items_.size() - settled_;
            return waiting > 0 && (waiting >= kGathered || waiters_ > 0 || stop.stop_requested());
        };
        if (!changed_.wait(lock, stop, due)) return;
        // Nobody else touches an item until it is settled, and adding items
        // at the back leaves it where it is.
        std::vector<Item*> batch;
        try {
            for (std::size_t number = settled_; number < firstKept_ + items_.size(); ++number) {
                batch.push_back(&items_[number - firstKept_]);
            }
        } catch (const std::bad_alloc&) {
            // Those gathered so far, then.
        }
        if (batch.empty()) batch.push_back(nullptr);  // no memory even for one
        lock.unlock();
        if (batch.front() == nullptr) {
            // One by one, with no memory to spare.
            Item& item = ItemAt(settled_);
            Settle(item, &WholeFileWriter::FlushToDisk);
            Settle(item, &WholeFileWriter::Commit);
            batch.front() = &item;
        } else {
            FlushTogether(batch);
            // Renamed in the order handed over.
            for (Item* item : batch) Settle(*item, &WholeFileWriter::Commit);
        }
        lock.lock();
        settled_ += batch.size();
        changed_.notify_all();
    }
}

BackgroundCommits::Item& BackgroundCommits::ItemAt(std::size_t number) {
    const std::scoped_lock briefly(mutex_);
    return items_[number - firstKept_];
}

// Every file of the batch is flushed before any of them is renamed, all at
// once, so that the disk takes them together.
void BackgroundCommits::FlushTogether(std::span<Item* const> batch) noexcept {
    try {
        std::vector<WholeFileWriter*> files;
        for (Item* item : batch) files.push_back(item->file.get());
        std::vector<std::optional<Fault>> faults = WholeFileWriter::FlushAllToDisk(files);
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (faults[i]) {
                batch[i]->fault = std::move(faults[i]);
                batch[i]->file.reset();
            }
        }
    } catch (...) {
        // Without memory for that: one by one.
        for (Item* item : batch) Settle(*item, &WholeFileWriter::FlushToDisk);
    }
}

void BackgroundCommits::Settle(Item& item, void (WholeFileWriter::*step)()) noexcept {
    if (!item.file) return;  // failed at an earlier step
    try {
        try {
            ((*item.file).*step)();
        } catch (const Fault& fault) {
            item.fault = fault;
        } catch (const std::bad_alloc&) {
            item.fault = Fault::OutOfMemory().Naming(item.file->Path());
        } catch (const std::exception& error) {
            item.fault = Fault(error.what(), item.file->Path());
        }
    } catch (...) {
        // No memory even for the fault.
        item.fault = outOfMemory_;
    }
    // Committed, or failed with no temporary file left behind.
    if (item.fault || step == &WholeFileWriter::Commit) {
        item.file->Discard();
        item.file.reset();
    }
}

}  // namespace fotolane
