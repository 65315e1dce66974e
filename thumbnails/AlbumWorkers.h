#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "gallery/Album.h"
#include "platform/ui/UserInterface.h"

namespace fotolane::thumbnails {

// Makes the album's images of the pictures announced (ExpectAlbumImages) on
// worker threads, ahead of the album, through `images`, which must be safe
// to call from several threads at once (AlbumImages is). Each
// MakeAlbumImages call for the next announced picture takes that picture's
// result, waiting for it; any other call, or a list that is left, stops the
// workers and is made in the call. What the album sees is what the calls
// alone give, in the same order, on its own thread: the returned picture,
// the counts (added when taken), the warnings and messages (a worker shows
// nothing: they are kept and shown when its result is taken), and the fault
// (raised when taken). A picture that was "Out of memory" on a worker,
// perhaps for the memory the other workers held, is made again in the call
// once the workers have stopped, and the workers start again after it.
//
// At most twice as many pictures as workers are in flight; a result holds
// only what the album shows of its picture. The workers start with a list,
// no more of them than it has pictures, and end with it (an empty list, a
// new one, or a list that is left): what they write then is whole, as every
// image is written whole. One worker or none (the system refusing them)
// makes every picture in its call.
class AlbumWorkers final : public gallery::IAlbumImages {
  public:
    AlbumWorkers(gallery::IAlbumImages& images, int workers);
    AlbumWorkers(const AlbumWorkers&) = delete;
    AlbumWorkers& operator=(const AlbumWorkers&) = delete;
    ~AlbumWorkers() override;

    gallery::AlbumPicture MakeAlbumImages(const std::string& strFileName,
                                          const std::string& strName,
                                          const gallery::AlbumPaths& paths,
                                          gallery::AlbumRemake remake, std::int32_t lThumbSize,
                                          gallery::AlbumImageCounts& counts) override;
    void ExpectAlbumImages(const gallery::AlbumPaths& paths,
                           const std::vector<gallery::AlbumImageJob>& jobs) override;

    // The workers running now.
    std::size_t Workers() const { return workers_.size(); }

  private:
    // What a worker's host was asked to show, to be shown again in order.
    struct Shown {
        bool warning = false;
        std::string text;
        std::string pathOrCaption;
        ui::Icon icon = ui::Icon::None;
        ui::Buttons buttons = ui::Buttons::OK;
    };
    struct Result {
        gallery::AlbumPicture picture;
        gallery::AlbumImageCounts counts;
        std::vector<Shown> shown;
        std::exception_ptr fault;
        bool outOfMemory = false;
    };
    struct Slot {
        bool done = false;
        Result result;
    };
    class Recorder;

    void Start(const gallery::AlbumPaths& paths, std::vector<gallery::AlbumImageJob> jobs);
    // Stops and joins the workers, dropping their results; returns the jobs
    // not yet taken, in order.
    std::vector<gallery::AlbumImageJob> Stop();
    void Work(std::stop_token stop);
    bool IsNextLocked(const std::string& strFileName, const std::string& strName,
                      const gallery::AlbumPaths& paths, gallery::AlbumRemake remake,
                      std::int32_t lThumbSize) const;
    // The picture made in the call once the workers have stopped; they start
    // again on the pictures after it, however it ends.
    gallery::AlbumPicture MakeAlone(const std::string& strFileName, const std::string& strName,
                                    const gallery::AlbumPaths& paths, gallery::AlbumRemake remake,
                                    std::int32_t lThumbSize, gallery::AlbumImageCounts& counts);

    gallery::IAlbumImages& images_;
    std::size_t mostWorkers_;
    std::mutex mutex_;
    std::condition_variable_any workToDo_;
    std::condition_variable resultDone_;
    gallery::AlbumPaths paths_;
    std::vector<gallery::AlbumImageJob> jobs_;
    std::vector<Slot> slots_;
    std::size_t nextToTake_ = 0;
    std::size_t nextToStart_ = 0;
    std::size_t inFlight_ = 0;  // started, and neither taken nor dropped
    std::size_t inFlightLimit_ = 0;
    std::vector<std::jthread> workers_;  // last: joined before the rest goes
};

}  // namespace fotolane::thumbnails
