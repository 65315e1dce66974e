#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fotolane::gallery {

// The album: index.html beside the gallery page, a page for today's
// browsers (a grid that fits any screen, thumbnails sharp on high-density
// screens, a lightbox with keys, swipes and deep links, light previews).
// It is UTF-8 and written whole from its own template (album/album.html,
// album.css, album.js, built into the program).

// Width and height in pixels.
struct PixelSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// What the album shows of one picture.
struct AlbumPicture {
    std::string name;                  // the file name as listed (UTF-8 bytes)
    PixelSize thumbnail;               // Thumbnails/<base>.jpg, the gallery's own
    PixelSize largeThumbnail;          // Thumbnails@2x/<name>.jpg
    std::optional<PixelSize> preview;  // Previews/<name>.jpg; none for a small picture
    std::string dateTaken;             // "YYYY-MM-DDTHH:MM:SS" or empty
};

// The albums next to this one, for galleries made folder by folder.
struct AlbumLinks {
    bool parent = false;                // ../index.html is an album
    std::vector<std::string> children;  // folder names whose index.html is an album
};

// The folders beside Thumbnails where the album's own images lie.
inline constexpr std::string_view kLargeThumbnailFolder = "Thumbnails@2x";
inline constexpr std::string_view kPreviewFolder = "Previews";
// A preview's longer side; pictures no longer than this are shown themselves.
inline constexpr std::int32_t kPreviewSide = 2048;
// Thumbnails that load at once; those after them load as they come near the
// screen.
inline constexpr std::size_t kEagerThumbnails = 12;

// Text or an attribute value of the UTF-8 album: "&", "<", ">", '"' and "'"
// as entities; a byte sequence that is not valid UTF-8 as U+FFFD, so that the
// page stays valid UTF-8.
std::string AlbumText(std::string_view utf8);

// "2004-06-12T14:03:05" as shown under a picture: "2004-06-12 14:03".
std::string ShownDate(std::string_view dateTaken);

// One picture's list item: a link to the picture itself around its
// thumbnail (with the larger set in srcset), the preview the lightbox shows,
// and a caption of the name and the date taken. `index` counts from 0.
std::string AlbumItem(const AlbumPicture& picture, std::size_t index);

// The whole page. `title` is plain text (escaped here).
std::string AlbumHtml(std::string_view title, std::span<const AlbumPicture> pictures,
                      const AlbumLinks& links);

// Fills @NAME@ markers of a template in one pass: a marker's value is not
// looked at again, and an "@" that starts no known marker stays as it is.
struct TemplateValue {
    std::string_view name;
    std::string_view value;
};
std::string FillTemplate(std::string_view text, std::span<const TemplateValue> values);

}  // namespace fotolane::gallery
