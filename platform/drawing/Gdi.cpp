#include "platform/drawing/Gdi.h"
#include "platform/drawing/GdiTesting.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/Fault.h"
#include "platform/drawing/Clipboard.h"

namespace fotolane::gdi {
namespace {

class BitmapObject;

}  // namespace

struct HWND__ {};

struct HDC__ {
    enum class Kind { Memory, Screen };
    Kind kind = Kind::Memory;
    // Never null: the stock bitmap until another one is selected. A screen
    // context keeps the stock bitmap for good.
    BitmapObject* selected = nullptr;
};

namespace {

class BitmapObject final : public HBITMAP__ {
  public:
    explicit BitmapObject(PixelRows pixels) : rows(std::move(pixels)) {}

    PixelRows rows;
    // The memory context the bitmap is selected into; null when none. Not
    // kept for the stock bitmap, which any number of contexts hold.
    HDC__* selectedIn = nullptr;
};

// A view of bottom-up 24-bit rows, in 64-bit units so that no coordinate
// sum can overflow.
template <typename Byte>
struct RowsView {
    Byte* bits = nullptr;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t stride = 0;

    // Row y counted from the top of the picture.
    Byte* TopDownRow(std::int64_t y) const { return bits + (height - 1 - y) * stride; }
};

std::int64_t StrideOf(std::int64_t width) {
    return (width * 3 + 3) & ~std::int64_t{3};
}

// Copies the w x h rectangle at (sx, sy) of src to (dx, dy) of dst, both
// counted from the top-left corner, leaving out what lies outside either.
// Returns the number of rows copied.
std::int32_t CopyRectangle(const RowsView<const std::uint8_t>& src, std::int64_t sx,
                           std::int64_t sy, const RowsView<std::uint8_t>& dst, std::int64_t dx,
                           std::int64_t dy, std::int64_t w, std::int64_t h) {
    if (src.bits == nullptr || dst.bits == nullptr || w <= 0 || h <= 0) return 0;
    if (sx < 0) {
        dx -= sx;
        w += sx;
        sx = 0;
    }
    if (sy < 0) {
        dy -= sy;
        h += sy;
        sy = 0;
    }
    if (dx < 0) {
        sx -= dx;
        w += dx;
        dx = 0;
    }
    if (dy < 0) {
        sy -= dy;
        h += dy;
        dy = 0;
    }
    w = std::min({w, src.width - sx, dst.width - dx});
    h = std::min({h, src.height - sy, dst.height - dy});
    if (w <= 0 || h <= 0) return 0;
    const auto rowBytes = static_cast<std::size_t>(3 * w);
    if (src.bits == dst.bits) {
        // A copy within one bitmap: take the source rectangle out first, so
        // that overlapping rows are read before they are overwritten.
        std::vector<std::uint8_t> taken(rowBytes * static_cast<std::size_t>(h));
        for (std::int64_t j = 0; j < h; ++j) {
            std::memcpy(taken.data() + static_cast<std::size_t>(j) * rowBytes,
                        src.TopDownRow(sy + j) + 3 * sx, rowBytes);
        }
        for (std::int64_t j = 0; j < h; ++j) {
            std::memcpy(dst.TopDownRow(dy + j) + 3 * dx,
                        taken.data() + static_cast<std::size_t>(j) * rowBytes, rowBytes);
        }
    } else {
        for (std::int64_t j = 0; j < h; ++j) {
            std::memcpy(dst.TopDownRow(dy + j) + 3 * dx, src.TopDownRow(sy + j) + 3 * sx, rowBytes);
        }
    }
    return static_cast<std::int32_t>(h);
}

RowsView<std::uint8_t> ViewOf(PixelRows& rows) {
    return {rows.bits.get(), rows.width, rows.height, rows.stride};
}

RowsView<const std::uint8_t> ConstViewOf(const PixelRows& rows) {
    return {rows.bits.get(), rows.width, rows.height, rows.stride};
}

// The rows that a header describes, checked: 24-bit, uncompressed, one
// plane, bottom-up, at least 1 x 1. The view's bits are left to the caller.
std::optional<RowsView<const std::uint8_t>> RowsOfHeader(const BITMAPINFO* info,
                                                         std::uint32_t usage) {
    if (info == nullptr || usage != DIB_RGB_COLORS) return std::nullopt;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    if (header.biSize != sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 ||
        header.biBitCount != 24 || header.biCompression != BI_RGB || header.biWidth <= 0 ||
        header.biHeight <= 0) {
        return std::nullopt;
    }
    return RowsView<const std::uint8_t>{nullptr, header.biWidth, header.biHeight,
                                        StrideOf(header.biWidth)};
}

BitmapObject& StockBitmap() {
    static BitmapObject stock(AllocatePixelRows(1, 1));
    return stock;
}

constexpr std::size_t kRefusableCount = 5;

struct Registry {
    std::unordered_map<const HDC__*, std::unique_ptr<HDC__>> contexts;
    std::unordered_map<const HGDIOBJ__*, std::unique_ptr<BitmapObject>> bitmaps;
    bool clipboardOpen = false;
    // Per refusable call: how many more calls succeed; -1 is no limit.
    std::array<std::int32_t, kRefusableCount> allowances{-1, -1, -1, -1, -1};
};

Registry& Objects() {
    static Registry registry;
    return registry;
}

HWND__ desktopWindow;

bool Refused(Refusable call) {
    std::int32_t& allowance = Objects().allowances[static_cast<std::size_t>(call)];
    if (allowance < 0) return false;
    if (allowance == 0) return true;
    --allowance;
    return false;
}

HDC__* FindContext(HDC hdc) {
    if (hdc == nullptr) return nullptr;
    auto& contexts = Objects().contexts;
    const auto found = contexts.find(hdc);
    return found == contexts.end() ? nullptr : found->second.get();
}

HDC__* FindMemoryContext(HDC hdc) {
    HDC__* context = FindContext(hdc);
    return context != nullptr && context->kind == HDC__::Kind::Memory ? context : nullptr;
}

BitmapObject* FindBitmap(HGDIOBJ h) {
    if (h == nullptr) return nullptr;
    if (h == &StockBitmap()) return &StockBitmap();
    auto& bitmaps = Objects().bitmaps;
    const auto found = bitmaps.find(h);
    return found == bitmaps.end() ? nullptr : found->second.get();
}

// The clipboard is handed a plain HANDLE; find the bitmap it stands for.
BitmapObject* FindBitmapByHandle(HANDLE h) {
    if (h == nullptr) return nullptr;
    for (auto& [key, bitmap] : Objects().bitmaps) {
        if (static_cast<HANDLE>(static_cast<HBITMAP>(bitmap.get())) == h) return bitmap.get();
    }
    return nullptr;
}

HDC NewContext(HDC__::Kind kind) {
    try {
        auto context = std::make_unique<HDC__>();
        context->kind = kind;
        context->selected = &StockBitmap();
        HDC handle = context.get();
        Objects().contexts.emplace(handle, std::move(context));
        return handle;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Registers a bitmap with the given pixel memory; null (and the memory
// freed) when refused.
BitmapObject* NewBitmap(PixelRows rows) {
    if (Refused(Refusable::CreateBitmap)) return nullptr;
    try {
        auto bitmap = std::make_unique<BitmapObject>(std::move(rows));
        BitmapObject* handle = bitmap.get();
        Objects().bitmaps.emplace(handle, std::move(bitmap));
        return handle;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Zero-filled rows, or empty rows when they cannot be had.
PixelRows TryAllocate(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return {};
    try {
        return AllocatePixelRows(width, height);
    } catch (const Fault&) {
        return {};
    }
}

}  // namespace

HDC CreateCompatibleDC(HDC hdc) {
    if (hdc != nullptr && FindContext(hdc) == nullptr) return nullptr;
    if (Refused(Refusable::CreateCompatibleDC)) return nullptr;
    return NewContext(HDC__::Kind::Memory);
}

bool DeleteDC(HDC hdc) {
    HDC__* context = FindMemoryContext(hdc);
    if (context == nullptr) return false;
    if (context->selected != &StockBitmap()) context->selected->selectedIn = nullptr;
    Objects().contexts.erase(hdc);
    return true;
}

// The context is not needed at 24 bits (Windows reads it only for palette
// colours), nor is the offset without a file mapping.
HBITMAP CreateDIBSection(HDC, const BITMAPINFO* pbmi, std::uint32_t usage, void** ppvBits,
                         HANDLE hSection, std::uint32_t) {
    if (ppvBits != nullptr) *ppvBits = nullptr;
    if (!RowsOfHeader(pbmi, usage) || hSection != nullptr) return nullptr;
    PixelRows rows = TryAllocate(pbmi->bmiHeader.biWidth, pbmi->bmiHeader.biHeight);
    if (!rows.bits) return nullptr;
    BitmapObject* bitmap = NewBitmap(std::move(rows));
    if (bitmap == nullptr) return nullptr;
    if (ppvBits != nullptr) *ppvBits = bitmap->rows.bits.get();
    return bitmap;
}

HBITMAP CreateCompatibleBitmap(HDC hdc, std::int32_t cx, std::int32_t cy) {
    if (FindContext(hdc) == nullptr) return nullptr;
    PixelRows rows = TryAllocate(cx, cy);
    if (!rows.bits) return nullptr;
    return NewBitmap(std::move(rows));
}

HBITMAP CreateBitmapFromPixelRows(PixelRows&& rows) {
    PixelRows adopted = std::move(rows);
    if (!adopted.bits || adopted.width <= 0 || adopted.height <= 0 ||
        adopted.stride != StrideOf(adopted.width)) {
        return nullptr;
    }
    return NewBitmap(std::move(adopted));
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
    HDC__* context = FindMemoryContext(hdc);
    BitmapObject* bitmap = FindBitmap(h);
    if (context == nullptr || bitmap == nullptr) return nullptr;
    if (bitmap->selectedIn != nullptr && bitmap->selectedIn != context) return nullptr;
    BitmapObject* previous = context->selected;
    if (previous != &StockBitmap()) previous->selectedIn = nullptr;
    context->selected = bitmap;
    if (bitmap != &StockBitmap()) bitmap->selectedIn = context;
    return previous;
}

bool DeleteObject(HGDIOBJ ho) {
    BitmapObject* bitmap = FindBitmap(ho);
    if (bitmap == nullptr) return false;
    if (bitmap == &StockBitmap()) return true;
    if (bitmap->selectedIn != nullptr) return false;
    Objects().bitmaps.erase(ho);
    return true;
}

PixelRows DeleteBitmapKeepingRows(HBITMAP hbm) {
    BitmapObject* bitmap = FindBitmap(hbm);
    if (bitmap == nullptr || bitmap == &StockBitmap() || bitmap->selectedIn != nullptr) return {};
    PixelRows rows = std::move(bitmap->rows);
    Objects().bitmaps.erase(hbm);
    return rows;
}

std::int32_t GetObjectA(HGDIOBJ h, std::int32_t c, BITMAP* pv) {
    const BitmapObject* bitmap = FindBitmap(h);
    if (bitmap == nullptr) return 0;
    constexpr auto kSize = static_cast<std::int32_t>(sizeof(BITMAP));
    if (pv == nullptr) return kSize;
    if (c < kSize) return 0;
    *pv = BITMAP{};
    pv->bmWidth = bitmap->rows.width;
    pv->bmHeight = bitmap->rows.height;
    pv->bmWidthBytes = bitmap->rows.stride;
    pv->bmPlanes = 1;
    pv->bmBitsPixel = 24;
    pv->bmBits = bitmap->rows.bits.get();
    return kSize;
}

bool BitBlt(HDC hdc, std::int32_t x, std::int32_t y, std::int32_t cx, std::int32_t cy, HDC hdcSrc,
            std::int32_t x1, std::int32_t y1, std::uint32_t rop) {
    HDC__* destination = FindContext(hdc);
    HDC__* source = FindContext(hdcSrc);
    if (destination == nullptr || source == nullptr || rop != SRCCOPY) return false;
    // The screen holds no pixels of ours.
    if (destination->kind == HDC__::Kind::Screen || source->kind == HDC__::Kind::Screen) {
        return false;
    }
    // The stock bitmap is shared by every new context: drawing on it would
    // show through all of them, so it takes nothing.
    if (destination->selected == &StockBitmap()) return true;
    CopyRectangle(ConstViewOf(source->selected->rows), x1, y1, ViewOf(destination->selected->rows),
                  x, y, cx, cy);
    return true;
}

std::int32_t GetDIBits(HDC hdc, HBITMAP hbm, std::uint32_t start, std::uint32_t cLines,
                       std::span<std::uint8_t> lpvBits, const BITMAPINFO* lpbmi,
                       std::uint32_t usage) {
    const BitmapObject* bitmap = FindBitmap(hbm);
    const auto layout = RowsOfHeader(lpbmi, usage);
    if (FindContext(hdc) == nullptr || bitmap == nullptr || !layout) return 0;
    const PixelRows& rows = bitmap->rows;
    if (layout->width != rows.width || layout->height != rows.height) return 0;
    if (start >= static_cast<std::uint32_t>(rows.height)) return 0;
    const std::int64_t lines = std::min<std::int64_t>(cLines, rows.height - std::int64_t{start});
    if (lines <= 0 || static_cast<std::int64_t>(lpvBits.size()) < lines * rows.stride) return 0;
    const auto pixelBytes = static_cast<std::size_t>(3 * rows.width);
    const auto paddingBytes = static_cast<std::size_t>(rows.stride) - pixelBytes;
    for (std::int64_t i = 0; i < lines; ++i) {
        std::uint8_t* target = lpvBits.data() + i * rows.stride;
        std::memcpy(target, rows.ScanLine(static_cast<std::int32_t>(start + i)), pixelBytes);
        std::memset(target + pixelBytes, 0, paddingBytes);
    }
    return static_cast<std::int32_t>(lines);
}

std::int32_t StretchDIBits(HDC hdc, std::int32_t xDest, std::int32_t yDest, std::int32_t DestWidth,
                           std::int32_t DestHeight, std::int32_t xSrc, std::int32_t ySrc,
                           std::int32_t SrcWidth, std::int32_t SrcHeight,
                           std::span<const std::uint8_t> lpBits, const BITMAPINFO* lpbmi,
                           std::uint32_t iUsage, std::uint32_t rop) {
    HDC__* destination = FindMemoryContext(hdc);
    auto source = RowsOfHeader(lpbmi, iUsage);
    if (destination == nullptr || !source || rop != SRCCOPY) return 0;
    if (DestWidth != SrcWidth || DestHeight != SrcHeight) return 0;
    if (static_cast<std::int64_t>(lpBits.size()) < source->stride * source->height) return 0;
    if (destination->selected == &StockBitmap()) return 0;
    source->bits = lpBits.data();
    // Bottom-up rows have their origin at the lower-left corner: the
    // rectangle's top row is SrcHeight - 1 lines above ySrc.
    const std::int64_t topDownSrcY = source->height - std::int64_t{ySrc} - SrcHeight;
    return CopyRectangle(*source, xSrc, topDownSrcY, ViewOf(destination->selected->rows), xDest,
                         yDest, SrcWidth, SrcHeight);
}

HWND GetDesktopWindow() {
    return &desktopWindow;
}

HDC GetDC(HWND hWnd) {
    if (hWnd != nullptr && hWnd != &desktopWindow) return nullptr;
    if (Refused(Refusable::GetDC)) return nullptr;
    return NewContext(HDC__::Kind::Screen);
}

std::int32_t ReleaseDC(HWND hWnd, HDC hDC) {
    if (hWnd != nullptr && hWnd != &desktopWindow) return 0;
    const HDC__* context = FindContext(hDC);
    if (context == nullptr || context->kind != HDC__::Kind::Screen) return 0;
    Objects().contexts.erase(hDC);
    return 1;
}

// No window owns the clipboard here: the owner is not kept.
bool OpenClipboard(HWND) {
    Registry& objects = Objects();
    if (objects.clipboardOpen || CurrentClipboardSink() == nullptr) return false;
    if (Refused(Refusable::OpenClipboard)) return false;
    objects.clipboardOpen = true;
    return true;
}

bool EmptyClipboard() {
    if (!Objects().clipboardOpen || CurrentClipboardSink() == nullptr) return false;
    try {
        CurrentClipboardSink()->Clear();
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

HANDLE SetClipboardData(std::uint32_t uFormat, HANDLE hMem) {
    ClipboardSink* sink = CurrentClipboardSink();
    if (!Objects().clipboardOpen || sink == nullptr || uFormat != CF_BITMAP) return nullptr;
    BitmapObject* bitmap = FindBitmapByHandle(hMem);
    if (bitmap == nullptr || bitmap->selectedIn != nullptr) return nullptr;
    if (Refused(Refusable::SetClipboardData)) return nullptr;
    try {
        if (!sink->TakeImage(bitmap->rows)) return nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
    // The clipboard keeps its own copy of the pixels, so the bitmap that it
    // now owns is freed at once.
    Objects().bitmaps.erase(bitmap);
    return hMem;
}

bool CloseClipboard() {
    Registry& objects = Objects();
    if (!objects.clipboardOpen) return false;
    objects.clipboardOpen = false;
    return true;
}

std::size_t LiveObjectCount() {
    const Registry& objects = Objects();
    return objects.contexts.size() + objects.bitmaps.size();
}

ScopedRefusal::ScopedRefusal(Refusable call, std::int32_t allowed)
    : call_(call), previous_(Objects().allowances[static_cast<std::size_t>(call)]) {
    Objects().allowances[static_cast<std::size_t>(call)] = std::max(allowed, 0);
}

ScopedRefusal::~ScopedRefusal() {
    Objects().allowances[static_cast<std::size_t>(call_)] = previous_;
}

}  // namespace fotolane::gdi
