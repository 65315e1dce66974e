#pragma once

#include <cstdint>

#include "platform/core/PixelRows.h"
#include "platform/drawing/Gdi.h"

namespace fotolane::gdi {

// A picture object: owns one bitmap of the drawing layer and deletes it when
// it goes. An empty picture holds no bitmap (null handle, size 0 x 0). The
// bitmap must not be left selected into a device context when the picture
// goes, or the layer keeps it alive.
class Picture {
  public:
    Picture() = default;
    // Takes ownership of `bitmap` (null gives an empty picture).
    explicit Picture(HBITMAP bitmap) noexcept : handle_(bitmap) {}
    Picture(Picture&& other) noexcept;
    Picture& operator=(Picture&& other) noexcept;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
    ~Picture();

    HBITMAP Handle() const { return handle_; }
    // Gives up the bitmap without deleting it; the picture becomes empty.
    HBITMAP Release() noexcept {
        HBITMAP handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    // The bitmap's size in pixels; 0 for an empty picture.
    std::int32_t Width() const;
    std::int32_t Height() const;

  private:
    HBITMAP handle_ = nullptr;
};

// A picture made of decoded pixel rows, adopting their memory without a copy;
// empty when the rows are empty or the layer refuses the bitmap.
Picture PictureFromPixelRows(PixelRows&& rows);

// The picture's pixel rows, taken back without a copy; the picture ends.
// Empty rows when the picture is empty or its bitmap is still selected into
// a device context.
PixelRows PixelRowsFromPicture(Picture&& picture);

// A copy of the width x height area at the top-left corner of the bitmap
// selected into `hdc`, as a picture of its own (what lies beyond that bitmap
// stays black). Empty when `hdc` is not a memory device context, the size is
// 0 or below, or the layer refuses a bitmap or a context.
Picture PictureFromDC(HDC hdc, std::int32_t width, std::int32_t height);

}  // namespace fotolane::gdi
