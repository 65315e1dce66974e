#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gallery/Album.h"
#include "platform/core/Fault.h"
#include "platform/core/Threads.h"
#include "platform/ui/UserInterface.h"
#include "thumbnails/PictureSteps.h"

namespace fotolane::thumbnails {

namespace detail {

// What a worker's host was asked to show, to be shown again in order.
struct Shown {
    bool warning = false;
    std::string text;
    std::string pathOrCaption;
    ui::Icon icon = ui::Icon::None;
    ui::Buttons buttons = ui::Buttons::OK;
};

// A worker's host: keeps what it is asked to show, and has no events to
// yield to.
class ShownRecorder final : public ui::Host {
  public:
    explicit ShownRecorder(std::vector<Shown>& shown) : shown_(shown) {}

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

}  // namespace detail

// Makes the values of the jobs announced (Expect) on worker threads, ahead
// of their caller, through `make`, which must be safe to call from several
// threads at once, and may fault with "Out of memory" ahead where it would
// not in the call. Each Take of the next announced job takes that job's
// value, waiting for it; any other job, or a list that is left, stops the
// workers and is made in the call. What the caller sees is what the calls
// alone give, in the same order, on its own thread: the value, the counts
// (added when taken), the warnings and messages (a worker shows nothing:
// they are kept and shown when its value is taken), and the fault (raised
// when taken). A job that was "Out of memory" on a worker, perhaps for the
// memory the other workers held, is made again in the call once the
// workers have stopped, and the workers start again after it.
//
// At most twice as many jobs as workers are in flight. The workers start
// with a list, no more of them than it has jobs, and end with it (an empty
// list, a new one, or a list that is left): what they write then is whole,
// as every image is written whole. One worker or none (the system refusing
// them) makes every job in its call.
template <typename Job, typename Value>
class OrderedWorkers {
  public:
    // `ahead`: on a worker, not in the caller's call.
    using Make = std::function<Value(const Job&, gallery::AlbumImageCounts&, bool ahead)>;

    OrderedWorkers(Make make, int workers)
        : make_(std::move(make)), mostWorkers_(static_cast<std::size_t>(std::max(workers, 1))) {}
    OrderedWorkers(const OrderedWorkers&) = delete;
    OrderedWorkers& operator=(const OrderedWorkers&) = delete;
    ~OrderedWorkers() { Stop(); }

    // Never faults.
    void Expect(std::vector<Job> jobs) {
        Stop();
        // One worker would only take the caller's turn.
        if (jobs.empty() || mostWorkers_ < 2) return;
        try {
            Start(std::move(jobs));
        } catch (...) {
            // Without workers every job is made in its call.
            Stop();
        }
    }

    Value Take(const Job& job, gallery::AlbumImageCounts& counts) {
        std::unique_lock lock(mutex_);
        if (nextToTake_ >= jobs_.size() || !(jobs_[nextToTake_] == job)) {
            // The caller has left the list: what was made ahead is of no use.
            lock.unlock();
            if (!workers_.empty()) Stop();
            return make_(job, counts, false);
        }
        const std::size_t index = nextToTake_;
        resultDone_.wait(lock, [&] { return slots_[index].done; });
        Result result = std::move(slots_[index].result);
        slots_[index].result = Result{};
        --inFlight_;
        ++nextToTake_;
        lock.unlock();
        workToDo_.notify_all();

        // Made again alone, this attempt leaves nothing: the call alone
        // counts and warns of its own.
        if (result.outOfMemory) return MakeAlone(job, counts);
        counts.made += result.counts.made;
        counts.kept += result.counts.kept;
        counts.failed += result.counts.failed;
        for (const detail::Shown& shown : result.shown) {
            if (shown.warning) {
                ui::Warn(shown.text, shown.pathOrCaption);
            } else {
                ui::MessageBox(shown.text, shown.icon, shown.buttons, shown.pathOrCaption);
            }
        }
        if (result.fault) std::rethrow_exception(result.fault);
        return std::move(result.value);
    }

    // The workers running now.
    std::size_t Workers() const { return workers_.size(); }

  private:
    struct Result {
        Value value{};
        gallery::AlbumImageCounts counts;
        std::vector<detail::Shown> shown;
        std::exception_ptr fault;
        bool outOfMemory = false;
    };
    struct Slot {
        bool done = false;
        Result result;
    };

    void Start(std::vector<Job> jobs) {
        const std::size_t wanted = std::min(mostWorkers_, jobs.size());
        {
            const std::scoped_lock lock(mutex_);
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

    // Stops and joins the workers, dropping their results; returns the jobs
    // not yet taken, in order.
    std::vector<Job> Stop() {
        std::vector<Job> left;
        {
            const std::scoped_lock lock(mutex_);
            if (nextToTake_ < jobs_.size()) {
                left.assign(jobs_.begin() + static_cast<std::ptrdiff_t>(nextToTake_), jobs_.end());
            }
            // Nothing is left to start: a worker ends once its job is done.
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

    // The job made in the call once the workers have stopped; they start
    // again on the jobs after it, however it ends.
    Value MakeAlone(const Job& job, gallery::AlbumImageCounts& counts) {
        struct Restart {
            OrderedWorkers& workers;
            std::vector<Job> left;
            ~Restart() { workers.Expect(std::move(left)); }
        };
        const Restart restart{*this, Stop()};
        return make_(job, counts, false);
    }

    void Work(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        for (;;) {
            const bool ready = workToDo_.wait(lock, stop, [&] {
                return nextToStart_ < jobs_.size() && inFlight_ < inFlightLimit_;
            });
            if (!ready) return;  // asked to stop
            const std::size_t index = nextToStart_++;
            ++inFlight_;
            const Job job = jobs_[index];
            lock.unlock();

            Result result;
            {
                detail::ShownRecorder recorder(result.shown);
                const ui::ScopedThreadHost host(recorder);
                try {
                    result.value = make_(job, result.counts, true);
                } catch (const Fault& fault) {
                    result.fault = std::current_exception();
                    result.outOfMemory = fotolane::thumbnails::detail::IsOutOfMemory(fault);
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

    Make make_;
    std::size_t mostWorkers_;
    std::mutex mutex_;
    std::condition_variable_any workToDo_;
    std::condition_variable resultDone_;
    std::vector<Job> jobs_;
    std::vector<Slot> slots_;
    std::size_t nextToTake_ = 0;
    std::size_t nextToStart_ = 0;
    std::size_t inFlight_ = 0;  // started, and neither taken nor dropped
    std::size_t inFlightLimit_ = 0;
    std::vector<std::jthread> workers_;  // last: joined before the rest goes
};

}  // namespace fotolane::thumbnails
