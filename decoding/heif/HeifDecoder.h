#pragma once

// HEIC, HEIF and AVIF through libheif (see HeifDecoder.cpp). The faults may
// not name the file yet; AlbumDecoder.cpp adds the name.

#include <string>

#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

// The primary image's size, upright, from the file's boxes (which must all
// be there; the image data is not read): "Invalid picture" when they are
// not sound, "Out of memory" for an image past libheif's limit.
PictureSize ReadHeifSize(Bytes bytes, const std::string& path);

// The whole primary image, as AlbumDecoder.h describes it.
PixelRows DecodeHeif(Bytes bytes, const std::string& path);

}  // namespace fotolane::picture::detail
