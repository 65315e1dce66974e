#pragma once

// WebP through libwebp (see WebpDecoder.cpp). The faults may not name the
// file yet; AlbumDecoder.cpp adds the name.

#include <string>

#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

// The size in the WebP's headers (an animation's canvas); false when the
// bytes end before they are whole or they are not sound.
bool ReadWebpSize(Bytes bytes, PictureSize& size);

// The whole picture, as AlbumDecoder.h describes it.
PixelRows DecodeWebp(Bytes bytes, const std::string& path);

}  // namespace fotolane::picture::detail
