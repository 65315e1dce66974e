#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace fotolane {

// The SHA-256 digest of `bytes` (FIPS 180-4). Used where a name must stand
// for another one that is too long, so that no two names, however chosen,
// are found to stand for the same.
std::array<std::uint8_t, 32> Sha256(std::string_view bytes);

}  // namespace fotolane
