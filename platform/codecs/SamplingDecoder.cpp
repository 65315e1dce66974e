#include "platform/codecs/SamplingDecoder.h"

#include <new>

#include "platform/codecs/PictureDecoding.h"
#include "platform/core/Fault.h"

namespace fotolane::picture {

using detail::PictureFormat;

SamplingDecoder::SamplingDecoder(Sparse sparse)
    : sparse_(std::make_unique<detail::SparseJpegDecoder>(sparse == Sparse::kWheneverPossible)) {}

SamplingDecoder::~SamplingDecoder() = default;

PictureSize SamplingDecoder::Open(const std::string& path) {
    path_ = path;
    bytes_.clear();
    shown_ = {0, 0};
    try {
        bytes_ = detail::ReadPictureFile(path, static_cast<std::size_t>(-1));
        const PictureFormat format = detail::FormatOfContent(bytes_);
        format_ = static_cast<int>(format);
        orientation_ = static_cast<int>(detail::Orientation::Upright);
        switch (format) {
            case PictureFormat::kJpeg: {
                PictureSize stored{};
                if (!detail::ReadJpegSize(bytes_, stored)) throw Fault::InvalidPicture(path);
                const detail::Orientation orientation = detail::ReadExifOrientation(bytes_);
                orientation_ = static_cast<int>(orientation);
                detail::CheckPictureSize(stored, path);
                shown_ = detail::OrientedSize(stored, orientation);
                detail::CheckPictureSize(shown_, path);
                break;
            }
            case PictureFormat::kBitmap:
            case PictureFormat::kGif:
                shown_ = detail::ReadQtPictureSize(bytes_, format, path);
                break;
            case PictureFormat::kUnknown:
                throw Fault::InvalidPicture(path);
        }
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
    if (format == PictureFormat::kJpeg) {
        decodedSparsely_ =
            sparse_->Decode(bytes_, static_cast<detail::Orientation>(orientation_), sampled, rows);
        if (!decodedSparsely_) {
            detail::DecodeJpegInto(bytes_, path_, rows);
        }
    } else if (format == PictureFormat::kBitmap || format == PictureFormat::kGif) {
        detail::DecodeWithQtInto(bytes_, format, path_, &sampled, rows);
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
