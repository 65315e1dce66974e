#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gallery/AlbumPage.h"
#include "gallery/GalleryInterfaces.h"
#include "gallery/RunOutcome.h"
#include "platform/core/Fault.h"
#include "platform/files/FileSystem.h"

namespace fotolane::gallery {

// A published site: the albums of a picture folder (and of the folders
// below it) written into a folder of their own, the pictures only read.
// Every page, thumbnail, preview and original it links lies inside that
// folder, which is what one uploads. The site keeps a record of what it
// published and from what, so that a run redoes only what changed and
// removes what it published for pictures and folders that are gone.

// The record's name at the site's top. Hidden, so that no listing of the
// site shows it as a page's file.
inline constexpr std::string_view kSiteRecordName = ".fotolane-site";

// One file the site published.
struct SiteEntry {
    std::string source;     // the picture, relative to the picture folder; a page: its folder
    FileStamp stamp;        // the picture's, when the file was made from it
    std::string key;        // the settings that shaped the file; empty while being made
    PixelSize size;         // the file's own size in pixels (a page: 0 x 0)
    PixelSize pictureSize;  // the picture's
    std::string dateTaken;  // the picture's, "YYYY-MM-DDTHH:MM:SS" or empty
    // The picture's caption (AlbumCaption's form) and camera details; none
    // in a record of a version that kept none of them (the first kept no
    // caption, the second no details): the picture's metadata is then read
    // again.
    std::optional<std::string> caption;
    std::optional<CameraDetails> details;
    std::string dateOffset;  // of dateTaken from UTC, "+02:00", or empty
    bool operator==(const SiteEntry&) const = default;
};

// Every file the site published, by its path relative to the site's top.
using SiteRecord = std::map<std::string, SiteEntry>;

// The record as a text of lines: "fotolane-site 3", then one line per file
// of tab-separated fields (file, source, bytes, modification time in
// nanoseconds, key, WxH, picture WxH, date taken with its offset from UTC
// when there is one ("2026-07-14T10:00:00+02:00"), caption, camera, lens,
// focal length, aperture, exposure, ISO), with "\\", tab, line feed and
// carriage return in texts written "\\\\", "\\t", "\\n", "\\r".
std::string FormatSiteRecord(const SiteRecord& record);
// None when the text is not such a record. Records of the earlier versions
// are read too: "fotolane-site 1", whose lines end at the date taken, its
// entries without a caption and details, and "fotolane-site 2", whose lines
// end at the caption, its entries without details.
std::optional<SiteRecord> ParseSiteRecord(std::string_view text);

// The site's own images of one picture, with their full paths; an empty
// path is an image not to be made.
struct SiteImageTargets {
    std::string thumbnail;
    std::string large;
    std::string small;  // the 1x tile
    std::string preview;
};

// What the maker found and wrote of one picture.
struct SitePictureImages {
    PixelSize picture;
    PixelSize thumbnail;
    PixelSize large;
    PixelSize small;
    std::optional<PixelSize> preview;  // none: the picture needs none
    std::string dateTaken;
    std::string dateOffset;  // of dateTaken from UTC, or empty
    std::string caption;     // AlbumCaption's form
    CameraDetails details;
    // Of the targets asked for, those written.
    bool thumbnailWritten = false;
    bool largeWritten = false;
    bool smallWritten = false;
    bool previewWritten = false;
};

// One picture's work for the site: its images (when `images`, with
// MakeSiteImages's arguments) and its original (when `original` names
// where it goes).
struct SitePictureJob {
    std::string path;
    bool images = false;
    SiteImageTargets targets;
    std::int32_t thumbSize = 0;
    bool previewAlways = false;
    std::optional<std::string> original;
    bool keepLocation = false;
    bool operator==(const SitePictureJob& other) const;
};

// What became of it: the images, and the fault that kept the original
// from being published.
struct SitePictureMade {
    SitePictureImages images;
    std::optional<Fault> refused;
};

// Makes a site's images and originals.
class ISiteImages {
  public:
    virtual ~ISiteImages() = default;
    // Reads the picture's size, date, caption and camera details (one
    // reading of its metadata) and writes the targets asked for:
    // the thumbnail lThumbSize on its longer side, the high-density one the
    // album's (kAlbumThumbnailHeight high, whatever lThumbSize) and its 1x
    // tile (kAlbumSmallThumbnailHeight high, shrunk from that), and a
    // preview kPreviewSide long when the picture is longer (with
    // `previewAlways`, and of a picture that browsers do not show, a HEIC,
    // of every picture, at most kPreviewSide long). The pictures of the
    // album's own formats (IsAlbumOnlyPictureName) are decoded as the
    // album's. Faults as the album's images do; an image that cannot be
    // written is a warning naming it, and counted in `counts`.
    virtual SitePictureImages MakeSiteImages(const std::string& strFileName,
                                             const SiteImageTargets& targets,
                                             std::int32_t lThumbSize, bool previewAlways,
                                             AlbumImageCounts& counts) = 0;
    // Writes the copy of the picture offered for download at `destination`,
    // whole or not at all: without `keepLocation` with every location the
    // picture's metadata holds removed, its picture data as it is (a HEIC or
    // an AVIF, which cannot be rewritten, only when it holds no location). A
    // copy that cannot be made is a fault naming the file; none is written,
    // and the site offers the picture's preview instead.
    virtual void PublishOriginal(const std::string& strFileName, const std::string& destination,
                                 bool keepLocation) = 0;
    // Both for one picture: MakeSiteImages (a fault of its ends the call)
    // and PublishOriginal, its fault given back.
    virtual SitePictureMade MakeSitePicture(const SitePictureJob& job, AlbumImageCounts& counts);
    // The pictures the site will pass to MakeSitePicture next, in that
    // order: as IAlbumImages::ExpectAlbumImages has it.
    virtual void ExpectSitePictures(const std::vector<SitePictureJob>& /*jobs*/) {}
};

// Where a site's run stands, for a progress line.
struct SiteProgress {
    std::size_t folder = 0;    // the folder of the picture under way, counting from 1
    std::size_t folders = 0;   // folders found
    std::size_t picture = 0;   // pictures done so far, this one included
    std::size_t pictures = 0;  // pictures found
    std::size_t toMake = 0;    // of those, the ones with files to make
    std::size_t made = 0;      // of those, done so far
    std::string name;          // the picture, relative to the picture folder
};

class ISiteView {
  public:
    virtual ~ISiteView() = default;
    // Before a picture's files are made.
    virtual void ShowProgress(const SiteProgress&) {}
    // A picture (or folder) left out, keeping going.
    virtual void ShowSkipped(const Fault&) {}
    virtual bool StopRequested() = 0;
};

struct SiteOptions {
    std::string source;                // the picture folder, absolute
    std::string output;                // the site's folder, absolute, a real folder
    std::vector<std::string> folders;  // source first, then folders below it, each after its parent
    std::int32_t thumbSize = kDefaultThumbnailSize;
    std::optional<std::string> title;  // every page's; by default the folder's name + " Gallery"
    bool keepGoing = false;
    bool keepLocation = false;
    bool originals = true;
    // The pages' order.
    AlbumSort sort = AlbumSort::Name;
};

struct SiteOutcome {
    RunEnd end = RunEnd::Done;  // Done, Stopped or Failed
    std::optional<Fault> fault;
    std::vector<RunWarning> warnings;
    std::vector<Fault> skipped;
    std::int32_t folders = 0;
    std::int32_t pictures = 0;
    AlbumImageCounts images;   // thumbnails, previews and originals
    std::int32_t removed = 0;  // published files removed
    bool Incomplete() const {
        return end == RunEnd::Done && (!warnings.empty() || !skipped.empty());
    }
};

// Makes or brings up to date the site of options.folders in options.output.
// Order, so that whatever ends a run the pages link only files that are
// there and the next run completes the site: the record with the files to
// be made marked as unfinished, then those files (each whole), the record,
// the pages that changed (children's before their parents', a folder's page
// linking only albums that are there), the removal of files published for
// pictures and folders that are gone (only files the record lists, then the
// folders left empty), the final record. A stop or a fault ends the run
// after the record; then only the pages not there yet are written, of the
// pictures whose files are there, and nothing is removed. Files the site
// did not publish stay.
SiteOutcome BuildSite(const SiteOptions& options, ISiteImages& images, ISiteView& view);

}  // namespace fotolane::gallery
