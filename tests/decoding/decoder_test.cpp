#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <unistd.h>
#include <QImage>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "decoder_support.h"
#include "decoding/PictureDecoder.h"
#include "decoding/metadata/Exif.h"
#include "platform/core/Fault.h"
#include "platform/files/FilesTesting.h"
#include "tests/TempFolder.h"
#include "tests/TestSupport.h"

namespace fotolane::picture {
namespace {

using testing::DecodeWithDjpeg;
using testing::FaultOf;
using testing::FromRows;
using testing::LoadWithQt;
using testing::ManifestEntry;
using testing::MaxDifference;
using testing::MeanDifference;
using testing::Oriented;
using testing::PaddingIsZero;
using testing::ReadFile;
using testing::ReadManifest;
using testing::Rgb;
using testing::SizeFromVariant;
using testing::TempFolder;
using testing::TestData;

// ---------------------------------------------------------------------------
// Helpers

bool HasExtension(const std::string& file, std::initializer_list<const char*> extensions) {
    const std::string extension = std::filesystem::path(file).extension().string();
    for (const char* e : extensions) {
        if (extension == e) return true;
    }
    return false;
}

bool IsPicture(const std::string& file) {
    return HasExtension(file, {".jpg", ".jpeg", ".bmp", ".gif"});
}

bool IsJpeg(const std::string& file) {
    return HasExtension(file, {".jpg", ".jpeg"});
}

std::string DecodeFault(const std::string& path) {
    return FaultOf([&] { DecodePicture(path); });
}

std::string SizeFault(const std::string& path) {
    return FaultOf([&] { ReadPictureSize(path); });
}

// What a sound decoder does with a file of the sets (see their manifests).
enum class Outcome { Decodes, Refused, Either };

struct Expectation {
    std::string set;
    std::function<Outcome(const ManifestEntry&)> outcome;
};

bool Under(const ManifestEntry& entry, const char* folder) {
    return entry.file.rfind(folder, 0) == 0;
}

// Runs the decoder on one file and checks the outcome; returns the decoded
// picture when there is one.
std::optional<PixelRows> CheckFile(const std::string& path, Outcome outcome,
                                   const std::optional<testing::ExpectedSize>& size) {
    std::optional<PixelRows> rows;
    try {
        rows = DecodePicture(path);
    } catch (const Fault& fault) {
        EXPECT_NE(outcome, Outcome::Decodes) << fault.Description();
        EXPECT_NE(std::string(fault.Description()).find(path), std::string::npos)
            << fault.Description();
        return std::nullopt;
    }
    EXPECT_NE(outcome, Outcome::Refused);
    EXPECT_TRUE(rows->bits);
    EXPECT_EQ(rows->stride, (3 * rows->width + 3) & ~3);
    EXPECT_TRUE(PaddingIsZero(*rows));
    if (outcome == Outcome::Decodes && size) {
        EXPECT_EQ(rows->width, size->width);
        EXPECT_EQ(rows->height, size->height);
    }
    // The header alone gives the same size.
    try {
        const PictureSize header = ReadPictureSize(path);
        EXPECT_EQ(header.width, rows->width);
        EXPECT_EQ(header.height, rows->height);
    } catch (const Fault& fault) {
        ADD_FAILURE() << "size refused of a decodable picture: " << fault.Description();
    }
    return rows;
}

void CheckSet(const Expectation& expectation) {
    const auto entries = ReadManifest(expectation.set);
    ASSERT_FALSE(entries.empty());
    int pictures = 0;
    for (const ManifestEntry& entry : entries) {
        // Reference renderings (PNG) are no picture of ours: refused too.
        const bool reference = HasExtension(entry.file, {".png"});
        if (!IsPicture(entry.file) && !reference) continue;
        SCOPED_TRACE(expectation.set + "/" + entry.file);
        const std::string path = TestData(expectation.set + "/" + entry.file);
        if (reference) {
            EXPECT_THROW(DecodePicture(path), Fault);
            continue;
        }
        ++pictures;
        CheckFile(path, expectation.outcome(entry), SizeFromVariant(entry.variant));
    }
    EXPECT_GT(pictures, 0);
}

// The EXIF orientation that the manifest read from the file's headers.
int OrientationInVariant(const std::string& variant) {
    const auto at = variant.find("Orientation=");
    return at == std::string::npos ? 1 : variant[at + 12] - '0';
}

PixelRows Decoded(const std::string& relative) {
    return DecodePicture(TestData(relative));
}

// ---------------------------------------------------------------------------
// Every file of every set: decodes to its size, or is refused with a fault
// that names it; never a crash (the sanitizer build watches memory).

TEST(DecodingTestData, BmpSuite) {
    CheckSet({"bmpsuite", [](const ManifestEntry& e) {
                  return Under(e, "g/") ? Outcome::Decodes : Outcome::Either;
              }});
}

TEST(DecodingTestData, ImageRs) {
    CheckSet({"image-rs", [](const ManifestEntry& e) {
                  // An RLE bitmap of 2554 x 18803 pixels whose 253 bytes end
                  // before its end mark: shown as far as it goes, as browsers show
                  // it (blank), in well under a second; refusing is as good.
                  if (e.file == "bad-bmp/Bad_unusual_extend_buffer_usage.bmp") {
                      return Outcome::Either;
                  }
                  return Under(e, "bad-") ? Outcome::Refused : Outcome::Decodes;
              }});
}

TEST(DecodingTestData, Pillow) {
    CheckSet({"pillow", [](const ManifestEntry& e) {
                  // A nonsense header, a frame far outside a tiny screen, a
                  // screen 0 pixels wide.
                  if (e.file == "bmp/l2rgb_read.bmp" || e.file == "gif/decompression_bomb.gif" ||
                      e.file == "gif/zero_width.gif") {
                      return Outcome::Refused;
                  }
                  return Outcome::Decodes;
              }});
}

TEST(DecodingTestData, ImageGif) {
    CheckSet({"image-gif", [](const ManifestEntry& e) {
                  return Under(e, "samples/") ? Outcome::Decodes : Outcome::Either;
              }});
}

TEST(DecodingTestData, JpegDecoder) {
    CheckSet({"jpeg-decoder", [](const ManifestEntry& e) {
                  if (Under(e, "lossless/")) return Outcome::Refused;
                  return Under(e, "crashtest/") ? Outcome::Either : Outcome::Decodes;
              }});
}

TEST(DecodingTestData, LibjpegTurbo) {
    CheckSet({"libjpeg-turbo-testimages", [](const ManifestEntry& e) {
                  // 12-bit samples: refused cleanly.
                  return e.file == "monkey12.jpg" ? Outcome::Refused : Outcome::Decodes;
              }});
}

TEST(DecodingTestData, ExifOrientationExamples) {
    CheckSet({"exif-orientation-examples", [](const ManifestEntry&) { return Outcome::Decodes; }});
}

TEST(DecodingTestData, RefusedJpegsAreInvalidPictures) {
    // Lossless and 12-bit JPEGs: libjpeg-turbo 2.1 decodes neither.
    for (const char* file :
         {"jpeg-decoder/lossless/jpeg_lossless_sel1.jpg", "libjpeg-turbo-testimages/monkey12.jpg",
          "image-rs/bad-jpg/oss-fuzz-36829.jpeg"}) {
        EXPECT_EQ(DecodeFault(TestData(file)), "Invalid picture: " + TestData(file));
    }
}

// ---------------------------------------------------------------------------
// Pixels against reference decodes.

// Which reference rendering of the suite shows each good file.
const std::map<std::string, std::string>& BmpSuiteReferences() {
    static const std::map<std::string, std::string> references = {
        {"pal1", "pal1"},           {"pal1bg", "pal1bg"},
        {"pal1wb", "pal1"},         {"pal4", "pal4"},
        {"pal4gs", "pal4gs"},       {"pal4rle", "pal4"},
        {"pal8-0", "pal8"},         {"pal8", "pal8"},
        {"pal8gs", "pal8gs"},       {"pal8nonsquare", "pal8nonsquare-e"},
        {"pal8os2", "pal8"},        {"pal8rle", "pal8"},
        {"pal8topdown", "pal8"},    {"pal8v4", "pal8"},
        {"pal8v5", "pal8"},         {"pal8w124", "pal8w124"},
        {"pal8w125", "pal8w125"},   {"pal8w126", "pal8w126"},
        {"rgb16-565", "rgb16-565"}, {"rgb16-565pal", "rgb16-565"},
        {"rgb16", "rgb16"},         {"rgb16bfdef", "rgb16"},
        {"rgb24", "rgb24"},         {"rgb24pal", "rgb24"},
        {"rgb32", "rgb24"},         {"rgb32bf", "rgb24"},
        {"rgb32bfdef", "rgb24"},
    };
    return references;
}

TEST(DecodingPixels, BmpSuiteGoodFilesMatchTheReferenceExactly) {
    int compared = 0;
    for (const ManifestEntry& entry : ReadManifest("bmpsuite")) {
        if (!Under(entry, "g/")) continue;
        SCOPED_TRACE(entry.file);
        const std::string name = std::filesystem::path(entry.file).stem().string();
        ASSERT_TRUE(BmpSuiteReferences().count(name)) << "no reference named for " << name;
        const auto reference =
            LoadWithQt(TestData("bmpsuite/reference/" + BmpSuiteReferences().at(name) + ".png"));
        ASSERT_TRUE(reference);
        const Rgb decoded = FromRows(Decoded("bmpsuite/" + entry.file));
        ASSERT_EQ(decoded.width, reference->width);
        ASSERT_EQ(decoded.height, reference->height);
        EXPECT_EQ(MaxDifference(decoded, *reference), 0);
        ++compared;
    }
    EXPECT_EQ(compared, 27);
    // Questionable files that browsers show as their reference: channels of
    // 1 to 18 bits, with and without alpha; run lengths that end early or
    // skip pixels, which keep colour 0 (the references named "-0").
    const std::pair<const char*, const char*> questionable[] = {
        {"pal1p1", "pal1p1"},
        {"rgb16-231", "rgb16-231"},
        {"rgb16-3103", "rgb16-3103"},
        {"rgb32-7187", "rgb32-7187"},
        {"rgba16-1924", "rgba16-1924"},
        {"rgba16-4444", "rgba16-4444"},
        {"rgba16-5551", "rgba16-5551"},
        {"rgba32-1010102", "rgba32-1010102"},
        {"rgba32-61754", "rgba32-61754"},
        {"rgba32-81284", "rgba32-81284"},
        {"pal4rlecut", "pal4rlecut-0"},
        {"pal8rlecut", "pal8rlecut-0"},
        {"pal4rletrns", "pal4rletrns-0"},
        {"pal8rletrns", "pal8rletrns-0"},
    };
    for (const auto& [file, png] : questionable) {
        SCOPED_TRACE(file);
        const auto reference =
            LoadWithQt(TestData(std::string("bmpsuite/reference/") + png + ".png"));
        ASSERT_TRUE(reference);
        const Rgb decoded = FromRows(Decoded(std::string("bmpsuite/q/") + file + ".bmp"));
        ASSERT_EQ(decoded.width, reference->width);
        ASSERT_EQ(decoded.height, reference->height);
        EXPECT_EQ(MaxDifference(decoded, *reference), 0);
    }
}

TEST(DecodingPixels, ImageRsBitmapsAndGifsMatchTheReferenceExactly) {
    int compared = 0;
    for (const ManifestEntry& entry : ReadManifest("image-rs")) {
        if (!(Under(entry, "bmp/") || Under(entry, "gif/"))) continue;
        const auto reference = LoadWithQt(TestData("image-rs/reference/" + entry.file + ".png"));
        if (!reference) continue;
        SCOPED_TRACE(entry.file);
        Rgb decoded = FromRows(Decoded("image-rs/" + entry.file));
        // The references crop a first frame that passes the screen, which
        // browsers widen to hold it: the screen's part is compared.
        if (entry.variant.find("frame exceeds screen") != std::string::npos) {
            ASSERT_GE(decoded.width, reference->width);
            ASSERT_GE(decoded.height, reference->height);
            Rgb screen{reference->width, reference->height, {}};
            for (std::int32_t y = 0; y < screen.height; ++y) {
                screen.bytes.insert(screen.bytes.end(), decoded.At(0, y),
                                    decoded.At(0, y) + 3 * screen.width);
            }
            decoded = screen;
        }
        ASSERT_EQ(decoded.width, reference->width);
        ASSERT_EQ(decoded.height, reference->height);
        EXPECT_EQ(MaxDifference(decoded, *reference), 0);
        ++compared;
    }
    EXPECT_GE(compared, 38);
}

// Every JPEG that decodes matches libjpeg-turbo's djpeg, run as a program of
// its own, once that decode is turned as its EXIF orientation says (with
// Qt's transformations). djpeg gives no RGB for CMYK files: those are
// checked below.
TEST(DecodingPixels, JpegsMatchDjpeg) {
    int compared = 0;
    for (const char* set : {"exif-orientation-examples", "image-rs", "jpeg-decoder",
                            "libjpeg-turbo-testimages", "pillow", "bmpsuite"}) {
        for (const ManifestEntry& entry : ReadManifest(set)) {
            if (!IsJpeg(entry.file) || entry.variant.find("CMYK") != std::string::npos ||
                entry.variant.find("YCCK") != std::string::npos) {
                continue;
            }
            const std::string path = TestData(std::string(set) + "/" + entry.file);
            SCOPED_TRACE(path);
            std::optional<PixelRows> rows;
            try {
                rows = DecodePicture(path);
            } catch (const Fault&) {
                // Refused: the outcome is checked by the tests above; djpeg
                // must refuse it as well.
                EXPECT_FALSE(DecodeWithDjpeg(path).has_value());
                continue;
            }
            const auto reference = DecodeWithDjpeg(path);
            if (!reference) continue;  // djpeg's stricter on a few fuzzed files
            const Rgb expected = Oriented(*reference, OrientationInVariant(entry.variant));
            const Rgb decoded = FromRows(*rows);
            ASSERT_EQ(decoded.width, expected.width);
            ASSERT_EQ(decoded.height, expected.height);
            EXPECT_LE(MaxDifference(decoded, expected), 1);
            ++compared;
        }
    }
    EXPECT_GE(compared, 60);
}

// Other programs' decodes (ImageMagick's, the image-rs library's) may
// upsample chroma and round a little differently: close, not equal.
TEST(DecodingPixels, JpegsMatchOtherLibrariesReferences) {
    const std::pair<const char*, const char*> pairs[] = {
        {"image-rs/jpg/progressive/3.jpg", "image-rs/reference/jpg/progressive/3.jpg.png"},
        {"image-rs/jpg/progressive/cat.jpg", "image-rs/reference/jpg/progressive/cat.jpg.png"},
        {"image-rs/jpg/progressive/test.jpg", "image-rs/reference/jpg/progressive/test.jpg.png"},
    };
    std::vector<std::pair<std::string, std::string>> all(std::begin(pairs), std::end(pairs));
    for (const ManifestEntry& entry : ReadManifest("jpeg-decoder")) {
        if (Under(entry, "reftest/") && IsJpeg(entry.file)) {
            const std::string png = entry.file.substr(0, entry.file.rfind('.')) + ".png";
            if (std::filesystem::exists(TestData("jpeg-decoder/" + png))) {
                all.emplace_back("jpeg-decoder/" + entry.file, "jpeg-decoder/" + png);
            }
        }
    }
    for (const auto& [jpeg, png] : all) {
        SCOPED_TRACE(jpeg);
        const auto reference = LoadWithQt(TestData(png));
        ASSERT_TRUE(reference);
        const Rgb decoded = FromRows(Decoded(jpeg));
        ASSERT_EQ(decoded.width, reference->width);
        ASSERT_EQ(decoded.height, reference->height);
        EXPECT_LE(MeanDifference(decoded, *reference), 3.0);
    }
}

// ---------------------------------------------------------------------------
// EXIF orientation

// A 3 x 2 picture whose pixels all differ: pixel (x, y) counted from the top
// left holds B = x, G = y, R = 10 * y + x.
PixelRows SmallPicture() {
    PixelRows rows = AllocatePixelRows(3, 2);
    for (std::int32_t y = 0; y < 2; ++y) {
        for (std::int32_t x = 0; x < 3; ++x) {
            std::uint8_t* pixel = rows.ScanLine(1 - y) + 3 * x;
            pixel[0] = static_cast<std::uint8_t>(x);
            pixel[1] = static_cast<std::uint8_t>(y);
            pixel[2] = static_cast<std::uint8_t>(10 * y + x);
        }
    }
    return rows;
}

TEST(DecodingOrientation, EachOfTheEightValuesTurnsAndMirrorsAsDefined) {
    // The shown picture as the R values of the stored pixels, rows from the
    // top; stored:  0  1  2
    //              10 11 12
    const std::map<int, std::vector<std::vector<int>>> shown = {
        {1, {{0, 1, 2}, {10, 11, 12}}},   {2, {{2, 1, 0}, {12, 11, 10}}},  // mirrored left to right
        {3, {{12, 11, 10}, {2, 1, 0}}},                                    // half a turn
        {4, {{10, 11, 12}, {0, 1, 2}}},                                    // mirrored top to bottom
        {5, {{0, 10}, {1, 11}, {2, 12}}},  // about the main diagonal
        {6, {{10, 0}, {11, 1}, {12, 2}}},  // a quarter turn clockwise
        {7, {{12, 2}, {11, 1}, {10, 0}}},  // about the other diagonal
        {8, {{2, 12}, {1, 11}, {0, 10}}},  // a quarter turn counter-clockwise
    };
    for (const auto& [orientation, expected] : shown) {
        SCOPED_TRACE(orientation);
        const PixelRows rows =
            detail::ApplyOrientation(SmallPicture(), detail::OrientationOfTag(orientation));
        const auto height = static_cast<std::int32_t>(expected.size());
        const auto width = static_cast<std::int32_t>(expected[0].size());
        ASSERT_EQ(rows.width, width);
        ASSERT_EQ(rows.height, height);
        EXPECT_EQ(rows.stride, (3 * width + 3) & ~3);
        EXPECT_TRUE(PaddingIsZero(rows));
        const PictureSize size =
            detail::OrientedSize({3, 2}, detail::OrientationOfTag(orientation));
        EXPECT_EQ(size.width, width);
        EXPECT_EQ(size.height, height);
        for (std::int32_t y = 0; y < height; ++y) {
            for (std::int32_t x = 0; x < width; ++x) {
                const std::uint8_t* pixel = rows.ScanLine(height - 1 - y) + 3 * x;
                const int r = expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
                EXPECT_EQ(pixel[2], r) << x << "," << y;
                EXPECT_EQ(pixel[1], r / 10) << x << "," << y;
                EXPECT_EQ(pixel[0], r % 10) << x << "," << y;
            }
        }
    }
    // Values outside 1 to 8 leave the picture as stored.
    for (const int value : {0, 9, -1}) {
        const PixelRows rows =
            detail::ApplyOrientation(SmallPicture(), detail::OrientationOfTag(value));
        EXPECT_EQ(rows.width, 3);
        EXPECT_EQ(FromRows(rows).bytes, FromRows(SmallPicture()).bytes);
    }
}

// Each example photo, once turned upright, shows the same picture as the
// one stored upright; each was encoded on its own, so they differ by JPEG
// noise only, far less than any wrong turn would make.
TEST(DecodingOrientation, ExamplePhotosComeOutUpright) {
    for (const char* kind : {"Landscape", "Portrait"}) {
        const std::string prefix = std::string("exif-orientation-examples/") + kind + "_";
        const Rgb upright = FromRows(Decoded(prefix + "1.jpg"));
        EXPECT_EQ(upright.width > upright.height, std::string(kind) == "Landscape");
        for (int orientation = 0; orientation <= 8; ++orientation) {
            SCOPED_TRACE(prefix + std::to_string(orientation));
            const std::string file = prefix + std::to_string(orientation) + ".jpg";
            const Rgb decoded = FromRows(Decoded(file));
            ASSERT_EQ(decoded.width, upright.width);
            ASSERT_EQ(decoded.height, upright.height);
            const PictureSize size = ReadPictureSize(TestData(file));
            EXPECT_EQ(size.width, upright.width);
            EXPECT_EQ(size.height, upright.height);
            EXPECT_LT(MeanDifference(decoded, upright), 4.0);
            // A wrong turn would be far off: the upright one mirrored is.
            EXPECT_GT(MeanDifference(Oriented(decoded, 2), upright), 20.0);
        }
    }
}

TEST(DecodingOrientation, SmallAndUnusualExifSegments) {
    // 2 x 1 stored, Orientation 8: shown 1 x 2.
    const PixelRows rectangle = Decoded("pillow/jpeg/orientation_rectangle.jpg");
    EXPECT_EQ(rectangle.width, 1);
    EXPECT_EQ(rectangle.height, 2);
    // Orientation 6 next to an empty GPS directory.
    const PictureSize gps = ReadPictureSize(TestData("pillow/jpeg/empty_gps_ifd.jpg"));
    EXPECT_EQ(gps.width, 10);
    EXPECT_EQ(gps.height, 10);
    // Unreadable or repeated EXIF segments: shown as stored, no fault.
    for (const char* file :
         {"pillow/jpeg/invalid-exif.jpg", "pillow/jpeg/multiple_exif.jpg",
          "pillow/jpeg/truncated_exif_dpi.jpg", "pillow/jpeg/hopper_bad_exif.jpg",
          "pillow/jpeg/exif-ifd-offset.jpg"}) {
        SCOPED_TRACE(file);
        EXPECT_NO_THROW(Decoded(file));
    }
    // Pillow's hopper in all eight orientations comes out as the plain one.
    const Rgb hopper = FromRows(Decoded("pillow/jpeg/hopper.jpg"));
    for (int orientation = 2; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const Rgb decoded = FromRows(
            Decoded("pillow/jpeg/hopper_orientation_" + std::to_string(orientation) + ".jpg"));
        ASSERT_EQ(decoded.width, hopper.width);
        EXPECT_LT(MeanDifference(decoded, hopper), 6.0);
    }
}

// ---------------------------------------------------------------------------
// Colour spaces and codings

// Adobe's inverted CMYK, written by TurboJPEG as YCCK: the test's own file
// with known inks.
std::string WriteAdobeCmykJpeg(const TempFolder& folder) {
    // Four 16 x 16 quarters: red, green, blue, mid grey; stored as Adobe
    // does, 255 - ink (so 255 is no ink at all).
    constexpr int kSize = 32;
    std::vector<std::uint8_t> inks(kSize * kSize * 4);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            std::uint8_t* p = &inks[static_cast<std::size_t>((y * kSize + x) * 4)];
            const int quarter = (y / 16) * 2 + x / 16;
            // C, M, Y, K inks of red, green, blue, grey.
            const int ink[4][4] = {
                {0, 255, 255, 0}, {255, 0, 255, 0}, {255, 255, 0, 0}, {0, 0, 0, 128}};
            for (int c = 0; c < 4; ++c) p[c] = static_cast<std::uint8_t>(255 - ink[quarter][c]);
        }
    }
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(handle, inks.data(), kSize, 0, kSize, TJPF_CMYK, &jpeg, &size,
                                   TJSAMP_444, 100, 0);
    tjDestroy(handle);
    const std::string path = folder / "inks.jpg";
    if (result == 0) folder.Write("inks.jpg", std::string(reinterpret_cast<char*>(jpeg), size));
    tjFree(jpeg);
    return path;
}

TEST(DecodingColour, AdobeCmykAndYcckBecomeRgb) {
    TempFolder folder;
    const Rgb inks = FromRows(DecodePicture(WriteAdobeCmykJpeg(folder)));
    ASSERT_EQ(inks.width, 32);
    const auto near = [&](int x, int y, int r, int g, int b) {
        const std::uint8_t* p = inks.At(x, y);
        EXPECT_NEAR(p[0], r, 3) << x << "," << y;
        EXPECT_NEAR(p[1], g, 3) << x << "," << y;
        EXPECT_NEAR(p[2], b, 3) << x << "," << y;
    };
    near(4, 4, 255, 0, 0);        // top left red
    near(28, 4, 0, 255, 0);       // top right green
    near(4, 28, 0, 0, 255);       // bottom left blue
    near(28, 28, 127, 127, 127);  // bottom right: half black ink

    // A real YCCK file shows the same picture as its YCbCr twin.
    const Rgb cmyk = FromRows(Decoded("pillow/jpeg/pil_sample_cmyk.jpg"));
    const Rgb rgb = FromRows(Decoded("pillow/jpeg/pil_sample_rgb.jpg"));
    ASSERT_EQ(cmyk.width, rgb.width);
    ASSERT_EQ(cmyk.height, rgb.height);
    EXPECT_LT(MeanDifference(cmyk, rgb), 12.0);
}

// Every sampling that a JPEG may have, made with cjpeg from a bitmap of the
// set, plus arithmetic coding and progressive scans made with jpegtran:
// each decodes as djpeg decodes it, at the bitmap's size.
TEST(DecodingColour, EverySamplingAndCodingDecodes) {
    TempFolder folder;
    const std::string source = TestData("libjpeg-turbo-testimages/vgl_6434_0018a.bmp");
    const auto bitmap = LoadWithQt(source);
    ASSERT_TRUE(bitmap);
    const std::vector<std::string> variants = {
        "cjpeg -sample 1x1",  "cjpeg -sample 2x1",
        "cjpeg -sample 1x2",  "cjpeg -sample 2x2",
        "cjpeg -sample 4x1",  "cjpeg -sample 1x4",
        "cjpeg -sample 4x2",  "cjpeg -sample 3x1",
        "cjpeg -sample 3x2",  "cjpeg -sample 2x2,2x1,1x1",
        "cjpeg -grayscale",   "cjpeg -restart 1",
        "cjpeg -progressive", "cjpeg -arithmetic",
        "cjpeg -rgb",         "cjpeg -arithmetic -progressive -sample 2x1",
    };
    for (std::size_t i = 0; i < variants.size(); ++i) {
        SCOPED_TRACE(variants[i]);
        const std::string path = folder / ("v" + std::to_string(i) + ".jpg");
        const std::string command = variants[i] + " -outfile '" + path + "' '" + source + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const Rgb decoded = FromRows(DecodePicture(path));
        ASSERT_EQ(decoded.width, bitmap->width);
        ASSERT_EQ(decoded.height, bitmap->height);
        const auto reference = DecodeWithDjpeg(path);
        ASSERT_TRUE(reference);
        EXPECT_LE(MaxDifference(decoded, *reference), 1);
        // And still the bitmap's picture: closer to it than the same
        // picture upside down, or with red and blue swapped.
        Rgb swapped = decoded;
        for (std::size_t p = 0; p < swapped.bytes.size(); p += 3) {
            std::swap(swapped.bytes[p], swapped.bytes[p + 2]);
        }
        const double difference = MeanDifference(decoded, *bitmap);
        EXPECT_LT(difference, variants[i] == "cjpeg -grayscale" ? 40.0 : 16.0);
        EXPECT_LT(2 * difference, MeanDifference(Oriented(decoded, 4), *bitmap));
        if (variants[i] != "cjpeg -grayscale") {
            EXPECT_LT(2 * difference, MeanDifference(swapped, *bitmap));
        }
        const PictureSize size = ReadPictureSize(path);
        EXPECT_EQ(size.width, bitmap->width);
        EXPECT_EQ(size.height, bitmap->height);
    }
}

// ---------------------------------------------------------------------------
// GIF

TEST(DecodingGif, FirstFrameWithTransparentPixelsOnWhite) {
    // Wherever Qt's own reading of the GIF is transparent, the picture is
    // white.
    const std::string path = TestData("pillow/gif/transparent.gif");
    QImage qt(QString::fromStdString(path));
    qt.convertTo(QImage::Format_ARGB32);
    const Rgb decoded = FromRows(DecodePicture(path));
    ASSERT_EQ(decoded.width, qt.width());
    int transparent = 0;
    for (int y = 0; y < qt.height(); ++y) {
        for (int x = 0; x < qt.width(); ++x) {
            if (qAlpha(qt.pixel(x, y)) != 0) continue;
            ++transparent;
            const std::uint8_t* p = decoded.At(x, y);
            ASSERT_TRUE(p[0] == 255 && p[1] == 255 && p[2] == 255) << x << "," << y;
        }
    }
    EXPECT_GT(transparent, 1000);
    // A first frame smaller than the screen: the rest is white too, not
    // the screen's background colour (blue here).
    const Rgb layers = FromRows(Decoded("image-rs/gif/anim/border_touching_layers.gif"));
    ASSERT_EQ(layers.height, 100);
    const std::uint8_t* above = layers.At(50, 10);
    EXPECT_TRUE(above[0] == 255 && above[1] == 255 && above[2] == 255);
    // 380 frames: only the first is decoded, and it is the screen's size.
    const PixelRows horse = Decoded("image-gif/samples/gifplayer-muybridge.gif");
    EXPECT_EQ(horse.width, 472);
    EXPECT_EQ(horse.height, 298);
    // Interlaced rows land in their places: the same picture as the plain one.
    const Rgb plain = FromRows(Decoded("pillow/gif/hopper.gif"));
    const Rgb interlaced = FromRows(Decoded("pillow/gif/hopper_zero_comment_subblocks.gif"));
    ASSERT_EQ(plain.width, interlaced.width);
    EXPECT_LT(MeanDifference(plain, interlaced), 2.0);
}

// ---------------------------------------------------------------------------
// Odd pictures: each at the size Chromium shows it (tests/odd-pictures, made
// by its script; the browser test checks the sizes against Chromium), or an
// "Invalid picture" naming it where Chromium shows none.

TEST(DecodingOddPictures, AsBrowsersShowThem) {
    const std::string folder = std::string(FOTOLANE_SOURCE_DIR) + "/tests/odd-pictures/";
    std::istringstream table(ReadFile(folder + "sizes.txt"));
    int pictures = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name;
        PictureSize shown{};
        fields >> name >> shown.width >> shown.height;
        SCOPED_TRACE(name);
        ++pictures;
        const std::string path = folder + name;
        if (shown.width == 0) {
            EXPECT_EQ(DecodeFault(path), "Invalid picture: " + path);
            EXPECT_EQ(SizeFault(path), "Invalid picture: " + path);
            continue;
        }
        try {
            const PixelRows rows = DecodePicture(path);
            EXPECT_EQ(rows.width, shown.width);
            EXPECT_EQ(rows.height, shown.height);
            const PictureSize header = ReadPictureSize(path);
            EXPECT_EQ(header.width, shown.width);
            EXPECT_EQ(header.height, shown.height);
        } catch (const Fault& fault) {
            ADD_FAILURE() << fault.Description();
        }
    }
    EXPECT_GE(pictures, 10);
}

// ---------------------------------------------------------------------------
// Damaged files made by the test

// The decoder either gives a picture of the header's size or raises a fault
// that names the file, and does either quickly.
void ExpectSafe(const std::string& path, std::optional<PictureSize> size = std::nullopt) {
    SCOPED_TRACE(path);
    try {
        const PixelRows rows = DecodePicture(path);
        if (size) {
            EXPECT_EQ(rows.width, size->width);
            EXPECT_EQ(rows.height, size->height);
        }
    } catch (const Fault& fault) {
        EXPECT_NE(std::string(fault.Description()).find(path), std::string::npos)
            << fault.Description();
    }
}

TEST(DecodingDamagedFiles, NoPictureIsAnInvalidPicture) {
    TempFolder folder;
    std::mt19937 random(4);
    std::string noise(4096, '\0');
    for (char& c : noise) c = static_cast<char>(random() & 0xFF);
    const std::map<std::string, std::string> files = {
        {"empty.jpg", ""},
        {"noise.jpg", noise},
        {"png.jpg", ReadFile(TestData("libjpeg-turbo-testimages/testorig.png"))},
        {"text.gif", "GIF is a picture format\n"},
        {"soi-only.jpg", "\xFF\xD8"},
        {"marker-only.jpg", "\xFF\xD8\xFF"},
        {"bm.bmp", "BM"},
        {"gif.gif", "GIF89a"},
    };
    for (const auto& [name, bytes] : files) {
        folder.Write(name, bytes);
        const std::string path = folder / name;
        EXPECT_EQ(DecodeFault(path), "Invalid picture: " + path);
        EXPECT_EQ(SizeFault(path), "Invalid picture: " + path);
    }
    // Told by content, not by name: a bitmap named .jpg and a JPEG named .gif
    // decode.
    folder.Write("bitmap.jpg", ReadFile(TestData("bmpsuite/g/rgb24.bmp")));
    folder.Write("jpeg.gif", ReadFile(TestData("libjpeg-turbo-testimages/testorig.jpg")));
    EXPECT_EQ(DecodePicture(folder / "bitmap.jpg").width, 127);
    EXPECT_EQ(DecodePicture(folder / "jpeg.gif").width, 227);
}

TEST(DecodingDamagedFiles, TruncatedFilesFailOrShowWhatIsThere) {
    TempFolder folder;
    const std::pair<const char*, PictureSize> sources[] = {
        {"libjpeg-turbo-testimages/testorig.jpg", {227, 149}},
        {"image-rs/jpg/progressive/cat.jpg", {320, 240}},
        {"bmpsuite/g/rgb24.bmp", {127, 64}},
        {"bmpsuite/g/pal8rle.bmp", {127, 64}},
        {"pillow/gif/hopper.gif", {128, 128}},
        {"image-gif/samples/interlaced.gif", {540, 330}},
    };
    for (const auto& [source, size] : sources) {
        const std::string bytes = ReadFile(TestData(source));
        for (const std::size_t cut :
             {std::size_t{1}, std::size_t{5}, std::size_t{13}, std::size_t{60}, std::size_t{400},
              bytes.size() / 3, bytes.size() / 2, bytes.size() - 1}) {
            const std::string name =
                "cut" + std::to_string(cut) + std::filesystem::path(source).extension().string();
            folder.Write(name, bytes.substr(0, cut));
            ExpectSafe(folder / name, size);
        }
    }
    // A baseline JPEG cut in half warns only: its top half is the picture's,
    // as browsers show it.
    const std::string jpeg = ReadFile(TestData("libjpeg-turbo-testimages/testorig.jpg"));
    folder.Write("half.jpg", jpeg.substr(0, jpeg.size() / 2));
    const Rgb whole = FromRows(Decoded("libjpeg-turbo-testimages/testorig.jpg"));
    const Rgb half = FromRows(DecodePicture(folder / "half.jpg"));
    ASSERT_EQ(half.width, whole.width);
    ASSERT_EQ(half.height, whole.height);
    EXPECT_EQ(std::memcmp(half.At(0, 0), whole.At(0, 0), 3 * 227 * 16), 0);
    EXPECT_NE(half.bytes, whole.bytes);
}

TEST(DecodingDamagedFiles, NoiseInTheMiddleNeverCrashes) {
    TempFolder folder;
    std::mt19937 random(7);
    for (const char* source : {"libjpeg-turbo-testimages/testorig.jpg", "pillow/gif/hopper.gif",
                               "bmpsuite/g/pal4rle.bmp", "pillow/jpeg/pil_sample_cmyk.jpg",
                               "image-rs/jpg/progressive/test.jpg"}) {
        const std::string bytes = ReadFile(TestData(source));
        for (int round = 0; round < 12; ++round) {
            std::string damaged = bytes;
            for (int i = 0; i < 8; ++i) {
                damaged[random() % damaged.size()] = static_cast<char>(random() & 0xFF);
            }
            const std::string name = "noise" + std::to_string(round) +
                                     std::filesystem::path(source).extension().string();
            folder.Write(name, damaged);
            ExpectSafe(folder / name);
        }
    }
}

// A tiny file that claims a picture of 60000 x 60000 pixels (10.8 GB of
// rows) is refused from its header, before anything of that size exists.
TEST(DecodingDamagedFiles, AbsurdSizesEndInAFaultAtOnce) {
    TempFolder folder;
    const auto put16 = [](std::string& bytes, std::size_t at, int value, bool big_endian) {
        const auto high = static_cast<char>((value >> 8) & 0xFF);
        const auto low = static_cast<char>(value & 0xFF);
        bytes[at] = big_endian ? high : low;
        bytes[at + 1] = big_endian ? low : high;
    };
    // JPEG: the frame header of a real file with its size changed.
    std::string jpeg = ReadFile(TestData("libjpeg-turbo-testimages/testorig.jpg"));
    const std::size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    put16(jpeg, sof + 5, 60000, true);
    put16(jpeg, sof + 7, 60000, true);
    folder.Write("huge.jpg", jpeg.substr(0, 800));
    // GIF: the logical screen.
    std::string gif = ReadFile(TestData("pillow/gif/hopper.gif"));
    put16(gif, 6, 60000, false);
    put16(gif, 8, 60000, false);
    folder.Write("huge.gif", gif.substr(0, 900));
    // Bitmap: the info header's width and height.
    std::string bmp = ReadFile(TestData("bmpsuite/g/rgb24.bmp"));
    put16(bmp, 18, 60000, false);
    put16(bmp, 22, 60000, false);
    folder.Write("huge.bmp", bmp.substr(0, 300));

    for (const char* name : {"huge.jpg", "huge.gif", "huge.bmp"}) {
        const std::string path = folder / name;
        const auto start = std::chrono::steady_clock::now();
        const std::string fault = DecodeFault(path);
        const std::string sizeFault = SizeFault(path);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        // JPEG and GIF: rows beyond the 32-bit limits; a bitmap header of
        // more than 16384 x 16384 pixels is refused as it stands.
        const std::string expected =
            std::string(name) == "huge.bmp" ? "Invalid picture: " + path : "Overflow: " + path;
        EXPECT_EQ(fault, expected);
        EXPECT_EQ(sizeFault, expected);
    }
    // The largest sizes of each format's header are refused as well.
    const std::string maxSize = TestData("jpeg-decoder/crashtest/max_size.jpg");
    EXPECT_EQ(DecodeFault(maxSize), "Invalid picture: " + maxSize);
}

// ---------------------------------------------------------------------------
// Files that cannot be read

TEST(DecodingFiles, MissingAndUnreadableFiles) {
    TempFolder folder;
    const std::string missing = folder / "missing.jpg";
    EXPECT_EQ(DecodeFault(missing), "File not found: " + missing);
    EXPECT_EQ(SizeFault(missing), "File not found: " + missing);
    // A folder of a picture's name, and a path through a plain file.
    std::filesystem::create_directory(folder / "folder.jpg");
    EXPECT_EQ(DecodeFault(folder / "folder.jpg"), "File not found: " + folder / "folder.jpg");
    folder.Write("plain.jpg", ReadFile(TestData("pillow/jpeg/hopper.jpg")));
    const std::string below = folder / "plain.jpg/inner.jpg";
    EXPECT_EQ(DecodeFault(below), "File not found: " + below);
    EXPECT_EQ(SizeFault(below), "File not found: " + below);
    // Unreadable: only for a user that is not root, whom no mode stops.
    if (::geteuid() != 0) {
        std::filesystem::permissions(folder / "plain.jpg", std::filesystem::perms::none);
        EXPECT_EQ(DecodeFault(folder / "plain.jpg"), "Permission denied: " + folder / "plain.jpg");
        EXPECT_EQ(SizeFault(folder / "plain.jpg"), "Permission denied: " + folder / "plain.jpg");
    }
    // The file layer refusing the open, or failing the first read after it.
    const std::string plain = folder / "plain.jpg";
    for (const auto& [allowed, error, fault] :
         {std::tuple{0, EACCES, "Permission denied: "}, std::tuple{1, EIO, "Device I/O error: "}}) {
        const files::ScopedFailure decoding(files::Step::Read, allowed, error);
        EXPECT_EQ(DecodeFault(plain), fault + plain);
        const files::ScopedFailure sizing(files::Step::Read, allowed, error);
        EXPECT_EQ(SizeFault(plain), fault + plain);
        const files::ScopedFailure dating(files::Step::Read, allowed, error);
        EXPECT_EQ(FaultOf([&] { ReadDateTaken(plain); }), fault + plain);
    }
}

TEST(ReadDateTaken, GivesDateTimeOriginalOnlyWhenItIsADate) {
    EXPECT_EQ(ReadDateTaken(TestData("pillow/jpeg/flower.jpg")), "2003-12-14T12:01:44");
    EXPECT_EQ(ReadDateTaken(TestData("exif-orientation-examples/Landscape_1.jpg")), "");
    EXPECT_EQ(ReadDateTaken(TestData("pillow/bmp/hopper.bmp")), "");
    EXPECT_EQ(detail::DateTakenFromExif(std::string_view("2004:06:12 14:03:05\0", 20)),
              "2004-06-12T14:03:05");
    // Cameras without a clock, and text of another shape.
    for (const char* value :
         {"0000:00:00 00:00:00", "    :  :     :  :  ", "2004-06-12 14:03:05", "2004:06:12"}) {
        EXPECT_EQ(detail::DateTakenFromExif(value), "") << value;
    }
}

}  // namespace
}  // namespace fotolane::picture
