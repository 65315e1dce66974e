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
#include <cstdint>
#include <cstring>

#include "decoding/bmp/BitmapDecoder.h"
#include "decoding/bmp/BitmapLayout.h"
#include "decoding/bmp/RunLengths.h"
#include "platform/core/Fault.h"

namespace fotolane::picture::detail {
namespace bmp {
namespace {

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
    const bool partial = layout.bitsAPixel == 1 || layout.bitsAPixel == 8;
    // Only the lines of the rows that the data reaches are visited.
    const auto [first, last] = pixels.LinesReached(bytes);
    for (std::int32_t y = wanted.NextLine(first, last); y < last;
         y = wanted.NextLine(y + 1, last)) {
        const Bytes row = pixels.RowOf(bytes, y);
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

bool DecodeRunLengths(Bytes bytes, const BitmapPixels& pixels, const WantedPixels& wanted,
                      PixelRows& rows) {
    RunWriter writer(pixels, wanted, rows);
    return WalkRunLengths(bytes, pixels, writer);
}

}  // namespace
}  // namespace bmp

PixelRows DecodeBitmap(Bytes bytes, const std::string& path) {
    PixelRows rows;
    DecodeBitmapInto(bytes, path, WantedPixels(), rows);
    return rows;
}

void DecodeBitmapInto(Bytes bytes, const std::string& path, const WantedPixels& wanted,
                      PixelRows& rows) {
    using namespace bmp;
    const BitmapLayout layout = ReadLayout(bytes, path);
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
    if (IsRunLengths(layout)) {
        if (!DecodeRunLengths(bytes, pixels, wanted, rows)) throw Fault::InvalidPicture(path);
    } else {
        DecodeRows(bytes, pixels, wanted, rows);
    }
}

}  // namespace fotolane::picture::detail
