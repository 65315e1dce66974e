// A copy of a picture without the places its metadata names: exiv2 erases
// them and writes the file anew in memory; the copy is read back and must
// show none before it is handed out.

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <iterator>
#include <string_view>

#include "decoding/PictureDecoding.h"
#include "decoding/bmp/BitmapDecoder.h"
#include "decoding/gif/GifDecoder.h"
#include "decoding/heif/HeifDecoder.h"
#include "decoding/metadata/Exif.h"
#include "decoding/metadata/Exiv2Session.h"
#include "decoding/metadata/Metadata.h"
#include "platform/core/Fault.h"
#include "platform/files/FileSystem.h"

namespace fotolane::picture {
namespace detail {

namespace {

using Bytes = std::span<const std::uint8_t>;

Fault CannotRemoveLocation(const std::string& path) {
    return Fault("Cannot remove the location", path);
}

bool ContainsLetters(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
               return lower(a) == lower(b);
           }) != text.end();
}

// The names of XMP properties, in any namespace and at any depth, that say
// where: those of photoshop (City, State, Country), of IPTC Core (Location:
// the sub-location, CountryCode) and IPTC Extension (LocationCreated and
// LocationShown, whose fields are City, CountryName, ProvinceState,
// Sublocation, WorldRegion, LocationId, LocationName, GPS...).
bool IsPlaceName(std::string_view name) {
    static constexpr std::array<std::string_view, 14> kPlaces = {
        "City",          "State",       "Country",      "CountryCode",     "CountryName",
        "ProvinceState", "Sublocation", "Location",     "LocationCreated", "LocationShown",
        "WorldRegion",   "LocationId",  "LocationName", "LocationCode"};
    return std::any_of(kPlaces.begin(), kPlaces.end(), [name](std::string_view place) {
        return name.size() == place.size() && ContainsLetters(name, place);
    });
}

// A JPEG with what exiv2 would not see of its metadata left out: every
// EXIF segment but the one that browsers read (given the header exiv2
// knows, "Exif" and two null bytes), extended XMP, the multi-picture index,
// and anything after the end of the picture. The frame and scans are those
// of the file, byte for byte. `withExif` false leaves out the EXIF segment
// that is read too.
std::vector<std::uint8_t> JpegForRewriting(Bytes jpeg, const JpegLayout& layout, bool withExif) {
    const Bytes tiff = ExifTiffData(jpeg);
    std::vector<std::uint8_t> out = {0xFF, 0xD8};
    out.reserve(layout.end);
    for (const JpegSegment& segment : layout.head) {
        if (IsHiddenMetadataSegment(segment)) continue;
        const bool readExif = !tiff.empty() && segment.payload.size() > 6 &&
                              segment.payload.data() + 6 == tiff.data();
        if (IsExifSegment(segment) && (!readExif || !withExif)) continue;
        const auto from = jpeg.begin() + static_cast<std::ptrdiff_t>(segment.start);
        out.insert(out.end(), from, jpeg.begin() + static_cast<std::ptrdiff_t>(segment.end));
        if (readExif) out[out.size() - segment.payload.size() + 5] = 0;
    }
    out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(layout.scans),
               jpeg.begin() + static_cast<std::ptrdiff_t>(layout.end));
    return out;
}

// What exiv2 writes of the file with its location erased; on a file it
// cannot read, write or tell, an exception. `orientation` (when not
// Upright) is written into EXIF, for a JPEG whose EXIF block was left out.
std::vector<std::uint8_t> RewrittenWithoutLocation(Bytes bytes, Orientation orientation) {
    const auto image = OpenExiv2Image(bytes);
    if (image.get() == nullptr) throw Exiv2::Error(Exiv2::kerFileContainsUnknownImageType);
    image->readMetadata();
    EraseLocation(image->exifData(), image->iptcData(), image->xmpData());
    if (orientation != Orientation::Upright) {
        image->exifData()["Exif.Image.Orientation"] =
            static_cast<std::uint16_t>(static_cast<int>(orientation));
    }
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    if (io.open() != 0) throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed);
    Exiv2::IoCloser closer(io);
    const auto size = static_cast<std::size_t>(io.size());
    std::vector<std::uint8_t> written(size);
    if (size > 0 &&
        static_cast<std::size_t>(io.read(written.data(), static_cast<long>(size))) != size) {
        throw Exiv2::Error(Exiv2::kerFailedToReadImageData);
    }
    return written;
}

// Whether a JPEG's segments before its first scan, each EXIF, XMP and IPTC
// one that exiv2 can read (not only those it would pick), or what follows
// its end, hold or may hold a location.
bool JpegCarriesLocation(Bytes jpeg) {
    JpegLayout layout;
    if (!LayOutJpeg(jpeg, layout)) return true;
    if (layout.end < jpeg.size()) return true;
    for (const JpegSegment& segment : layout.head) {
        if (IsHiddenMetadataSegment(segment)) return true;
        if (!IsExifSegment(segment)) continue;
        Exiv2Metadata metadata;
        if (segment.payload.size() < 6) continue;
        const Bytes tiff = segment.payload.subspan(6);
        if (!DecodeExif(tiff, metadata.exif, metadata.order)) {
            // One that browsers read may still give them an orientation, so
            // it counts as unreadable; others are only a block of bytes.
            if (ExifTiffData(jpeg).data() == tiff.data()) return true;
            continue;
        }
        if (HasLocation(metadata)) return true;
    }
    // Every EXIF block is told above; XMP and IPTC as exiv2 reads them.
    Exiv2Metadata metadata;
    ReadJpegXmpAndIptc(jpeg, metadata);
    return metadata.unreadable || HasLocation(metadata);
}

// The metadata items of a HEIF file as libheif lists them, beside exiv2's own
// reading below: exiv2 0.27 misses the items of some files (those with an
// image held in an idat box), and a location it misses must not be published.
bool HeifItemsCarryLocation(Bytes bytes) {
    try {
        const HeifMetadata items = ReadHeifMetadata(bytes);
        if (!items.readable) return true;
        for (const std::vector<std::uint8_t>& block : items.exif) {
            Exiv2::ExifData exif;
            Exiv2::ByteOrder order = Exiv2::invalidByteOrder;
            if (!DecodeExif(block, exif, order)) return true;
            for (const Exiv2::Exifdatum& datum : exif) {
                if (IsLocation(datum)) return true;
            }
        }
        for (const std::vector<std::uint8_t>& block : items.xmp) {
            Exiv2::XmpData xmp;
            const std::string packet(block.begin(), block.end());
            if (Exiv2::XmpParser::decode(xmp, packet) != 0) return true;
            for (const Exiv2::Xmpdatum& datum : xmp) {
                if (IsLocation(datum)) return true;
            }
        }
        return false;
    } catch (const std::exception&) {
        return true;
    }
}

bool CarriesLocationIn(Bytes bytes) {
    switch (FormatOfContent(bytes)) {
        case PictureFormat::Bitmap:
            return !BitmapHoldsOnlyPicture(bytes);
        case PictureFormat::Gif: {
            // exiv2 reads no GIF metadata; XMP stands in an application
            // extension of this name.
            static constexpr std::string_view kXmp = "XMP DataXMP";
            return std::search(bytes.begin(), bytes.end(), kXmp.begin(), kXmp.end()) != bytes.end();
        }
        case PictureFormat::Jpeg:
            return JpegCarriesLocation(bytes);
        case PictureFormat::Heif:
            if (HeifItemsCarryLocation(bytes)) return true;
            break;
        case PictureFormat::Png:
        case PictureFormat::WebP:
        case PictureFormat::Unknown:
            break;
    }
    try {
        const auto image = OpenExiv2Image(bytes);
        if (image.get() == nullptr) return true;
        image->readMetadata();
        Exiv2Metadata metadata;
        metadata.exif = image->exifData();
        metadata.iptc = image->iptcData();
        metadata.xmp = image->xmpData();
        Exiv2::XmpData again;
        if (metadata.xmp.empty() && !image->xmpPacket().empty() &&
            Exiv2::XmpParser::decode(again, image->xmpPacket()) != 0) {
            return true;
        }
        return HasLocation(metadata);
    } catch (const std::exception&) {
        return true;
    }
}

// A file can be as long as this: the copy is made in memory.
constexpr std::size_t kLongestFile = std::size_t{1} << 30;

}  // namespace

bool IsLocation(const Exiv2::Exifdatum& datum) {
    // The GPS directory, its pointer (in IFD0, or wherever a writer put it)
    // and any tag of another directory named after GPS.
    return datum.groupName() == "GPSInfo" || datum.tag() == 0x8825 ||
           ContainsLetters(datum.tagName(), "GPS");
}

bool IsLocation(const Exiv2::Iptcdatum& datum) {
    if (datum.record() != Exiv2::IptcDataSets::application2) return false;
    switch (datum.tag()) {
        case Exiv2::IptcDataSets::LocationCode:
        case Exiv2::IptcDataSets::LocationName:
        case Exiv2::IptcDataSets::City:
        case Exiv2::IptcDataSets::SubLocation:
        case Exiv2::IptcDataSets::ProvinceState:
        case Exiv2::IptcDataSets::CountryCode:
        case Exiv2::IptcDataSets::CountryName:
            return true;
        default:
            return false;
    }
}

bool IsLocation(const Exiv2::Xmpdatum& datum) {
    // The key is "Xmp.prefix.path", the path of a property and the fields,
    // items and qualifiers below it ("LocationShown[1]/Iptc4xmpExt:City").
    const std::string key = datum.key();
    if (ContainsLetters(key, "GPS")) return true;
    const std::size_t prefixEnd = key.find('.', 4);
    if (prefixEnd == std::string::npos) return false;
    const std::string_view path = std::string_view(key).substr(prefixEnd + 1);
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find_first_of("/[", at);
        if (end == std::string_view::npos) end = path.size();
        std::string_view name = path.substr(at, end - at);
        if (const std::size_t colon = name.find(':'); colon != std::string_view::npos) {
            name.remove_prefix(colon + 1);
        }
        if (name.starts_with('?')) name.remove_prefix(1);
        if (IsPlaceName(name)) return true;
        const std::size_t next = path.find('/', end);
        if (next == std::string_view::npos) break;
        at = next + 1;
    }
    return false;
}

bool HasLocation(const Exiv2Metadata& metadata) {
    const auto isLocation = [](const auto& datum) { return IsLocation(datum); };
    return std::any_of(metadata.exif.begin(), metadata.exif.end(), isLocation) ||
           std::any_of(metadata.iptc.begin(), metadata.iptc.end(), isLocation) ||
           std::any_of(metadata.xmp.begin(), metadata.xmp.end(), isLocation);
}

void EraseLocation(Exiv2::ExifData& exif, Exiv2::IptcData& iptc, Exiv2::XmpData& xmp) {
    for (auto at = exif.begin(); at != exif.end();)
        at = IsLocation(*at) ? exif.erase(at) : std::next(at);
    for (auto at = iptc.begin(); at != iptc.end();)
        at = IsLocation(*at) ? iptc.erase(at) : std::next(at);
    for (auto at = xmp.begin(); at != xmp.end();)
        at = IsLocation(*at) ? xmp.erase(at) : std::next(at);
}

std::vector<std::uint8_t> CopyWithoutLocation(Bytes bytes, const std::string& path) {
    const PictureFormat format = FormatOfContent(bytes);
    if (format == PictureFormat::Bitmap) {
        if (!BitmapHoldsOnlyPicture(bytes)) throw CannotRemoveLocation(path);
        return {bytes.begin(), bytes.end()};
    }
    // Read (under a session of its own) before this one's session begins.
    const Orientation orientation =
        format == PictureFormat::Jpeg ? ReadExifOrientation(bytes) : Orientation::Upright;
    Exiv2Session session;
    std::vector<std::uint8_t> copy;
    JpegLayout layout;
    if (format == PictureFormat::Jpeg) {
        if (!LayOutJpeg(bytes, layout) || layout.scans == layout.end) {
            throw Fault::InvalidPicture(path);
        }
        // A file with nothing to remove is published as it is (what the
        // copy would be checked by, told of the file itself), unless its
        // EXIF points to a GPS directory: then the copy is made at once.
        if (!ReadFirstDirectory(ExifTiffData(bytes)).pointsToGps && !JpegCarriesLocation(bytes)) {
            return {bytes.begin(), bytes.end()};
        }
        try {
            copy = RewrittenWithoutLocation(JpegForRewriting(bytes, layout, true),
                                            Orientation::Upright);
        } catch (const std::exception&) {
            // An EXIF block that exiv2 cannot read: the copy goes without
            // it, keeping the orientation that decoding reads from it.
            try {
                copy =
                    RewrittenWithoutLocation(JpegForRewriting(bytes, layout, false), orientation);
            } catch (const std::exception&) {
                throw CannotRemoveLocation(path);
            }
        }
        // The frame and the scans must have come through as they were.
        JpegLayout written;
        if (!LayOutJpeg(copy, written) ||
            written.end - written.scans != layout.end - layout.scans ||
            !std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(layout.scans),
                        bytes.begin() + static_cast<std::ptrdiff_t>(layout.end),
                        copy.begin() + static_cast<std::ptrdiff_t>(written.scans))) {
            throw CannotRemoveLocation(path);
        }
    } else if (format == PictureFormat::Gif) {
        copy = GifWithoutMetadata(bytes, path);
    } else if (format == PictureFormat::Heif) {
        // exiv2 0.27 does not write HEIF: a file without a location is
        // copied as it is, one with a location cannot be published.
        if (CarriesLocationIn(bytes)) throw CannotRemoveLocation(path);
        return {bytes.begin(), bytes.end()};
    } else {
        // PNG and WebP by exiv2's class for each; anything else is no
        // picture of ours.
        if (format == PictureFormat::Unknown) throw Fault::InvalidPicture(path);
        try {
            copy = RewrittenWithoutLocation(bytes, Orientation::Upright);
        } catch (const std::exception&) {
            throw CannotRemoveLocation(path);
        }
    }
    if (CarriesLocationIn(copy)) throw CannotRemoveLocation(path);
    return copy;
}

bool CarriesLocation(Bytes bytes) {
    Exiv2Session session;
    return CarriesLocationIn(bytes);
}

}  // namespace detail

std::vector<std::uint8_t> CopyWithoutLocation(const std::string& path) {
    try {
        const std::vector<std::uint8_t> bytes = ReadFileStart(path, detail::kLongestFile);
        // Never a copy of the file's first gigabyte alone.
        if (bytes.size() == detail::kLongestFile) throw Fault("Cannot remove the location", path);
        return detail::CopyWithoutLocation(bytes, path);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

bool CarriesLocation(const std::string& path) {
    try {
        const std::vector<std::uint8_t> bytes = ReadFileStart(path, detail::kLongestFile);
        return detail::CarriesLocation(bytes);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

}  // namespace fotolane::picture
