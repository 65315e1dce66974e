#include "gallery/PictureNames.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "gallery/GalleryRun.h"
#include "gallery/ModThumbnails.h"

namespace fotolane::gallery {
namespace {

// The extension in lower case, ASCII letters only, free of the locale.
std::string LowerExtension(const std::string& strName) {
    std::string extension = ModThumbnails::FileExtension(strName);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return extension;
}

// Camera raw formats, TIFF, and the films that phones and cameras put
// beside their photos.
constexpr std::string_view kLeftOut[] = {
    // raw
    "arw", "cr2", "cr3", "crw", "dng", "erf", "kdc", "mrw", "nef", "nrw", "orf", "pef", "raf",
    "raw", "rw2", "rwl", "sr2", "srf", "srw", "x3f", "3fr", "iiq",
    // other pictures
    "tif", "tiff", "jxl", "psd", "svg", "ico", "jp2", "heics", "avifs",
    // films
    "mov", "mp4", "m4v", "avi", "3gp", "3g2", "mts", "m2ts", "mkv", "webm", "wmv", "mpg", "mpeg"};

}  // namespace

AlbumOnlyFormat AlbumOnlyFormatOfName(const std::string& strName) {
    const std::string extension = LowerExtension(strName);
    if (extension == "png") return AlbumOnlyFormat::Png;
    if (extension == "webp") return AlbumOnlyFormat::WebP;
    if (extension == "heic" || extension == "heif") return AlbumOnlyFormat::Heic;
    if (extension == "avif") return AlbumOnlyFormat::Avif;
    return AlbumOnlyFormat::None;
}

bool IsAlbumPictureName(const std::string& strName) {
    return IsPictureName(strName) || AlbumOnlyFormatOfName(strName) != AlbumOnlyFormat::None;
}

bool IsAlbumOnlyPictureName(const std::string& strName) {
    return AlbumOnlyFormatOfName(strName) != AlbumOnlyFormat::None;
}

std::string LeftOutExtension(const std::string& strName) {
    const std::string extension = LowerExtension(strName);
    if (std::find(std::begin(kLeftOut), std::end(kLeftOut), extension) == std::end(kLeftOut)) {
        return {};
    }
    return "." + extension;
}

}  // namespace fotolane::gallery
