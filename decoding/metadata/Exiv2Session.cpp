#include "decoding/metadata/Exiv2Session.h"

#include <cstring>
#include <exception>
#include <limits>
#include <optional>

#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

namespace {

std::recursive_mutex& Exiv2Mutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

// exiv2's log handler: prints nothing (the level lets nothing through).
void Ignore(int /*level*/, const char* /*message*/) {}

// The XMP toolkit's lock for its namespace registry: the sessions' own.
void LockXmp(void* mutex, bool lock) {
    auto& held = *static_cast<std::recursive_mutex*>(mutex);
    if (lock) {
        held.lock();
    } else {
        held.unlock();
    }
}

void SetUp() {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::LogMsg::setHandler(Ignore);
    Exiv2::XmpParser::initialize(LockXmp, &Exiv2Mutex());
    // exiv2 0.27 reads HEIF and AVIF (its BMFF class) only once asked to.
    Exiv2::enableBMFF(true);
}

void SetUpOnce() {
    static std::once_flag once;
    std::call_once(once, SetUp);
}

// A TIFF number of `bytes` bytes (2 or 4) at `at`, in the block's order.
std::uint32_t TiffNumber(std::span<const std::uint8_t> tiff, std::size_t at, std::size_t bytes,
                         bool bigEndian) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        const std::uint32_t byte = tiff[at + (bigEndian ? i : bytes - 1 - i)];
        value = value << 8 | byte;
    }
    return value;
}

}  // namespace

Exiv2Session::Exiv2Session() : lock_((SetUpOnce(), Exiv2Mutex())) {}

FirstDirectory ReadFirstDirectory(std::span<const std::uint8_t> tiff) {
    // exiv2 reads no more than 256 entries of a directory: a larger count
    // makes it give up on the directory, not on the data.
    constexpr std::uint32_t kMostEntries = 256;
    constexpr std::uint16_t kXmpPacket = 0x02BC;
    constexpr std::uint16_t kGpsDirectory = 0x8825;
    FirstDirectory first;
    if (tiff.size() < 8) return first;
    const bool bigEndian = tiff[0] == 'M' && tiff[1] == 'M';
    if (!bigEndian && !(tiff[0] == 'I' && tiff[1] == 'I')) return first;
    if (TiffNumber(tiff, 2, 2, bigEndian) != 42) return first;
    const std::uint64_t start = TiffNumber(tiff, 4, 4, bigEndian);
    if (start + 2 > tiff.size()) {
        first.cut = true;
        return first;
    }
    const std::uint32_t entries = TiffNumber(tiff, static_cast<std::size_t>(start), 2, bigEndian);
    if (entries > kMostEntries) return first;
    first.cut = start + 2 + 12 * std::uint64_t{entries} > tiff.size();
    for (std::uint64_t at = start + 2; at + 12 <= tiff.size() && at < start + 2 + 12 * entries;
         at += 12) {
        const std::uint32_t tag = TiffNumber(tiff, static_cast<std::size_t>(at), 2, bigEndian);
        if (tag == kXmpPacket) first.holdsXmp = true;
        if (tag == kGpsDirectory) first.pointsToGps = true;
    }
    return first;
}

std::vector<std::uint8_t> WithMakerNoteHidden(std::span<const std::uint8_t> tiff) {
    constexpr std::uint16_t kExifDirectory = 0x8769;
    constexpr std::uint16_t kMakerNote = 0x927C;
    constexpr std::uint16_t kLensModel = 0xA434;
    constexpr std::uint16_t kIsoSpeedRatings = 0x8827;
    constexpr std::uint16_t kRecommendedExposureIndex = 0x8832;
    constexpr std::uint16_t kIsoSpeed = 0x8833;
    // No tag of EXIF's: exiv2 keeps its entry as the bytes it holds.
    constexpr std::uint16_t kHidden = 0xFFFE;
    if (tiff.size() < 8) return {};
    const bool bigEndian = tiff[0] == 'M' && tiff[1] == 'M';
    if (!bigEndian && !(tiff[0] == 'I' && tiff[1] == 'I')) return {};
    // The entry of `tag` in the directory at `start`, where the data holds
    // it whole.
    const auto find = [&](std::uint64_t start, std::uint16_t tag) -> std::optional<std::size_t> {
        if (start + 2 > tiff.size()) return std::nullopt;
        const std::uint32_t entries =
            TiffNumber(tiff, static_cast<std::size_t>(start), 2, bigEndian);
        for (std::uint64_t at = start + 2; at + 12 <= tiff.size() && at < start + 2 + 12 * entries;
             at += 12) {
            if (TiffNumber(tiff, static_cast<std::size_t>(at), 2, bigEndian) == tag) {
                return static_cast<std::size_t>(at);
            }
        }
        return std::nullopt;
    };
    const std::optional<std::size_t> pointer =
        find(TiffNumber(tiff, 4, 4, bigEndian), kExifDirectory);
    if (!pointer) return {};
    const std::uint64_t exif = TiffNumber(tiff, *pointer + 8, 4, bigEndian);
    const std::optional<std::size_t> note = find(exif, kMakerNote);
    // The lens and the ISO come from the maker note where EXIF's own fields
    // lack them: a block without those is decoded whole at once.
    if (!note || !find(exif, kLensModel) ||
        !(find(exif, kIsoSpeedRatings) || find(exif, kRecommendedExposureIndex) ||
          find(exif, kIsoSpeed))) {
        return {};
    }
    std::vector<std::uint8_t> copy(tiff.begin(), tiff.end());
    copy[*note] = static_cast<std::uint8_t>(bigEndian ? kHidden >> 8 : kHidden & 0xFF);
    copy[*note + 1] = static_cast<std::uint8_t>(bigEndian ? kHidden & 0xFF : kHidden >> 8);
    return copy;
}

bool DecodeExif(std::span<const std::uint8_t> tiff, Exiv2::ExifData& data,
                Exiv2::ByteOrder& order) {
    data.clear();
    order = Exiv2::invalidByteOrder;
    if (tiff.empty() || tiff.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    SetUpOnce();
    try {
        std::optional<Exiv2Session> forXmp;
        if (ReadFirstDirectory(tiff).holdsXmp) forXmp.emplace();
        order =
            Exiv2::ExifParser::decode(data, tiff.data(), static_cast<std::uint32_t>(tiff.size()));
        return true;
    } catch (const std::exception&) {
        // Exiv2::AnyError for data it refuses, std::bad_alloc or the
        // standard exceptions of its range checks: no EXIF.
        data.clear();
        return false;
    }
}

Exiv2::Image::AutoPtr OpenExiv2Image(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<long>::max())) {
        return Exiv2::Image::AutoPtr();
    }
    // exiv2 0.27's images own their input as a std::auto_ptr.
    Exiv2::BasicIo::AutoPtr io(new Exiv2::MemIo(bytes.data(), static_cast<long>(bytes.size())));
    switch (FormatOfContent(bytes)) {
        case PictureFormat::Jpeg:
            return Exiv2::Image::AutoPtr(new Exiv2::JpegImage(io, false));
        case PictureFormat::Png:
            return Exiv2::Image::AutoPtr(new Exiv2::PngImage(io, false));
        case PictureFormat::WebP:
            return Exiv2::Image::AutoPtr(new Exiv2::WebPImage(io));
        case PictureFormat::Heif:
            return Exiv2::Image::AutoPtr(new Exiv2::BmffImage(io, false));
        case PictureFormat::Gif:
            return Exiv2::Image::AutoPtr(new Exiv2::GifImage(io));
        case PictureFormat::Bitmap:
            return Exiv2::Image::AutoPtr(new Exiv2::BmpImage(io));
        case PictureFormat::Unknown:
            break;
    }
    return Exiv2::Image::AutoPtr();
}

}  // namespace fotolane::picture::detail
