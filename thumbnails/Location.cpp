#include "thumbnails/Location.h"

#include "platform/core/Fault.h"

namespace fotolane::thumbnails {

// The metadata library's rewriting comes in here; until then no original
// can be stripped, and a site offers previews in their place.
std::vector<std::uint8_t> BytesWithoutLocation(const std::string& path) {
    throw Fault("Cannot remove the location", path);
}

}  // namespace fotolane::thumbnails
