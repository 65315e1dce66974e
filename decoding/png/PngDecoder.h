#pragma once

// PNG through libspng (see PngDecoder.cpp). The faults may not name the
// file yet; AlbumDecoder.cpp adds the name.

#include <string>

#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

// The size in the PNG's header; false when the bytes end before a sound
// header.
bool ReadPngSize(Bytes bytes, PictureSize& size);

// The pixels DecodePng gives, into `sink` as libspng decodes them, the
// lines it does not reach never given (white); nothing of the picture's
// size is held but libspng's lines.
void StreamPng(Bytes bytes, const std::string& path, PixelSink& sink);

// The whole picture, as AlbumDecoder.h describes it.
PixelRows DecodePng(Bytes bytes, const std::string& path);

}  // namespace fotolane::picture::detail
