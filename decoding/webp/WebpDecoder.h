#pragma once

// WebP through libwebp (see WebpDecoder.cpp). The faults may not name the
// file yet; AlbumDecoder.cpp adds the name.

#include <optional>
#include <string>

#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

// The size in the WebP's headers (an animation's canvas); false when the
// bytes end before they are whole or they are not sound.
bool ReadWebpSize(Bytes bytes, PictureSize& size);

// The whole picture, as AlbumDecoder.h describes it; or, given `least`, of a
// still picture larger than that in both directions, the smallest size of
// its shape that is at least that, averaged by libwebp as it decodes
// (DecodeAlbumPictureAtLeast).
PixelRows DecodeWebp(Bytes bytes, const std::string& path,
                     std::optional<PictureSize> least = std::nullopt);

}  // namespace fotolane::picture::detail
