#pragma once

#include <string>

namespace fotolane::gallery {

// `strName` inside the folder `strFolder`: one separator between them, none
// added when the folder already ends in one (the root "/").
std::string PathInFolder(const std::string& strFolder, const std::string& strName);

// The paths a run takes from its picture folder P.
struct GalleryPaths {
    std::string folderName;       // F: the last part of P, empty for the root
    std::string pagePath;         // P / F + ".htm"
    std::string thumbnailFolder;  // T: P / "Thumbnails" with a trailing separator
};

GalleryPaths MakeGalleryPaths(const std::string& strPictureFolder);

}  // namespace fotolane::gallery
