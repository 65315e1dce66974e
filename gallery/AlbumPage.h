#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gallery/GalleryInterfaces.h"
#include "gallery/GalleryPaths.h"

namespace fotolane::gallery {

// The album: index.html beside the gallery page, a page for today's
// browsers (rows of thumbnails in their pictures' shapes that fit any
// screen, sharp on high-density screens, a lightbox with keys, swipes and
// deep links, light previews). It is UTF-8 and written whole from its own
// template (album/album.html, album.css, album.js, built into the program).

// Width and height in pixels.
struct PixelSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const PixelSize&) const = default;
};

// The camera details the lightbox shows of a photo, in PictureMetadata's
// forms (valid UTF-8, no control characters), each empty when the picture's
// file has none.
struct CameraDetails {
    std::string camera;       // "Canon PowerShot S40"
    std::string lens;         // "EF 24-70mm f/2.8L USM"
    std::string focalLength;  // "35 mm"
    std::string aperture;     // "f/2.8"
    std::string exposure;     // "1/250 s"
    std::string iso;          // "ISO 400"
    bool operator==(const CameraDetails&) const = default;
};

// What the album shows of one picture. The page links only files that are
// there: an image that could not be written is left out of it.
struct AlbumPicture {
    std::string name;  // the file name as listed (UTF-8 bytes)
    // Thumbnails/<base>.jpg, the gallery's own; for a picture the gallery
    // page does not take (which has none) the shape its tile falls back to.
    PixelSize thumbnail;
    bool hasThumbnail = true;  // that file is there
    // Browsers show the picture file itself (not a HEIC): else the lightbox
    // shows its preview, or a thumbnail, never the file.
    bool browsersShow = true;
    // The tile at two image pixels a CSS pixel, Thumbnails@2x/ +
    // AlbumImageName(name), and at one, Thumbnails@1x/ + AlbumImageName(name)
    // (AlbumTileSize, AlbumSmallTileSize); none when it could not be written.
    std::optional<PixelSize> largeThumbnail;
    std::optional<PixelSize> smallThumbnail;
    // Previews/ + AlbumImageName(name); none for a small picture, or when it
    // could not be written: the lightbox then shows the picture itself.
    std::optional<PixelSize> preview;
    std::string dateTaken;   // "YYYY-MM-DDTHH:MM:SS" or empty
    std::string dateOffset;  // of dateTaken from UTC, "+02:00", or empty
    // The photographer's title or description (PictureMetadata's caption),
    // as AlbumCaption makes it; empty when the picture has none.
    std::string caption;
    CameraDetails details;
    // The picture file's modification time in nanoseconds since 1970 (UTC):
    // the date order's stand-in for a photo without a date taken.
    std::int64_t modifiedNs = 0;
    // A published site's page (gallery/Site.h) rather than an album beside
    // the pictures: the thumbnail is the site's own, Thumbnails/ +
    // AlbumImageName(name), and the picture is offered only when
    // `hasOriginal` (a copy of the same name in the site); without it the
    // preview stands in for the picture.
    bool siteFiles = false;
    bool hasOriginal = true;
};

// The image that stands for an album in the tile its parent's page shows.
struct AlbumCover {
    std::string url;  // relative to the page that shows it, URL-escaped
    PixelSize size;   // the image's own
    // The same at half the density (the 1x tile) when `url` is the 2x one
    // and that is there too; else empty.
    std::string smallUrl;
    bool operator==(const AlbumCover&) const = default;
};

// An album below this one, as its tile shows it.
struct AlbumChild {
    std::string name;                 // its folder's name (UTF-8 bytes)
    std::optional<AlbumCover> cover;  // relative to this page; none: the name alone
    std::int32_t pictures = 0;        // its own pictures, not those below it
    bool operator==(const AlbumChild&) const = default;
};

// The albums next to this one, for galleries made folder by folder.
struct AlbumLinks {
    bool parent = false;               // ../index.html is an album
    std::vector<AlbumChild> children;  // folders whose index.html is an album
};

// An album's cover, relative to its own page: the largest thumbnail that is
// there of its first picture (with its 1x tile beside it) (`pictures` in the album's order), else
// the cover of its first album below (`links` in their order); none when neither has one.
std::optional<AlbumCover> AlbumCoverOf(std::span<const AlbumPicture> pictures,
                                       const AlbumLinks& links);
// The album of the folder `name` as the page above it shows it: its cover
// (relative to its own page) moved below that folder, and its pictures.
AlbumChild AlbumChildOf(std::string name, const std::optional<AlbumCover>& cover,
                        std::int32_t pictures);

// A picture's key in the date order: its date taken in seconds since 1970,
// moved to UTC by its offset when it has one (a date without one is taken
// as UTC), else its file's modification time. Seconds are what both share.
std::int64_t AlbumSortKey(const AlbumPicture& picture);
// Sorts the pictures: by name (NameComesBefore), or by AlbumSortKey with
// ties by name.
void SortAlbumPictures(std::vector<AlbumPicture>& pictures, AlbumSort sort);
// The least AlbumSortKey of the pictures; none when there are none.
std::optional<std::int64_t> EarliestSortKey(const std::vector<AlbumPicture>& pictures);
// Sorts the albums below one: by their folders' names, or by the earliest
// picture of each, `earliest` by name (that of the album and of those below
// it), ties and albums without a picture by name.
void SortAlbumLinks(std::vector<AlbumChild>& children,
                    const std::map<std::string, std::int64_t>& earliest, AlbumSort sort);

// The longest file name the file systems take (NAME_MAX).
inline constexpr std::size_t kLongestFileName = 255;

// The name of a picture's album images in Thumbnails@1x/, Thumbnails@2x/
// and Previews/: the picture's whole name + ".jpg" (so that "a.jpg" and "a.gif" do not collide),
// or, where that would be longer than kLongestFileName, the name's first
// bytes (whole UTF-8 characters), "~", 32 hexadecimal digits of the SHA-256
// of the whole name and ".jpg". No picture's plain name + ".jpg" takes that
// form, which does not end in a picture's extension before ".jpg", and no two
// names get the same one.
std::string AlbumImageName(std::string_view pictureName);

// Whether a file name is of the form AlbumImageName gives some name the
// album takes (IsAlbumPictureName): the album's own, which it may remove when
// its picture is gone.
bool IsAlbumImageName(std::string_view fileName);

// A preview's longer side; pictures no longer than this are shown themselves.
inline constexpr std::int32_t kPreviewSide = 2048;
// The album's rows of thumbnails (album.css): each picture as wide as its
// shape at the row's height, kAlbumRowHeight CSS pixels on a wide screen
// (less on a phone), a row grown to fill the width by at most
// kAlbumRowStretch. The high-density thumbnails (Thumbnails@2x/) are
// kAlbumThumbnailHeight pixels high, whatever the gallery's thumbnail size:
// the highest tile, 200 x 1.5 = 300 CSS pixels, then has 2 image pixels a
// CSS pixel on a screen of two device pixels a CSS pixel. A picture that is
// lower keeps its own size; a very wide one's longer side is at most
// kAlbumThumbnailLongest. Screens of one device pixel a CSS pixel take the
// 1x tiles (Thumbnails@1x/, srcset) at half that: kAlbumSmallThumbnailHeight
// high, the longer side at most kAlbumSmallThumbnailLongest.
inline constexpr std::int32_t kAlbumRowHeight = 200;
inline constexpr double kAlbumRowStretch = 1.5;
inline constexpr std::int32_t kAlbumThumbnailHeight = 600;
inline constexpr std::int32_t kAlbumThumbnailLongest = kPreviewSide;
inline constexpr std::int32_t kAlbumSmallThumbnailHeight = kAlbumThumbnailHeight / 2;
inline constexpr std::int32_t kAlbumSmallThumbnailLongest = kAlbumThumbnailLongest / 2;
static_assert(kAlbumThumbnailHeight >= kAlbumRowHeight * kAlbumRowStretch * 2);
static_assert(kAlbumSmallThumbnailHeight >= kAlbumRowHeight * kAlbumRowStretch);
// Thumbnails that load at once; those after them load as they come near the
// screen.
inline constexpr std::size_t kEagerThumbnails = 12;

// Text or an attribute value of the UTF-8 album: "&", "<", ">", '"' and "'"
// as entities; a byte sequence that is not valid UTF-8 as U+FFFD, so that the
// page stays valid UTF-8.
std::string AlbumText(std::string_view utf8);

// The most of a caption that the album keeps, in bytes.
inline constexpr std::size_t kAlbumCaptionBytes = 2000;
// Characters (code points) of a caption shown under a thumbnail.
inline constexpr std::size_t kShortCaptionCharacters = 80;

// Any text as an album caption: valid UTF-8 (U+FFFD for what is not), no
// control characters (tabs and line breaks become blanks), runs of blanks
// one space, none at the ends, at most kAlbumCaptionBytes cut at a
// character.
std::string AlbumCaption(std::string_view text);

// A caption as shown under a thumbnail: whole up to kShortCaptionCharacters
// characters, else its first ones (without a blank at the end) and "…".
std::string ShortCaption(std::string_view caption);

// "2004-06-12T14:03:05" as shown under a picture: "2004-06-12 14:03".
std::string ShownDate(std::string_view dateTaken);

// One picture's list item, its shape (width / height) in its --ar for the
// rows: a link to the picture itself around its tile (the 1x one with
// srcset "<1x> 1x, <2x> 2x"; without both, the one there, else the
// gallery's thumbnail, else the picture), the preview the lightbox shows,
// and a caption of the name, the date taken and the picture's own caption
// (ShortCaption of it, the whole one in data-caption for the lightbox).
// The link carries the camera details the lightbox shows, each present in
// it only when not empty: data-camera, data-lens, data-focal-length,
// data-aperture, data-exposure, data-iso.
// `index` counts from 0.
std::string AlbumItem(const AlbumPicture& picture, std::size_t index);

// The whole page. `title` is plain text (escaped here).
// `originals`: the lightbox offers each picture's original (a site made
// without originals hides that link).
std::string AlbumHtml(std::string_view title, std::span<const AlbumPicture> pictures,
                      const AlbumLinks& links, bool originals = true);

// Fills @NAME@ markers of a template in one pass: a marker's value is not
// looked at again, and an "@" that starts no known marker stays as it is.
struct TemplateValue {
    std::string_view name;
    std::string_view value;
};
std::string FillTemplate(std::string_view text, std::span<const TemplateValue> values);

}  // namespace fotolane::gallery
