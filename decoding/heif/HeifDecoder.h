#pragma once

// HEIC, HEIF and AVIF through libheif (see HeifDecoder.cpp). The faults may
// not name the file yet; AlbumDecoder.cpp adds the name.

#include <cstdint>
#include <string>
#include <vector>

#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

// The primary image's size, upright, from the file's boxes (which must all
// be there; the image data is not read): "Invalid picture" when they are
// not sound, "Out of memory" for an image past libheif's limit.
PictureSize ReadHeifSize(Bytes bytes, const std::string& path);

// The whole primary image, as AlbumDecoder.h describes it.
PixelRows DecodeHeif(Bytes bytes, const std::string& path);

// Whether the file-type box names AVIF ("avif" or "avis" as the major or a
// compatible brand): how Chromium tells a file it shows from the HEIC it
// does not.
bool IsAvifFileType(Bytes bytes);

// The metadata items of every top-level image of the file, as libheif finds
// them: EXIF blocks from their TIFF header on (the item's offset field
// skipped), XMP packets. `readable` is false when the file's boxes cannot be
// read or an EXIF item's offset points outside it: it may then hold
// metadata that is not listed.
struct HeifMetadata {
    std::vector<std::vector<std::uint8_t>> exif;
    std::vector<std::vector<std::uint8_t>> xmp;
    bool readable = true;
};
HeifMetadata ReadHeifMetadata(Bytes bytes);

}  // namespace fotolane::picture::detail
