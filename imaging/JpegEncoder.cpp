#include "imaging/JpegEncoder.h"

#include <turbojpeg.h>

#include <string>

#include "platform/core/Fault.h"

namespace fotolane::jpeg {

void JpegBytes::Free::operator()(std::uint8_t* data) const noexcept {
    tjFree(data);
}

Compressor::Compressor() noexcept : handle_(tjInitCompress()) {}

Compressor::~Compressor() {
    if (handle_ != nullptr) tjDestroy(handle_);
}

JpegBytes Compressor::CompressBottomUpBgr(const std::uint8_t* rows, std::int32_t width,
                                          std::int32_t pitch, std::int32_t height,
                                          std::int32_t quality) {
    if (handle_ == nullptr) throw Fault("JPEG encoder not initialised");
    if (rows == nullptr) throw Fault("JPEG encoder: no pixels to encode");
    // Rows shorter than their pixels would make the library read beyond them.
    if (width <= 0 || height <= 0 || pitch < std::int64_t{3} * width) {
        throw Fault("JPEG encoder: inconsistent picture size");
    }
    unsigned char* data = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(handle_, rows, width, pitch, height, TJPF_BGR, &data, &size,
                                   TJSAMP_420, quality, TJFLAG_BOTTOMUP);
    // The library may have allocated the output even when it failed.
    JpegBytes bytes;
    bytes.data_.reset(data);
    if (result != 0) throw Fault(std::string("JPEG encoder: ") + tjGetErrorStr2(handle_));
    bytes.size_ = size;
    return bytes;
}

}  // namespace fotolane::jpeg
