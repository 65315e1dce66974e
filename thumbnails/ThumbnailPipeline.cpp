#include "thumbnails/ThumbnailPipeline.h"

#include <algorithm>
#include <utility>

#include "platform/core/Fault.h"
#include "platform/files/FileSystem.h"
#include "thumbnails/ThumbnailSampler.h"

namespace fotolane::thumbnails {

ThumbnailPipeline::ThumbnailPipeline(int workers)
    : inFlightLimit_(2 * static_cast<std::size_t>(std::max(workers, 1))) {
    for (int i = 0; i < std::max(workers, 1); ++i) {
        workers_.emplace_back([this](std::stop_token stop) { Work(stop); });
    }
}

ThumbnailPipeline::~ThumbnailPipeline() {
    for (std::jthread& worker : workers_) worker.request_stop();
    workToDo_.notify_all();
    workers_.clear();  // joins
}

void ThumbnailPipeline::Expect(std::vector<ThumbnailJob> jobs) {
    {
        const std::scoped_lock lock(mutex_);
        DropLocked();
        jobs_ = std::move(jobs);
        slots_.resize(jobs_.size());
    }
    workToDo_.notify_all();
}

void ThumbnailPipeline::DropLocked() {
    ++generation_;
    jobs_.clear();
    slots_.clear();
    nextToStart_ = 0;
    nextToTake_ = 0;
}

bool ThumbnailPipeline::IsNextLocked(const ThumbnailJob& job) {
    if (nextToTake_ < jobs_.size() && jobs_[nextToTake_].strFileName == job.strFileName &&
        jobs_[nextToTake_].strThumbFile == job.strThumbFile &&
        jobs_[nextToTake_].lSize == job.lSize) {
        return true;
    }
    // The run has left the list: what was made ahead is of no use.
    if (!jobs_.empty()) DropLocked();
    return false;
}

void ThumbnailPipeline::Pass(const ThumbnailJob& job) {
    {
        const std::scoped_lock lock(mutex_);
        if (!IsNextLocked(job)) return;
        // A worker still at it stores its result into the slot, unread.
        slots_[nextToTake_].result = SampledThumbnail{};
        ++nextToTake_;
        // Not started yet: it never will be.
        nextToStart_ = std::max(nextToStart_, nextToTake_);
    }
    workToDo_.notify_all();
}

std::optional<SampledThumbnail> ThumbnailPipeline::Take(const ThumbnailJob& job) {
    std::unique_lock lock(mutex_);
    if (!IsNextLocked(job)) return std::nullopt;
    const std::size_t index = nextToTake_;
    resultDone_.wait(lock, [&] { return slots_[index].done; });
    SampledThumbnail result = std::move(slots_[index].result);
    slots_[index] = Slot{};
    ++nextToTake_;
    lock.unlock();
    workToDo_.notify_all();
    return result;
}

void ThumbnailPipeline::Work(std::stop_token stop) {
    ThumbnailSampler sampler;
    std::unique_lock lock(mutex_);
    for (;;) {
        const bool ready = workToDo_.wait(lock, stop, [&] {
            return nextToStart_ < jobs_.size() && nextToStart_ - nextToTake_ < inFlightLimit_;
        });
        if (!ready) return;  // asked to stop
        const std::size_t index = nextToStart_++;
        const std::uint64_t generation = generation_;
        const ThumbnailJob job = jobs_[index];
        slots_[index].started = true;
        lock.unlock();

        SampledThumbnail result;
        try {
            // With "New" an existing thumbnail stays; the maker looks again
            // when it takes the result, as one may have come meanwhile.
            if (!job.bThumbMode &&
                LookUpPlainFile(job.strThumbFile).find_first_not_of(' ') != std::string::npos) {
                result.skipped = true;
            }
        } catch (const Fault&) {
            // A lookup that fails counts as no file.
        }
        if (!result.skipped) {
            try {
                sampler.SampleThumbnail(job.strFileName, job.lSize);
                result.ThumbBits = std::move(sampler.ThumbBits);
                result.ThumbWidth = sampler.ThumbWidth;
                result.ThumbHeight = sampler.ThumbHeight;
                result.pictureSize = sampler.PictureSize();
            } catch (...) {
                result.fault = std::current_exception();
            }
        }

        lock.lock();
        if (generation == generation_ && index < slots_.size()) {
            slots_[index].result = std::move(result);
            slots_[index].done = true;
            resultDone_.notify_all();
        }
    }
}

}  // namespace fotolane::thumbnails
