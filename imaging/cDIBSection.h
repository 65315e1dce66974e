#pragma once

#include <cstdint>
#include <memory>
#include <random>

#include "platform/drawing/Gdi.h"
#include "platform/drawing/Picture.h"

namespace fotolane::imaging {

// One picture as a 24-bit DIB section: pixel memory that the program reads
// and writes through DIBSectionBitsPtr, shared with a memory device context
// (hdc) through which the drawing layer copies pictures in and out.
//
// Layout of the memory: 3 bytes per pixel, blue, green, red; every scan line
// BytesPerScanLine bytes (padded to a multiple of 4); scan lines bottom-up,
// so that scan line 0, at the start of the memory, is the picture's bottom
// row. Pixel (column c, scan line s) starts at byte s * stride + 3 * c.
//
// States: Empty (all handles null; a new buffer) and Ready (Create
// succeeded: the section is selected into the memory device context and the
// bits pointer is valid until the next Create or ClearUp). The buffer
// releases its platform objects itself, in ClearUp and on destruction.
class cDIBSection {
  public:
    cDIBSection() = default;
    cDIBSection(const cDIBSection&) = delete;
    cDIBSection& operator=(const cDIBSection&) = delete;
    ~cDIBSection();

    // Puts a device-dependent copy of the picture on the clipboard; true when
    // the bitmap reached it. With bAsDIB true it only says that it can't.
    bool CopyToClipboard(bool bAsDIB);
    // Writes the header for lWidth x lHeight and asks the drawing layer for a
    // section, which it stores in hDib (null on failure) without selecting it
    // anywhere; the bits pointer receives its memory. "Overflow" fault when
    // the stride or stride x height leaves the signed 32-bit range.
    bool CreateDIB(gdi::HDC lhDC, std::int32_t lWidth, std::int32_t lHeight, gdi::HBITMAP& hDib);
    // Makes the buffer the picture's size and copies the picture in. Reports
    // nothing: the buffer stays Empty when it can't be made, and exists at
    // the picture's size without its pixels when no device context can be had
    // for the copy.
    void CreateFromPicture(const gdi::Picture& picThis);
    // Releases what the buffer holds, then makes a zero-filled lWidth x
    // lHeight section. False (and Empty) when the platform refuses the memory
    // device context or the section.
    bool Create(std::int32_t lWidth, std::int32_t lHeight);

    // (Width * 3 + 3) with the two lowest bits cleared; "Overflow" fault above
    // a width of 715,827,881.
    std::int32_t BytesPerScanLine() const;
    std::int32_t Width() const { return m_tBIH.biWidth; }
    std::int32_t Height() const { return m_tBIH.biHeight; }

    // Copies the rectangle at (lSrcLeft, lSrcTop) of lhDC to the buffer's
    // top-left corner. A negative width or height stands for the buffer's.
    void LoadPictureBlt(gdi::HDC lhDC, std::int32_t lSrcLeft = 0, std::int32_t lSrcTop = 0,
                        std::int32_t lSrcWidth = -1, std::int32_t lSrcHeight = -1,
                        std::uint32_t eRop = gdi::SRCCOPY);
    // Draws the buffer's rectangle at (lSrcLeft, lSrcTop) into lhDC at
    // (lDestLeft, lDestTop), no stretching. A negative width or height stands
    // for the buffer's.
    void PaintPicture(gdi::HDC lhDC, std::int32_t lDestLeft = 0, std::int32_t lDestTop = 0,
                      std::int32_t lDestWidth = -1, std::int32_t lDestHeight = -1,
                      std::int32_t lSrcLeft = 0, std::int32_t lSrcTop = 0,
                      std::uint32_t eRop = gdi::SRCCOPY);

    gdi::HDC hdc() const { return m_hDC; }
    gdi::HBITMAP hDib() const { return m_hDib; }
    // The header that CreateDIB wrote last (all zero on a new buffer).
    const gdi::BITMAPINFOHEADER& BitmapInfoHeader() const { return m_tBIH; }
    // Scan line 0 (the bottom row); null while Empty.
    std::uint8_t* DIBSectionBitsPtr() const { return static_cast<std::uint8_t*>(m_lPtr); }

    // Fills every pixel with random values (gray: three equal bytes; colour:
    // blue 0), seeded from the seconds since midnight. Padding is untouched.
    void RandomiseBits(bool bGray);

    // Back to Empty: the previous bitmap is selected back, the section and the
    // memory device context deleted. The header stays as it was.
    void ClearUp();

    // A new lNewWidth x lNewHeight buffer holding this picture resampled by
    // bilinear interpolation (an exact copy at the same size); null when the
    // new buffer can't be made. "Subscript out of range" fault for a source
    // 1 pixel wide or high (or without pixel memory) at another size.
    std::unique_ptr<cDIBSection> Resample(std::int32_t lNewHeight, std::int32_t lNewWidth) const;

  private:
    void ResampleBilinear(cDIBSection& target) const;

    gdi::HBITMAP m_hDib = nullptr;
    gdi::HGDIOBJ m_hBmpOld = nullptr;
    gdi::HDC m_hDC = nullptr;
    void* m_lPtr = nullptr;
    gdi::BITMAPINFOHEADER m_tBIH{};
};

// Uniform pseudo-random numbers in [0, 1): a 32-bit Mersenne Twister draw
// divided by 2^32.
class UniformDraws {
  public:
    explicit UniformDraws(std::uint32_t seed) : engine_(seed) {}
    double Next() { return static_cast<double>(engine_()) / 4294967296.0; }

  private:
    std::mt19937 engine_;
};

// The random fill of RandomiseBits on any rows, from a given seed: one draw
// r in [0, 1) per value, v = r * 255 rounded half to even. Gray: scan lines
// in memory order, pixels left to right, B = G = R = v. Colour: pixel columns
// outer, scan lines inner, blue 0, then green and red from two draws.
void RandomisePixels(std::uint8_t* bits, std::int32_t width, std::int32_t height,
                     std::int32_t stride, bool bGray, std::uint32_t seed);

// Seconds since local midnight, 0 to 86399: the seed of RandomiseBits.
std::uint32_t SecondsSinceMidnight();

}  // namespace fotolane::imaging
