#include "decoding/AlbumDecoder.h"

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

#include "decoding/AlbumFormats.h"
#include "decoding/PictureDecoding.h"
#include "decoding/heif/HeifDecoder.h"
#include "decoding/png/PngDecoder.h"
#include "decoding/webp/WebpDecoder.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"
#include "platform/files/FileSystem.h"

namespace fotolane::picture {

namespace {

using detail::PictureFormat;

// Enough for a PNG's or a WebP's header: both stand at the file's start
// (a WebP's canvas in its first chunk).
constexpr std::size_t kHeaderPrefix = 256 * 1024;

// The most of a HEIF file that is read: far more than any phone or camera
// writes for one picture (a 48-megapixel HEIC takes about 10 MB).
constexpr std::size_t kMostHeifBytes = std::size_t{256} << 20;

// The most of a PNG or a WebP that a picture of this size can need: its
// pixels uncompressed at 8 bytes and a filter byte a line, and room for
// ancillary chunks and metadata.
std::size_t MostBytesNeeded(PictureSize size) {
    return (std::size_t{16} << 20) +
           9 * static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height);
}

// The bytes of a picture of the album's own formats, drawn from the picture
// memory budget while they are held.
struct AlbumFile {
    std::vector<std::uint8_t> bytes;
    PictureFormat format = PictureFormat::Unknown;
    PictureSize size{0, 0};  // from the header, for PNG and WebP
    PictureMemory memory;
};

// The file's first bytes and their format; for a PNG or a WebP its size
// too ("Invalid picture" when its header is not sound).
AlbumFile ReadStart(const std::string& path) {
    AlbumFile file;
    file.bytes = ReadFileStart(path, kHeaderPrefix);
    file.format = detail::FormatOfContent(file.bytes);
    bool sound = true;
    if (file.format == PictureFormat::Png) sound = detail::ReadPngSize(file.bytes, file.size);
    if (file.format == PictureFormat::WebP) sound = detail::ReadWebpSize(file.bytes, file.size);
    if (!sound) throw Fault::InvalidPicture(path);
    if (file.format == PictureFormat::Png || file.format == PictureFormat::WebP) {
        detail::CheckPictureSize(file.size, path);
    }
    return file;
}

// The rest of the file, as far as its picture can need.
void ReadRest(AlbumFile& file, const std::string& path) {
    if (file.bytes.size() == kHeaderPrefix) {
        const std::size_t most =
            file.format == PictureFormat::Heif ? kMostHeifBytes : MostBytesNeeded(file.size);
        file.bytes = ReadFileStart(path, std::min(most, PictureMemoryBudget()));
    }
    file.memory = PictureMemory(file.bytes.size());
}

// `least`: the size the caller needs at least (DecodeAlbumPictureAtLeast),
// else none.
PixelRows Decode(const std::string& path, std::optional<PictureSize> least = std::nullopt) {
    AlbumFile file = ReadStart(path);
    switch (file.format) {
        case PictureFormat::Jpeg:
        case PictureFormat::Bitmap:
        case PictureFormat::Gif:
            return DecodePicture(path);
        case PictureFormat::Png:
            ReadRest(file, path);
            return detail::DecodePng(file.bytes, path);
        case PictureFormat::WebP:
            ReadRest(file, path);
            return detail::DecodeWebp(file.bytes, path, least);
        case PictureFormat::Heif:
            ReadRest(file, path);
            return detail::DecodeHeif(file.bytes, path);
        case PictureFormat::Unknown:
            break;
    }
    throw Fault::InvalidPicture(path);
}

PictureSize ReadSize(const std::string& path) {
    AlbumFile file = ReadStart(path);
    switch (file.format) {
        case PictureFormat::Jpeg:
        case PictureFormat::Bitmap:
        case PictureFormat::Gif:
            return ReadPictureSize(path);
        case PictureFormat::Png:
        case PictureFormat::WebP:
            return file.size;
        case PictureFormat::Heif:
            ReadRest(file, path);
            return detail::ReadHeifSize(file.bytes, path);
        case PictureFormat::Unknown:
            break;
    }
    throw Fault::InvalidPicture(path);
}

}  // namespace

PixelRows DecodeAlbumPicture(const std::string& path) {
    try {
        return Decode(path);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

PixelRows DecodeAlbumPictureAtLeast(const std::string& path, std::int32_t minWidth,
                                    std::int32_t minHeight) {
    try {
        return Decode(path, PictureSize{minWidth, minHeight});
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

bool StreamAlbumPicture(const std::string& path, PixelSink& sink) {
    try {
        AlbumFile file = ReadStart(path);
        if (file.format != PictureFormat::Png) return false;
        ReadRest(file, path);
        detail::StreamPng(file.bytes, path, sink);
        return true;
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

bool BrowsersShowPicture(const std::string& path) {
    // The file-type box, and with it every brand, lies in the first bytes.
    constexpr std::size_t kFileTypeBytes = 4096;
    try {
        const std::vector<std::uint8_t> bytes = ReadFileStart(path, kFileTypeBytes);
        const PictureFormat format = detail::FormatOfContent(bytes);
        if (format == PictureFormat::Heif) return detail::IsAvifFileType(bytes);
        return format != PictureFormat::Unknown;
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    }
}

PictureSize ReadAlbumPictureSize(const std::string& path) {
    try {
        return ReadSize(path);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

}  // namespace fotolane::picture
