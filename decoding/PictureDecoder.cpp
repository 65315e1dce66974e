#include "decoding/PictureDecoder.h"

#include <algorithm>
#include <initializer_list>
#include <new>
#include <utility>

#include "decoding/PictureDecoding.h"
#include "decoding/bmp/BitmapDecoder.h"
#include "decoding/gif/GifDecoder.h"
#include "decoding/jpeg/JpegDecoder.h"
#include "decoding/metadata/Exif.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/files/FileSystem.h"

namespace fotolane::picture {

namespace detail {

namespace {

bool StartsWith(Bytes bytes, std::initializer_list<std::uint8_t> start) {
    return bytes.size() >= start.size() && std::equal(start.begin(), start.end(), bytes.begin());
}

}  // namespace

PictureFormat FormatOfContent(Bytes bytes) {
    // A JPEG starts with SOI and the first marker of a segment.
    if (StartsWith(bytes, {0xFF, 0xD8, 0xFF})) return PictureFormat::Jpeg;
    if (StartsWith(bytes, {'B', 'M'})) return PictureFormat::Bitmap;
    if (StartsWith(bytes, {'G', 'I', 'F', '8', '7', 'a'}) ||
        StartsWith(bytes, {'G', 'I', 'F', '8', '9', 'a'})) {
        return PictureFormat::Gif;
    }
    if (StartsWith(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'})) return PictureFormat::Png;
    if (bytes.size() >= 12 && StartsWith(bytes, {'R', 'I', 'F', 'F'}) &&
        std::equal(bytes.begin() + 8, bytes.begin() + 12, "WEBP")) {
        return PictureFormat::WebP;
    }
    if (IsHeifFileType(bytes)) return PictureFormat::Heif;
    return PictureFormat::Unknown;
}

void CheckPictureSize(PictureSize size, const std::string& path) {
    if (size.width <= 0 || size.height <= 0) throw Fault::InvalidPicture(path);
    CheckedMul(StrideOf24BitRow(size.width), size.height);
}

}  // namespace detail

namespace {

using detail::PictureFormat;

// Enough for the headers of nearly every file: a JPEG's EXIF and ICC
// segments stand before its frame header, and rarely pass this.
constexpr std::size_t kHeaderPrefix = 256 * 1024;

// What a picture's decode reads first: every picture may take this much of
// its file (MostBytesNeeded), so a file no longer is read once, header and
// all, not its start and then the whole of it again.
constexpr std::size_t kDecodePrefix = std::size_t{16} << 20;

// A JPEG whose frame header, or a GIF whose first frame, stands further into
// the file is no picture.
constexpr std::size_t kFarthestHeader = std::size_t{64} << 20;

// The most of a file that a picture of this size can need: far more than
// any encoder writes (JPEG photos take 1 to 3 bytes a pixel, a bitmap 4 at
// most, GIF data 2), so that the rest of a file much longer than its header
// could need is never read.
std::size_t MostBytesNeeded(PictureSize size) {
    return (std::size_t{16} << 20) +
           8 * static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height);
}

// The file's first bytes, its format and the size its header gives (as
// stored, before any EXIF orientation): "Invalid picture" when it is none
// of the three formats or its header cannot be read.
struct PictureHeader {
    std::vector<std::uint8_t> bytes;
    PictureFormat format = PictureFormat::Unknown;
    PictureSize stored{0, 0};
    // Whether `bytes` are all the file has.
    bool whole = false;
};

PictureHeader ReadHeader(const std::string& path, std::size_t prefix = kHeaderPrefix,
                         std::vector<std::uint8_t> reused = {}) {
    PictureHeader header;
    header.bytes = std::move(reused);
    ReadFileStartInto(path, prefix, header.bytes);
    header.whole = header.bytes.size() < prefix;
    header.format = detail::FormatOfContent(header.bytes);
    switch (header.format) {
        case PictureFormat::Unknown:
        case PictureFormat::Png:
        case PictureFormat::WebP:
        case PictureFormat::Heif:
            throw Fault::InvalidPicture(path);
        case PictureFormat::Jpeg:
        case PictureFormat::Gif: {
            const auto read =
                header.format == PictureFormat::Jpeg ? detail::ReadJpegSize : detail::ReadGifSize;
            if (!read(header.bytes, header.stored)) {
                if (header.whole) throw Fault::InvalidPicture(path);
                header.bytes = ReadFileStart(path, kFarthestHeader);
                header.whole = header.bytes.size() < kFarthestHeader;
                if (!read(header.bytes, header.stored)) throw Fault::InvalidPicture(path);
            }
            detail::CheckPictureSize(header.stored, path);
            break;
        }
        case PictureFormat::Bitmap:
            header.stored = detail::ReadBitmapSize(header.bytes, path);
            break;
    }
    return header;
}

PixelRows Decode(detail::Bytes bytes, const std::string& path) {
    switch (detail::FormatOfContent(bytes)) {
        case PictureFormat::Jpeg:
            return detail::DecodeJpeg(bytes, path);
        case PictureFormat::Bitmap:
            return detail::DecodeBitmap(bytes, path);
        case PictureFormat::Gif:
            return detail::DecodeGif(bytes, path);
        case PictureFormat::Unknown:
        case PictureFormat::Png:
        case PictureFormat::WebP:
        case PictureFormat::Heif:
            break;
    }
    throw Fault::InvalidPicture(path);
}

// The size as DecodePicture gives it, orientation applied.
PictureSize ShownSize(const PictureHeader& header, const std::string& path) {
    if (header.format != PictureFormat::Jpeg) return header.stored;
    // The turned rows must be possible too, as in DecodePicture; the EXIF
    // segment stands before the first scan, so it is within the bytes that
    // held the header.
    const PictureSize shown =
        detail::OrientedSize(header.stored, detail::ReadExifOrientation(header.bytes));
    detail::CheckPictureSize(shown, path);
    return shown;
}

PictureSize ReadSize(const std::string& path) {
    return ShownSize(ReadHeader(path), path);
}

}  // namespace

detail::OpenedPicture detail::OpenPicture(const std::string& path,
                                          std::vector<std::uint8_t> reused) {
    PictureHeader header = ReadHeader(path, kDecodePrefix, std::move(reused));
    OpenedPicture opened;
    opened.shown = ShownSize(header, path);
    if (!header.whole) {
        header.bytes = ReadFileStart(path, MostBytesNeeded(header.stored));
    }
    opened.bytes = std::move(header.bytes);
    return opened;
}

namespace {

// The bytes that decoding needs, from the header read before.
std::vector<std::uint8_t> ReadPictureBytes(PictureHeader header, const std::string& path) {
    if (!header.whole) {
        header.bytes = ReadFileStart(path, MostBytesNeeded(header.stored));
    }
    return std::move(header.bytes);
}

}  // namespace

std::vector<std::uint8_t> detail::ReadPictureBytes(const std::string& path) {
    return ReadPictureBytes(ReadHeader(path, kDecodePrefix), path);
}

PixelRows DecodePicture(const std::string& path) {
    try {
        return Decode(detail::ReadPictureBytes(path), path);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

ScaledPicture DecodePictureAtLeast(const std::string& path, std::int32_t minWidth,
                                   std::int32_t minHeight) {
    try {
        const std::vector<std::uint8_t> bytes = detail::ReadPictureBytes(path);
        if (detail::FormatOfContent(bytes) == PictureFormat::Jpeg) {
            return detail::DecodeJpegAtLeast(bytes, path, {minWidth, minHeight});
        }
        ScaledPicture whole;
        whole.rows = Decode(bytes, path);
        whole.shown = {whole.rows.width, whole.rows.height};
        return whole;
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

void StreamJpegAtLeast(const std::string& path, std::int32_t minWidth, std::int32_t minHeight,
                       LineSink& sink) {
    try {
        const std::vector<std::uint8_t> bytes = detail::ReadPictureBytes(path);
        if (detail::FormatOfContent(bytes) != PictureFormat::Jpeg) {
            throw Fault::InvalidPicture(path);
        }
        detail::StreamJpegAtLeast(bytes, path, {minWidth, minHeight}, sink);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

PixelRows ApplyStreamedOrientation(PixelRows stored, const StreamedLines& lines) {
    return detail::ApplyOrientation(std::move(stored), detail::OrientationOfTag(lines.orientation));
}

bool StreamPicture(const std::string& path, PixelSink& sink) {
    try {
        // A JPEG is told by its header, before the rest of it is read.
        PictureHeader header = ReadHeader(path);
        if (header.format == PictureFormat::Jpeg) return false;
        const std::vector<std::uint8_t> bytes = ReadPictureBytes(std::move(header), path);
        switch (detail::FormatOfContent(bytes)) {
            case PictureFormat::Jpeg:
                return false;
            case PictureFormat::Bitmap:
                detail::StreamBitmap(bytes, path, sink);
                return true;
            case PictureFormat::Gif:
                detail::StreamGif(bytes, path, sink);
                return true;
            case PictureFormat::Png:
            case PictureFormat::WebP:
            case PictureFormat::Heif:
            case PictureFormat::Unknown:
                break;
        }
        throw Fault::InvalidPicture(path);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

PictureSize ReadPictureSize(const std::string& path) {
    try {
        return ReadSize(path);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

}  // namespace fotolane::picture
