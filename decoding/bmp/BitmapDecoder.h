#pragma once

// Windows bitmaps, by a decoder of our own (see BitmapDecoder.cpp).

#include <string>

#include "decoding/PictureDecoder.h"
#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

// The whole picture, or the wanted pixels only into `rows`; the header's
// size, with the faults of a header that is refused.
PixelRows DecodeBitmap(Bytes bytes, const std::string& path);
void DecodeBitmapInto(Bytes bytes, const std::string& path, const WantedPixels& wanted,
                      PixelRows& rows);
PictureSize ReadBitmapSize(Bytes bytes, const std::string& path);
// The same into a sink (see StreamPicture): the pixels that the data reaches.
void StreamBitmap(Bytes bytes, const std::string& path, PixelSink& sink);

// Whether the file holds its picture and nothing else: every byte outside
// the headers, the colour table or masks, the pixel data (up to the end of
// its run lengths) and an embedded colour profile is zero. Bitmaps have no
// place for metadata, so what stands elsewhere (XMP appended by a tool, say)
// is nothing that can be cleaned: a copy without location is refused then.
// False for a bitmap that is refused.
bool BitmapHoldsOnlyPicture(Bytes bytes);

}  // namespace fotolane::picture::detail
