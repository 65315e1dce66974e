#pragma once

// The bytes of a picture file and the numbers stored in them: little-endian
// in bitmaps and GIFs, big-endian in JPEG segments. The caller makes sure
// that the bytes read are there.

#include <cstddef>
#include <cstdint>
#include <span>

namespace fotolane::picture::detail {

using Bytes = std::span<const std::uint8_t>;

inline std::uint16_t LittleEndian16(Bytes bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

inline std::uint32_t LittleEndian32(Bytes bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

inline std::uint16_t BigEndian16(Bytes bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

}  // namespace fotolane::picture::detail
