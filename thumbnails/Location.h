#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fotolane::thumbnails {

// The bytes of a copy of the picture at `path` without the places it tells:
// the EXIF GPS data and the location fields of XMP and IPTC removed, the
// picture data (for JPEG the compressed data byte for byte) and every other
// field, orientation and date taken among them, as they are. A picture
// whose metadata cannot be rewritten is a fault naming it: a site never
// publishes it with its location instead.
std::vector<std::uint8_t> BytesWithoutLocation(const std::string& path);

}  // namespace fotolane::thumbnails
