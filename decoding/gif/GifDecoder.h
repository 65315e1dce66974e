#pragma once

// GIF, by a decoder of our own (see GifDecoder.cpp).

#include <cstdint>
#include <string>
#include <vector>

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

// The file without its metadata, every other block byte for byte: the
// comment extensions and the application extensions go (XMP among them),
// except those that shape how the picture is shown (the NETSCAPE and
// ANIMEXTS loop counts, an ICC profile); the frames, their graphic controls
// and plain text stay, and nothing after the trailer. A file that ends
// before its trailer or holds a block of no known kind is the fault
// "Cannot remove the location" naming `path`: what it hides is not known.
std::vector<std::uint8_t> GifWithoutMetadata(Bytes bytes, const std::string& path);

}  // namespace fotolane::picture::detail
