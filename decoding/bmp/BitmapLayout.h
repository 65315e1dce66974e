#pragma once

// What the sources of a bitmap share: the headers as read, the colour of a
// pixel value, a pixel's value in a stored row. BitmapHeaders.cpp reads the
// headers, BitmapDecoder.cpp decodes into rows, BitmapStream.cpp gives the
// pixels to a sink; RunLengths.h walks the run lengths for both.

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string>

#include "decoding/ByteReading.h"
#include "decoding/PictureDecoder.h"

namespace fotolane::picture::detail::bmp {

constexpr std::size_t kFileHeader = 14;

// Header sizes: the OS/2 one, Windows' 40-byte one, Photoshop's 52 and
// 56 (the 40 bytes and the colour masks), OS/2's second, V4 and V5.
constexpr std::uint32_t kCoreHeader = 12;
constexpr std::uint32_t kInfoHeader = 40;
constexpr std::uint32_t kMasksHeader = 52;
constexpr std::uint32_t kAlphaMaskHeader = 56;
constexpr std::uint32_t kOs2Header = 64;
constexpr std::uint32_t kV4Header = 108;
constexpr std::uint32_t kV5Header = 124;

enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

// The most pixels a bitmap may have: 16384 x 16384, as before (Qt's limit).
constexpr std::uint64_t kMostPixels = std::uint64_t{16384} * 16384;

using Bgr = std::array<std::uint8_t, 3>;

inline std::uint8_t OnWhite(int channel, int alpha) {
    return static_cast<std::uint8_t>((channel * alpha + 255 * (255 - alpha) + 127) / 255);
}

// One colour channel of 16- and 32-bit pixels, told by its mask: its bits
// shifted down to the mask's lowest one and stretched over 0 to 255,
// rounded (a 5-bit white is 255, not 248; a 10-bit channel keeps its
// shades as browsers show them).
class Channel {
  public:
    void Set(std::uint32_t mask) {
        mask_ = mask;
        shift_ = mask == 0 ? 0 : std::countr_zero(mask);
        top_ = mask >> shift_;
        for (std::uint32_t value = 0; value < stretched_.size() && value <= top_; ++value) {
            stretched_[value] = Stretch(value);
        }
    }
    std::uint8_t Of(std::uint32_t pixel) const {
        const std::uint32_t value = (pixel & mask_) >> shift_;
        return value < stretched_.size() ? stretched_[value] : Stretch(value);
    }

  private:
    std::uint8_t Stretch(std::uint32_t value) const {
        if (top_ == 0) return 0;
        return static_cast<std::uint8_t>((std::uint64_t{value} * 255 + top_ / 2) / top_);
    }

    std::uint32_t mask_ = 0;
    int shift_ = 0;
    std::uint32_t top_ = 0;  // the channel's largest value
    std::array<std::uint8_t, 256> stretched_{};
};

// What the headers say.
struct BitmapLayout {
    std::uint32_t header = 0;
    PictureSize size{0, 0};
    bool topDown = false;
    int bitsAPixel = 0;
    std::uint32_t compression = kRgb;
    std::uint32_t coloursUsed = 0;
    // Where the pixels stand by the file header.
    std::uint32_t pixelsOffset = 0;
    // Where the info header's own fields end.
    std::size_t infoEnd = 0;
};

// How the pixel values become colours, and where the pixels start.
struct BitmapPixels {
    const BitmapLayout* layout = nullptr;
    // The colour of each index (beyond the table black, or for 1-bit
    // pixels white).
    std::array<Bgr, 256> colours{};
    Channel red, green, blue, alpha;
    bool hasAlpha = false;
    std::size_t start = 0;
    std::size_t rowBytes = 0;

    bool Indexed() const { return layout->bitsAPixel <= 8; }

    Bgr ColourOf(std::uint32_t value) const {
        if (Indexed()) return colours[value & 0xFF];
        const int a = hasAlpha ? alpha.Of(value) : 255;
        return {OnWhite(blue.Of(value), a), OnWhite(green.Of(value), a), OnWhite(red.Of(value), a)};
    }

    // The lines [first, last) of the uncompressed rows that the data
    // reaches: a file that ends early costs its rows, not its height.
    struct Lines {
        std::int32_t first = 0;
        std::int32_t last = 0;
    };
    Lines LinesReached(Bytes bytes) const {
        if (start >= bytes.size()) return {};
        const std::int32_t height = layout->size.height;
        const auto reached = static_cast<std::int32_t>(std::min<std::size_t>(
            (bytes.size() - start + rowBytes - 1) / rowBytes, static_cast<std::size_t>(height)));
        return layout->topDown ? Lines{0, reached} : Lines{height - reached, height};
    }
    // Line y's row, as far as the data goes (within LinesReached).
    Bytes RowOf(Bytes bytes, std::int32_t y) const {
        const std::int32_t height = layout->size.height;
        const auto stored = static_cast<std::size_t>(layout->topDown ? y : height - 1 - y);
        const std::size_t at = start + stored * rowBytes;
        return bytes.subspan(at, std::min(rowBytes, bytes.size() - at));
    }
};

// The layout of a bitmap whose headers and colour table are sound, of a size
// a picture may have; otherwise the fault that names `path`.
BitmapLayout ReadLayout(Bytes bytes, const std::string& path);

// Reads the colour table or masks; false for a bitmap that is refused.
bool ReadPixelFormat(Bytes bytes, const BitmapLayout& layout, BitmapPixels& pixels);

inline bool IsRunLengths(const BitmapLayout& layout) {
    return layout.compression == kRle8 || layout.compression == kRle4;
}

// The value of pixel x of a stored row; bytes past the row's data read as 0.
inline std::uint32_t ValueAt(Bytes row, int bitsAPixel, std::int32_t x) {
    const auto byte = [&](std::size_t at) -> std::uint32_t {
        return at < row.size() ? row[at] : 0;
    };
    const auto column = static_cast<std::size_t>(x);
    switch (bitsAPixel) {
        case 1:
            return byte(column / 8) >> (7 - column % 8) & 1;
        case 4:
            return byte(column / 2) >> (column % 2 == 0 ? 4 : 0) & 0x0F;
        case 8:
            return byte(column);
        case 16:
            return byte(2 * column) | byte(2 * column + 1) << 8;
        case 24:
            return byte(3 * column) | byte(3 * column + 1) << 8 | byte(3 * column + 2) << 16;
        default:
            return byte(4 * column) | byte(4 * column + 1) << 8 | byte(4 * column + 2) << 16 |
                   byte(4 * column + 3) << 24;
    }
}

}  // namespace fotolane::picture::detail::bmp
