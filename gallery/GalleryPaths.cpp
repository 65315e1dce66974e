#include "gallery/GalleryPaths.h"

#include "gallery/ModThumbnails.h"
#include "platform/core/Paths.h"

namespace fotolane::gallery {

std::string PathInFolder(const std::string& strFolder, const std::string& strName) {
    std::string path = strFolder;
    if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
    path += strName;
    return path;
}

GalleryPaths MakeGalleryPaths(const std::string& strPictureFolder) {
    GalleryPaths paths;
    paths.folderName = ModThumbnails::LastPathPart(strPictureFolder);
    paths.pagePath = PathInFolder(strPictureFolder, paths.folderName + ".htm");
    paths.thumbnailFolder =
        PathInFolder(strPictureFolder, std::string(kThumbnailFolder)) + kPathSeparator;
    return paths;
}

}  // namespace fotolane::gallery
