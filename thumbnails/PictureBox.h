#pragma once

#include <cstdint>

#include "platform/drawing/Gdi.h"
#include "platform/drawing/Picture.h"

namespace fotolane::thumbnails {

// An off-screen picture surface: a memory device context of the drawing
// layer with one bitmap of its own selected into it (the surface's content,
// which it keeps), and an optional picture object of its own. The surface
// owns both and releases them itself.
//
// A frame of `borderWidth` pixels on each side makes the drawable area that
// much narrower and lower than the outer size.
class PictureBox {
  public:
    explicit PictureBox(std::int32_t borderWidth = 0) : border_(borderWidth) {}
    PictureBox(const PictureBox&) = delete;
    PictureBox& operator=(const PictureBox&) = delete;
    ~PictureBox();

    // The surface takes a decoded picture as its content at its natural size:
    // the picture's own bitmap becomes the content, no pixel is copied. An
    // empty picture is an "Out of memory" fault (the drawing layer refused it).
    void ShowPicture(gdi::Picture&& picture);
    // Gives the outer size in pixels; the content becomes a black bitmap of
    // the drawable area. "Out of memory" when the layer refuses it.
    void Resize(std::int32_t outerWidth, std::int32_t outerHeight);
    // Takes a copy of the content as the surface's own picture object.
    // "Out of memory" when the layer refuses the copy.
    void PictureFromImage();
    // Releases the content and the picture object.
    void Clear();
    // Gives the content over to the caller, deselected; the surface keeps
    // no content.
    gdi::Picture TakeImage();

    // The memory device context, made on first use ("Out of memory" when
    // the layer refuses it).
    gdi::HDC hDC();
    // The content's bitmap; null while there is none.
    gdi::HBITMAP Image() const { return image_.Handle(); }
    // The surface's picture object (empty until PictureFromImage).
    const gdi::Picture& Picture() const { return picture_; }
    // The drawable area in pixels: the content's size.
    std::int32_t ScaleWidth() const { return width_; }
    std::int32_t ScaleHeight() const { return height_; }

  private:
    void SetImage(gdi::Picture&& image);

    std::int32_t border_;
    gdi::HDC dc_ = nullptr;
    gdi::HGDIOBJ stock_ = nullptr;  // what the context held when it was made
    gdi::Picture image_;
    gdi::Picture picture_;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
};

}  // namespace fotolane::thumbnails
