#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "decoding/PictureDecoder.h"
#include "platform/core/PixelRows.h"
#include "thumbnails/ThumbnailSampler.h"

namespace fotolane::thumbnails {

class AlbumImages;

// One picture that the run will ask for: its path, its thumbnail file, and
// whether an existing thumbnail is kept ("New"); and the picture file's
// size, which tells roughly how long it takes.
struct ThumbnailJob {
    std::string strFileName;
    std::string strThumbFile;
    bool bThumbMode = true;
    std::int32_t lSize = 0;
    std::uintmax_t fileBytes = 0;
    // Makes the picture's album images ahead, from the thumbnail's decode
    // (AlbumImages::MakeAhead), when not null.
    AlbumImages* album = nullptr;
};

// What a worker made of a job: the thumbnail rows, or the fault that making
// them raised, or nothing because the thumbnail existed ("New").
struct SampledThumbnail {
    PixelRows ThumbBits;
    std::int32_t ThumbWidth = 0;
    std::int32_t ThumbHeight = 0;
    picture::PictureSize pictureSize{0, 0};
    std::exception_ptr fault;
    // The fault is "Out of memory": it may have come of the memory that the
    // other workers held at the time, so the picture is to be made again
    // alone.
    bool outOfMemory = false;
    bool skipped = false;
};

// The sampler's shared decode for the job: its album images made ahead.
ThumbnailSampler::SharedDecode SharedDecodeOf(const ThumbnailJob& job);

// Worker threads that decode and sample the pictures of a run ahead of it,
// in their own memory, each with a sampler of its own. Results are handed
// out in the order of the jobs, on the caller's thread. Memory stays
// bounded: each worker decodes one picture at a time, in memory it reuses,
// and at most twice as many pictures as there are workers are in flight
// (taken by a worker and not yet handed out), so that a worker can go on
// while the caller, or a slower worker, has not yet taken a finished
// thumbnail, which holds only its own small rows. Nothing here writes a
// file or shows a message: that is left to whoever takes the results, in
// order.
//
// The workers start with a list of jobs, no more of them than there are
// jobs, and end with it (Stop, a new list, or a run that leaves the list),
// so that no memory of theirs is held between runs. A worker that the
// system refuses to start means fewer workers; with none, Take hands out
// nothing and the caller makes every thumbnail itself.
//
// Workers take the pictures in order, but with several workers all but
// one of them may each start a picture file far larger than the next one
// (four times as large, among the next 32) ahead of its turn, so that a
// large picture near the end of the list does not keep one worker busy
// while the others have nothing left to do. The last place in flight
// always goes to the first picture not yet started, which the caller may
// be waiting for.
class ThumbnailPipeline {
  public:
    // Up to `workers` threads, none started yet.
    explicit ThumbnailPipeline(int workers);
    ThumbnailPipeline(const ThumbnailPipeline&) = delete;
    ThumbnailPipeline& operator=(const ThumbnailPipeline&) = delete;
    ~ThumbnailPipeline();

    // The jobs of a run, in the order it will take them: stops the workers
    // of any earlier list, dropping their work, and starts as many as the
    // jobs can use. An empty list just stops them.
    void Expect(std::vector<ThumbnailJob> jobs);

    // Stops and joins the workers, dropping whatever they made, and returns
    // the jobs that were neither taken nor passed by, in order.
    std::vector<ThumbnailJob> Stop();

    // The workers running now.
    std::size_t Workers() const { return workers_.size(); }

    // The next job's result, waiting for it, when `job` is the next job of
    // the list; nothing otherwise (the caller makes that thumbnail itself,
    // and the workers stop, as the run has left the list).
    std::optional<SampledThumbnail> Take(const ThumbnailJob& job);

    // The run passes the next job by without its result ("New" found the
    // thumbnail): its work is dropped, without waiting for it. Any other
    // job than the next stops the workers, as Take does.
    void Pass(const ThumbnailJob& job);

  private:
    struct Slot {
        bool started = false;
        bool done = false;
        bool ahead = false;  // started before an earlier job
        SampledThumbnail result;
    };

    // The job a worker starts next, or the end of the list when none may
    // start now; whether it starts ahead of an earlier one.
    struct Pick {
        std::size_t index;
        bool ahead;
    };
    Pick NextToStartLocked() const;
    // The slot's place in flight is free again.
    void ReleaseLocked(Slot& slot);
    void Work(std::stop_token stop);
    void DropLocked();
    // Whether `job` is the next to take.
    bool IsNextLocked(const ThumbnailJob& job) const;

    std::mutex mutex_;
    // Two conditions, so that a finished picture wakes only the caller and
    // a taken one only the workers.
    std::condition_variable_any workToDo_;
    std::condition_variable resultDone_;
    std::vector<ThumbnailJob> jobs_;
    std::vector<Slot> slots_;
    std::size_t nextToTake_ = 0;
    std::size_t inFlight_ = 0;       // started, and neither taken nor dropped
    std::size_t aheadInFlight_ = 0;  // of them, started ahead of their turn
    std::uint64_t generation_ = 0;   // a new list makes running work stale
    std::size_t mostWorkers_;
    std::size_t inFlightLimit_ = 0;      // twice the workers running
    std::size_t mostAhead_ = 0;          // all workers but one
    std::vector<std::jthread> workers_;  // last: joined before the rest goes
};

}  // namespace fotolane::thumbnails
