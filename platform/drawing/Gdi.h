#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/core/PixelRows.h"

// The drawing layer: the few Windows GDI and user32 calls that the image
// buffer and the thumbnail maker use, with the Windows names and argument
// orders, so that their code reads step by step like the Windows original.
//
// What it models, and no more:
// - memory device contexts, each holding one selected bitmap (a new one holds
//   the stock 1 x 1 bitmap, which draws nothing and cannot be deleted);
// - bitmaps, every one 24 bits deep whatever was asked for: DIB sections
//   (their pixel memory handed out as a pointer) and bitmaps "compatible with
//   the screen". Their pixel memory is always a PixelRows block: B, G, R,
//   rows padded to 4 bytes, bottom-up;
// - rectangle copies with SRCCOPY, clipped to both bitmaps;
// - a bitmap's description, its pixels as bottom-up rows, and a one-to-one
//   copy of such rows onto a device context;
// - a screen device context that is borrowed with GetDC and given back with
//   ReleaseDC (it holds no pixels: copies to or from it draw nothing);
// - a clipboard that takes a bitmap and hands its pixels to the installed
//   ClipboardSink (platform/drawing/Clipboard.h).
//
// Handles are opaque; null is "none". A handle that is not (or no longer) a
// live object of the right kind makes the call fail, never crash. Objects
// belong to the layer until they are deleted; LiveObjectCount tells how many
// device contexts and bitmaps exist, so that tests can prove that every
// operation gives back what it made.
//
// Used from the user-interface thread only.
namespace fotolane::gdi {

struct HDC__;   // a device context, defined by the layer
struct HWND__;  // a window; the desktop is the only one

// Windows lets a bitmap handle stand wherever a GDI object handle is asked
// for; the empty bases give the same implicit conversion. No object of these
// types is made outside the layer.
struct HGDIOBJ__ {
  protected:
    HGDIOBJ__() = default;
    ~HGDIOBJ__() = default;
};
struct HBITMAP__ : HGDIOBJ__ {
  protected:
    HBITMAP__() = default;
    ~HBITMAP__() = default;
};

using HDC = HDC__*;
using HWND = HWND__*;
using HGDIOBJ = HGDIOBJ__*;
using HBITMAP = HBITMAP__*;
using HANDLE = void*;

// Raster operation: copy the source rectangle as it is. The only one the
// system passes, and the only one the layer carries out.
inline constexpr std::uint32_t SRCCOPY = 0x00CC0020;
// Colour table usage: the table (unused at 24 bits) holds RGB values.
inline constexpr std::uint32_t DIB_RGB_COLORS = 0;
// Clipboard format of a device-dependent bitmap.
inline constexpr std::uint32_t CF_BITMAP = 2;
// Compression: none.
inline constexpr std::uint32_t BI_RGB = 0;

struct BITMAPINFOHEADER {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;  // positive: rows bottom-up
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    std::uint8_t rgbBlue = 0;
    std::uint8_t rgbGreen = 0;
    std::uint8_t rgbRed = 0;
    std::uint8_t rgbReserved = 0;
};

// A header followed by a colour table of 256 entries. The layer reads only
// the header: 24-bit rows need no colour table.
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[256];
};

// A bitmap's description as GetObjectA gives it. bmWidthBytes is the stride
// of its rows; bmBits its pixel memory (scan line 0, the bottom row), which
// the layer gives for every bitmap, not only for DIB sections.
struct BITMAP {
    std::int32_t bmType = 0;
    std::int32_t bmWidth = 0;
    std::int32_t bmHeight = 0;
    std::int32_t bmWidthBytes = 0;
    std::uint16_t bmPlanes = 0;
    std::uint16_t bmBitsPixel = 0;
    void* bmBits = nullptr;
};

// Device contexts. With hdc null the new context is compatible with the
// screen; otherwise hdc must be a live context. Null when refused.
HDC CreateCompatibleDC(HDC hdc);
// Deletes a memory device context; its selected bitmap stays alive (the
// caller selects the previous one back and deletes the bitmap itself).
// A borrowed screen context is given back with ReleaseDC, not deleted.
bool DeleteDC(HDC hdc);

// A 24-bit bottom-up DIB section of pbmi's width and height, zero-filled.
// *ppvBits receives its pixel memory (null on failure). Refused (null):
// a width or height of 0 or below, a top-down (negative) height, another
// depth or compression, a file mapping, memory that cannot be had.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, std::uint32_t usage, void** ppvBits,
                         HANDLE hSection, std::uint32_t offset);
// A cx x cy bitmap for drawing on hdc's device (always 24-bit, black).
HBITMAP CreateCompatibleBitmap(HDC hdc, std::int32_t cx, std::int32_t cy);

// Selects a bitmap into a memory device context and returns the one it held
// before; null when refused (not a memory context, not a bitmap, or a bitmap
// already selected into another context).
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
// Deletes a bitmap. Refused while the bitmap is selected into a context;
// deleting the stock bitmap does nothing.
bool DeleteObject(HGDIOBJ ho);

// Writes h's description into *pv when c is at least sizeof(BITMAP);
// returns the bytes written, 0 when refused.
std::int32_t GetObjectA(HGDIOBJ h, std::int32_t c, BITMAP* pv);

// Copies the cx x cy rectangle at (x1, y1) of hdcSrc's bitmap to (x, y) of
// hdcDest's bitmap. Coordinates count from the top-left corner. The parts of
// the rectangle outside either bitmap are not copied. Only SRCCOPY.
bool BitBlt(HDC hdc, std::int32_t x, std::int32_t y, std::int32_t cx, std::int32_t cy, HDC hdcSrc,
            std::int32_t x1, std::int32_t y1, std::uint32_t rop);

// Copies scan lines start .. start + cLines - 1 (counted from the bottom) of
// hbm into lpvBits as bottom-up 24-bit rows of lpbmi's layout, which must be
// the bitmap's own width and height. The rows' padding bytes are zeroed.
// Returns the number of scan lines copied, 0 when refused (among others when
// lpvBits is too small for them).
std::int32_t GetDIBits(HDC hdc, HBITMAP hbm, std::uint32_t start, std::uint32_t cLines,
                       std::span<std::uint8_t> lpvBits, const BITMAPINFO* lpbmi,
                       std::uint32_t usage);

// Copies the SrcWidth x SrcHeight rectangle at (xSrc, ySrc) of the bottom-up
// 24-bit rows lpBits (layout from lpbmi) to (xDest, yDest) of hdc's bitmap.
// As in Windows, the source origin of bottom-up rows is their lower-left
// corner. One to one only: a destination size other than the source size is
// refused. Returns the number of rows drawn, 0 when refused.
std::int32_t StretchDIBits(HDC hdc, std::int32_t xDest, std::int32_t yDest, std::int32_t DestWidth,
                           std::int32_t DestHeight, std::int32_t xSrc, std::int32_t ySrc,
                           std::int32_t SrcWidth, std::int32_t SrcHeight,
                           std::span<const std::uint8_t> lpBits, const BITMAPINFO* lpbmi,
                           std::uint32_t iUsage, std::uint32_t rop);

// The screen: a borrowed device context for the desktop (hWnd null stands
// for it too), given back with ReleaseDC (returns 1 when given back).
HWND GetDesktopWindow();
HDC GetDC(HWND hWnd);
std::int32_t ReleaseDC(HWND hWnd, HDC hDC);

// The clipboard. It opens only when a ClipboardSink is installed. From a
// successful SetClipboardData on, the bitmap is the clipboard's: the layer
// hands its pixels to the sink and frees it. A bitmap that was refused stays
// the caller's.
bool OpenClipboard(HWND hWndNewOwner);
bool EmptyClipboard();
HANDLE SetClipboardData(std::uint32_t uFormat, HANDLE hMem);
bool CloseClipboard();

// The layer's own additions, for the picture objects (platform/drawing/Picture.h)
// and the tests (failure switches: platform/drawing/GdiTesting.h).

// A bitmap that adopts `rows` as its pixel memory, without a copy. Null (and
// the rows freed) when the rows are empty or inconsistent.
HBITMAP CreateBitmapFromPixelRows(PixelRows&& rows);
// Deletes a bitmap and gives its pixel memory back as rows, without a copy.
// Empty rows (and nothing deleted) while the bitmap is selected into a
// context, and for the stock bitmap or a handle that is no bitmap.
PixelRows DeleteBitmapKeepingRows(HBITMAP hbm);
// The number of live device contexts and bitmaps (the stock bitmap aside).
std::size_t LiveObjectCount();

}  // namespace fotolane::gdi
