#pragma once

// YCbCr to RGB in libjpeg's fixed point, as its ycc_rgb_convert
// (jdcolor.c) computes it: the whole decode's colours, exactly.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace fotolane::picture::detail {

namespace colour {

inline constexpr int kScaleBits = 16;
inline constexpr std::int64_t kHalf = std::int64_t{1} << (kScaleBits - 1);

constexpr std::int64_t Fix(double x) {
    return static_cast<std::int64_t>(x * (1 << kScaleBits) + 0.5);
}

// libjpeg's build_ycc_rgb_table: each chroma value's share of red, blue and
// green.
struct Tables {
    std::array<int, 256> crToRed{};
    std::array<int, 256> cbToBlue{};
    std::array<std::int64_t, 256> crToGreen{};
    std::array<std::int64_t, 256> cbToGreen{};
};

constexpr Tables MakeTables() {
    Tables tables;
    for (int i = 0; i < 256; ++i) {
        const std::int64_t x = i - 128;
        const auto at = static_cast<std::size_t>(i);
        tables.crToRed[at] = static_cast<int>((Fix(1.40200) * x + kHalf) >> kScaleBits);
        tables.cbToBlue[at] = static_cast<int>((Fix(1.77200) * x + kHalf) >> kScaleBits);
        tables.crToGreen[at] = -Fix(0.71414) * x;
        tables.cbToGreen[at] = -Fix(0.34414) * x + kHalf;
    }
    return tables;
}

inline constexpr Tables kTables = MakeTables();

inline std::uint8_t Clamp(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

}  // namespace colour

// Writes the colour of luma `luma` and chroma `cb`, `cr` (each 0 to 255) as
// B, G, R at `pixel`.
inline void WriteYccPixel(std::uint8_t* pixel, int luma, std::size_t cb, std::size_t cr) {
    using colour::Clamp;
    using colour::kTables;
    pixel[2] = Clamp(luma + kTables.crToRed[cr]);
    pixel[1] = Clamp(luma + static_cast<int>((kTables.cbToGreen[cb] + kTables.crToGreen[cr]) >>
                                             colour::kScaleBits));
    pixel[0] = Clamp(luma + kTables.cbToBlue[cb]);
}

}  // namespace fotolane::picture::detail
