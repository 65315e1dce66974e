#include "decoding/SamplingDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "decoding/PictureDecoding.h"
#include "decoding/bmp/BitmapDecoder.h"
#include "decoding/gif/GifDecoder.h"
#include "decoding/jpeg/JpegDecoder.h"
#include "decoding/metadata/Exif.h"
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

void SamplingDecoder::ReleaseDecoderMemory() noexcept {
    sparse_.reset();
}

PictureSize SamplingDecoder::Open(const std::string& path) {
    path_ = path;
    shown_ = {0, 0};
    try {
        // The size as DecodePicture gives it, orientation applied, with the
        // faults of its header; then no more of the file than that picture
        // can need, read into the last picture's memory.
        detail::OpenedPicture opened = detail::OpenPicture(path, std::move(bytes_));
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

void SampledLines::Begin(const StreamedLines& lines) {
    picks_.clear();
    nextPick_ = 0;
    next_ = 0;
    lines_ = lines.size.height;
    const auto orientation = static_cast<detail::Orientation>(lines.orientation);
    const PictureSize shown = detail::OrientedSize(lines.size, orientation);
    whole_ = lines.extentWidth == lines.size.width && lines.extentHeight == lines.size.height &&
             shown.width == rows_.width && shown.height == rows_.height;
    if (!whole_) return;
    picks_.reserve(sampled_.rows.size() * sampled_.columns.size());
    for (const std::int32_t v : sampled_.rows) {
        const std::size_t line =
            static_cast<std::size_t>(rows_.height - 1 - v) * static_cast<std::size_t>(rows_.stride);
        for (const std::int32_t u : sampled_.columns) {
            const detail::StoredPixel pixel = detail::StoredPixelOf(orientation, u, v, lines.size);
            picks_.push_back({pixel.y, 3 * static_cast<std::size_t>(pixel.x),
                              line + 3 * static_cast<std::size_t>(u)});
        }
    }
    std::sort(picks_.begin(), picks_.end(),
              [](const Pick& a, const Pick& b) { return a.line < b.line; });
}

void SampledLines::Take(const std::uint8_t* bgr) {
    std::uint8_t* bits = rows_.bits.get();
    for (; nextPick_ < picks_.size() && picks_[nextPick_].line == next_; ++nextPick_) {
        const Pick& pick = picks_[nextPick_];
        if (bgr != nullptr) {
            std::memcpy(bits + pick.to, bgr + pick.from, 3);
        } else {
            std::memset(bits + pick.to, 0, 3);
        }
    }
    ++next_;
}

void SampledLines::Line(const std::uint8_t* bgr) {
    if (whole_ && next_ < lines_) Take(bgr);
}

void SampledLines::Blank(std::int32_t count) {
    for (std::int32_t n = 0; n < count && whole_ && next_ < lines_; ++n) Take(nullptr);
}

}  // namespace fotolane::picture
