#include "thumbnails/Location.h"

#include "decoding/PictureMetadata.h"

namespace fotolane::thumbnails {

std::vector<std::uint8_t> BytesWithoutLocation(const std::string& path) {
    return picture::CopyWithoutLocation(path);
}

}  // namespace fotolane::thumbnails
