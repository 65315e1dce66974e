#include "platform/drawing/Picture.h"

#include <utility>

namespace fotolane::gdi {
namespace {

BITMAP DescriptionOf(HBITMAP bitmap) {
    BITMAP description{};
    if (bitmap != nullptr) GetObjectA(bitmap, sizeof(description), &description);
    return description;
}

}  // namespace

Picture::Picture(Picture&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

Picture& Picture::operator=(Picture&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) DeleteObject(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

Picture::~Picture() {
    if (handle_ != nullptr) DeleteObject(handle_);
}

std::int32_t Picture::Width() const {
    return DescriptionOf(handle_).bmWidth;
}

std::int32_t Picture::Height() const {
    return DescriptionOf(handle_).bmHeight;
}

Picture PictureFromPixelRows(PixelRows&& rows) {
    return Picture(CreateBitmapFromPixelRows(std::move(rows)));
}

PixelRows PixelRowsFromPicture(Picture&& picture) {
    Picture taken = std::move(picture);
    PixelRows rows = DeleteBitmapKeepingRows(taken.Handle());
    // Deleted: the picture must not delete it again.
    if (rows.bits) taken.Release();
    return rows;
}

Picture PictureFromDC(HDC hdc, std::int32_t width, std::int32_t height) {
    Picture picture(CreateCompatibleBitmap(hdc, width, height));
    if (picture.Handle() == nullptr) return picture;
    const HDC hdcCopy = CreateCompatibleDC(hdc);
    if (hdcCopy == nullptr) return Picture();
    const HGDIOBJ hOld = SelectObject(hdcCopy, picture.Handle());
    const bool copied = hOld != nullptr && BitBlt(hdcCopy, 0, 0, width, height, hdc, 0, 0, SRCCOPY);
    if (hOld != nullptr) SelectObject(hdcCopy, hOld);
    DeleteDC(hdcCopy);
    return copied ? std::move(picture) : Picture();
}

}  // namespace fotolane::gdi
