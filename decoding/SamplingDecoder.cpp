#include "decoding/SamplingDecoder.h"

#include <new>
#include <utility>

#include "decoding/PictureDecoding.h"
#include "decoding/bmp/BitmapDecoder.h"
#include "decoding/gif/GifDecoder.h"
#include "decoding/jpeg/JpegDecoder.h"
#include "platform/core/Fault.h"

namespace fotolane::picture {

using detail::PictureFormat;

SamplingDecoder::SamplingDecoder(Sparse sparse)
    : sparseAlways_(sparse == Sparse::WheneverPossible) {}

SamplingDecoder::~SamplingDecoder() = default;

void SamplingDecoder::ReleaseMemory() noexcept {
    bytes_ = std::vector<std::uint8_t>();
    sparse_.reset();
}

PictureSize SamplingDecoder::Open(const std::string& path) {
    path_ = path;
    bytes_.clear();
    shown_ = {0, 0};
    try {
        // The size as DecodePicture gives it, orientation applied, with the
        // faults of its header; then no more of the file than that picture
        // can need.
        detail::OpenedPicture opened = detail::OpenPicture(path);
        shown_ = opened.shown;
        bytes_ = std::move(opened.bytes);
        const PictureFormat format = detail::FormatOfContent(bytes_);
        format_ = static_cast<int>(format);
        if (format == PictureFormat::Unknown) throw Fault::InvalidPicture(path);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
    return shown_;
}

void SamplingDecoder::Decode(const SampledPixels& sampled, PixelRows& rows) {
    try {
        DecodeOpened(sampled, rows);
    } catch (const Fault& fault) {
        throw fault.Naming(path_);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path_);
    }
}

void SamplingDecoder::DecodeOpened(const SampledPixels& sampled, PixelRows& rows) {
    const auto format = static_cast<PictureFormat>(format_);
    decodedSparsely_ = false;
    if (format == PictureFormat::Jpeg) {
        // The whole decode's checks and faults come first.
        const detail::JpegCheck check = detail::CheckJpeg(bytes_, path_);
        if (!sparse_) sparse_ = std::make_unique<detail::SparseJpegDecoder>(sparseAlways_);
        decodedSparsely_ = sparse_->Decode(check, sampled, rows);
        if (!decodedSparsely_) detail::DecodeJpegSampledInto(check, path_, sampled, rows);
    } else if (format == PictureFormat::Bitmap) {
        detail::DecodeBitmapInto(bytes_, path_, detail::WantedPixels(sampled), rows);
    } else if (format == PictureFormat::Gif) {
        detail::DecodeGifInto(bytes_, path_, detail::WantedPixels(sampled), rows);
    } else {
        throw Fault::InvalidPicture(path_);
    }
    // The header promised this size; a picture of another would be sampled
    // out of its bounds.
    if (rows.width != shown_.width || rows.height != shown_.height) {
        throw Fault::InvalidPicture(path_);
    }
}

}  // namespace fotolane::picture
