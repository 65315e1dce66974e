// A picture's metadata as photographers expect to read it, and copies
// without location: test pictures given metadata by exiv2, read back by the
// library and by exiv2.

#include <gtest/gtest.h>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "decoding/PictureDecoder.h"
#include "decoding/PictureMetadata.h"
#include "decoding/metadata/Exif.h"
#include "decoding/metadata/Exiv2Session.h"
#include "tests/TempFolder.h"
#include "tests/TestSupport.h"
#include "tests/decoding/decoder_support.h"

namespace fotolane::picture {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::TestData;

struct Tags {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
};

// A copy of a test picture named `name` in `folder`, its metadata replaced
// by what `fill` sets (exiv2 writes it).
std::string WithMetadata(const TempFolder& folder, const std::string& name,
                         const std::string& picture, const std::function<void(Tags&)>& fill) {
    folder.Write(name, ReadFile(TestData(picture)));
    const std::string path = folder / name;
    detail::Exiv2Session session;
    const auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    Tags tags;
    fill(tags);
    image->setExifData(tags.exif);
    image->setIptcData(tags.iptc);
    image->setXmpData(tags.xmp);
    image->writeMetadata();
    return path;
}

// EXIF's UserComment as its bytes: a character set's eight, then the text.
Exiv2::DataValue Comment(const std::string& bytes) {
    Exiv2::DataValue value(Exiv2::undefined);
    value.read(reinterpret_cast<const Exiv2::byte*>(bytes.data()), static_cast<long>(bytes.size()));
    return value;
}

void LangAlt(Exiv2::XmpData& xmp, const char* key, const std::string& text,
             const std::string& language = "x-default") {
    Exiv2::LangAltValue value;
    value.read("lang=" + language + " " + text);
    xmp.add(Exiv2::XmpKey(key), &value);
}

TEST(ReadPictureMetadata, GivesWhatTheFileHoldsInShowableForm) {
    struct Case {
        const char* name;
        std::function<void(Tags&)> fill;
        PictureMetadata expected;
    };
    const std::string longName(30000, 'x');
    std::string longCaption;
    for (int i = 0; i < 3000; ++i) longCaption += "\xC3\xA9";  // é, two bytes
    // 64 KiB of Latin-1 text with controls in it, of which 2,000 bytes stay.
    std::string hugeCaption, hugeShown;
    while (hugeCaption.size() < 65536) hugeCaption += "ab\x01\xE9\t";
    for (int i = 0; i < 400; ++i) hugeShown += i == 0 ? "ab\xC3\xA9" : " ab\xC3\xA9";  // 1,999
    const std::vector<Case> cases = {
        {"everything",
         [](Tags& t) {
             t.exif["Exif.Image.Make"] = "Canon";
             t.exif["Exif.Image.Model"] = "Canon EOS 5D";
             t.exif["Exif.Photo.LensModel"] = "EF24-70mm f/2.8L USM";
             t.exif["Exif.Photo.DateTimeOriginal"] = "2004:06:12 14:03:05";
             t.exif["Exif.Photo.OffsetTimeOriginal"] = "+02:00";
             t.exif["Exif.Photo.FocalLength"] = Exiv2::URational(35, 1);
             t.exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
             t.exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
             t.exif["Exif.Photo.ISOSpeedRatings"] = std::uint16_t{400};
             t.exif["Exif.Image.ImageDescription"] = "From EXIF";
             t.iptc["Iptc.Application2.Caption"] = "From IPTC";
             LangAlt(t.xmp, "Xmp.dc.description", "From the description");
             LangAlt(t.xmp, "Xmp.dc.title", "Harbour at dawn");
         },
         {"2004-06-12T14:03:05", "+02:00", "Harbour at dawn", "Canon EOS 5D",
          "EF24-70mm f/2.8L USM", "35 mm", "f/2.8", "1/250 s", "ISO 400"}},
        {"the make once, long exposures, high ISO",
         [](Tags& t) {
             t.exif["Exif.Image.Make"] = "NIKON CORPORATION";
             t.exif["Exif.Image.Model"] = "NIKON D750";
             t.exif["Exif.Photo.FocalLength"] = Exiv2::URational(43, 10);
             t.exif["Exif.Photo.FNumber"] = Exiv2::URational(8, 1);
             t.exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 2);
             t.exif["Exif.Photo.ISOSpeedRatings"] = std::uint16_t{65535};
             t.exif["Exif.Photo.RecommendedExposureIndex"] = std::uint32_t{102400};
             t.iptc["Iptc.Application2.Headline"] = "Headline";
         },
         {"", "", "Headline", "NIKON D750", "", "4.3 mm", "f/8", "0.5 s", "ISO 102400"}},
        {"APEX values when the plain ones are missing, seconds",
         [](Tags& t) {
             t.exif["Exif.Image.Make"] = "Pentax";
             t.exif["Exif.Image.Model"] = "K-1";
             t.exif["Exif.Photo.ApertureValue"] = Exiv2::URational(3, 1);      // f/2.8
             t.exif["Exif.Photo.ShutterSpeedValue"] = Exiv2::Rational(-1, 1);  // 2 s
         },
         {"", "", "", "Pentax K-1", "", "", "f/2.8", "2 s", ""}},
        {"values that lie",
         [longName](Tags& t) {
             t.exif["Exif.Image.Make"] = longName;
             t.exif["Exif.Photo.DateTimeOriginal"] = "2004:13:12 14:03:05";
             t.exif["Exif.Photo.OffsetTimeOriginal"] = "+02:00";
             t.exif["Exif.Photo.FocalLength"] = Exiv2::URational(35, 0);
             t.exif["Exif.Photo.FNumber"] = Exiv2::URational(0, 1);
             t.exif["Exif.Photo.ExposureTime"] = Exiv2::URational(0, 0);
             t.exif["Exif.Photo.ISOSpeedRatings"] = std::uint16_t{0};
             t.exif["Exif.Photo.LensModel"] = "(65535)";
             t.exif["Exif.Image.ImageDescription"] = "OLYMPUS DIGITAL CAMERA    ";
             t.exif["Exif.Photo.UserComment"] = Comment(std::string("UNICODE\0\x41\0\0\xD8", 12));
             // Windows' titles in UTF-16, of an odd length and a lone surrogate.
             t.exif["Exif.Image.XPTitle"].setValue("65 0 0 216 66");
             t.exif["Exif.Image.XPComment"].setValue("0 220");
         },
         {"", "", "", std::string(200, 'x'), "", "", "", "", ""}},
        {"dates that are none",
         [](Tags& t) { t.exif["Exif.Photo.DateTimeOriginal"] = "2001:02:29 12:00:00"; },
         {}},
        {"IPTC in UTF-8, controls and line breaks",
         [](Tags& t) {
             t.iptc["Iptc.Envelope.CharacterSet"] = "\x1B%G";
             t.iptc["Iptc.Application2.Caption"] = "Caf\xC3\xA9\r\nat\tnight\x01 \x7F";
             t.exif["Exif.Photo.DateTimeOriginal"] = "2000:02:29 23:59:59";
         },
         {"2000-02-29T23:59:59", "", "Caf\xC3\xA9 at night", "", "", "", "", "", ""}},
        {"the caption's precedence: XMP's description before IPTC and EXIF",
         [](Tags& t) {
             LangAlt(t.xmp, "Xmp.dc.description", "Description");
             t.iptc["Iptc.Application2.Caption"] = "Caption-Abstract";
             t.iptc["Iptc.Application2.Headline"] = "Headline";
             t.exif["Exif.Image.ImageDescription"] = "ImageDescription";
         },
         {"", "", "Description", "", "", "", "", "", ""}},
        {"IPTC's Caption-Abstract before its Headline",
         [](Tags& t) {
             t.iptc["Iptc.Application2.Headline"] = "Headline";
             t.iptc["Iptc.Application2.Caption"] = "Caption-Abstract";
             t.exif["Exif.Image.ImageDescription"] = "ImageDescription";
         },
         {"", "", "Caption-Abstract", "", "", "", "", "", ""}},
        {"EXIF's ImageDescription before IPTC's Object Name and the UserComment",
         [](Tags& t) {
             t.iptc["Iptc.Application2.ObjectName"] = "IMG_0001";
             t.exif["Exif.Image.ImageDescription"] = "ImageDescription";
             t.exif["Exif.Photo.UserComment"] = Comment(std::string("ASCII\0\0\0Comment", 15));
         },
         {"", "", "ImageDescription", "", "", "", "", "", ""}},
        {"a language alternative without a default: its first language; blank titles are none",
         [](Tags& t) {
             LangAlt(t.xmp, "Xmp.dc.title", " \t ");
             LangAlt(t.xmp, "Xmp.dc.description", "Hafen", "de-DE");
         },
         {"", "", "Hafen", "", "", "", "", "", ""}},
        {"64 KiB of IPTC text without a character set",
         [hugeCaption](Tags& t) { t.iptc["Iptc.Application2.Caption"] = hugeCaption; },
         {"", "", hugeShown, "", "", "", "", "", ""}},
        {"IPTC of no character set, in Latin-1",
         [](Tags& t) { t.iptc["Iptc.Application2.ObjectName"] = "Caf\xE9"; },
         {"", "", "Caf\xC3\xA9", "", "", "", "", "", ""}},
        {"a caption cut at a character",
         [longCaption](Tags& t) { t.exif["Exif.Image.ImageDescription"] = longCaption; },
         {"", "", longCaption.substr(0, 2000), "", "", "", "", "", ""}},
        {"a UserComment in UTF-16",
         [](Tags& t) {
             t.exif["Exif.Image.Make"] = "Olympus";
             t.exif["Exif.Photo.UserComment"] =
                 Comment(std::string("UNICODE\0\xFF\xFEH\0i\0!\0", 16));
         },
         {"", "", "Hi!", "Olympus", "", "", "", "", ""}},
        {"the camera's name is no caption",
         [](Tags& t) {
             t.exif["Exif.Image.Model"] = "PowerShot";
             t.exif["Exif.Image.ImageDescription"] = "PowerShot";
         },
         {"", "", "", "PowerShot", "", "", "", "", ""}},
    };
    const TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PictureMetadata got =
            ReadPictureMetadata(WithMetadata(folder, "p.jpg", "pillow/jpeg/hopper.jpg", c.fill));
        const PictureMetadata& want = c.expected;
        EXPECT_EQ(got.dateTaken, want.dateTaken);
        EXPECT_EQ(got.dateOffset, want.dateOffset);
        EXPECT_EQ(got.caption, want.caption);
        EXPECT_EQ(got.camera, want.camera);
        EXPECT_EQ(got.lens, want.lens);
        EXPECT_EQ(got.focalLength, want.focalLength);
        EXPECT_EQ(got.aperture, want.aperture);
        EXPECT_EQ(got.exposure, want.exposure);
        EXPECT_EQ(got.iso, want.iso);
    }
}

// A JPEG's first segments holding an EXIF block whose first directory, at
// `start`, has `others` entries of no meaning here before its Orientation
// (if `orientation`): in either byte order.
std::vector<std::uint8_t> JpegWithFirstDirectory(std::uint32_t start, int others, int orientation,
                                                 bool bigEndian) {
    std::vector<std::uint8_t> tiff(start, 0);
    const auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
        if (tiff.size() < at + static_cast<std::size_t>(bytes)) {
            tiff.resize(at + static_cast<std::size_t>(bytes));
        }
        for (int i = 0; i < bytes; ++i) {
            tiff[at + static_cast<std::size_t>(bigEndian ? bytes - 1 - i : i)] =
                static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    tiff[0] = tiff[1] = bigEndian ? 'M' : 'I';
    put(2, 42, 2);
    put(4, start, 4);
    const int entries = others + (orientation != 0 ? 1 : 0);
    put(start, static_cast<std::uint32_t>(entries), 2);
    for (int e = 0; e < entries; ++e) {
        const std::size_t at = start + 2 + 12 * static_cast<std::size_t>(e);
        const bool last = orientation != 0 && e == others;
        put(at, last ? 0x0112u : 0x9100u + static_cast<std::uint32_t>(e), 2);  // SHORT, one of them
        put(at + 2, 3, 2);
        put(at + 4, 1, 4);
        put(at + 8, last ? static_cast<std::uint32_t>(orientation) : 1, 2);
    }
    put(start + 2 + 12 * static_cast<std::size_t>(entries), 0, 4);
    std::vector<std::uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE1};
    const std::size_t length = 2 + 6 + tiff.size();
    jpeg.push_back(static_cast<std::uint8_t>(length >> 8));
    jpeg.push_back(static_cast<std::uint8_t>(length & 0xFF));
    jpeg.insert(jpeg.end(), {'E', 'x', 'i', 'f', 0, 0});
    jpeg.insert(jpeg.end(), tiff.begin(), tiff.end());
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    return jpeg;
}

// The orientation is read from the block's first bytes unless its first
// directory goes on past them: then from the whole block.
TEST(ReadExifOrientation, ReadsAFirstDirectoryThatGoesOnPastTheFirstBytes) {
    struct Case {
        std::uint32_t start;
        int others;
        int orientation;
        bool bigEndian;
        detail::Orientation expected;
    };
    using enum detail::Orientation;
    const Case cases[] = {
        {8, 2, 6, false, QuarterTurnClockwise},            // within the first bytes
        {8, 30, 6, false, QuarterTurnClockwise},           // its entries go on past them
        {8, 30, 3, true, HalfTurn},                        // the same, big-endian
        {200, 10, 8, false, QuarterTurnCounterClockwise},  // its count within, entries past
        {300, 0, 5, true, MirroredAboutMainDiagonal},      // the directory starts past them
        {8, 30, 0, false, Upright},                        // none in the whole block
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "IFD0 at " << c.start << " after " << c.others);
        EXPECT_EQ(detail::ReadExifOrientation(
                      JpegWithFirstDirectory(c.start, c.others, c.orientation, c.bigEndian)),
                  c.expected);
    }
}

TEST(ReadPictureMetadata, ReadsCameraFilesOtherFormatsAndBlocks) {
    // A Canon's own file, its maker note read by exiv2.
    const PictureMetadata canon = ReadPictureMetadata(TestData("pillow/jpeg/flower.jpg"));
    EXPECT_EQ(canon.dateTaken, "2003-12-14T12:01:44");
    EXPECT_EQ(canon.camera, "Canon PowerShot S40");
    EXPECT_EQ(canon.exposure, "1/500 s");
    EXPECT_EQ(canon.iso, "ISO 100");  // in Canon's own fields alone
    // The same EXIF handed in as a block (a HEIF decoder's way).
    const std::string flower = ReadFile(TestData("pillow/jpeg/flower.jpg"));
    const auto at = flower.find(std::string("Exif\0\0", 6));
    ASSERT_NE(at, std::string::npos);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(flower.data()) + at;
    const PictureMetadata fromBlock = ReadPictureMetadata(MetadataBlocks{{bytes, 20000}, {}, {}});
    EXPECT_EQ(fromBlock.camera, canon.camera);
    EXPECT_EQ(fromBlock.aperture, canon.aperture);
    // A PNG, and files without metadata.
    const TempFolder folder;
    const std::string png = WithMetadata(folder, "p.png", "jpeg-decoder/reftest/rgb_250x167.png",
                                         [](Tags& t) { LangAlt(t.xmp, "Xmp.dc.title", "PNG"); });
    EXPECT_EQ(ReadPictureMetadata(png).caption, "PNG");
    EXPECT_EQ(ReadPictureMetadata(TestData("pillow/bmp/hopper.bmp")).camera, "");
    const std::string missing = folder / "missing.jpg";
    EXPECT_EQ(testing::FaultOf([&] { ReadPictureMetadata(missing); }),
              "File not found: " + missing);
}

// A little-endian EXIF block of a NEX-3N without EXIF's lens model: a
// maker note of Sony's form whose lens ID is 2, beside an enciphered
// 0x2010 array of 7,404 bytes.
std::string SonyExif() {
    std::string tiff;
    const auto put = [&tiff](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) tiff.push_back(static_cast<char>(value >> (8 * i)));
    };
    const auto entry = [&put](std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                              std::uint32_t value) {
        put(tag, 2);
        put(type, 2);
        put(count, 4);
        put(value, 4);
    };
    constexpr std::uint32_t kModel = 8 + 2 + 3 * 12 + 4;  // after IFD0
    constexpr std::uint32_t kExif = kModel + 8;
    constexpr std::uint32_t kNote = kExif + 2 + 2 * 12 + 4;
    constexpr std::uint32_t kArray = kNote + 12 + 2 + 2 * 12 + 4;
    constexpr std::uint32_t kArrayBytes = 7404;
    tiff = "II*";
    put(0, 1);
    put(8, 4);
    put(3, 2);
    entry(0x010F, 2, 4, 'S' | 'O' << 8 | 'N' << 16 | std::uint32_t{'Y'} << 24);  // the make
    entry(0x0110, 2, 7, kModel);
    entry(0x8769, 4, 1, kExif);
    put(0, 4);
    tiff.append("NEX-3N\0\0", 8);
    put(2, 2);
    entry(0x8827, 3, 1, 400);
    entry(0x927C, 7, kArray + kArrayBytes - kNote, kNote);
    put(0, 4);
    tiff.append("SONY DSC \0\0\0", 12);
    put(2, 2);
    entry(0x2010, 7, kArrayBytes, kArray);
    entry(0xB027, 4, 1, 2);
    put(0, 4);
    for (std::uint32_t i = 0; i < kArrayBytes; ++i) put(i * 7 % 251, 1);
    return tiff;
}

TEST(ReadPictureMetadata, ReadsTheLensOfASonyNoteWithoutItsArrays) {
    const std::string tiff = SonyExif();
    const std::span<const std::uint8_t> block(reinterpret_cast<const std::uint8_t*>(tiff.data()),
                                              tiff.size());
    Exiv2::ExifData whole;
    Exiv2::ExifData lighter;
    Exiv2::ByteOrder order = Exiv2::invalidByteOrder;
    ASSERT_TRUE(detail::DecodeExif(block, whole, order));
    const std::vector<std::uint8_t> copy = detail::WithMakerNoteArraysHidden(block);
    ASSERT_TRUE(detail::DecodeExif(copy, lighter, order));
    // The array is nearly all of exiv2's entries, and gives no lens.
    EXPECT_GT(whole.count(), 1000);
    EXPECT_LT(lighter.count(), 50);
    const auto lens = Exiv2::lensName(whole);
    ASSERT_NE(lens, whole.end());

    // The album reads a JPEG's EXIF so.
    const TempFolder folder;
    const std::string plain = ReadFile(TestData("pillow/jpeg/hopper.jpg"));
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    std::string jpeg = plain.substr(0, 2) + "\xFF\xE1";
    jpeg.push_back(static_cast<char>((payload.size() + 2) >> 8));
    jpeg.push_back(static_cast<char>((payload.size() + 2) & 0xFF));
    jpeg += payload + plain.substr(2);
    folder.Write("sony.jpg", jpeg);
    const PictureMetadata metadata = ReadPictureMetadata(folder / "sony.jpg");
    EXPECT_EQ(metadata.lens, lens->print(&whole));
    EXPECT_EQ(metadata.iso, "ISO 400");
}

// ---------------------------------------------------------------------------
// Copies without location

// A JPEG's frame and scans: from its first scan to its end.
std::string Scans(const std::string& jpeg) {
    const auto start = jpeg.find("\xFF\xDA");
    return jpeg.substr(start, jpeg.rfind("\xFF\xD9") + 2 - start);
}

void AddLocation(Tags& t) {
    t.exif["Exif.Image.Make"] = "Canon";
    t.exif["Exif.Image.Model"] = "Canon EOS 5D";
    t.exif["Exif.Image.Orientation"] = std::uint16_t{6};
    t.exif["Exif.Photo.DateTimeOriginal"] = "2004:06:12 14:03:05";
    t.exif["Exif.Photo.LensModel"] = "EF50mm f/1.8 II";
    t.exif["Exif.GPSInfo.GPSVersionID"] = "2 3 0 0";
    t.exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    t.exif["Exif.GPSInfo.GPSLatitude"] = "48/1 51/1 2404/100";
    t.iptc["Iptc.Application2.Caption"] = "Caption";
    t.iptc["Iptc.Application2.City"] = "Paris";
    t.iptc["Iptc.Application2.SubLocation"] = "Montmartre";
    t.iptc["Iptc.Application2.CountryName"] = "France";
    LangAlt(t.xmp, "Xmp.dc.title", "Title");
    t.xmp["Xmp.exif.GPSLatitude"] = "48,51.4N";
    t.xmp["Xmp.photoshop.City"] = "Paris";
    t.xmp["Xmp.iptc.Location"] = "Montmartre";
    t.xmp["Xmp.iptc.CountryCode"] = "FR";
    Exiv2::XmpTextValue bag("");
    bag.setXmpArrayType(Exiv2::XmpValue::xaBag);
    t.xmp.add(Exiv2::XmpKey("Xmp.iptcExt.LocationShown"), &bag);
    Exiv2::XmpTextValue place("");
    place.setXmpStruct();
    t.xmp.add(Exiv2::XmpKey("Xmp.iptcExt.LocationShown[1]"), &place);
    t.xmp["Xmp.iptcExt.LocationShown[1]/iptcExt:City"] = "Paris";
    t.xmp["Xmp.iptcExt.LocationShown[1]/iptcExt:CountryName"] = "France";
}

TEST(CopyWithoutLocation, RemovesEveryPlaceAndKeepsThePictureAndItsFacts) {
    const TempFolder folder;
    struct Case {
        const char* name;
        std::string path;
        bool located;
    };
    // A second EXIF segment (which browsers ignore) with GPS, and data
    // after the end of the picture.
    std::string twoExif =
        ReadFile(WithMetadata(folder, "b.jpg", "pillow/jpeg/hopper.jpg", AddLocation));
    const auto app1 = twoExif.find("\xFF\xE1");
    const std::size_t length = std::size_t{static_cast<unsigned char>(twoExif[app1 + 2])} << 8 |
                               std::size_t{static_cast<unsigned char>(twoExif[app1 + 3])};
    twoExif.insert(app1 + 2 + length, twoExif.substr(app1, 2 + length));
    folder.Write("two-exif.jpg", twoExif + "trailing Exif GPS");
    // An EXIF block that exiv2 cannot read (its first directory past its end).
    std::string damaged = ReadFile(TestData("pillow/jpeg/hopper.jpg"));
    damaged.insert(2, std::string("\xFF\xE1\x00\x10"
                                  "Exif\0\0MM\0\x2A\0\0\xFF\xFF",
                                  18));
    folder.Write("damaged.jpg", damaged);
    const std::vector<Case> cases = {
        {"located JPEG", WithMetadata(folder, "a.jpg", "pillow/jpeg/hopper.jpg", AddLocation),
         true},
        {"two EXIF segments, a trailer", folder / "two-exif.jpg", true},
        {"no metadata", TestData("pillow/jpeg/hopper.jpg"), false},
        {"camera details, no place",
         WithMetadata(folder, "c.jpg", "pillow/jpeg/hopper.jpg",
                      [](Tags& t) { t.exif["Exif.Image.Model"] = "Canon EOS 5D"; }),
         false},
        {"damaged EXIF", folder / "damaged.jpg", true},
        {"PNG", WithMetadata(folder, "a.png", "jpeg-decoder/reftest/rgb_250x167.png", AddLocation),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CarriesLocation(c.path), c.located);
        const std::vector<std::uint8_t> bytes = CopyWithoutLocation(c.path);
        const std::string copy(bytes.begin(), bytes.end());
        // With nothing to remove, the file as it is.
        if (!c.located) {
            EXPECT_EQ(copy, ReadFile(c.path));
        }
        const std::string name =
            std::string("copy-of-") + (c.path.ends_with(".png") ? "a.png" : "a.jpg");
        folder.Write(name, copy);
        EXPECT_FALSE(CarriesLocation(folder / name));
        {
            detail::Exiv2Session session;  // exiv2 directly, as the library calls it
            const auto image = Exiv2::ImageFactory::open(folder / name);
            image->readMetadata();
            for (const auto& datum : image->exifData())
                EXPECT_EQ(datum.key().find("GPS"), std::string::npos);
            for (const auto& datum : image->iptcData()) {
                EXPECT_EQ(datum.tag() == Exiv2::IptcDataSets::City ||
                              datum.tag() == Exiv2::IptcDataSets::SubLocation ||
                              datum.tag() == Exiv2::IptcDataSets::CountryName,
                          false);
            }
            for (const auto& datum : image->xmpData()) {
                EXPECT_TRUE(datum.key() == "Xmp.dc.title") << datum.key();
            }
            if (c.located && std::string(c.name) != "damaged EXIF") {
                const Exiv2::ExifData& exif = image->exifData();
                EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"))->toLong(), 6);
                EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Image.Model"))->toString(),
                          "Canon EOS 5D");
                EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Photo.LensModel"))->toString(),
                          "EF50mm f/1.8 II");
                EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal"))->toString(),
                          "2004:06:12 14:03:05");
            }
        }
        if (c.located && std::string(c.name) != "damaged EXIF") {
            EXPECT_EQ(ReadPictureMetadata(folder / name).caption, "Title");
        }
        if (c.path.ends_with(".png")) continue;
        const std::string original = ReadFile(c.path);
        EXPECT_EQ(Scans(copy), Scans(original.substr(0, original.rfind("\xFF\xD9") + 2)));
        EXPECT_EQ(copy.find("trailing"), std::string::npos);
        const testing::Rgb shown = testing::FromRows(DecodePicture(folder / name));
        EXPECT_EQ(shown.bytes, testing::FromRows(DecodePicture(c.path)).bytes);
    }
}

TEST(CopyWithoutLocation, CopiesBitmapsAndRefusesWhatItCannotClean) {
    const std::string bitmap = TestData("pillow/bmp/hopper.bmp");
    const std::vector<std::uint8_t> copy = CopyWithoutLocation(bitmap);
    EXPECT_EQ(std::string(copy.begin(), copy.end()), ReadFile(bitmap));
    const TempFolder folder;
    // XMP cut short: what the rest of the file holds is not known.
    std::string cut = ReadFile(TestData("image-gif/samples/2x2.gif"));
    cut.pop_back();  // the trailer
    folder.Write("xmp.gif", cut + "!\xFF\x0BXMP DataXMP<x:xmpmeta/>");
    EXPECT_TRUE(CarriesLocation(folder / "xmp.gif"));
    EXPECT_EQ(testing::FaultOf([&] { CopyWithoutLocation(folder / "xmp.gif"); }),
              "Cannot remove the location: " + folder / "xmp.gif");
    // Bitmaps have no place for metadata: bytes beyond the picture, after
    // it or between the colour table and the pixels, refuse the copy.
    const std::string hopper = ReadFile(bitmap);
    std::string gap = hopper;
    gap.insert(54, "<x:xmpmeta>GPS</x:xmpmeta>");
    gap[10] = static_cast<char>(gap[10] + 26);  // the pixels' offset, past the gap
    for (const auto& [name, bytes] : {std::pair{"after.bmp", hopper + "<x:xmpmeta>GPS</x:xmpmeta>"},
                                      std::pair{"gap.bmp", gap}}) {
        folder.Write(name, bytes);
        EXPECT_TRUE(CarriesLocation(folder / name)) << name;
        EXPECT_EQ(testing::FaultOf([&] { CopyWithoutLocation(folder / name); }),
                  "Cannot remove the location: " + folder / name);
    }
    folder.Write("padded.bmp", hopper + std::string(16, '\0'));
    EXPECT_FALSE(CarriesLocation(folder / "padded.bmp"));
    folder.Write("text.jpg", "not a picture");
    EXPECT_EQ(testing::FaultOf([&] { CopyWithoutLocation(folder / "text.jpg"); }),
              "Invalid picture: " + folder / "text.jpg");
}

// A GIF keeps its frames, loop and graphic controls byte for byte; its XMP
// (with a place) and comments go.
TEST(CopyWithoutLocation, LeavesAGifsMetadataOutAndItsAnimationIn) {
    const std::string animation = ReadFile(TestData("image-gif/samples/anim-gr.gif"));
    // XMP's packet stands raw in the sub-blocks, followed by the "magic
    // trailer" that makes any length byte land on the terminator.
    std::string xmp =
        "!\xFF\x0BXMP DataXMP<x:xmpmeta><exif:GPSLatitude>48,51.4N"
        "</exif:GPSLatitude></x:xmpmeta>\x01";
    for (int b = 0xFF; b >= 0; --b) xmp += static_cast<char>(b);
    xmp += '\0';
    const std::string comment = std::string("!\xFE\x0BNear Paris!") + '\0';
    const std::size_t afterTable = 13 + 6;  // the screen and two colours
    std::string located = animation;
    located.insert(afterTable, xmp + comment);
    located.insert(located.size() - 1, comment);
    const TempFolder folder;
    folder.Write("located.gif", located);
    EXPECT_TRUE(CarriesLocation(folder / "located.gif"));
    const std::vector<std::uint8_t> copy = CopyWithoutLocation(folder / "located.gif");
    EXPECT_EQ(std::string(copy.begin(), copy.end()), animation);
    // A file from another writer: its XMP goes, its two frames stay.
    const std::string beacon = TestData("image-gif/samples/beacon_xmp.gif");
    const std::vector<std::uint8_t> cleaned = CopyWithoutLocation(beacon);
    const std::string text(cleaned.begin(), cleaned.end());
    EXPECT_EQ(text.find("XMP DataXMP"), std::string::npos);
    EXPECT_EQ(text, ReadFile(TestData("image-gif/samples/beacon.gif")));
}

}  // namespace
}  // namespace fotolane::picture
