#include "platform/files/BackgroundCommits.h"

#include <exception>
#include <new>
#include <utility>

namespace fotolane {

BackgroundCommits::BackgroundCommits()
    : thread_([this](std::stop_token stop) { Run(std::move(stop)); }) {}

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
    }
    changed_.notify_all();
    return number;
}

void BackgroundCommits::Wait(std::size_t number) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return settled_ > number || number >= firstKept_ + items_.size(); });
}

std::optional<Fault> BackgroundCommits::TakeFault(std::size_t number) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return settled_ > number || number >= firstKept_ + items_.size(); });
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
        // Asked to stop, the thread still commits what it was given.
        if (!changed_.wait(lock, stop, [&] { return settled_ < firstKept_ + items_.size(); })) {
            return;
        }
        // Every file handed over by now is flushed before any of them is
        // renamed: the disk then takes their data, and the inode blocks they
        // share, in fewer writes than file by file.
        const std::size_t first = settled_;
        const std::size_t end = firstKept_ + items_.size();
        lock.unlock();
        // Nobody else touches an item until it is settled, and adding items
        // at the back leaves it where it is; only finding it needs the lock.
        const auto item = [&](std::size_t number) -> Item& {
            const std::scoped_lock briefly(mutex_);
            return items_[number - firstKept_];
        };
        for (std::size_t number = first; number < end; ++number) {
            Settle(item(number), &WholeFileWriter::FlushToDisk);
        }
        for (std::size_t number = first; number < end; ++number) {
            Settle(item(number), &WholeFileWriter::Commit);
        }
        lock.lock();
        settled_ = end;
        changed_.notify_all();
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
