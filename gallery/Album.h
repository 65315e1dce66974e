#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gallery/AlbumPage.h"
#include "gallery/GalleryInterfaces.h"
#include "gallery/GalleryRun.h"
#include "gallery/RunOutcome.h"
#include "platform/core/Fault.h"

namespace fotolane::gallery {

// The paths of a folder's album.
struct AlbumPaths {
    std::string indexPath;             // P / "index.html"
    std::string smallThumbnailFolder;  // P / "Thumbnails@1x" with a trailing separator
    std::string largeThumbnailFolder;  // P / "Thumbnails@2x" with a trailing separator
    std::string previewFolder;         // P / "Previews" with a trailing separator
};

AlbumPaths MakeAlbumPaths(const std::string& strPictureFolder);

// Which of a picture's album images that are there already are made again.
enum class AlbumRemake {
    All,       // every one ("All")
    Outdated,  // those older than their picture, tiles of another size ("New")
    // Those older than their picture, not of the size asked for, or
    // unreadable (the batch front end's --update)
    Stale,
};

// The fault when something else than a real folder stands where one of the
// album's image folders belongs (NotOwnFolderFault): the album would write
// through it. None while all three are folders or not there yet.
std::optional<Fault> AlbumFolderFault(const AlbumPaths& paths);

// One picture whose images the album will ask for, with the arguments of
// that MakeAlbumImages call.
struct AlbumImageJob {
    std::string strFileName;
    std::string strName;
    AlbumRemake remake = AlbumRemake::All;
    std::int32_t lThumbSize = 0;
};

// Makes the album's own images of a picture: its tiles at 2x and 1x and
// its preview.
class IAlbumImages {
  public:
    virtual ~IAlbumImages() = default;
    // For the picture strFileName (named strName in its folder): writes
    // largeThumbnailFolder + AlbumImageName(strName), kAlbumThumbnailHeight
    // high (AlbumTileSize), smallThumbnailFolder + AlbumImageName(strName),
    // kAlbumSmallThumbnailHeight high (AlbumSmallTileSize), and, when the
    // picture is longer than kPreviewSide, previewFolder +
    // AlbumImageName(strName) at kPreviewSide; of those that are there
    // already only the ones `remake` says ("New" also a tile whose JPEG
    // header gives another size than the tile's). For a name the gallery
    // does not take (IsAlbumOnlyPictureName), which has no thumbnail of the
    // gallery's (hasThumbnail false), also a preview of a picture that
    // browsers do not show (browsersShow false) however small, at most
    // kPreviewSide. All are made with a smoothing filter from the upright
    // picture. Returns what the album shows of the picture, the size of the
    // gallery's thumbnail (lThumbSize) included, and adds to `counts` what
    // became of its images. Faults as the thumbnail maker's; a file that
    // cannot be written is a warning, and left out of what the album shows.
    virtual AlbumPicture MakeAlbumImages(const std::string& strFileName, const std::string& strName,
                                         const AlbumPaths& paths, AlbumRemake remake,
                                         std::int32_t lThumbSize, AlbumImageCounts& counts) = 0;
    // The pictures the album will pass to MakeAlbumImages next, in that
    // order, with the folders of `paths`: a maker may start on them ahead,
    // as long as what each call returns, writes, counts, warns of and
    // faults with is what the call alone would give. An empty list drops
    // any work done ahead, once work under way is done. Never faults.
    virtual void ExpectAlbumImages(const AlbumPaths& /*paths*/,
                                   const std::vector<AlbumImageJob>& /*jobs*/) {}
};

// Makes the album of the run that just ended, when it ended normally: for
// every picture that got a cell, in the run's order, then for the folder's
// pictures the gallery does not take (IsAlbumOnlyPictureName, in the name
// order), their album images, then index.html, written whole, the pictures
// in the album's order (SortAlbumPictures). Returns the run's outcome with the album's part
// added: its images' counts, its warnings, pictures left out (keeping going), a fault
// (RunEnd::Failed, with the "Errore : " message shown as the run shows it)
// or a stop between two pictures (RunEnd::Stopped; the album then holds the
// pictures done so far). The gallery page and the run's thumbnails are not
// touched. A folder without gallery pictures gets an album when it holds
// pictures of the album's alone or `links` lead somewhere; any other end of
// the run is returned as it is, with no album.
//
// Before anything is written an image folder that is no real folder
// (AlbumFolderFault) is a fault, and temporary files a killed run left of
// index.html and in the image folders are removed. Once index.html is in
// place, the image folders lose the album's images (IsAlbumImageName) of
// pictures no longer in the folder, and those of pictures this album shows
// without them (a preview of a picture now small, an image whose writing
// failed). Images of pictures still in the folder that the album did not
// get to (left out by the run, or after a stop) stay.
RunOutcome BuildAlbum(GalleryRun& run, const IGalleryInputs& inputs, IGalleryView& view,
                      IAlbumImages& images, const AlbumLinks& links);

}  // namespace fotolane::gallery
