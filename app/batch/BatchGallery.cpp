#include "app/batch/BatchGallery.h"

#include <csignal>
#include <filesystem>
#include <system_error>

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

int RunBatchGallery(const BatchSettings& settings, const BatchImageMakers& makers,
                    std::ostream& err, bool showProgress) {
    const std::string folderPath = RunFolderPath(settings.folder);
    std::error_code error;
    if (!std::filesystem::is_directory(folderPath, error)) {
        err << "fotolane-gallery: not a folder: " << settings.folder << '\n';
        return kExitUsage;
    }

    BatchInputs inputs(settings, folderPath);
    BatchView view(err, showProgress);
    gallery::GalleryRun run(inputs, view, makers.thumbnails);
    view.Attach(run);
    // The JPEG writer's warnings and the thumbnail maker's yields reach the
    // same view as the run's own.
    ui::ScopedHost host(view);
    InterruptToStop interrupt;

    gallery::RunOutcome outcome = run.Command1_Click();
    if (settings.index && makers.album != nullptr) {
        outcome = gallery::BuildAlbum(run, inputs, view, *makers.album, gallery::AlbumLinks{});
    }
    return ExitStatusOf(outcome);
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

int BatchMain(std::span<const std::string> arguments, const BatchImageMakers& makers,
              std::ostream& out, std::ostream& err, bool showProgress) {
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
    return RunBatchGallery(parsed.settings, makers, err, showProgress);
}

}  // namespace fotolane::batch
