#include "app/batch/BatchGallery.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/batch/BatchThumbnails.h"

namespace fotolane::batch {
namespace {

// Set by the SIGINT handler, read between pictures. Only a lock-free flag
// may be touched from a signal handler.
volatile std::sig_atomic_t interruptRequested = 0;

extern "C" void OnInterrupt(int) {
    interruptRequested = 1;
}

// Routes SIGINT to the flag while a run is under way and puts the previous
// handling back afterwards. SA_RESETHAND: a second Ctrl+C ends the program
// at once, as users expect when the first seems to do nothing.
class InterruptToStop {
  public:
    InterruptToStop() {
        interruptRequested = 0;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = static_cast<int>(SA_RESETHAND);
        installed_ = ::sigaction(SIGINT, &action, &previous_) == 0;
    }
    InterruptToStop(const InterruptToStop&) = delete;
    InterruptToStop& operator=(const InterruptToStop&) = delete;
    ~InterruptToStop() {
        if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
    }

  private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

}  // namespace

BatchInputs::BatchInputs(const BatchSettings& settings, std::string folderPath)
    : settings_(settings), folderPath_(std::move(folderPath)) {}

BatchView::BatchView(std::ostream& err, bool showProgress)
    : err_(err), showProgress_(showProgress) {}

void BatchView::ShowMessage(const std::string& text, const std::string&, ui::Icon, ui::Buttons) {
    EndProgressLine();
    err_ << text << '\n' << std::flush;
}

void BatchView::ShowSkipped(const Fault& fault) {
    EndProgressLine();
    err_ << "fotolane-gallery: skipped: " << fault.Description() << '\n' << std::flush;
}

void BatchView::YieldToEvents() {
    if (interruptRequested != 0 && run_ != nullptr) run_->Command2_Click();
}

void BatchView::SetProgressValue(std::int32_t value) {
    if (!showProgress_) return;
    if (value <= 0 || run_ == nullptr ||
        static_cast<std::size_t>(value) > run_->strPictures.size()) {
        EndProgressLine();
        return;
    }
    // One line, rewritten in place for every picture.
    err_ << "\rpicture " << value << " of " << progressMax_ << ": "
         << run_->strPictures[static_cast<std::size_t>(value) - 1] << "\x1b[K" << std::flush;
    progressLineOpen_ = true;
}

void BatchView::EndProgressLine() {
    if (!progressLineOpen_) return;
    err_ << '\n' << std::flush;
    progressLineOpen_ = false;
}

std::string RunFolderPath(const std::string& folder) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(folder, error);
    if (error) path = folder;
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == std::filesystem::path::preferred_separator) {
        text.pop_back();
    }
    return text;
}

namespace {

// What the closing line tells, over every folder of the run.
struct Tally {
    std::size_t folders = 0;
    std::int64_t pictures = 0;
    std::int64_t made = 0;
    std::int64_t kept = 0;
    std::int64_t skipped = 0;
    std::int64_t failed = 0;

    void Add(const gallery::RunOutcome& outcome, const BatchThumbnails& thumbnails) {
        ++folders;
        pictures += outcome.pictures;
        skipped += static_cast<std::int64_t>(outcome.skipped.size());
        failed += static_cast<std::int64_t>(outcome.warnings.size());
        // A thumbnail whose write was warned about is counted as failed.
        made += std::max<std::int64_t>(
            0, thumbnails.made - static_cast<std::int64_t>(outcome.warnings.size()));
        kept += thumbnails.kept;
    }
};

void WriteClosingLine(std::ostream& err, const Tally& tally, bool recursive,
                      std::chrono::steady_clock::duration time) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", std::chrono::duration<double>(time).count());
    err << tally.pictures << (tally.pictures == 1 ? " picture" : " pictures");
    if (recursive) err << " in " << tally.folders << (tally.folders == 1 ? " folder" : " folders");
    err << ": " << tally.made << " thumbnails made, " << tally.kept << " kept, " << tally.skipped
        << " skipped, " << tally.failed << " failed, " << seconds << " s\n"
        << std::flush;
}

void AddFoldersBelow(const std::filesystem::path& folder, std::vector<std::string>& folders) {
    namespace fs = std::filesystem;
    std::vector<fs::path> below;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ignored;
        if (entry->is_symlink(ignored) || !entry->is_directory(ignored)) continue;
        const std::string name = entry->path().filename().string();
        if (name == "Thumbnails" || name.starts_with('.')) continue;
        below.push_back(entry->path());
    }
    std::sort(below.begin(), below.end());
    for (const fs::path& path : below) {
        folders.push_back(path.string());
        AddFoldersBelow(path, folders);
    }
}

// One folder's gallery, exactly as a run on that folder alone makes it.
gallery::RunOutcome RunOneFolder(const BatchSettings& settings, const std::string& folderPath,
                                 BatchThumbnails& thumbnails, std::ostream& err,
                                 bool showProgress) {
    BatchInputs inputs(settings, folderPath);
    BatchView view(err, showProgress);
    gallery::GalleryRun run(inputs, view, thumbnails);
    view.Attach(run);
    // The JPEG writer's warnings and the thumbnail maker's yields reach the
    // same view as the run's own.
    ui::ScopedHost host(view);
    return run.Command1_Click();
}

}  // namespace

std::vector<std::string> GalleryFolders(const std::string& top) {
    std::vector<std::string> folders{top};
    AddFoldersBelow(top, folders);
    return folders;
}

int WorseExitStatus(int a, int b) {
    const auto rank = [](int status) {
        switch (status) {
            case kExitStopped:
                return 4;
            case kExitUsage:
                return 3;
            case kExitError:
                return 2;
            case kExitIncomplete:
                return 1;
            default:
                return 0;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

int RunBatchGallery(const BatchSettings& settings, gallery::IThumbnailMaker& thumbnails,
                    std::ostream& err, bool terminal) {
    const std::string folderPath = RunFolderPath(settings.folder);
    std::error_code error;
    if (!std::filesystem::is_directory(folderPath, error)) {
        err << "fotolane-gallery: not a folder: " << settings.folder << '\n';
        return kExitUsage;
    }
    const std::vector<std::string> folders =
        settings.recursive ? GalleryFolders(folderPath) : std::vector{folderPath};
    const bool showProgress = terminal && !settings.quiet;
    const auto start = std::chrono::steady_clock::now();

    InterruptToStop interrupt;
    Tally tally;
    int status = kExitDone;
    for (const std::string& folder : folders) {
        if (interruptRequested != 0) {
            status = kExitStopped;
            break;
        }
        BatchThumbnails counted(thumbnails, settings.update);
        const gallery::RunOutcome outcome =
            RunOneFolder(settings, folder, counted, err, showProgress);
        // "First write a Title!" refuses every folder alike.
        if (outcome.end == gallery::RunEnd::NotStarted) return kExitUsage;
        tally.Add(outcome, counted);
        // settings.index: the album page index.html is written here, beside
        // the folder's page, once its writer is part of the program.
        status = WorseExitStatus(status, ExitStatusOf(outcome));
        if (status == kExitStopped || (status == kExitError && !settings.keepGoing)) break;
    }
    if (showProgress) {
        WriteClosingLine(err, tally, settings.recursive, std::chrono::steady_clock::now() - start);
    }
    return status;
}

int ExitStatusOf(const gallery::RunOutcome& outcome) {
    switch (outcome.end) {
        case gallery::RunEnd::NotStarted:  // "First write a Title!"
            return kExitUsage;
        case gallery::RunEnd::Failed:
            return kExitError;
        case gallery::RunEnd::Stopped:
            return kExitStopped;
        case gallery::RunEnd::Done:
            return outcome.Incomplete() ? kExitIncomplete : kExitDone;
        case gallery::RunEnd::NoPictures:
            break;
    }
    return kExitDone;
}

int BatchMain(std::span<const std::string> arguments, gallery::IThumbnailMaker& thumbnails,
              std::ostream& out, std::ostream& err, bool terminal) {
    const ParsedArguments parsed = ParseArguments(arguments);
    switch (parsed.action) {
        case ParsedArguments::Action::Help:
            out << UsageText();
            return kExitDone;
        case ParsedArguments::Action::Version:
            out << "fotolane-gallery " << FOTOLANE_VERSION << '\n';
            return kExitDone;
        case ParsedArguments::Action::UsageError:
            err << "fotolane-gallery: " << parsed.error << '\n'
                << "Try 'fotolane-gallery --help' for more information.\n";
            return kExitUsage;
        case ParsedArguments::Action::Run:
            break;
    }
    return RunBatchGallery(parsed.settings, thumbnails, err, terminal);
}

}  // namespace fotolane::batch
