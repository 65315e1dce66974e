#include "thumbnails/PictureBox.h"

#include <utility>

#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"

namespace fotolane::thumbnails {

PictureBox::~PictureBox() {
    // The content must be deselected before its picture can delete it.
    if (dc_ != nullptr) {
        if (stock_ != nullptr) gdi::SelectObject(dc_, stock_);
        gdi::DeleteDC(dc_);
    }
}

gdi::HDC PictureBox::hDC() {
    if (dc_ == nullptr) {
        dc_ = gdi::CreateCompatibleDC(nullptr);
        if (dc_ == nullptr) throw Fault::OutOfMemory();
    }
    return dc_;
}

void PictureBox::SetImage(gdi::Picture&& image) {
    const gdi::HDC dc = hDC();
    const gdi::HGDIOBJ previous = gdi::SelectObject(dc, image.Handle());
    if (previous == nullptr) throw Fault::OutOfMemory();
    if (stock_ == nullptr) stock_ = previous;
    // The old content is deselected now, so its picture can delete it.
    image_ = std::move(image);
    width_ = image_.Width();
    height_ = image_.Height();
}

void PictureBox::ShowPicture(gdi::Picture&& picture) {
    if (picture.Handle() == nullptr) throw Fault::OutOfMemory();
    SetImage(std::move(picture));
}

void PictureBox::Resize(std::int32_t outerWidth, std::int32_t outerHeight) {
    const std::int32_t frame = CheckedMul(border_, 2);
    const std::int32_t width = CheckedAdd(outerWidth, -frame);
    const std::int32_t height = CheckedAdd(outerHeight, -frame);
    gdi::Picture content(gdi::CreateCompatibleBitmap(hDC(), width, height));
    if (content.Handle() == nullptr) throw Fault::OutOfMemory();
    SetImage(std::move(content));
}

void PictureBox::PictureFromImage() {
    gdi::Picture copy = gdi::PictureFromDC(hDC(), width_, height_);
    if (copy.Handle() == nullptr) throw Fault::OutOfMemory();
    picture_ = std::move(copy);
}

gdi::Picture PictureBox::TakeImage() {
    if (dc_ != nullptr && stock_ != nullptr) gdi::SelectObject(dc_, stock_);
    width_ = 0;
    height_ = 0;
    return std::move(image_);
}

void PictureBox::Clear() {
    picture_ = gdi::Picture();
    if (dc_ != nullptr && stock_ != nullptr) gdi::SelectObject(dc_, stock_);
    image_ = gdi::Picture();
    width_ = 0;
    height_ = 0;
}

}  // namespace fotolane::thumbnails
