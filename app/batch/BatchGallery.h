#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "app/batch/BatchArguments.h"
#include "gallery/GalleryInterfaces.h"
#include "gallery/GalleryRun.h"

namespace fotolane::batch {

// Exit statuses of the batch front end.
inline constexpr int kExitDone = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitIncomplete = 3;  // the page is complete, some thumbnails are not
inline constexpr int kExitStopped = 130;   // 128 + SIGINT, as shells report it

// The window's controls, answered from the settings.
class BatchInputs final : public gallery::IGalleryInputs {
  public:
    // `folderPath` is the folder as the run takes it: absolute, without a
    // trailing separator except for the root.
    BatchInputs(const BatchSettings& settings, std::string folderPath);

    std::string FolderPath() const override { return folderPath_; }
    std::string ForRowText() const override { return settings_.perRow; }
    std::string SizeText() const override { return settings_.size; }
    std::string TitleText() const override { return settings_.title; }
    int TitleCheck() const override { return settings_.titled ? 1 : 0; }
    int ViewerCheck() const override { return settings_.viewer ? 1 : 0; }
    bool AllSelected() const override { return settings_.all; }

  private:
    BatchSettings settings_;
    std::string folderPath_;
};

// The window as a terminal sees it: messages go to the error stream, the
// progress bar becomes a "picture k of n: name" line there (when asked
// for), and yielding to events is where a Ctrl+C turns into "&Stop".
class BatchView final : public gallery::IGalleryView {
  public:
    BatchView(std::ostream& err, bool showProgress);

    // The run whose stop request an interrupt sets and whose pictures the
    // progress names; it must outlive the view's use.
    void Attach(gallery::GalleryRun& run) { run_ = &run; }

    void ShowMessage(const std::string& text, const std::string& caption, ui::Icon icon,
                     ui::Buttons buttons) override;
    void YieldToEvents() override;
    void SetEnabled(gallery::Control, bool) override {}
    void SetProgressMax(std::int32_t maximum) override { progressMax_ = maximum; }
    void SetProgressValue(std::int32_t value) override;
    void SetBusyPointer(bool) override {}

  private:
    void EndProgressLine();

    std::ostream& err_;
    bool showProgress_;
    gallery::GalleryRun* run_ = nullptr;
    std::int32_t progressMax_ = 0;
    bool progressLineOpen_ = false;
};

// The folder as the run takes it: made absolute and tidied (no "." or ".."
// parts, no trailing separator but for the root), without resolving links,
// so that the page keeps the folder's own name.
std::string RunFolderPath(const std::string& folder);

// The exit status that tells how a run ended.
int ExitStatusOf(const gallery::RunOutcome& outcome);

// Makes the gallery of settings.folder with `thumbnails`, reporting on `err`.
// Returns the exit status. An interrupt (SIGINT) received while it runs
// stops the run after the picture under way.
int RunBatchGallery(const BatchSettings& settings, gallery::IThumbnailMaker& thumbnails,
                    std::ostream& err, bool showProgress);

// The whole program: arguments (without the program's name) to exit status.
int BatchMain(std::span<const std::string> arguments, gallery::IThumbnailMaker& thumbnails,
              std::ostream& out, std::ostream& err, bool showProgress);

}  // namespace fotolane::batch
