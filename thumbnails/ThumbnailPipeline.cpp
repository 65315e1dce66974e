#include "thumbnails/ThumbnailPipeline.h"

#include <algorithm>
#include <utility>

#include "platform/core/Fault.h"
#include "platform/core/Threads.h"
#include "platform/files/FileSystem.h"
#include "thumbnails/AlbumImages.h"
#include "thumbnails/PictureSteps.h"
#include "thumbnails/ThumbnailSampler.h"

namespace fotolane::thumbnails {

namespace {

// How far past the first picture not yet started a worker looks for a
// much larger one.
constexpr std::size_t kLookAhead = 32;

}  // namespace

ThumbnailSampler::SharedDecode SharedDecodeOf(const ThumbnailJob& job) {
    if (job.album == nullptr) return {};
    return [&job](const picture::SampledPixels& sampled, PixelRows& rows) {
        return job.album->MakeAhead(job.strFileName, job.lSize, sampled, rows);
    };
}

ThumbnailPipeline::ThumbnailPipeline(int workers)
    : mostWorkers_(static_cast<std::size_t>(std::max(workers, 1))) {}

ThumbnailPipeline::~ThumbnailPipeline() {
    Stop();
}

std::vector<ThumbnailJob> ThumbnailPipeline::Stop() {
    std::vector<ThumbnailJob> left;
    {
        const std::scoped_lock lock(mutex_);
        if (nextToTake_ < jobs_.size()) {
            left.assign(jobs_.begin() + static_cast<std::ptrdiff_t>(nextToTake_), jobs_.end());
        }
        // Nothing is left to start: a worker ends once its picture is done.
        DropLocked();
    }
    for (std::jthread& worker : workers_) worker.request_stop();
    workToDo_.notify_all();
    workers_.clear();  // joins; the samplers' memory goes with them
    return left;
}

void ThumbnailPipeline::Expect(std::vector<ThumbnailJob> jobs) {
    Stop();
    if (jobs.empty()) return;
    // One worker per job at most; those the system refuses are left out.
    const std::size_t wanted = std::min(mostWorkers_, jobs.size());
    {
        const std::scoped_lock lock(mutex_);
        jobs_ = std::move(jobs);
        slots_.resize(jobs_.size());
        inFlightLimit_ = 0;
        mostAhead_ = 0;
    }
    // The limits follow the workers that run: one more may start its
    // pictures as soon as it is there.
    StartThreads(
        workers_, wanted, [this](std::stop_token stop) { Work(stop); },
        [this](std::size_t running) {
            {
                const std::scoped_lock lock(mutex_);
                inFlightLimit_ = 2 * running;
                mostAhead_ = running - 1;
            }
            workToDo_.notify_all();
        });
    // Without workers nothing is made ahead: the caller makes every
    // thumbnail.
    if (workers_.empty()) Stop();
}

void ThumbnailPipeline::DropLocked() {
    ++generation_;
    jobs_.clear();
    slots_.clear();
    nextToTake_ = 0;
    inFlight_ = 0;
    aheadInFlight_ = 0;
}

void ThumbnailPipeline::ReleaseLocked(Slot& slot) {
    --inFlight_;
    if (slot.ahead) --aheadInFlight_;
    slot.result = SampledThumbnail{};
}

bool ThumbnailPipeline::IsNextLocked(const ThumbnailJob& job) const {
    return nextToTake_ < jobs_.size() && jobs_[nextToTake_].strFileName == job.strFileName &&
           jobs_[nextToTake_].strThumbFile == job.strThumbFile &&
           jobs_[nextToTake_].lSize == job.lSize;
}

void ThumbnailPipeline::Pass(const ThumbnailJob& job) {
    {
        std::unique_lock lock(mutex_);
        if (!IsNextLocked(job)) {
            // The run has left the list: what was made ahead is of no use.
            lock.unlock();
            if (!workers_.empty()) Stop();
            return;
        }
        Slot& slot = slots_[nextToTake_];
        // Not started yet: it never will be. A worker still at it drops its
        // result when it is done.
        if (slot.done) ReleaseLocked(slot);
        slot.started = true;
        ++nextToTake_;
    }
    workToDo_.notify_all();
}

std::optional<SampledThumbnail> ThumbnailPipeline::Take(const ThumbnailJob& job) {
    std::unique_lock lock(mutex_);
    if (!IsNextLocked(job)) {
        lock.unlock();
        if (!workers_.empty()) Stop();
        return std::nullopt;
    }
    const std::size_t index = nextToTake_;
    resultDone_.wait(lock, [&] { return slots_[index].done; });
    SampledThumbnail result = std::move(slots_[index].result);
    ReleaseLocked(slots_[index]);
    ++nextToTake_;
    lock.unlock();
    workToDo_.notify_all();
    return result;
}

ThumbnailPipeline::Pick ThumbnailPipeline::NextToStartLocked() const {
    if (inFlight_ >= inFlightLimit_) return {jobs_.size(), false};
    std::size_t first = nextToTake_;
    while (first < jobs_.size() && slots_[first].started) ++first;
    if (first == jobs_.size() || aheadInFlight_ >= mostAhead_ || inFlight_ + 1 == inFlightLimit_) {
        return {first, false};
    }
    // A picture far larger than the first, among the next few.
    constexpr std::uintmax_t kFarLarger = 4;
    const std::size_t end = std::min(jobs_.size(), first + kLookAhead);
    std::size_t chosen = first;
    for (std::size_t i = first + 1; i < end; ++i) {
        if (!slots_[i].started && jobs_[i].fileBytes > jobs_[chosen].fileBytes) chosen = i;
    }
    if (jobs_[chosen].fileBytes >= kFarLarger * jobs_[first].fileBytes) return {chosen, true};
    return {first, false};
}

void ThumbnailPipeline::Work(std::stop_token stop) {
    ThumbnailSampler sampler;
    std::unique_lock lock(mutex_);
    for (;;) {
        Pick pick{0, false};
        const bool ready = workToDo_.wait(lock, stop, [&] {
            pick = NextToStartLocked();
            return pick.index < jobs_.size();
        });
        if (!ready) return;  // asked to stop
        const std::size_t index = pick.index;
        const std::uint64_t generation = generation_;
        const ThumbnailJob job = jobs_[index];
        Slot& slot = slots_[index];
        slot.started = true;
        slot.ahead = pick.ahead;
        ++inFlight_;
        if (slot.ahead) ++aheadInFlight_;
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
                sampler.SampleThumbnail(job.strFileName, job.lSize, SharedDecodeOf(job));
                result.ThumbBits = std::move(sampler.ThumbBits);
                result.ThumbWidth = sampler.ThumbWidth;
                result.ThumbHeight = sampler.ThumbHeight;
                result.pictureSize = sampler.PictureSize();
            } catch (const Fault& fault) {
                result.fault = std::current_exception();
                result.outOfMemory = detail::IsOutOfMemory(fault);
            } catch (...) {
                result.fault = std::current_exception();
            }
        }

        lock.lock();
        if (generation != generation_ || index >= slots_.size()) continue;
        slots_[index].done = true;
        if (index < nextToTake_) {
            // Passed by while it was made: its place is free again.
            ReleaseLocked(slots_[index]);
            workToDo_.notify_all();
            continue;
        }
        slots_[index].result = std::move(result);
        resultDone_.notify_all();
    }
}

}  // namespace fotolane::thumbnails
