#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/Fault.h"
#include "platform/ui/UserInterface.h"

namespace fotolane::gallery {

// A check box's value as the window keeps (and stores) it. Every test of a
// check box asks for Checked; grey counts as not checked.
enum class CheckValue : std::int32_t { Unchecked = 0, Checked = 1, Grey = 2 };

// A gallery's thumbnails per row and their size until the user says
// otherwise: the window's first settings and the batch front end's defaults.
inline constexpr std::int32_t kDefaultPerRow = 3;
inline constexpr std::int32_t kDefaultThumbnailSize = 70;

// The album's order (--sort): its pictures and the albums below it by name,
// as the gallery page has them, or by date taken.
enum class AlbumSort { Name, Date };

// What the gallery run reads of the main window's controls. Each value is
// read at the moment the run needs it, so a front end answers with the
// control's current state.
class IGalleryInputs {
  public:
    virtual ~IGalleryInputs() = default;
    virtual std::string FolderPath() const = 0;  // File1's path (P)
    virtual std::string ForRowText() const = 0;  // Text1, thumbnails per row
    virtual std::string SizeText() const = 0;    // Text2, thumbnail size
    virtual std::string TitleText() const = 0;   // Text3, the title as typed
    virtual CheckValue TitleCheck() const = 0;   // Check1
    virtual CheckValue ViewerCheck() const = 0;  // chkJava
    virtual bool AllSelected() const = 0;        // optThumb index 0 ("All")

    // Not a control of the window, which never keeps going: whether a
    // picture that cannot be made into a thumbnail is left out of the page
    // (no thumbnail, no cell) and the run goes on, instead of ending the run
    // through the error path.
    virtual bool KeepGoing() const { return false; }
    // Nor this: whether the album (BuildAlbum) is written after the run. Its
    // image folders are then held to the thumbnail folder's rule before the
    // run writes anything.
    virtual bool WritesAlbum() const { return false; }
    // The album's order; the gallery page keeps the name order.
    virtual AlbumSort AlbumOrder() const { return AlbumSort::Name; }
};

// The controls that the run drives.
enum class Control { Command1, Command2, Frame1, Frame2, Frame3, Frame4 };

// What the run does to the window: enabling controls, the progress bar, the
// busy pointer, and (through ui::Host) message boxes and yielding.
class IGalleryView : public ui::Host {
  public:
    virtual void SetEnabled(Control control, bool enabled) = 0;
    virtual void SetProgressMax(std::int32_t maximum) = 0;
    virtual void SetProgressValue(std::int32_t value) = 0;
    // The picture that the next value past the run's own pictures stands
    // for: one the album takes beside them (a PNG, a HEIC, ...).
    virtual void SetProgressName(const std::string& /*name*/) {}
    virtual void SetBusyPointer(bool busy) = 0;
    // With KeepGoing: a picture left out of the page, and the fault that
    // kept it from having a thumbnail (naming the picture).
    virtual void ShowSkipped(const Fault&) {}
};

// The thumbnail maker, as the run and the page writer call it.
class IThumbnailMaker {
  public:
    virtual ~IThumbnailMaker() = default;
    // Writes the thumbnail of the picture strFileName into the folder
    // strNewPath (which ends in the separator) as base name + ".jpg"; with
    // bThumbMode false only when no such thumbnail exists yet. lSize is the
    // length of the thumbnail's longer side; it is only read.
    virtual void Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                              bool bThumbMode, std::int32_t& lSize) = 0;
    // The picture's width and height in pixels.
    virtual void Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                                 std::int32_t& DimY) = 0;
    // The pictures the run will pass to Get_Thrumbal next, in that order,
    // with the folder, mode and size it will pass: a maker may start on them
    // ahead, as long as what it writes and reports is what the calls alone
    // would give. An empty list drops any work done ahead. Never faults.
    virtual void ExpectPictures(const std::vector<std::string>& /*strFileNames*/,
                                const std::string& /*strNewPath*/, bool /*bThumbMode*/,
                                std::int32_t /*lSize*/) {}
    // Puts every thumbnail written so far in place and reports each one that
    // could not be written and has not been reported yet: a maker may finish
    // a thumbnail's file, and report its failure, after Get_Thrumbal has
    // returned. The run calls it at each of its ends before it finishes the
    // page. Never faults.
    virtual void FinishThumbnails() {}
};

}  // namespace fotolane::gallery
