// What photographers expect to read of a picture: when it was taken, its
// caption and the camera's settings, from the metadata exiv2 reads.

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>

#include "decoding/PictureDecoding.h"
#include "decoding/heif/HeifDecoder.h"
#include "decoding/metadata/Exif.h"
#include "decoding/metadata/Exiv2Session.h"
#include "decoding/metadata/Metadata.h"
#include "platform/core/Fault.h"
#include "platform/core/Utf8.h"
#include "platform/files/FileSystem.h"

namespace fotolane::picture {
namespace detail {

namespace {

using Bytes = std::span<const std::uint8_t>;

bool PayloadStartsWith(const JpegSegment& segment, std::string_view start) {
    return segment.payload.size() >= start.size() &&
           std::memcmp(segment.payload.data(), start.data(), start.size()) == 0;
}

// ---------------------------------------------------------------------------
// Text

constexpr std::size_t kCaptionBytes = 2000;
constexpr std::size_t kNameBytes = 200;
// IPTC IIM 4.2 application record datasets (2:NN).
constexpr std::uint16_t kIptcObjectName = 5;
constexpr std::uint16_t kIptcHeadline = 105;
constexpr std::uint16_t kIptcCaption = 120;

// Text of no declared encoding (EXIF's "ASCII", IPTC without a character
// set): UTF-8 when it is valid UTF-8, as most programs write today, else the
// Windows code page of the Latin languages, else Latin-1 (which maps every
// byte).
std::string FromUnknownEncoding(std::string text) {
    if (IsWellFormedUtf8(text)) return text;
    std::string converted = text;
    if (Exiv2::convertStringCharset(converted, "CP1252", "UTF-8")) return converted;
    // Latin-1: each byte is the code point of its value.
    converted.clear();
    for (const char c : text) AppendUtf8(converted, static_cast<unsigned char>(c));
    return converted;
}

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
               return lower(x) == lower(y);
           });
}

bool StartsWithLetters(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && SameLetters(text.substr(0, start.size()), start);
}

// What cameras and programs write into the description fields by
// themselves.
bool IsPlaceholder(std::string_view caption) {
    static constexpr std::array<std::string_view, 10> kPlaceholders = {
        "OLYMPUS DIGITAL CAMERA",
        "SONY DSC",
        "DIGITAL CAMERA",
        "KODAK Digital Still Camera",
        "MINOLTA DIGITAL CAMERA",
        "SAMSUNG DIGITAL CAMERA",
        "DCIM",
        "Default",
        "Untitled",
        "Created with GIMP",
    };
    return std::any_of(kPlaceholders.begin(), kPlaceholders.end(),
                       [caption](std::string_view p) { return SameLetters(caption, p); });
}

// ---------------------------------------------------------------------------
// Reading fields

const Exiv2::Exifdatum* FindExif(const Exiv2::ExifData& exif, std::uint16_t tag,
                                 const char* group) {
    const auto found = exif.findKey(Exiv2::ExifKey(tag, group));
    return found == exif.end() || found->count() < 1 ? nullptr : &*found;
}

// An ASCII field of EXIF (the bytes up to the first null), in UTF-8.
std::string ExifText(const Exiv2::ExifData& exif, std::uint16_t tag, const char* group,
                     std::size_t most) {
    const Exiv2::Exifdatum* datum = FindExif(exif, tag, group);
    if (datum == nullptr || datum->typeId() != Exiv2::asciiString) return {};
    return OneLine(FromUnknownEncoding(datum->toString()), most);
}

// EXIF's UserComment: eight bytes that name its character set, then the
// text. Unicode is UTF-16 in the block's byte order (or after a byte order
// mark); text that is not well-formed UTF-16 is none.
std::string UserComment(const Exiv2::ExifData& exif, Exiv2::ByteOrder order) {
    const Exiv2::Exifdatum* datum = FindExif(exif, 0x9286, "Photo");
    if (datum == nullptr) return {};
    const auto* comment = dynamic_cast<const Exiv2::CommentValue*>(&datum->value());
    if (comment == nullptr || comment->value_.size() <= 8) return {};
    std::string text = comment->value_.substr(8);
    switch (comment->charsetId()) {
        case Exiv2::CommentValue::ascii:
        case Exiv2::CommentValue::undefined:
            text = FromUnknownEncoding(text.substr(0, text.find('\0')));
            break;
        case Exiv2::CommentValue::unicode: {
            const char* from = order == Exiv2::bigEndian ? "UTF-16BE" : "UTF-16LE";
            if (text.starts_with("\xFF\xFE")) from = "UTF-16LE", text.erase(0, 2);
            if (text.starts_with("\xFE\xFF")) from = "UTF-16BE", text.erase(0, 2);
            if (!Exiv2::convertStringCharset(text, from, "UTF-8")) return {};
            text = text.substr(0, text.find('\0'));
            break;
        }
        default:  // JIS, or no character set exiv2 knows
            return {};
    }
    return OneLine(text, kCaptionBytes);
}

// An XMP property as text: a language alternative's default (else its first
// language), or the value itself.
std::string XmpText(const Exiv2::XmpData& xmp, const char* key) {
    const auto found = xmp.findKey(Exiv2::XmpKey(key));
    if (found == xmp.end()) return {};
    std::string text;
    if (const auto* alternatives = dynamic_cast<const Exiv2::LangAltValue*>(&found->value())) {
        if (alternatives->value_.empty()) return {};
        const auto fallback = alternatives->value_.find("x-default");
        text = fallback != alternatives->value_.end() ? fallback->second
                                                      : alternatives->value_.begin()->second;
    } else if (found->typeId() == Exiv2::xmpText) {
        text = found->toString();
    }
    return OneLine(text, kCaptionBytes);
}

// An IPTC dataset as text, in the character set the block declares (its
// CodedCharacterSet: ESC % G is UTF-8), else as text of unknown encoding.
std::string IptcText(const Exiv2::IptcData& iptc, std::uint16_t dataset) {
    const auto found = iptc.findId(dataset, Exiv2::IptcDataSets::application2);
    if (found == iptc.end()) return {};
    const auto charset =
        iptc.findId(Exiv2::IptcDataSets::CharacterSet, Exiv2::IptcDataSets::envelope);
    const bool utf8 = charset != iptc.end() && charset->toString() == "\x1B%G";
    const std::string text = found->toString();
    return OneLine(utf8 ? text : FromUnknownEncoding(text), kCaptionBytes);
}

// The caption: the first of these that holds a text of the photographer's.
// Titles before descriptions (an album shows the one line a photographer
// gave the picture), XMP before IPTC before EXIF (programs that write
// several keep XMP the newest, and EXIF's fields are those that cameras
// fill by themselves): XMP dc:title, dc:description, IPTC Caption-Abstract,
// Headline, EXIF ImageDescription; then, as a last resort, IPTC Object Name
// (often a file or job name) and EXIF UserComment.
std::string CaptionOf(const Exiv2Metadata& metadata, std::string_view make, std::string_view model,
                      std::string_view camera) {
    const auto fitting = [&](const std::string& text) {
        return !text.empty() && !IsPlaceholder(text) && !SameLetters(text, make) &&
               !SameLetters(text, model) && !SameLetters(text, camera);
    };
    for (const char* key : {"Xmp.dc.title", "Xmp.dc.description"}) {
        std::string text = XmpText(metadata.xmp, key);
        if (fitting(text)) return text;
    }
    for (const std::uint16_t dataset : {kIptcCaption, kIptcHeadline}) {
        std::string text = IptcText(metadata.iptc, dataset);
        if (fitting(text)) return text;
    }
    std::string description = ExifText(metadata.exif, 0x010E, "Image", kCaptionBytes);
    if (fitting(description)) return description;
    std::string name = IptcText(metadata.iptc, kIptcObjectName);
    if (fitting(name)) return name;
    std::string comment = UserComment(metadata.exif, metadata.order);
    if (fitting(comment)) return comment;
    return {};
}

// Make and model, the make once: "Canon" and "Canon PowerShot S40", or
// "NIKON CORPORATION" and "NIKON D750", give the model alone.
std::string CameraOf(const std::string& make, const std::string& model) {
    if (model.empty()) return make;
    if (make.empty()) return model;
    const std::string_view firstWord = std::string_view(make).substr(0, make.find(' '));
    if (StartsWithLetters(model, make) || StartsWithLetters(model, firstWord)) return model;
    return OneLine(make + " " + model, kNameBytes);
}

// The lens: EXIF's LensModel, else the lens field of the maker's note as
// exiv2 names the lens (its number alone, "(65535)", "Unknown", or the
// "Manual lens" that it makes of Sony's code for any E-mount lens is none).
// Given `lensModelOnly`, the maker's note is not looked at: it is set false
// where it would have been.
std::string LensOf(const Exiv2::ExifData& exif, bool* lensModelOnly = nullptr) {
    const auto named = [](const std::string& text) {
        const bool hasLetter = std::any_of(text.begin(), text.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        });
        return hasLetter && !text.starts_with('(') && !StartsWithLetters(text, "unknown") &&
               !SameLetters(text, "n/a") && !SameLetters(text, "none") &&
               !SameLetters(text, "manual lens");
    };
    std::string model = ExifText(exif, 0xA434, "Photo", kNameBytes);
    if (named(model)) return model;
    if (lensModelOnly != nullptr) {
        *lensModelOnly = false;
        return {};
    }
    const auto found = Exiv2::lensName(exif);
    if (found == exif.end() || found->count() < 1 || found->tag() == 0xA434) return {};
    std::string lens = OneLine(FromUnknownEncoding(found->print(&exif)), kNameBytes);
    return named(lens) ? lens : std::string();
}

// A number of EXIF: the first value of a rational, or of an integer field,
// unless its denominator is 0.
std::optional<double> ExifNumber(const Exiv2::ExifData& exif, std::uint16_t tag,
                                 const char* group) {
    const Exiv2::Exifdatum* datum = FindExif(exif, tag, group);
    if (datum == nullptr) return std::nullopt;
    const Exiv2::Value& value = datum->value();
    if (const auto* u = dynamic_cast<const Exiv2::URationalValue*>(&value)) {
        if (u->value_.empty() || u->value_[0].second == 0) return std::nullopt;
        return static_cast<double>(u->value_[0].first) / u->value_[0].second;
    }
    if (const auto* s = dynamic_cast<const Exiv2::RationalValue*>(&value)) {
        if (s->value_.empty() || s->value_[0].second == 0) return std::nullopt;
        return static_cast<double>(s->value_[0].first) / s->value_[0].second;
    }
    switch (datum->typeId()) {
        case Exiv2::unsignedShort:
        case Exiv2::unsignedLong:
        case Exiv2::signedShort:
        case Exiv2::signedLong:
            return static_cast<double>(datum->toLong(0));
        default:
            return std::nullopt;
    }
}

// One decimal at most, none when it is 0: "2.8", "8", "0.5".
std::string Decimal(double value) {
    std::array<char, 32> digits{};
    const double tenths = std::round(value * 10.0) / 10.0;
    const auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), tenths,
                                            std::chars_format::fixed, 1);
    if (error != std::errc()) return {};
    std::string text(digits.data(), end);
    if (text.ends_with(".0")) text.resize(text.size() - 2);
    return text;
}

std::string Integer(double value) {
    return std::to_string(static_cast<long long>(std::llround(value)));
}

std::string FocalLengthOf(const Exiv2::ExifData& exif) {
    const std::optional<double> millimetres = ExifNumber(exif, 0x920A, "Photo");
    if (!millimetres || !(*millimetres > 0.0 && *millimetres <= 10000.0)) return {};
    return Decimal(*millimetres) + " mm";
}

// The f-number, else the aperture as APEX value (f = 2 ^ (Av / 2)).
std::string ApertureOf(const Exiv2::ExifData& exif) {
    std::optional<double> f = ExifNumber(exif, 0x829D, "Photo");
    if (!f || *f <= 0.0) {
        const std::optional<double> apex = ExifNumber(exif, 0x9202, "Photo");
        f.reset();
        if (apex && *apex >= -2.0 && *apex <= 32.0) f = std::exp2(*apex / 2.0);
    }
    if (!f || !(*f >= 0.5 && *f <= 1000.0)) return {};
    return "f/" + Decimal(*f);
}

// The exposure time, else the shutter speed as APEX value (t = 2 ^ -Tv):
// fractions of a second up to a quarter, decimals from there on.
std::string ExposureOf(const Exiv2::ExifData& exif) {
    std::optional<double> seconds = ExifNumber(exif, 0x829A, "Photo");
    if (!seconds || *seconds <= 0.0) {
        const std::optional<double> apex = ExifNumber(exif, 0x9201, "Photo");
        seconds.reset();
        if (apex && *apex >= -20.0 && *apex <= 30.0) seconds = std::exp2(-*apex);
    }
    if (!seconds || !(*seconds > 0.0 && *seconds <= 100000.0)) return {};
    if (*seconds <= 0.25 + 1e-9) return "1/" + Integer(1.0 / *seconds) + " s";
    return Decimal(*seconds) + " s";
}

// ISOSpeedRatings; 65535 there means "more", given by the sensitivity
// fields of EXIF 2.3 (RecommendedExposureIndex, ISOSpeed); else what the
// camera's maker note holds (Canon's, among others, keep it there alone),
// as exiv2 reads it out of the maker's own encoding. Given `standardOnly`,
// as LensOf's `lensModelOnly`.
std::string IsoOf(const Exiv2::ExifData& exif, bool* standardOnly = nullptr) {
    const std::optional<double> ratings = ExifNumber(exif, 0x8827, "Photo");
    if (ratings && *ratings >= 1.0 && *ratings < 65535.0) return "ISO " + Integer(*ratings);
    for (const std::uint16_t tag : {std::uint16_t{0x8832}, std::uint16_t{0x8833}}) {
        const std::optional<double> iso = ExifNumber(exif, tag, "Photo");
        if (iso && *iso >= 1.0 && *iso <= 10000000.0) return "ISO " + Integer(*iso);
    }
    if (standardOnly != nullptr) {
        *standardOnly = false;
        return {};
    }
    const auto maker = Exiv2::isoSpeed(exif);
    if (maker == exif.end()) return {};
    const std::string shown = maker->print(&exif);
    std::int64_t value = 0;
    for (const char c : shown) {
        if (c < '0' || c > '9' || value > 10000000) return {};
        value = value * 10 + (c - '0');
    }
    if (shown.empty() || value < 1 || value > 10000000) return {};
    return "ISO " + std::to_string(value);
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = 10 * value + (text[i] - '0');
    }
    return true;
}

// "YYYY:MM:DD HH:MM:SS" of a real date and time of the years 1 to 9999, as
// "YYYY-MM-DDTHH:MM:SS"; anything else (blanks of a camera without a clock,
// month 13, February 30) is none.
std::string CalendarDate(std::string_view text) {
    const std::string date = DateTakenFromExif(text);
    if (date.empty()) return {};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    Digits(date, 0, 4, year);
    Digits(date, 5, 2, month);
    Digits(date, 8, 2, day);
    Digits(date, 11, 2, hour);
    Digits(date, 14, 2, minute);
    Digits(date, 17, 2, second);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1 ||
        day > kDays[static_cast<std::size_t>(month - 1)] + (month == 2 && leap ? 1 : 0) ||
        hour > 23 || minute > 59 || second > 59) {
        return {};
    }
    return date;
}

// "+HH:MM" or "-HH:MM", within the offsets of the world's time zones.
std::string UtcOffset(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    int hours = 0, minutes = 0;
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':' ||
        !Digits(text, 1, 2, hours) || !Digits(text, 4, 2, minutes) || hours > 14 || minutes > 59) {
        return {};
    }
    return std::string(text);
}

PictureMetadata FieldsOfMetadata(const Exiv2Metadata& metadata) {
    PictureMetadata fields;
    const Exiv2::ExifData& exif = metadata.exif;
    if (const Exiv2::Exifdatum* date = FindExif(exif, 0x9003, "Photo");
        date != nullptr && date->typeId() == Exiv2::asciiString) {
        fields.dateTaken = CalendarDate(date->toString());
        const Exiv2::Exifdatum* offset = FindExif(exif, 0x9011, "Photo");
        if (!fields.dateTaken.empty() && offset != nullptr &&
            offset->typeId() == Exiv2::asciiString) {
            fields.dateOffset = UtcOffset(offset->toString());
        }
    }
    const std::string make = ExifText(exif, 0x010F, "Image", kNameBytes);
    const std::string model = ExifText(exif, 0x0110, "Image", kNameBytes);
    fields.camera = CameraOf(make, model);
    fields.caption = CaptionOf(metadata, make, model, fields.camera);
    fields.lens = LensOf(exif);
    fields.focalLength = FocalLengthOf(exif);
    fields.aperture = ApertureOf(exif);
    fields.exposure = ExposureOf(exif);
    fields.iso = IsoOf(exif);
    return fields;
}

// exiv2's own reading of a picture in memory, of the format its first bytes
// give (OpenExiv2Image).
void ReadWithExiv2(Bytes bytes, Exiv2Metadata& metadata) {
    const Exiv2Session session;
    try {
        const auto image = OpenExiv2Image(bytes);
        if (image.get() == nullptr) return;
        image->readMetadata();
        metadata.exif = image->exifData();
        metadata.order = image->byteOrder();
        metadata.iptc = image->iptcData();
        metadata.xmp = image->xmpData();
        // A packet that exiv2 could not decode (it then keeps no XMP).
        Exiv2::XmpData again;
        if (metadata.xmp.empty() && !image->xmpPacket().empty() &&
            Exiv2::XmpParser::decode(again, image->xmpPacket()) != 0) {
            metadata.unreadable = true;
        }
    } catch (const std::exception&) {
        metadata = Exiv2Metadata();
        metadata.unreadable = true;
    }
}

}  // namespace

void AddHeifItems(Bytes bytes, Exiv2Metadata& metadata) {
    if (!metadata.exif.empty() && !metadata.xmp.empty()) return;
    const HeifMetadata items = ReadHeifMetadata(bytes);
    if (metadata.exif.empty() && !items.exif.empty()) {
        DecodeExif(items.exif.front(), metadata.exif, metadata.order);
    }
    const Exiv2Session session;
    try {
        if (metadata.xmp.empty() && !items.xmp.empty()) {
            const std::string packet(items.xmp.front().begin(), items.xmp.front().end());
            if (Exiv2::XmpParser::decode(metadata.xmp, packet) != 0) metadata.xmp.clear();
        }
    } catch (const std::exception&) {
        metadata.xmp.clear();
    }
}

bool IsExifSegment(const JpegSegment& segment) {
    return segment.marker == kApp1 && PayloadStartsWith(segment, std::string_view("Exif\0", 5));
}

bool IsHiddenMetadataSegment(const JpegSegment& segment) {
    return (segment.marker == kApp1 &&
            PayloadStartsWith(segment,
                              std::string_view("http://ns.adobe.com/xmp/extension/\0", 35))) ||
           (segment.marker == kApp1 + 1 &&
            PayloadStartsWith(segment, std::string_view("MPF\0", 4)));
}

bool LayOutJpeg(Bytes jpeg, JpegLayout& layout) {
    layout = JpegLayout();
    if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    JpegSegment segment;
    std::size_t at = 2;
    for (;; at = segment.end) {
        segment.start = jpeg.size();
        if (!NextJpegSegment(jpeg, at, segment)) {
            // A file of segments alone, or one cut within a segment.
            if (segment.start < jpeg.size()) return false;
            layout.scans = layout.end = jpeg.size();
            return true;
        }
        if (segment.marker == kStartOfScan || segment.marker == kEndOfImage) break;
        layout.head.push_back(segment);
    }
    layout.scans = segment.start;
    layout.end = jpeg.size();
    while (segment.marker != kEndOfImage) {
        if (!NextJpegSegment(jpeg, segment.end, segment)) return true;
    }
    layout.end = segment.end;
    return true;
}

void ReadJpegExif(Bytes jpeg, Exiv2Metadata& metadata, bool makerNote) {
    metadata.exif.clear();
    metadata.order = Exiv2::invalidByteOrder;
    metadata.makerNoteHidden = false;
    const Bytes tiff = ExifTiffData(jpeg);
    if (tiff.empty()) return;
    if (!makerNote) {
        const std::vector<std::uint8_t> hidden = WithMakerNoteHidden(tiff);
        if (!hidden.empty() && DecodeExif(hidden, metadata.exif, metadata.order)) {
            metadata.makerNoteHidden = true;
            return;
        }
    }
    // With the maker note: without its arrays that no field reads, where it
    // has them.
    const std::vector<std::uint8_t> lighter = WithMakerNoteArraysHidden(tiff);
    if (!lighter.empty() && DecodeExif(lighter, metadata.exif, metadata.order)) return;
    if (!DecodeExif(tiff, metadata.exif, metadata.order)) metadata.unreadable = true;
}

void ReadJpegMetadata(Bytes jpeg, Exiv2Metadata& metadata, bool makerNote) {
    metadata = Exiv2Metadata();
    ReadJpegExif(jpeg, metadata, makerNote);
    ReadJpegXmpAndIptc(jpeg, metadata);
}

void ReadJpegXmpAndIptc(Bytes jpeg, Exiv2Metadata& metadata) {
    // XMP and IPTC (APP13) through exiv2's JPEG reader, handed the segments
    // before the first scan without those of EXIF, which exiv2 would decode
    // again (the first one it knows, which need not be the one browsers
    // read).
    JpegLayout layout;
    if (!LayOutJpeg(jpeg, layout)) {
        // Cut within a segment: those that are whole.
        layout.head.clear();
        JpegSegment segment;
        for (std::size_t at = 2; NextJpegSegment(jpeg, at, segment); at = segment.end) {
            if (segment.marker == kStartOfScan || segment.marker == kEndOfImage) break;
            layout.head.push_back(segment);
        }
    }
    std::vector<std::uint8_t> segments = {0xFF, 0xD8};
    for (const JpegSegment& segment : layout.head) {
        if (IsExifSegment(segment) || segment.payload.empty()) continue;
        segments.insert(segments.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(segment.start),
                        jpeg.begin() + static_cast<std::ptrdiff_t>(segment.end));
    }
    segments.insert(segments.end(), {0xFF, kEndOfImage});
    Exiv2Metadata others;
    ReadWithExiv2(segments, others);
    metadata.iptc = std::move(others.iptc);
    metadata.xmp = std::move(others.xmp);
    metadata.unreadable = metadata.unreadable || others.unreadable;
}

bool FieldsWantMakerNote(const Exiv2::ExifData& exif) {
    bool lensModel = true;
    bool standardIso = true;
    LensOf(exif, &lensModel);
    IsoOf(exif, &standardIso);
    return !lensModel || !standardIso;
}

PictureMetadata FieldsOf(const Exiv2Metadata& metadata) {
    // XMP keys are looked up in exiv2's namespace registry.
    std::optional<Exiv2Session> session;
    if (!metadata.xmp.empty()) session.emplace();
    try {
        return FieldsOfMetadata(metadata);
    } catch (const std::exception&) {
        // exiv2's conversions may throw on values of odd types.
        return {};
    }
}

}  // namespace detail

PictureMetadata ReadPictureMetadata(const std::string& path) {
    // A JPEG's metadata segments stand before its frame header; exiv2 reads
    // the other formats' chunks wherever they are.
    constexpr std::size_t kJpegPrefix = 256 * 1024;
    constexpr std::size_t kOtherPrefix = std::size_t{64} << 20;
    try {
        std::vector<std::uint8_t> bytes = ReadFileStart(path, kJpegPrefix);
        const detail::PictureFormat format = detail::FormatOfContent(bytes);
        if (format == detail::PictureFormat::Bitmap || format == detail::PictureFormat::Gif) {
            return {};
        }
        detail::Exiv2Metadata metadata;
        if (format == detail::PictureFormat::Jpeg) {
            // First without the maker note, which most files' fields need
            // not: the same fields at a fraction of the cost.
            detail::ReadJpegMetadata(bytes, metadata, false);
            if (metadata.makerNoteHidden && detail::FieldsWantMakerNote(metadata.exif)) {
                detail::ReadJpegExif(bytes, metadata, true);
            }
        } else {
            if (bytes.size() == kJpegPrefix) bytes = ReadFileStart(path, kOtherPrefix);
            detail::ReadWithExiv2(bytes, metadata);
            if (format == detail::PictureFormat::Heif) detail::AddHeifItems(bytes, metadata);
        }
        return detail::FieldsOf(metadata);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

PictureMetadata ReadPictureMetadata(const MetadataBlocks& blocks) {
    detail::Exiv2Metadata metadata;
    std::span<const std::uint8_t> tiff = blocks.exif;
    if (tiff.size() >= 6 && std::memcmp(tiff.data(), "Exif\0\0", 6) == 0) tiff = tiff.subspan(6);
    if (!tiff.empty()) detail::DecodeExif(tiff, metadata.exif, metadata.order);
    try {
        if (!blocks.xmp.empty()) {
            const detail::Exiv2Session session;
            const std::string packet(reinterpret_cast<const char*>(blocks.xmp.data()),
                                     blocks.xmp.size());
            if (Exiv2::XmpParser::decode(metadata.xmp, packet) != 0) metadata.xmp.clear();
        }
    } catch (const std::exception&) {
        metadata.xmp.clear();
    }
    try {
        if (!blocks.iptc.empty() &&
            Exiv2::IptcParser::decode(metadata.iptc, blocks.iptc.data(),
                                      static_cast<std::uint32_t>(blocks.iptc.size())) != 0) {
            metadata.iptc.clear();
        }
    } catch (const std::exception&) {
        metadata.iptc.clear();
    }
    return detail::FieldsOf(metadata);
}

}  // namespace fotolane::picture
