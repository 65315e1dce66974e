#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "imaging/cDIBSection.h"
#include "platform/core/PixelRows.h"
#include "platform/drawing/Gdi.h"
#include "platform/ui/UserInterface.h"
#include "tests/TestSupport.h"

namespace fotolane::imaging::testing {

using Bgr = std::array<std::uint8_t, 3>;

// A distinct colour for every position (x, y counted from the top-left), so
// that a misplaced pixel shows.
inline Bgr Colour(std::int32_t x, std::int32_t y) {
    return {static_cast<std::uint8_t>(10 + x), static_cast<std::uint8_t>(100 + y),
            static_cast<std::uint8_t>(200 + x + y)};
}

// Pixel (column c, scan line s) of bottom-up rows: memory coordinates.
inline std::uint8_t* PixelOf(std::uint8_t* bits, std::int32_t stride, std::int32_t c,
                             std::int32_t s) {
    return bits + static_cast<std::ptrdiff_t>(s) * stride + 3 * c;
}

// The buffer's pixel at (x, y) counted from the top-left corner.
inline Bgr TopDownPixel(const cDIBSection& dib, std::int32_t x, std::int32_t y) {
    const std::uint8_t* p =
        PixelOf(dib.DIBSectionBitsPtr(), dib.BytesPerScanLine(), x, dib.Height() - 1 - y);
    return {p[0], p[1], p[2]};
}

// Fills every pixel of a Ready buffer from colourAt(x, y), counted from the
// top-left corner.
inline void Paint(cDIBSection& dib,
                  const std::function<Bgr(std::int32_t, std::int32_t)>& colourAt) {
    for (std::int32_t y = 0; y < dib.Height(); ++y) {
        for (std::int32_t x = 0; x < dib.Width(); ++x) {
            const Bgr c = colourAt(x, y);
            std::uint8_t* p =
                PixelOf(dib.DIBSectionBitsPtr(), dib.BytesPerScanLine(), x, dib.Height() - 1 - y);
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
        }
    }
}

inline PixelRows PatternRows(std::int32_t width, std::int32_t height) {
    PixelRows rows = AllocatePixelRows(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const Bgr c = Colour(x, y);
            std::uint8_t* p = PixelOf(rows.bits.get(), rows.stride, x, height - 1 - y);
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
        }
    }
    return rows;
}

// A memory device context holding a bitmap of the given rows, for copies in
// and out of a buffer; gives both back when it goes.
class Surface {
  public:
    explicit Surface(PixelRows rows)
        : dc_(gdi::CreateCompatibleDC(nullptr)),
          bitmap_(gdi::CreateBitmapFromPixelRows(std::move(rows))),
          old_(gdi::SelectObject(dc_, bitmap_)) {}
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    ~Surface() {
        gdi::SelectObject(dc_, old_);
        gdi::DeleteObject(bitmap_);
        gdi::DeleteDC(dc_);
    }
    gdi::HDC dc() const { return dc_; }
    Bgr At(std::int32_t x, std::int32_t y) const {
        gdi::BITMAP bm{};
        gdi::GetObjectA(bitmap_, sizeof(bm), &bm);
        const std::uint8_t* p =
            PixelOf(static_cast<std::uint8_t*>(bm.bmBits), bm.bmWidthBytes, x, bm.bmHeight - 1 - y);
        return {p[0], p[1], p[2]};
    }

  private:
    gdi::HDC dc_;
    gdi::HBITMAP bitmap_;
    gdi::HGDIOBJ old_;
};

using fotolane::testing::RecordingHost;

}  // namespace fotolane::imaging::testing
