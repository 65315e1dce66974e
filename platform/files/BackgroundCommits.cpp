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
        // Nobody else touches an item until it is settled, and adding items
        // at the back leaves it where it is.
        Item& item = items_[settled_ - firstKept_];
        lock.unlock();
        Commit(item);
        lock.lock();
        ++settled_;
        changed_.notify_all();
    }
}

void BackgroundCommits::Commit(Item& item) noexcept {
    const std::unique_ptr<WholeFileWriter> file = std::move(item.file);
    try {
        try {
            file->Commit();
        } catch (const std::bad_alloc&) {
            throw Fault::OutOfMemory().Naming(file->Path());
        } catch (const Fault&) {
            throw;
        } catch (const std::exception& error) {
            throw Fault(error.what(), file->Path());
        }
    } catch (const Fault& fault) {
        try {
            item.fault = fault;
        } catch (const std::bad_alloc&) {
            item.fault = outOfMemory_;
        }
    } catch (const std::bad_alloc&) {
        item.fault = outOfMemory_;
    }
    // A file that failed leaves no temporary file behind.
    file->Discard();
}

}  // namespace fotolane
