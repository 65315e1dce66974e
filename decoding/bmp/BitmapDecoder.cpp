// Windows bitmaps, decoded by a reader of our own: headers of 12, 40, 52,
// 56, 64, 108 and 124 bytes, 1-, 4- and 8-bit colour tables, 4- and 8-bit
// run lengths, 16-, 24- and 32-bit pixels with and without bit-field masks,
// rows bottom-up or top-down. The pixels are
// written straight into the rows, and only the wanted ones: the rows of an
// uncompressed bitmap are found by their place in the file, the runs of a
// compressed one are walked once, so that the cost follows the data and the
// pixels asked for, never the size a header claims. The album's decode gives
// the pixels to a sink instead (StreamBitmap), without the picture in memory.
//
// What a damaged file gives is what the program has always shown (its
// bitmaps were once read by Qt): pixels the data does not reach are those of
// the pixel value 0 (colour 0 of the table, black, or white where the pixels
// have an alpha channel); a run longer than its line goes on into the line
// below it in memory, as far as the end of the picture's bottom line; a
// file that ends before its pixels is a white picture of its header's size.

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "decoding/bmp/BitmapDecoder.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"

namespace fotolane::picture::detail {

namespace {

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

std::uint8_t OnWhite(int channel, int alpha) {
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
};

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

// The value of pixel x of a stored row; bytes past the row's data read as 0.
std::uint32_t ValueAt(Bytes row, int bitsAPixel, std::int32_t x) {
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

std::uint8_t* LineOf(PixelRows& rows, std::int32_t y) {
    return rows.ScanLine(rows.height - 1 - y);
}

// Uncompressed rows: each wanted line is read from its place in the file.
// A row that the file ends within is left out, except for 1- and 8-bit
// pixels, whose bytes that are there are taken.
void DecodeRows(Bytes bytes, const BitmapPixels& pixels, const WantedPixels& wanted,
                PixelRows& rows) {
    const BitmapLayout& layout = *pixels.layout;
    const std::int32_t width = layout.size.width;
    const std::int32_t height = layout.size.height;
    const bool partial = layout.bitsAPixel == 1 || layout.bitsAPixel == 8;
    // Only the lines of the rows that the data reaches are visited: a file
    // that ends early costs its rows, not its height.
    if (pixels.start >= bytes.size()) return;
    const std::size_t reached =
        std::min<std::size_t>((bytes.size() - pixels.start + pixels.rowBytes - 1) / pixels.rowBytes,
                              static_cast<std::size_t>(height));
    const auto rowsReached = static_cast<std::int32_t>(reached);
    const std::int32_t first = layout.topDown ? 0 : height - rowsReached;
    const std::int32_t last = layout.topDown ? rowsReached : height;
    for (std::int32_t y = wanted.NextLine(first, last); y < last;
         y = wanted.NextLine(y + 1, last)) {
        const std::size_t stored = static_cast<std::size_t>(layout.topDown ? y : height - 1 - y);
        const std::size_t at = pixels.start + stored * pixels.rowBytes;
        const Bytes row = bytes.subspan(at, std::min(pixels.rowBytes, bytes.size() - at));
        if (row.size() < pixels.rowBytes && !partial) continue;
        std::uint8_t* line = LineOf(rows, y);
        if (wanted.Every() && layout.bitsAPixel == 24 && layout.compression == kRgb &&
            row.size() == pixels.rowBytes) {
            std::memcpy(line, row.data(), 3 * static_cast<std::size_t>(width));
            continue;
        }
        for (std::int32_t x = wanted.NextColumn(0, width); x < width;
             x = wanted.NextColumn(x + 1, width)) {
            const Bgr colour = pixels.ColourOf(ValueAt(row, layout.bitsAPixel, x));
            std::memcpy(line + 3 * static_cast<std::ptrdiff_t>(x), colour.data(), 3);
        }
    }
}

// The bytes of the run lengths, one at a time.
class ByteReader {
  public:
    ByteReader(Bytes bytes, std::size_t at) : bytes_(bytes), at_(std::min(at, bytes.size())) {}
    // False at the end, leaving `byte` as it was.
    bool Get(std::uint8_t& byte) {
        if (at_ >= bytes_.size()) return false;
        byte = bytes_[at_++];
        return true;
    }
    void Skip() { at_ = std::min(at_ + 1, bytes_.size()); }
    std::size_t Left() const { return bytes_.size() - at_; }
    const std::uint8_t* Take(std::size_t count) {
        const std::uint8_t* taken = bytes_.data() + at_;
        at_ += count;
        return taken;
    }

  private:
    Bytes bytes_;
    std::size_t at_;
};

// The bytes of a line of the block of run lengths.
std::int64_t RunLineBytes(std::int32_t width) {
    return (std::int64_t{width} + 3) / 4 * 4;
}

// Puts runs of pixel values onto the rows. The runs are laid out as 8-bit
// lines padded to 4 bytes, the bottom line last, one after the other in one
// block: a run past the end of its line goes on into the next line of the
// block (the line below it), up to the end of the block's last line.
class RunWriter {
  public:
    RunWriter(const BitmapPixels& pixels, const WantedPixels& wanted, PixelRows& rows)
        : pixels_(pixels), wanted_(wanted), rows_(rows) {}

    std::int64_t LineBytes() const { return lineBytes_; }

    // `count` values from position `at` of the block, value i being
    // `valueAt(i)`; the line of the data ends at `lineEnd` (see
    // WalkRunLengths).
    template <typename ValueAt>
    void Put(std::int64_t at, std::int64_t count, std::int64_t /*lineEnd*/, ValueAt&& valueAt) {
        const std::int32_t width = rows_.width;
        std::int64_t done = 0;
        while (done < count) {
            const std::int64_t inLine = at / lineBytes_;
            const std::int64_t column = at % lineBytes_;
            const std::int64_t length = std::min(count - done, lineBytes_ - column);
            const auto y = static_cast<std::int32_t>(
                pixels_.layout->topDown ? rows_.height - 1 - inLine : inLine);
            if (column < width && wanted_.Line(y)) {
                std::uint8_t* line = LineOf(rows_, y);
                const auto end =
                    static_cast<std::int32_t>(std::min<std::int64_t>(column + length, width));
                for (std::int32_t x = wanted_.NextColumn(static_cast<std::int32_t>(column), end);
                     x < end; x = wanted_.NextColumn(x + 1, end)) {
                    const Bgr colour =
                        pixels_.ColourOf(static_cast<std::uint32_t>(valueAt(done + (x - column))));
                    std::memcpy(line + 3 * static_cast<std::ptrdiff_t>(x), colour.data(), 3);
                }
            }
            at += length;
            done += length;
        }
    }

  private:
    const BitmapPixels& pixels_;
    const WantedPixels& wanted_;
    PixelRows& rows_;
    std::int64_t lineBytes_ = RunLineBytes(rows_.width);
};

// Walks the run lengths once, handing each run to the writer (RunWriter and
// the writers of StreamRunLengths) with where the block line of the data's
// line ends: the part of a run past that end goes into lines given before.
// False when an absolute run of 8-bit values is cut short by the end of the
// file: such a file is refused.
template <typename Writer>
bool WalkRunLengths(Bytes bytes, const BitmapPixels& pixels, Writer& writer) {
    const bool nibbles = pixels.layout->compression == kRle4;
    ByteReader in(bytes, pixels.start);
    const std::int64_t width = pixels.layout->size.width;
    const std::int64_t height = pixels.layout->size.height;
    const std::int64_t lineBytes = RunLineBytes(pixels.layout->size.width);
    // The line (from the bottom) and column reached, the place in the
    // block, and the end of the bottom line, beyond which no run goes.
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t at = (height - 1) * lineBytes;
    const std::int64_t end = at + width;
    std::uint8_t b = 0;
    while (y < height) {
        if (!in.Get(b)) break;
        if (b != 0) {
            // A run of one value (of two alternating 4-bit values).
            const auto count = static_cast<std::uint8_t>(std::min<std::int64_t>(b, end - at));
            std::uint8_t value = count;
            in.Get(value);
            if (nibbles) {
                writer.Put(at, count, (height - y) * lineBytes,
                           [&](std::int64_t i) { return i % 2 == 0 ? value >> 4 : value & 0x0F; });
            } else {
                writer.Put(at, count, (height - y) * lineBytes,
                           [&](std::int64_t) { return value; });
            }
            x += count;
            at += count;
            continue;
        }
        if (!in.Get(b) || b == 1) break;  // the end of the picture
        if (b == 0) {                     // the end of the line
            x = 0;
            ++y;
            at = (height - y - 1) * lineBytes;
        } else if (b == 2) {  // a move right and up
            std::uint8_t right = 0;
            std::uint8_t up = 0;
            in.Get(right);
            in.Get(up);
            x = std::min(x + right, width - 1);
            y = std::min(y + up, height - 1);
            at = (height - y - 1) * lineBytes + x;
        } else {  // b values as they are, padded to 2 bytes
            const auto count = static_cast<std::uint8_t>(std::min<std::int64_t>(b, end - at));
            if (nibbles) {
                std::array<std::uint8_t, 256> values{};
                std::uint8_t pair = count;
                for (int i = 0; i + 1 < count; i += 2) {
                    in.Get(pair);
                    values[static_cast<std::size_t>(i)] = pair >> 4;
                    values[static_cast<std::size_t>(i) + 1] = pair & 0x0F;
                }
                if (count % 2 == 1) {
                    std::uint8_t last = 0;
                    in.Get(last);
                    values[count - 1u] = last >> 4;
                }
                if ((count & 3) == 1 || (count & 3) == 2) in.Skip();
                writer.Put(at, count, (height - y) * lineBytes,
                           [&](std::int64_t i) { return values[static_cast<std::size_t>(i)]; });
            } else {
                if (in.Left() < count) return false;
                const std::uint8_t* values = in.Take(count);
                if (count % 2 == 1) in.Skip();
                writer.Put(at, count, (height - y) * lineBytes,
                           [&](std::int64_t i) { return values[i]; });
            }
            x += count;
            at += count;
        }
    }
    return true;
}

bool DecodeRunLengths(Bytes bytes, const BitmapPixels& pixels, const WantedPixels& wanted,
                      PixelRows& rows) {
    RunWriter writer(pixels, wanted, rows);
    return WalkRunLengths(bytes, pixels, writer);
}

// Gives pixel values to a sink as colours, a stretch of one colour as a run.
class ColourGiver {
  public:
    ColourGiver(const BitmapPixels& pixels, PixelSink& sink) : pixels_(pixels), sink_(sink) {}

    // Pixels x to x + count - 1 of line y, pixel i of value `valueAt(i)`.
    template <typename ValueAt>
    void Give(std::int32_t y, std::int32_t x, std::int32_t count, ValueAt&& valueAt) {
        for (std::int32_t done = 0; done < count;) {
            const std::int32_t chunk = std::min(count - done, kChunk);
            bool one = true;
            for (std::int32_t i = 0; i < chunk; ++i) {
                const Bgr colour = pixels_.ColourOf(static_cast<std::uint32_t>(valueAt(done + i)));
                std::memcpy(colours_.data() + 3 * i, colour.data(), 3);
                one = one && std::memcmp(colours_.data(), colour.data(), 3) == 0;
            }
            if (one) {
                sink_.Run(y, x + done, chunk, colours_.data());
            } else {
                sink_.Pixels(y, x + done, chunk, colours_.data());
            }
            done += chunk;
        }
    }

  private:
    static constexpr std::int32_t kChunk = 4096;

    const BitmapPixels& pixels_;
    PixelSink& sink_;
    std::array<std::uint8_t, 3 * kChunk> colours_{};
};

// Uncompressed rows to a sink: the lines that the data reaches, each once,
// as DecodeRows takes them; pixels past a row's bytes are of the value 0,
// the background, and are not given.
void StreamRows(Bytes bytes, const BitmapPixels& pixels, PixelSink& sink) {
    const BitmapLayout& layout = *pixels.layout;
    const std::int32_t width = layout.size.width;
    const std::int32_t height = layout.size.height;
    const bool partial = layout.bitsAPixel == 1 || layout.bitsAPixel == 8;
    if (pixels.start >= bytes.size()) return;
    const std::size_t reached =
        std::min<std::size_t>((bytes.size() - pixels.start + pixels.rowBytes - 1) / pixels.rowBytes,
                              static_cast<std::size_t>(height));
    const auto rowsReached = static_cast<std::int32_t>(reached);
    const std::int32_t first = layout.topDown ? 0 : height - rowsReached;
    const std::int32_t last = layout.topDown ? rowsReached : height;
    ColourGiver give(pixels, sink);
    for (std::int32_t y = first; y < last; ++y) {
        const std::size_t stored = static_cast<std::size_t>(layout.topDown ? y : height - 1 - y);
        const std::size_t at = pixels.start + stored * pixels.rowBytes;
        const Bytes row = bytes.subspan(at, std::min(pixels.rowBytes, bytes.size() - at));
        const bool whole = row.size() == pixels.rowBytes;
        if (!whole && !partial) continue;
        if (whole && layout.bitsAPixel == 24) {
            sink.Pixels(y, 0, width, row.data());
            continue;
        }
        const auto count = whole
                               ? width
                               : static_cast<std::int32_t>(std::min<std::size_t>(
                                     static_cast<std::size_t>(width),
                                     row.size() * 8 / static_cast<std::size_t>(layout.bitsAPixel)));
        give.Give(y, 0, count, [&](std::int32_t x) { return ValueAt(row, layout.bitsAPixel, x); });
    }
}

// A stretch of the block of run lengths: positions start to end - 1.
struct Stretch {
    std::int64_t start = 0;
    std::int64_t end = 0;
};

// The first walk over the run lengths of StreamRunLengths: where a run may
// give a pixel a second time. Within the line of the data a run goes
// forward, so only a run that starts before the end of an earlier one of
// that line (after a move that the top or the right edge cut short) may
// overwrite; a run past the end of the line goes into lines given before.
class OverwriteFinder {
  public:
    explicit OverwriteFinder(std::int64_t lineBytes) : lineBytes_(lineBytes) {}

    template <typename ValueAt>
    void Put(std::int64_t at, std::int64_t count, std::int64_t lineEnd, ValueAt&&) {
        if (lineEnd < lineEnd_) {
            // A line further up the block, where nothing was given yet.
            lineEnd_ = lineEnd;
            reached_ = lineEnd - lineBytes_;
        }
        const std::int64_t end = at + count;
        const std::int64_t inLine = std::min(end, lineEnd_);
        if (at < inLine) {
            if (at < reached_) Add(at, inLine);
            reached_ = std::max(reached_, inLine);
        }
        if (end > lineEnd_) Add(std::max(at, lineEnd_), end);
    }

    // The stretches found, in order, joined where they overlap or meet.
    std::vector<Stretch> Stretches() {
        std::sort(found_.begin(), found_.end(),
                  [](const Stretch& a, const Stretch& b) { return a.start < b.start; });
        std::vector<Stretch> joined;
        for (const Stretch& stretch : found_) {
            if (!joined.empty() && stretch.start <= joined.back().end) {
                joined.back().end = std::max(joined.back().end, stretch.end);
            } else {
                joined.push_back(stretch);
            }
        }
        return joined;
    }

  private:
    void Add(std::int64_t start, std::int64_t end) {
        // A run that goes on where the last one ended extends it.
        if (!found_.empty() && found_.back().end == start) {
            found_.back().end = end;
        } else {
            found_.push_back({start, end});
        }
    }

    std::int64_t lineBytes_;
    std::int64_t lineEnd_ = INT64_MAX;
    std::int64_t reached_ = 0;  // the end of what this line's runs gave
    std::vector<Stretch> found_;
};

// The second walk: runs outside the stretches that may be overwritten are
// final and go to the sink at once; inside them, every run is written into
// `values` in the order of the data, so that they hold the final values.
class CoveredWriter {
  public:
    CoveredWriter(const BitmapPixels& pixels, PixelSink& sink, const std::vector<Stretch>& covered)
        : layout_(*pixels.layout), give_(pixels, sink), covered_(covered) {
        std::int64_t total = 0;
        for (const Stretch& stretch : covered_) {
            offsets_.push_back(total);
            total += stretch.end - stretch.start;
        }
        memory_ = PictureMemory(static_cast<std::size_t>(total));
        values_.resize(static_cast<std::size_t>(total));
    }

    template <typename ValueAt>
    void Put(std::int64_t at, std::int64_t count, std::int64_t, ValueAt&& valueAt) {
        // The first stretch that ends after `at`.
        auto next = std::upper_bound(
            covered_.begin(), covered_.end(), at,
            [](std::int64_t position, const Stretch& stretch) { return position < stretch.end; });
        for (std::int64_t done = 0; done < count;) {
            const std::int64_t position = at + done;
            while (next != covered_.end() && next->end <= position) ++next;
            if (next != covered_.end() && next->start <= position) {
                const std::int64_t length = std::min(count - done, next->end - position);
                const auto stretch = static_cast<std::size_t>(next - covered_.begin());
                std::uint8_t* into = values_.data() + offsets_[stretch] + (position - next->start);
                for (std::int64_t i = 0; i < length; ++i) {
                    into[i] = static_cast<std::uint8_t>(valueAt(done + i));
                }
                done += length;
            } else {
                const std::int64_t until = next != covered_.end() ? next->start : INT64_MAX;
                const std::int64_t length = std::min(count - done, until - position);
                GiveBlock(position, length, [&](std::int64_t i) { return valueAt(done + i); });
                done += length;
            }
        }
    }

    // The final values of the stretches.
    void Finish() {
        for (std::size_t i = 0; i < covered_.size(); ++i) {
            const std::uint8_t* values = values_.data() + offsets_[i];
            GiveBlock(covered_[i].start, covered_[i].end - covered_[i].start,
                      [&](std::int64_t at) { return values[at]; });
        }
    }

  private:
    // Positions `at` to `at + count - 1` of the block, line by line; the
    // padding at the end of each line is no pixel.
    template <typename ValueAt>
    void GiveBlock(std::int64_t at, std::int64_t count, ValueAt&& valueAt) {
        const std::int64_t lineBytes = RunLineBytes(layout_.size.width);
        for (std::int64_t done = 0; done < count;) {
            const std::int64_t inLine = (at + done) / lineBytes;
            const std::int64_t column = (at + done) % lineBytes;
            const std::int64_t length = std::min(count - done, lineBytes - column);
            if (column < layout_.size.width) {
                const auto y = static_cast<std::int32_t>(
                    layout_.topDown ? layout_.size.height - 1 - inLine : inLine);
                const auto pixels = static_cast<std::int32_t>(
                    std::min<std::int64_t>(length, layout_.size.width - column));
                const std::int64_t from = done;
                give_.Give(y, static_cast<std::int32_t>(column), pixels,
                           [&](std::int32_t i) { return valueAt(from + i); });
            }
            done += length;
        }
    }

    const BitmapLayout& layout_;
    ColourGiver give_;
    const std::vector<Stretch>& covered_;
    std::vector<std::int64_t> offsets_;
    PictureMemory memory_;
    std::vector<std::uint8_t> values_;
};

}  // namespace

PictureSize ReadBitmapSize(Bytes bytes, const std::string& path) {
    BitmapLayout layout;
    if (!ReadHeaders(bytes, layout) || !TableIsSound(bytes, layout)) {
        throw Fault::InvalidPicture(path);
    }
    CheckPictureSize(layout.size, path);
    return layout.size;
}

PixelRows DecodeBitmap(Bytes bytes, const std::string& path) {
    PixelRows rows;
    DecodeBitmapInto(bytes, path, WantedPixels(), rows);
    return rows;
}

void DecodeBitmapInto(Bytes bytes, const std::string& path, const WantedPixels& wanted,
                      PixelRows& rows) {
    BitmapLayout layout;
    if (!ReadHeaders(bytes, layout) || !TableIsSound(bytes, layout)) {
        throw Fault::InvalidPicture(path);
    }
    CheckPictureSize(layout.size, path);
    // A file that ends before its pixels: browsers show a transparent
    // picture of the header's size, white here.
    if (layout.pixelsOffset >= bytes.size()) {
        wanted.ShapeRows(rows, layout.size.width, layout.size.height);
        constexpr std::uint8_t kWhite[3] = {0xFF, 0xFF, 0xFF};
        wanted.Fill(rows, kWhite);
        return;
    }
    BitmapPixels pixels;
    if (!ReadPixelFormat(bytes, layout, pixels)) throw Fault::InvalidPicture(path);
    wanted.ShapeRows(rows, layout.size.width, layout.size.height);
    // Pixels that the data does not reach have the value 0; fresh rows
    // of a whole decode are black already.
    const Bgr unreached = pixels.ColourOf(0);
    if (!wanted.Every() || unreached != Bgr{0, 0, 0}) wanted.Fill(rows, unreached.data());
    if (layout.compression == kRle8 || layout.compression == kRle4) {
        if (!DecodeRunLengths(bytes, pixels, wanted, rows)) throw Fault::InvalidPicture(path);
    } else {
        DecodeRows(bytes, pixels, wanted, rows);
    }
}

void StreamBitmap(Bytes bytes, const std::string& path, PixelSink& sink) {
    BitmapLayout layout;
    if (!ReadHeaders(bytes, layout) || !TableIsSound(bytes, layout)) {
        throw Fault::InvalidPicture(path);
    }
    CheckPictureSize(layout.size, path);
    if (layout.pixelsOffset >= bytes.size()) {
        constexpr std::uint8_t kWhite[3] = {0xFF, 0xFF, 0xFF};
        sink.Begin(layout.size, kWhite);
        return;
    }
    BitmapPixels pixels;
    if (!ReadPixelFormat(bytes, layout, pixels)) throw Fault::InvalidPicture(path);
    const Bgr background = pixels.ColourOf(0);
    if (layout.compression == kRle8 || layout.compression == kRle4) {
        // Two walks: the first finds where runs overwrite pixels (and
        // refuses a file before anything is given), the second gives the
        // pixels, each once.
        OverwriteFinder finder(RunLineBytes(layout.size.width));
        if (!WalkRunLengths(bytes, pixels, finder)) throw Fault::InvalidPicture(path);
        const std::vector<Stretch> covered = finder.Stretches();
        sink.Begin(layout.size, background.data());
        CoveredWriter writer(pixels, sink, covered);
        WalkRunLengths(bytes, pixels, writer);
        writer.Finish();
    } else {
        sink.Begin(layout.size, background.data());
        StreamRows(bytes, pixels, sink);
    }
}

}  // namespace fotolane::picture::detail
