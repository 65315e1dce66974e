#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gallery/GalleryInterfaces.h"
#include "gallery/RunOutcome.h"
#include "platform/files/FileSystem.h"

namespace fotolane::gallery {

// One gallery build of a folder: lists its pictures, has each thumbnail made,
// writes the page, shows progress, honours the stop request and restores the
// window at every end. It owns the run's state, which lives as long as the
// window that owns it.
//
// Nothing escapes a run: every failure ends it through one error path that
// closes the page (keeping what was written), restores the window and then
// shows "Errore : " and the failure's description. How the run ended, and
// what it warned about on the way, is kept as its outcome.
class ThumbnailsAhead;

class GalleryRun {
  public:
    GalleryRun(IGalleryInputs& inputs, IGalleryView& view, IThumbnailMaker& thumbnails);

    // "&Get": the title check, then BuildGallery.
    const RunOutcome& Command1_Click();
    // "&Stop": asks the run under way to stop after the picture in hand.
    void Command2_Click();

    // Does nothing while a run is under way (a second run would reset the
    // list the first one is working through).
    const RunOutcome& BuildGallery();
    // How the last run ended (or was refused).
    const RunOutcome& Outcome() const { return outcome_; }
    // True from the moment the window is switched to running until the run
    // has ended and shown its message, if any.
    bool IsRunning() const { return running_; }

    bool bStop = false;
    std::vector<std::string> strPictures;  // listed names, numbered from 1
    std::int32_t lThumbSize = 0;           // the last run's thumbnail size

  private:
    RunEnd RunSteps(const std::string& strPictureFolder, TextFileWriter& page);
    std::int32_t ListPictures(const std::string& strPictureFolder);
    std::string NextFileName();
    bool MakeThumbnail(const std::string& strPicturePath, const std::string& strThumbFolder,
                       ThumbnailsAhead& ahead);
    // The fault of making the folder, which the run looks at only when no
    // folder is there afterwards.
    static std::optional<Fault> MakeThumbnailFolder(const std::string& strPath);
    // A fault unless the thumbnail folder is a real folder (a link, a file
    // or a device in its place never is) or, with no fault from its
    // creation, not there yet. With the fault every thumbnail of the run is
    // told in the outcome as not written.
    void RequireOwnThumbnailFolder(const std::string& strPath,
                                   const std::optional<Fault>& creation);
    // Ends the run with `fault` before anything is written, every thumbnail
    // of the run told in the outcome as not written into strThumbFolder.
    [[noreturn]] void RefuseThumbnails(const Fault& fault, const std::string& strThumbFolder);
    void SetRunning(bool running);

    IGalleryInputs& inputs_;
    IGalleryView& view_;
    IThumbnailMaker& thumbnails_;
    FolderListing listing_;  // begun by ListPictures, continued by NextFileName
    bool running_ = false;
    RunOutcome outcome_;
};

// Whether a file name is one of the pictures a gallery takes: its extension
// is JPG, JPEG, GIF or BMP in any letter case.
bool IsPictureName(const std::string& strName);

// Whether a title holds nothing but spaces (or nothing).
bool IsBlankTitle(const std::string& strTitle);

// The fault of a folder the gallery writes into (`role` names it: "thumbnail
// folder") when something else stands in its place: a link, through which
// files elsewhere would be replaced (the pictures themselves for a link to
// "."), a file or a device. None for a folder, or when nothing is there. A
// trailing separator is allowed.
std::optional<Fault> NotOwnFolderFault(const std::string& strPath, std::string_view role);

}  // namespace fotolane::gallery
