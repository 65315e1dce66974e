#include "decoding/metadata/Exiv2Session.h"

#include <cstring>
#include <exception>
#include <limits>
#include <optional>
#include <string_view>

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

// The entries of one TIFF directory, as far as the block holds them whole.
class Directory {
  public:
    Directory(std::span<const std::uint8_t> tiff, bool bigEndian, std::uint64_t start)
        : tiff_(tiff), bigEndian_(bigEndian), start_(start) {
        if (start + 2 <= tiff.size()) {
            entries_ = TiffNumber(tiff, static_cast<std::size_t>(start), 2, bigEndian);
        }
    }
    // Where each entry starts, in turn, while `visit` returns true.
    template <typename Visit>
    void ForEach(const Visit& visit) const {
        for (std::uint64_t at = start_ + 2;
             at + 12 <= tiff_.size() && at < start_ + 2 + 12 * std::uint64_t{entries_}; at += 12) {
            if (!visit(static_cast<std::size_t>(at))) return;
        }
    }
    std::uint32_t Entries() const { return entries_; }
    std::uint32_t TagAt(std::size_t at) const { return TiffNumber(tiff_, at, 2, bigEndian_); }
    std::optional<std::size_t> Find(std::uint16_t tag) const {
        std::optional<std::size_t> found;
        ForEach([&](std::size_t at) {
            if (TagAt(at) == tag) found = at;
            return !found;
        });
        return found;
    }

  private:
    std::span<const std::uint8_t> tiff_;
    bool bigEndian_;
    std::uint64_t start_;
    std::uint32_t entries_ = 0;
};

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
    const Directory directory(tiff, bigEndian, start);
    if (directory.Entries() > kMostEntries) return first;
    first.cut = start + 2 + 12 * std::uint64_t{directory.Entries()} > tiff.size();
    directory.ForEach([&](std::size_t at) {
        const std::uint32_t tag = directory.TagAt(at);
        if (tag == kXmpPacket) first.holdsXmp = true;
        if (tag == kGpsDirectory) first.pointsToGps = true;
        return true;
    });
    return first;
}

namespace {

// No tag of EXIF's nor of a maker's: exiv2 keeps its entry as the bytes it
// holds.
constexpr std::uint16_t kHiddenTag = 0xFFFE;

// The EXIF directory and the entry of its maker note, where the block has
// them.
struct MakerNoteEntry {
    bool bigEndian = false;
    std::uint64_t exif = 0;
    std::size_t entry = 0;
};
std::optional<MakerNoteEntry> FindMakerNote(std::span<const std::uint8_t> tiff) {
    constexpr std::uint16_t kExifDirectory = 0x8769;
    constexpr std::uint16_t kMakerNote = 0x927C;
    if (tiff.size() < 8) return std::nullopt;
    const bool bigEndian = tiff[0] == 'M' && tiff[1] == 'M';
    if (!bigEndian && !(tiff[0] == 'I' && tiff[1] == 'I')) return std::nullopt;
    const std::optional<std::size_t> pointer =
        Directory(tiff, bigEndian, TiffNumber(tiff, 4, 4, bigEndian)).Find(kExifDirectory);
    if (!pointer) return std::nullopt;
    const std::uint64_t exif = TiffNumber(tiff, *pointer + 8, 4, bigEndian);
    const std::optional<std::size_t> note = Directory(tiff, bigEndian, exif).Find(kMakerNote);
    if (!note) return std::nullopt;
    return MakerNoteEntry{bigEndian, exif, *note};
}

void HideEntry(std::vector<std::uint8_t>& tiff, std::size_t at, bool bigEndian) {
    tiff[at] = static_cast<std::uint8_t>(bigEndian ? kHiddenTag >> 8 : kHiddenTag & 0xFF);
    tiff[at + 1] = static_cast<std::uint8_t>(bigEndian ? kHiddenTag & 0xFF : kHiddenTag >> 8);
}

}  // namespace

std::vector<std::uint8_t> WithMakerNoteHidden(std::span<const std::uint8_t> tiff) {
    constexpr std::uint16_t kLensModel = 0xA434;
    constexpr std::uint16_t kIsoSpeedRatings = 0x8827;
    constexpr std::uint16_t kRecommendedExposureIndex = 0x8832;
    constexpr std::uint16_t kIsoSpeed = 0x8833;
    const std::optional<MakerNoteEntry> note = FindMakerNote(tiff);
    if (!note) return {};
    const Directory exif(tiff, note->bigEndian, note->exif);
    // The lens and the ISO come from the maker note where EXIF's own fields
    // lack them: a block without those is decoded whole at once.
    if (!exif.Find(kLensModel) || !(exif.Find(kIsoSpeedRatings) ||
                                    exif.Find(kRecommendedExposureIndex) || exif.Find(kIsoSpeed))) {
        return {};
    }
    std::vector<std::uint8_t> copy(tiff.begin(), tiff.end());
    HideEntry(copy, note->entry, note->bigEndian);
    return copy;
}

std::vector<std::uint8_t> WithMakerNoteArraysHidden(std::span<const std::uint8_t> tiff) {
    const std::optional<MakerNoteEntry> note = FindMakerNote(tiff);
    if (!note) return {};
    // Sony's note: a 12-byte header, then a directory whose offsets count
    // from the block's start.
    const std::uint64_t data = TiffNumber(tiff, note->entry + 8, 4, note->bigEndian);
    constexpr std::size_t kHeader = 12;
    if (data + kHeader > tiff.size()) return {};
    const auto header = tiff.subspan(static_cast<std::size_t>(data), kHeader);
    const auto starts = [&header](std::string_view text) {
        return std::memcmp(header.data(), text.data(), text.size()) == 0;
    };
    if (!starts(std::string_view("SONY DSC \0\0\0", kHeader)) &&
        !starts(std::string_view("SONY CAM \0\0\0", kHeader)) &&
        !starts(std::string_view("SONY MOBILE\0", kHeader))) {
        return {};
    }
    // The enciphered blocks of tag 0x2010 and of 0x9400 to 0x94FF, which
    // exiv2 deciphers into an entry for each of their elements (6,456 of
    // 0x2010 alone in a NEX-3N's note), and of which neither the lens
    // (0xB027 and the camera settings of 0x0114) nor the ISO come.
    std::vector<std::uint8_t> copy;
    const Directory sony(tiff, note->bigEndian, data + kHeader);
    sony.ForEach([&](std::size_t at) {
        const std::uint32_t tag = sony.TagAt(at);
        if (tag == 0x2010 || (tag >= 0x9400 && tag <= 0x94FF)) {
            if (copy.empty()) copy.assign(tiff.begin(), tiff.end());
            HideEntry(copy, at, note->bigEndian);
        }
        return true;
    });
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

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
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
#pragma GCC diagnostic pop

}  // namespace fotolane::picture::detail
