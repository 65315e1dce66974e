#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "decoding/PictureDecoder.h"
#include "platform/core/Fault.h"
#include "platform/core/PixelRows.h"
#include "platform/ui/UserInterface.h"
#include "tests/TestSupport.h"

namespace fotolane::thumbnails::testing {

using fotolane::testing::FaultOf;

using Bgr = std::array<int, 3>;
using ColourAt = std::function<Bgr(std::int32_t x, std::int32_t y)>;

inline void PutLittleEndian(std::string& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Writes a 24-bit Windows bitmap (bottom-up rows, the lossless format the
// decoder reads exactly); colourAt counts x and y from the top-left corner.
inline void WriteBmp(const std::string& path, std::int32_t width, std::int32_t height,
                     const ColourAt& colourAt) {
    const std::int32_t stride = StrideOf24BitRow(width);
    const auto imageSize = static_cast<std::uint32_t>(stride * height);
    std::string bytes = "BM";
    PutLittleEndian(bytes, 54 + imageSize, 4);
    PutLittleEndian(bytes, 0, 4);
    PutLittleEndian(bytes, 54, 4);
    PutLittleEndian(bytes, 40, 4);
    PutLittleEndian(bytes, static_cast<std::uint32_t>(width), 4);
    PutLittleEndian(bytes, static_cast<std::uint32_t>(height), 4);
    PutLittleEndian(bytes, 1, 2);
    PutLittleEndian(bytes, 24, 2);
    PutLittleEndian(bytes, 0, 4);
    PutLittleEndian(bytes, imageSize, 4);
    for (int i = 0; i < 4; ++i) PutLittleEndian(bytes, 0, 4);
    for (std::int32_t s = 0; s < height; ++s) {
        const std::int32_t y = height - 1 - s;
        for (std::int32_t x = 0; x < width; ++x) {
            const Bgr c = colourAt(x, y);
            for (std::size_t channel = 0; channel < 3; ++channel)
                bytes += static_cast<char>(c[channel]);
        }
        bytes.append(static_cast<std::size_t>(stride - 3 * width), '\0');
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

inline ColourAt Solid(Bgr colour) {
    return [colour](std::int32_t, std::int32_t) { return colour; };
}

// A decoded picture, read by pixel from the top-left corner.
struct TopDown {
    PixelRows rows;

    std::int32_t Width() const { return rows.width; }
    std::int32_t Height() const { return rows.height; }
    Bgr At(std::int32_t x, std::int32_t y) const {
        const std::uint8_t* p = rows.ScanLine(rows.height - 1 - y) + 3 * x;
        return {p[0], p[1], p[2]};
    }
};

inline TopDown Decode(const std::string& path) {
    return {picture::DecodePicture(path)};
}

// Whether two colours agree within the loss of a JPEG encoding of uniform
// 16 x 16 blocks.
inline bool Near(const Bgr& a, const Bgr& b, int tolerance = 8) {
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::abs(a[i] - b[i]) > tolerance) return false;
    }
    return true;
}

using fotolane::testing::RecordingHost;

}  // namespace fotolane::thumbnails::testing
