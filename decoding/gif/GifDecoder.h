#pragma once

// GIF, by a decoder of our own (see GifDecoder.cpp).

#include <string>

#include "decoding/PictureDecoder.h"
#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

// The first frame on a canvas of the logical screen widened to hold it,
// white where the frame does not reach, is transparent, or its data ends.
PixelRows DecodeGif(Bytes bytes, const std::string& path);
// The same into `rows`, the wanted pixels only: the cost follows the data
// and the wanted pixels, whatever the size the file claims.
void DecodeGifInto(Bytes bytes, const std::string& path, const WantedPixels& wanted,
                   PixelRows& rows);
// False when the file ends before the first frame's descriptor (and before
// its trailer) or the canvas has no pixels.
bool ReadGifSize(Bytes bytes, PictureSize& size);
// The same into a sink (see StreamPicture): the frame's opaque pixels.
void StreamGif(Bytes bytes, const std::string& path, PixelSink& sink);

}  // namespace fotolane::picture::detail
