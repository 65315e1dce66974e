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

// Bytes of hand-made picture files.
using Bytes = std::string;

inline Bytes Little16(int value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

inline Bytes Little32(std::uint32_t value) {
    return Little16(static_cast<int>(value & 0xFFFF)) + Little16(static_cast<int>(value >> 16));
}

// A bitmap with an info header of `header` bytes: 40, then `after` (the
// masks of bit fields, or a colour table of as many colours); or longer,
// holding the masks (`after`, 16 bytes) itself. A negative height is stored
// top-down.
inline Bytes Bitmap(std::uint32_t header, int width, int height, int bitsAPixel, int compression,
                    const Bytes& after, const Bytes& pixels) {
    Bytes info =
        Little32(header) + Little32(static_cast<std::uint32_t>(width)) +
        Little32(static_cast<std::uint32_t>(height)) + Little16(1) + Little16(bitsAPixel) +
        Little32(static_cast<std::uint32_t>(compression)) +
        Little32(static_cast<std::uint32_t>(pixels.size())) + Little32(2835) + Little32(2835) +
        Little32(bitsAPixel <= 8 ? static_cast<std::uint32_t>(after.size() / 4) : 0) + Little32(0);
    if (header > 40) info += after + Bytes(header - 40 - after.size(), '\0');
    if (header == 40) info += after;
    const auto offset = static_cast<std::uint32_t>(14 + info.size());
    return "BM" + Little32(offset + static_cast<std::uint32_t>(pixels.size())) + Little32(0) +
           Little32(offset) + info + pixels;
}

inline Bytes Bitmap(int size, int bitsAPixel, int compression, const Bytes& palette,
                    const Bytes& pixels) {
    return Bitmap(40, size, size, bitsAPixel, compression, palette, pixels);
}

// A GIF of two colours on a 1 x 1 screen whose first frame, of a few
// pixels of data, is widthxheight at (left, top): the picture is the union.
inline Bytes Gif(int left, int top, int width, int height, bool interlaced) {
    return "GIF89a" + Little16(1) + Little16(1) + Bytes{'\x80', '\0', '\0'} +
           Bytes{'\0', '\0', '\0', '\xFF', '\xFF', '\xFF'} + "," + Little16(left) + Little16(top) +
           Little16(width) + Little16(height) + Bytes(1, interlaced ? '\x40' : '\0') +
           Bytes{'\2', '\2', '\x4C', '\1', '\0', ';'};
}

inline Bytes RunLengths() {
    Bytes runs;
    for (int i = 0; i < 500; ++i) runs += Bytes{'\xFF', static_cast<char>(i % 2)};
    return runs + Bytes{'\0', '\1'};
}

// A GIF screen of width x height whose first frame is its top left pixel,
// white: the rest of the screen is white too.
inline Bytes GifScreen(int width, int height) {
    return "GIF89a" + Little16(width) + Little16(height) + Bytes{'\x80', '\0', '\0'} +
           Bytes{'\0', '\0', '\0', '\xFF', '\xFF', '\xFF'} + "," + Little16(0) + Little16(0) +
           Little16(1) + Little16(1) + Bytes{'\0', '\2', '\2', '\x4C', '\1', '\0', ';'};
}

using fotolane::testing::RecordingHost;

}  // namespace fotolane::thumbnails::testing
