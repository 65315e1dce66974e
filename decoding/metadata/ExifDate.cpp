// When a photograph was taken, from its EXIF DateTimeOriginal tag.

#include <cstddef>
#include <vector>

#include "decoding/jpeg/JpegSegments.h"
#include "decoding/metadata/Exif.h"
#include "decoding/metadata/Exiv2Session.h"
#include "platform/core/Fault.h"
#include "platform/files/FileSystem.h"

namespace fotolane::picture {
namespace detail {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string DateTakenFromExif(std::string_view value) {
    // "YYYY:MM:DD HH:MM:SS"; cameras without a clock write blanks or zeros.
    static constexpr std::string_view kShape = "dddd:dd:dd dd:dd:dd";
    if (value.size() < kShape.size()) return {};
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] == 'd' ? !IsDigit(value[i]) : value[i] != kShape[i]) return {};
    }
    std::string date(value.substr(0, kShape.size()));
    if (date.compare(0, 10, "0000:00:00") == 0) return {};
    date[4] = '-';
    date[7] = '-';
    date[10] = 'T';
    return date;
}

std::string ReadDateTaken(Bytes jpeg) {
    // The EXIF block found as the orientation's is, decoded by exiv2.
    const Bytes tiff = ExifTiffData(jpeg);
    if (tiff.empty()) return {};
    Exiv2::ExifData data;
    Exiv2::ByteOrder order = Exiv2::invalidByteOrder;
    if (!DecodeExif(tiff, data, order)) return {};
    static const Exiv2::ExifKey kDateTimeOriginal(0x9003, "Photo");
    const auto found = data.findKey(kDateTimeOriginal);
    if (found == data.end() || found->typeId() != Exiv2::asciiString) return {};
    return DateTakenFromExif(found->toString());
}

}  // namespace detail

std::string ReadDateTaken(const std::string& path) {
    // The EXIF segment stands among a JPEG's first segments.
    constexpr std::size_t kExifPrefix = 128 * 1024;
    try {
        const std::vector<std::uint8_t> bytes = ReadFileStart(path, kExifPrefix);
        if (detail::FormatOfContent(bytes) != detail::PictureFormat::Jpeg) return {};
        return detail::ReadDateTaken(bytes);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    }
}

}  // namespace fotolane::picture
