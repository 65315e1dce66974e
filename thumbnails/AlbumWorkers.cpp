#include "thumbnails/AlbumWorkers.h"

#include <algorithm>
#include <new>
#include <utility>

#include "platform/core/Fault.h"
#include "platform/core/Threads.h"
#include "thumbnails/PictureSteps.h"

namespace fotolane::thumbnails {

// A worker's host: keeps what it is asked to show, and has no events to
// yield to.
class AlbumWorkers::Recorder final : public ui::Host {
  public:
    explicit Recorder(std::vector<Shown>& shown) : shown_(shown) {}

    void ShowMessage(const std::string& text, const std::string& caption, ui::Icon icon,
                     ui::Buttons buttons) override {
        shown_.push_back({false, text, caption, icon, buttons});
    }
    void YieldToEvents() override {}
    void ShowWarning(const std::string& text, const std::string& path) override {
        shown_.push_back({true, text, path, ui::Icon::Exclamation, ui::Buttons::OK});
    }

  private:
    std::vector<Shown>& shown_;
};

namespace {

bool SamePaths(const gallery::AlbumPaths& a, const gallery::AlbumPaths& b) {
    return a.indexPath == b.indexPath && a.smallThumbnailFolder == b.smallThumbnailFolder &&
           a.largeThumbnailFolder == b.largeThumbnailFolder && a.previewFolder == b.previewFolder;
}

}  // namespace

AlbumWorkers::AlbumWorkers(gallery::IAlbumImages& images, int workers)
    : images_(images), mostWorkers_(static_cast<std::size_t>(std::max(workers, 1))) {}

AlbumWorkers::~AlbumWorkers() {
    Stop();
}

void AlbumWorkers::ExpectAlbumImages(const gallery::AlbumPaths& paths,
                                     const std::vector<gallery::AlbumImageJob>& jobs) {
    Stop();
    // One worker would only take the caller's turn.
    if (jobs.empty() || mostWorkers_ < 2) return;
    try {
        Start(paths, jobs);
    } catch (...) {
        // Without workers every picture's images are made in its call.
        Stop();
    }
}

void AlbumWorkers::Start(const gallery::AlbumPaths& paths,
                         std::vector<gallery::AlbumImageJob> jobs) {
    const std::size_t wanted = std::min(mostWorkers_, jobs.size());
    {
        const std::scoped_lock lock(mutex_);
        paths_ = paths;
        jobs_ = std::move(jobs);
        slots_.resize(jobs_.size());
        inFlightLimit_ = 0;
    }
    StartThreads(
        workers_, wanted, [this](std::stop_token stop) { Work(stop); },
        [this](std::size_t running) {
            {
                const std::scoped_lock lock(mutex_);
                inFlightLimit_ = 2 * running;
            }
            workToDo_.notify_all();
        });
    if (workers_.empty()) Stop();
}

std::vector<gallery::AlbumImageJob> AlbumWorkers::Stop() {
    std::vector<gallery::AlbumImageJob> left;
    {
        const std::scoped_lock lock(mutex_);
        if (nextToTake_ < jobs_.size()) {
            left.assign(jobs_.begin() + static_cast<std::ptrdiff_t>(nextToTake_), jobs_.end());
        }
        // Nothing is left to start: a worker ends once its picture is done.
        jobs_.clear();
        slots_.clear();
        nextToTake_ = 0;
        nextToStart_ = 0;
        inFlight_ = 0;
    }
    for (std::jthread& worker : workers_) worker.request_stop();
    workToDo_.notify_all();
    workers_.clear();  // joins
    return left;
}

bool AlbumWorkers::IsNextLocked(const std::string& strFileName, const std::string& strName,
                                const gallery::AlbumPaths& paths, gallery::AlbumRemake remake,
                                std::int32_t lThumbSize) const {
    if (nextToTake_ >= jobs_.size()) return false;
    const gallery::AlbumImageJob& next = jobs_[nextToTake_];
    return next.strFileName == strFileName && next.strName == strName && next.remake == remake &&
           next.lThumbSize == lThumbSize && SamePaths(paths_, paths);
}

gallery::AlbumPicture AlbumWorkers::MakeAlbumImages(
    const std::string& strFileName, const std::string& strName, const gallery::AlbumPaths& paths,
    gallery::AlbumRemake remake, std::int32_t lThumbSize, gallery::AlbumImageCounts& counts) {
    std::unique_lock lock(mutex_);
    if (!IsNextLocked(strFileName, strName, paths, remake, lThumbSize)) {
        // The album has left the list: what was made ahead is of no use.
        lock.unlock();
        if (!workers_.empty()) Stop();
        return images_.MakeAlbumImages(strFileName, strName, paths, remake, lThumbSize, counts);
    }
    const std::size_t index = nextToTake_;
    resultDone_.wait(lock, [&] { return slots_[index].done; });
    Result result = std::move(slots_[index].result);
    slots_[index].result = Result{};
    --inFlight_;
    ++nextToTake_;
    lock.unlock();
    workToDo_.notify_all();

    // Made again alone, this attempt leaves nothing: the call alone counts
    // and warns of its own.
    if (result.outOfMemory) {
        return MakeAlone(strFileName, strName, paths, remake, lThumbSize, counts);
    }
    counts.made += result.counts.made;
    counts.kept += result.counts.kept;
    counts.failed += result.counts.failed;
    for (const Shown& shown : result.shown) {
        if (shown.warning) {
            ui::Warn(shown.text, shown.pathOrCaption);
        } else {
            ui::MessageBox(shown.text, shown.icon, shown.buttons, shown.pathOrCaption);
        }
    }
    if (result.fault) std::rethrow_exception(result.fault);
    return std::move(result.picture);
}

gallery::AlbumPicture AlbumWorkers::MakeAlone(const std::string& strFileName,
                                              const std::string& strName,
                                              const gallery::AlbumPaths& paths,
                                              gallery::AlbumRemake remake, std::int32_t lThumbSize,
                                              gallery::AlbumImageCounts& counts) {
    struct Restart {
        AlbumWorkers& workers;
        gallery::AlbumPaths paths;
        std::vector<gallery::AlbumImageJob> left;
        ~Restart() { workers.ExpectAlbumImages(paths, left); }
    };
    const gallery::AlbumPaths listPaths = paths_;
    const Restart restart{*this, listPaths, Stop()};
    return images_.MakeAlbumImages(strFileName, strName, paths, remake, lThumbSize, counts);
}

void AlbumWorkers::Work(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        const bool ready = workToDo_.wait(
            lock, stop, [&] { return nextToStart_ < jobs_.size() && inFlight_ < inFlightLimit_; });
        if (!ready) return;  // asked to stop
        const std::size_t index = nextToStart_++;
        ++inFlight_;
        const gallery::AlbumImageJob job = jobs_[index];
        const gallery::AlbumPaths paths = paths_;
        lock.unlock();

        Result result;
        {
            Recorder recorder(result.shown);
            const ui::ScopedThreadHost host(recorder);
            try {
                result.picture = images_.MakeAlbumImages(job.strFileName, job.strName, paths,
                                                         job.remake, job.lThumbSize, result.counts);
            } catch (const Fault& fault) {
                result.fault = std::current_exception();
                result.outOfMemory = detail::IsOutOfMemory(fault);
            } catch (const std::bad_alloc&) {
                result.fault = std::current_exception();
                result.outOfMemory = true;
            } catch (...) {
                result.fault = std::current_exception();
            }
        }

        lock.lock();
        // Dropped while it was made: the list is gone with its slots.
        if (index >= slots_.size()) continue;
        slots_[index].done = true;
        slots_[index].result = std::move(result);
        resultDone_.notify_all();
    }
}

}  // namespace fotolane::thumbnails
