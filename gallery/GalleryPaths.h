#pragma once

#include <string>
#include <string_view>

namespace fotolane::gallery {

// The folder beside the pictures that holds the gallery's thumbnails, and
// the three where the album's own images lie: the thumbnails of the pictures
// the gallery page does not take (PNG, WebP, HEIC, AVIF), which have none in
// Thumbnails, the high-density thumbnails and the previews.
inline constexpr std::string_view kThumbnailFolder = "Thumbnails";
inline constexpr std::string_view kSmallThumbnailFolder = "Thumbnails@1x";
inline constexpr std::string_view kLargeThumbnailFolder = "Thumbnails@2x";
inline constexpr std::string_view kPreviewFolder = "Previews";

// `strName` inside the folder `strFolder`: one separator between them, none
// added when the folder already ends in one (the root "/").
std::string PathInFolder(const std::string& strFolder, const std::string& strName);

// The paths a run takes from its picture folder P.
struct GalleryPaths {
    std::string folderName;       // F: the last part of P, empty for the root
    std::string pagePath;         // P / F + ".htm"
    std::string thumbnailFolder;  // T: P / kThumbnailFolder with a trailing separator
};

GalleryPaths MakeGalleryPaths(const std::string& strPictureFolder);

}  // namespace fotolane::gallery
