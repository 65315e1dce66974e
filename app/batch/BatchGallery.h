#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch/BatchArguments.h"
#include "gallery/Album.h"
#include "gallery/GalleryInterfaces.h"
#include "gallery/GalleryRun.h"
#include "gallery/Site.h"

namespace fotolane::batch {

// Exit statuses of the batch front end.
inline constexpr int kExitDone = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
// The page is complete, but some pictures were left out or some thumbnails
// were not written.
inline constexpr int kExitIncomplete = 3;
inline constexpr int kExitStopped = 130;  // 128 + SIGINT, as shells report it

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
    gallery::CheckValue TitleCheck() const override { return CheckOf(settings_.titled); }
    gallery::CheckValue ViewerCheck() const override { return CheckOf(settings_.viewer); }
    bool AllSelected() const override { return settings_.all; }
    bool KeepGoing() const override { return settings_.keepGoing; }
    bool WritesAlbum() const override { return settings_.index; }
    gallery::AlbumSort AlbumOrder() const override { return settings_.sort; }

  private:
    static gallery::CheckValue CheckOf(bool checked) {
        return checked ? gallery::CheckValue::Checked : gallery::CheckValue::Unchecked;
    }

    BatchSettings settings_;
    std::string folderPath_;
};

// The window as a terminal sees it: messages go to the error stream, the
// progress bar becomes a "picture k of n: name" line there (when asked
// for), and yielding to events is where a Ctrl+C turns into "&Stop".
class BatchView final : public gallery::IGalleryView {
  public:
    // `folderLabel` stands before the pictures' names in the progress line
    // (a recursive run's folder below the top, with its separator).
    BatchView(std::ostream& err, bool showProgress, std::string folderLabel = {});

    // The run whose stop request an interrupt sets and whose pictures the
    // progress names; it must outlive the view's use.
    void Attach(gallery::GalleryRun& run) { run_ = &run; }

    // Where a recursive run stands, for the progress line to show its place
    // in the whole run and an estimate of the time left.
    struct WholeRun {
        std::size_t folder = 0;           // this folder, counting from 1
        std::size_t folders = 0;          // folders found
        std::int64_t picturesBefore = 0;  // pictures of the folders before this one
        std::int64_t pictures = 0;        // pictures found in all
        std::chrono::steady_clock::time_point start;
    };
    void SetWholeRun(const WholeRun& whole) { whole_ = whole; }

    void ShowMessage(const std::string& text, const std::string& caption, ui::Icon icon,
                     ui::Buttons buttons) override;
    void YieldToEvents() override;
    void SetEnabled(gallery::Control, bool) override {}
    void SetProgressMax(std::int32_t maximum) override { progressMax_ = maximum; }
    void SetProgressValue(std::int32_t value) override;
    void SetProgressName(const std::string& name) override { progressName_ = name; }
    void SetBusyPointer(bool) override {}
    // "fotolane-gallery: Failed to save to JPG: <the thumbnail's path>".
    void ShowWarning(const std::string& text, const std::string& path) override;
    void ShowSkipped(const Fault& fault) override;

  private:
    void EndProgressLine();

    std::ostream& err_;
    bool showProgress_;
    std::string folderLabel_;
    gallery::GalleryRun* run_ = nullptr;
    std::int32_t progressMax_ = 0;
    std::string progressName_;  // of a value past the run's pictures
    bool progressLineOpen_ = false;
    std::optional<WholeRun> whole_;
};

// Text as it may reach a terminal: control characters (C0, DEL, C1) and
// bytes that are not UTF-8 as "\xNN" or "\u00NN", a backslash doubled, so
// that no file name can move the cursor, retitle or clear the terminal.
std::string TerminalText(std::string_view text);

// The exit status that tells how a run ended.
int ExitStatusOf(const gallery::RunOutcome& outcome);

// Of two exit statuses of runs, the one that tells more: a stop over an
// error over an incomplete gallery over a done one.
int WorseExitStatus(int a, int b);

// The folders of a recursive run: `top` first, then every folder below it,
// each after its parent, brothers in the order of their names. Folders named
// "Thumbnails", "Thumbnails@1x", "Thumbnails@2x" or "Previews" (the
// galleries' and albums' own images), hidden folders (".name"), links to
// folders and the sites that -o makes (a folder holding a site's record)
// are not entered; nor are folders that cannot be read.
std::vector<std::string> GalleryFolders(const std::string& top);

// The albums' links of a recursive run over `folders` (as GalleryFolders
// gives them): a folder has an album when it holds a picture that the album
// takes (IsAlbumPictureName) or a folder
// below it has one; each album leads up to its parent's (but the first
// folder's) and down to those of the folders right below it.
std::map<std::string, gallery::AlbumLinks> AlbumLinksOf(const std::vector<std::string>& folders);

// The makers of a gallery's images: the run's thumbnails and, with --index,
// the album's own.
struct BatchImageMakers {
    // Not explicit: a thumbnail maker alone makes galleries without albums.
    BatchImageMakers(gallery::IThumbnailMaker& thumbnailMaker,
                     gallery::IAlbumImages* albumImages = nullptr,
                     gallery::ISiteImages* siteImages = nullptr)
        : thumbnails(thumbnailMaker), album(albumImages), site(siteImages) {}

    gallery::IThumbnailMaker& thumbnails;
    gallery::IAlbumImages* album = nullptr;  // needed with settings.index
    gallery::ISiteImages* site = nullptr;    // needed with settings.output
};

// Makes the gallery of settings.folder (and, recursively, of the folders
// below it) with `makers`, and with settings.index each folder's album,
// reporting on `err`. Returns the exit status. An interrupt (SIGINT)
// received while it runs stops the run after the picture under way.
// `terminal`: the error stream is a terminal, which gets the progress and
// the closing line unless the settings are quiet.
int RunBatchGallery(const BatchSettings& settings, const BatchImageMakers& makers,
                    std::ostream& err, bool terminal);

// The whole program: arguments (without the program's name) to exit status.
int BatchMain(std::span<const std::string> arguments, const BatchImageMakers& makers,
              std::ostream& out, std::ostream& err, bool terminal);

}  // namespace fotolane::batch
