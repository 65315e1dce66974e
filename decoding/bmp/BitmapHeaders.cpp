// The headers of a Windows bitmap: the file header, the info header of any
// of its seven sizes, the colour table or the bit-field masks. A header that
// browsers refuse makes an "Invalid picture".

#include <algorithm>
#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

#include "decoding/bmp/BitmapDecoder.h"
#include "decoding/bmp/BitmapLayout.h"
#include "decoding/bmp/RunLengths.h"
#include "platform/core/Fault.h"

namespace fotolane::picture::detail {
namespace bmp {
namespace {

// Reads the file and info headers; false for a bitmap that is refused.
bool ReadHeaders(Bytes bytes, BitmapLayout& layout) {
    if (bytes.size() < kFileHeader + 4 || bytes[0] != 'B' || bytes[1] != 'M') return false;
    layout.pixelsOffset = LittleEndian32(bytes, 10);
    layout.header = LittleEndian32(bytes, kFileHeader);
    std::int64_t width = 0;
    std::int64_t height = 0;
    int planes = 0;
    const std::size_t fields = kFileHeader + 4;
    switch (layout.header) {
        case kCoreHeader:
            if (bytes.size() < fields + 8) return false;
            width = static_cast<std::int16_t>(LittleEndian16(bytes, fields));
            height = static_cast<std::int16_t>(LittleEndian16(bytes, fields + 2));
            planes = LittleEndian16(bytes, fields + 4);
            layout.bitsAPixel = LittleEndian16(bytes, fields + 6);
            layout.infoEnd = kFileHeader + kCoreHeader;
            break;
        case kInfoHeader:
        case kMasksHeader:
        case kAlphaMaskHeader:
        case kOs2Header:
        case kV4Header:
        case kV5Header:
            // The Windows fields; 64-byte OS/2 headers share the first 40
            // bytes, and the rest of each header is read where it is used.
            layout.infoEnd =
                kFileHeader + (layout.header == kOs2Header ? kInfoHeader : layout.header);
            if (bytes.size() < layout.infoEnd) return false;
            width = static_cast<std::int32_t>(LittleEndian32(bytes, fields));
            height = static_cast<std::int32_t>(LittleEndian32(bytes, fields + 4));
            planes = LittleEndian16(bytes, fields + 8);
            layout.bitsAPixel = LittleEndian16(bytes, fields + 10);
            layout.compression = LittleEndian32(bytes, fields + 12);
            layout.coloursUsed = LittleEndian32(bytes, fields + 28);
            break;
        default:
            return false;
    }
    const int bits = layout.bitsAPixel;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return false;
    }
    const std::uint32_t compression = layout.compression;
    const bool known = compression == kRgb || (bits == 8 && compression == kRle8) ||
                       (bits == 4 && compression == kRle4) ||
                       ((bits == 16 || bits == 32) && compression == kBitFields);
    if (planes != 1 || !known) return false;
    if (width <= 0 || height == 0 || height == INT32_MIN) return false;
    layout.topDown = height < 0;
    if (height < 0) height = -height;
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMostPixels) {
        return false;
    }
    layout.size = {static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
    return true;
}

// Browsers refuse a colour table that claims more colours than the pixels
// can index, or that the file ends within.
bool TableIsSound(Bytes bytes, const BitmapLayout& layout) {
    if (layout.bitsAPixel > 8) {
        // The whole header must be there, and the masks after a 40-byte one.
        const bool masksAfter = layout.header == kInfoHeader && layout.compression == kBitFields;
        return kFileHeader + layout.header + (masksAfter ? 12 : 0) <= bytes.size();
    }
    const std::uint32_t most = 1u << layout.bitsAPixel;
    if (layout.header != kCoreHeader && layout.coloursUsed > most) return false;
    const std::size_t entries = layout.coloursUsed != 0 ? layout.coloursUsed : most;
    const std::size_t entry = layout.header == kCoreHeader ? 3 : 4;
    return kFileHeader + layout.header + entries * entry <= bytes.size();
}

}  // namespace

BitmapLayout ReadLayout(Bytes bytes, const std::string& path) {
    BitmapLayout layout;
    if (!ReadHeaders(bytes, layout) || !TableIsSound(bytes, layout)) {
        throw Fault::InvalidPicture(path);
    }
    CheckPictureSize(layout.size, path);
    return layout;
}

// Reads the colour table or masks; false for a bitmap that is refused.
bool ReadPixelFormat(Bytes bytes, const BitmapLayout& layout, BitmapPixels& pixels) {
    pixels.layout = &layout;
    // The data must go on after the info header.
    if (bytes.size() <= layout.infoEnd) return false;
    std::size_t at = kFileHeader + layout.header;
    if (layout.bitsAPixel <= 8) {
        const std::uint32_t entries =
            layout.coloursUsed != 0 ? layout.coloursUsed : 1u << layout.bitsAPixel;
        if (entries > 256) return false;
        const std::size_t entry = layout.header == kCoreHeader ? 3 : 4;
        // A table that the file ends within, or with, is refused.
        if (at + entries * entry >= bytes.size()) return false;
        if (layout.bitsAPixel == 1) pixels.colours.fill({0xFF, 0xFF, 0xFF});
        for (std::size_t i = 0; i < entries; ++i, at += entry) {
            pixels.colours[i] = {bytes[at], bytes[at + 1], bytes[at + 2]};
        }
    } else {
        std::uint32_t masks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
        if (layout.bitsAPixel == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        }
        if (layout.compression == kBitFields) {
            // Inside the longer headers, else after the 40-byte one; only
            // headers of 56 bytes and more have an alpha mask.
            std::size_t masksAt = kFileHeader + kInfoHeader;
            if (layout.header == kInfoHeader || layout.header == kOs2Header) {
                masksAt = at;
                at += 12;
                if (at > bytes.size()) return false;
            }
            for (std::size_t i = 0; i < 3; ++i) masks[i] = LittleEndian32(bytes, masksAt + 4 * i);
            if (layout.header >= kAlphaMaskHeader && layout.header != kOs2Header) {
                masks[3] = LittleEndian32(bytes, masksAt + 12);
            }
            // A mask of all 32 bits is no channel.
            for (const std::uint32_t mask : masks) {
                if (mask == UINT32_MAX) return false;
            }
        } else if (layout.bitsAPixel == 32 && layout.header >= kAlphaMaskHeader &&
                   layout.header != kOs2Header && LittleEndian32(bytes, 66) == 0xFF000000) {
            // 32-bit pixels without masks have an alpha channel when the
            // header gives the usual one.
            masks[3] = 0xFF000000;
        }
        pixels.red.Set(masks[0]);
        pixels.green.Set(masks[1]);
        pixels.blue.Set(masks[2]);
        pixels.alpha.Set(masks[3]);
        pixels.hasAlpha = masks[3] != 0;
    }
    // The pixels never start inside the headers or the table.
    pixels.start = std::max<std::size_t>(layout.pixelsOffset, at);
    pixels.rowBytes =
        (static_cast<std::size_t>(layout.size.width) * static_cast<std::size_t>(layout.bitsAPixel) +
         31) /
        32 * 4;
    return true;
}

namespace {

// Takes the runs and keeps nothing: the walk only finds their end.
struct RunEndFinder {
    template <typename ValueAt>
    void Put(std::int64_t, std::int64_t, std::int64_t, ValueAt&&) {}
};

}  // namespace

}  // namespace bmp

bool BitmapHoldsOnlyPicture(Bytes bytes) {
    using namespace bmp;
    BitmapLayout layout;
    BitmapPixels pixels;
    try {
        layout = ReadLayout(bytes, {});
    } catch (const Fault&) {
        return false;
    }
    if (!ReadPixelFormat(bytes, layout, pixels)) return false;
    // The parts of the file that are the picture's, [from, to) each.
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    std::size_t tableEnd = pixels.start;
    if (layout.bitsAPixel <= 8) {
        const std::size_t entries =
            layout.coloursUsed != 0 ? layout.coloursUsed : std::size_t{1} << layout.bitsAPixel;
        tableEnd = kFileHeader + layout.header + entries * (layout.header == kCoreHeader ? 3 : 4);
    } else if (layout.compression == kBitFields &&
               (layout.header == kInfoHeader || layout.header == kOs2Header)) {
        tableEnd = kFileHeader + layout.header + 12;
    } else {
        tableEnd = kFileHeader + layout.header;
    }
    parts.emplace_back(0, tableEnd);
    std::size_t pixelsEnd = bytes.size();
    if (IsRunLengths(layout)) {
        RunEndFinder finder;
        if (!WalkRunLengths(bytes, pixels, finder, &pixelsEnd)) return false;
    } else {
        pixelsEnd = pixels.start + pixels.rowBytes * static_cast<std::size_t>(layout.size.height);
    }
    parts.emplace_back(pixels.start, pixelsEnd);
    // A V5 header's embedded profile (its colour space "MBED"), placed from
    // the header's start.
    constexpr std::uint32_t kEmbedded = 0x4D424544;
    if (layout.header == kV5Header && LittleEndian32(bytes, kFileHeader + 56) == kEmbedded) {
        const std::size_t from = kFileHeader + LittleEndian32(bytes, kFileHeader + 112);
        parts.emplace_back(from, from + LittleEndian32(bytes, kFileHeader + 116));
    }
    std::sort(parts.begin(), parts.end());
    const auto zeros = [bytes](std::size_t from, std::size_t to) {
        to = std::min(to, bytes.size());
        return from >= to || std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(to),
                                         [](std::uint8_t b) { return b == 0; });
    };
    std::size_t covered = 0;
    for (const auto& [from, to] : parts) {
        if (!zeros(covered, from)) return false;
        covered = std::max(covered, to);
    }
    return zeros(covered, bytes.size());
}

PictureSize ReadBitmapSize(Bytes bytes, const std::string& path) {
    return bmp::ReadLayout(bytes, path).size;
}

}  // namespace fotolane::picture::detail
