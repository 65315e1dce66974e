#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <webp/encode.h>

#include "decoding/AlbumDecoder.h"
#include "decoding/PictureDecoder.h"
#include "decoding/metadata/Exif.h"
#include "gallery/Album.h"
#include "gallery/GalleryInterfaces.h"
#include "imaging/AreaResize.h"
#include "platform/core/MemoryBudget.h"
#include "tests/TempFolder.h"
#include "tests/thumbnails/ThumbnailTestSupport.h"
#include "thumbnails/AlbumImages.h"
#include "thumbnails/AlbumJpeg.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
namespace {

using fotolane::testing::ReadFile;
using fotolane::testing::TempFolder;
using testing::Bgr;
using testing::Bitmap;
using testing::Bytes;
using testing::Decode;
using testing::Gif;
using testing::GifScreen;
using testing::Little32;
using testing::Near;
using testing::RecordingHost;
using testing::TopDown;
using testing::WriteBmp;

const std::string kTestData = FOTOLANE_TESTDATA_DIR;

// The test pictures whose names end in one of `extensions` (lower case), in
// any letter case.
std::vector<std::string> TestPictures(std::initializer_list<std::string_view> extensions) {
    std::vector<std::string> pictures;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kTestData)) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(c));
        if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end()) {
            pictures.push_back(entry.path().string());
        }
    }
    return pictures;
}

struct Album {
    Album() {
        std::filesystem::create_directory(folder / "Thumbnails@1x");
        std::filesystem::create_directory(folder / "Thumbnails@2x");
        std::filesystem::create_directory(folder / "Previews");
    }
    TempFolder folder;
    gallery::AlbumPaths paths = gallery::MakeAlbumPaths(folder.str());
    RecordingHost host;
    ui::ScopedHost installed{host};
    AlbumImages maker;
    gallery::AlbumImageCounts counts;
};

TEST(AlbumImages, MakesAPreviewOfALargePictureAndASmoothLargeThumbnail) {
    Album album;
    // 1200 x 2400: higher than a preview. Vertical stripes one pixel wide,
    // red and blue, which only a smoothing filter turns into purple.
    WriteBmp(album.folder / "wide.bmp", 1200, 2400, [](std::int32_t x, std::int32_t) {
        return x % 2 == 0 ? Bgr{0, 0, 255} : Bgr{255, 0, 0};
    });
    const gallery::AlbumPicture picture =
        album.maker.MakeAlbumImages(album.folder / "wide.bmp", "wide.bmp", album.paths,
                                    gallery::AlbumRemake::All, 70, album.counts);
    EXPECT_EQ(picture.name, "wide.bmp");
    // The thumbnail maker's rule: 1200 / (2400 / 70) = 35, the album's
    // thumbnail kAlbumThumbnailHeight high whatever the size, and
    // 1200 / (2400 / 2048) = 1024.
    EXPECT_EQ((std::array{picture.thumbnail.width, picture.thumbnail.height}),
              (std::array{35, 70}));
    ASSERT_TRUE(picture.largeThumbnail);
    EXPECT_EQ((std::array{picture.largeThumbnail->width, picture.largeThumbnail->height}),
              (std::array{300, 600}));
    ASSERT_TRUE(picture.preview);
    EXPECT_EQ((std::array{picture.preview->width, picture.preview->height}),
              (std::array{1024, 2048}));
    EXPECT_EQ(picture.dateTaken, "");

    const TopDown preview = Decode(album.folder / "Previews/wide.bmp.jpg");
    EXPECT_EQ(preview.Width(), 1024);
    EXPECT_EQ(preview.Height(), 2048);
    const TopDown large = Decode(album.folder / "Thumbnails@2x/wide.bmp.jpg");
    ASSERT_EQ(large.Width(), 300);
    ASSERT_EQ(large.Height(), 600);
    for (const std::int32_t x : {3, 150, 296}) {
        EXPECT_TRUE(Near(large.At(x, 300), Bgr{128, 0, 128}, 12)) << x;
    }
    // The 1x tile, shrunk from the 2x one.
    ASSERT_TRUE(picture.smallThumbnail);
    const TopDown small = Decode(album.folder / "Thumbnails@1x/wide.bmp.jpg");
    ASSERT_EQ((std::array{small.Width(), small.Height()}), (std::array{150, 300}));
    EXPECT_TRUE(Near(small.At(75, 150), Bgr{128, 0, 128}, 12));
    EXPECT_EQ(album.counts.made, 3);
    EXPECT_TRUE(album.host.messages.empty());
}

// The album's tiles are as high as its rows need at 2x and 1x, whatever
// the shape, within the longest side and never larger than the picture.
TEST(AlbumTileSize, IsTheRowsHeightCappedAndNeverEnlarged) {
    struct Case {
        picture::PictureSize picture;
        gallery::PixelSize tile;
        gallery::PixelSize small;
    };
    const std::vector<Case> cases = {
        {{1200, 1800}, {400, 600}, {200, 300}},    // portrait
        {{3000, 2000}, {900, 600}, {450, 300}},    // landscape
        {{601, 601}, {600, 600}, {300, 300}},      // square
        {{8000, 1000}, {2048, 256}, {1024, 128}},  // a panorama: its longer side capped
        {{2100, 300}, {2048, 293}, {1024, 146}},   // capped below its own height
        {{128, 128}, {128, 128}, {128, 128}},      // small: its own size
        {{1000, 500}, {1000, 500}, {600, 300}},    // lower than a row's 2x image
        {{400, 300}, {400, 300}, {400, 300}},      // as high as a 1x one: its own size
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AlbumTileSize(c.picture), c.tile) << c.picture.width << "x" << c.picture.height;
        EXPECT_EQ(AlbumSmallTileSize(c.picture), c.small)
            << c.picture.width << "x" << c.picture.height;
    }
}

TEST(AlbumImages, MakesTheUprightThumbnailOfASmallPhotoWithItsDateAndNoPreview) {
    Album album;
    // 1200 x 1800 once its EXIF orientation 6 is applied.
    const gallery::AlbumPicture portrait = album.maker.MakeAlbumImages(
        kTestData + "/exif-orientation-examples/Portrait_6.jpg", "p.jpg", album.paths,
        gallery::AlbumRemake::All, 70, album.counts);
    EXPECT_FALSE(portrait.preview);
    EXPECT_FALSE(std::filesystem::exists(album.folder / "Previews/p.jpg.jpg"));
    const picture::PictureSize large =
        picture::ReadPictureSize(album.folder / "Thumbnails@2x/p.jpg.jpg");
    EXPECT_EQ((std::array{large.width, large.height}), (std::array{400, 600}));
    const picture::PictureSize small =
        picture::ReadPictureSize(album.folder / "Thumbnails@1x/p.jpg.jpg");
    EXPECT_EQ((std::array{small.width, small.height}), (std::array{200, 300}));

    const gallery::AlbumPicture flower =
        album.maker.MakeAlbumImages(kTestData + "/pillow/jpeg/flower.jpg", "flower.jpg",
                                    album.paths, gallery::AlbumRemake::All, 70, album.counts);
    EXPECT_EQ(flower.dateTaken, "2003-12-14T12:01:44");
}

TEST(AlbumImages, NewKeepsCurrentImagesAndAFailedWriteIsAWarning) {
    Album album;
    WriteBmp(album.folder / "a.bmp", 40, 30, testing::Solid({0, 200, 0}));
    album.folder.Write("Thumbnails@2x/a.bmp.jpg", "kept");
    album.maker.MakeAlbumImages(album.folder / "a.bmp", "a.bmp", album.paths,
                                gallery::AlbumRemake::Outdated, 70, album.counts);
    EXPECT_EQ(ReadFile(album.folder / "Thumbnails@2x/a.bmp.jpg"), "kept");
    EXPECT_EQ(album.counts.kept, 1);
    EXPECT_TRUE(album.host.messages.empty());
    // A tile whose header gives another size (an earlier version's, such as
    // a thumbnail at the gallery's size) is made again, a current one kept.
    std::filesystem::copy_file(kTestData + "/exif-orientation-examples/Portrait_6.jpg",
                               album.folder / "Thumbnails@1x/a.bmp.jpg",
                               std::filesystem::copy_options::overwrite_existing);
    album.maker.MakeAlbumImages(album.folder / "a.bmp", "a.bmp", album.paths,
                                gallery::AlbumRemake::Outdated, 70, album.counts);
    EXPECT_EQ(picture::ReadPictureSize(album.folder / "Thumbnails@1x/a.bmp.jpg").width, 40);
    EXPECT_EQ(album.counts.kept, 2);
    // --update judges it as it judges a thumbnail: unreadable, so made again
    // (at the picture's own size: the album's height would enlarge it).
    album.maker.MakeAlbumImages(album.folder / "a.bmp", "a.bmp", album.paths,
                                gallery::AlbumRemake::Stale, 70, album.counts);
    EXPECT_EQ(picture::ReadPictureSize(album.folder / "Thumbnails@2x/a.bmp.jpg").width, 40);
    // A picture changed since: its image is made again.
    std::filesystem::last_write_time(
        album.folder / "a.bmp",
        std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));
    album.maker.MakeAlbumImages(album.folder / "a.bmp", "a.bmp", album.paths,
                                gallery::AlbumRemake::Outdated, 70, album.counts);
    EXPECT_EQ(picture::ReadPictureSize(album.folder / "Thumbnails@2x/a.bmp.jpg").width, 40);

    // An image that could not be written is not shown.
    gallery::AlbumPaths missing = album.paths;
    missing.largeThumbnailFolder = album.folder / "missing/";
    EXPECT_FALSE(album.maker
                     .MakeAlbumImages(album.folder / "a.bmp", "a.bmp", missing,
                                      gallery::AlbumRemake::All, 70, album.counts)
                     .largeThumbnail);
    ASSERT_EQ(album.host.Texts(), std::vector<std::string>{"Failed to save to JPG"});
    EXPECT_EQ((std::array{album.counts.made, album.counts.kept, album.counts.failed}),
              (std::array{6, 3, 1}));
    WriteBmp(album.folder / "wide.bmp", 2100, 30, testing::Solid({0, 200, 0}));
    missing.previewFolder = album.folder / "missing/";
    EXPECT_FALSE(album.maker
                     .MakeAlbumImages(album.folder / "wide.bmp", "wide.bmp", missing,
                                      gallery::AlbumRemake::All, 70, album.counts)
                     .preview);
}

// "New" and --update take an unchanged picture's metadata from the album's
// record, which the maker writes once done with the folder; "All", or a
// picture whose time or size changed, reads it again.
TEST(AlbumImages, TakeAnUnchangedPicturesMetadataFromTheRecord) {
    Album album;
    const std::string photo = album.folder / "flower.jpg";
    std::filesystem::copy_file(kTestData + "/pillow/jpeg/flower.jpg", photo);
    const auto make = [&](AlbumImages& maker, gallery::AlbumRemake remake) {
        return maker.MakeAlbumImages(photo, "flower.jpg", album.paths, remake, 70, album.counts)
            .dateTaken;
    };
    EXPECT_EQ(make(album.maker, gallery::AlbumRemake::All), "2003-12-14T12:01:44");
    album.maker.ExpectAlbumImages(album.paths, {});
    ASSERT_TRUE(
        std::filesystem::exists(album.folder / ("Thumbnails@2x/" + std::string(kAlbumRecordName))));

    // Another date of the same length, the file's time kept.
    const auto time = std::filesystem::last_write_time(photo);
    std::string bytes = ReadFile(photo);
    for (std::size_t at = 0; (at = bytes.find("2003:12:14", at)) != std::string::npos;) {
        bytes.replace(at, 4, "2004");
    }
    album.folder.Write("flower.jpg", bytes);
    std::filesystem::last_write_time(photo, time);
    struct Case {
        gallery::AlbumRemake remake;
        bool touched;
        const char* expected;
    };
    const Case cases[] = {
        {gallery::AlbumRemake::Outdated, false, "2003-12-14T12:01:44"},
        {gallery::AlbumRemake::Stale, false, "2003-12-14T12:01:44"},
        {gallery::AlbumRemake::All, false, "2004-12-14T12:01:44"},
        {gallery::AlbumRemake::Stale, true, "2004-12-14T12:01:44"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.remake));
        if (c.touched) std::filesystem::last_write_time(photo, time + std::chrono::seconds(1));
        AlbumImages maker;
        EXPECT_EQ(make(maker, c.remake), c.expected);
    }
}

// The largest difference of two pictures of one size in any channel.
int MostDifference(const PixelRows& a, const PixelRows& b) {
    int most = 0;
    for (std::int32_t s = 0; s < a.height; ++s) {
        for (std::int32_t i = 0; i < 3 * a.width; ++i) {
            most = std::max(most, std::abs(a.ScanLine(s)[i] - b.ScanLine(s)[i]));
        }
    }
    return most;
}

TEST(AlbumImages, AverageBitmapsAndGifsAsTheyDecodeWithinALevelOfTheWholeDecode) {
    std::vector<std::string> pictures = TestPictures({".bmp", ".gif"});
    ASSERT_GT(pictures.size(), 150u);
    // Hostile ones, small enough to be decoded whole here: mostly
    // background, which the album's decode never holds.
    TempFolder folder;
    const Bytes palette = Bytes(4, '\0') + Bytes{'\xFF', '\xFF', '\xFF', '\0'} +
                          Bytes{'\0', '\0', '\xFF', '\0'} + Bytes{'\0', '\xC0', '\0', '\0'};
    const Bytes masks565 = Little32(0xF800) + Little32(0x07E0) + Little32(0x001F) + Little32(0);
    // Runs past the end of their line into lines given before, a chain of
    // them, and runs that a move cut short by the right or the top edge
    // sends back over pixels of their own line.
    const Bytes overwrites = Bytes(300, '\0') + "\xFF\x01\xFF\x02\xC8\x03" + Bytes(2, '\0') +
                             "\x05\x01" + Bytes{'\0', '\2', '\0', '\0'} + "\x02\x02" +
                             Bytes{'\0', '\2', '\0', '\xFF'} + "\x04\x03" +
                             Bytes{'\0', '\2', '\0', '\0'} + "\x03\x01" + Bytes{'\0', '\1'};
    const std::pair<const char*, Bytes> hostile[] = {
        {"screen.gif", GifScreen(1300, 900)},
        {"union.gif", Gif(738, 574, 535, 8, true)},
        {"frame.gif", Gif(0, 0, 960, 1799, false)},
        {"wide.bmp", Bitmap(40, 9355, 6, 1, 0, palette.substr(0, 8), Bytes(26, '\x55'))},
        {"tall.bmp", Bitmap(56, 6, 33554, 16, 3, masks565, Bytes(5, '\x7F'))},
        {"bare.bmp", Bitmap(40, 838, 638, 24, 0, "", "")},
        {"overwrites.bmp", Bitmap(40, 3, 400, 8, 1, palette, overwrites)},
        {"overwrites-top-down.bmp", Bitmap(40, 5, -60, 4, 2, palette, overwrites)},
    };
    for (const auto& [name, bytes] : hostile) {
        folder.Write(name, bytes);
        pictures.push_back(folder / name);
    }
    for (const std::string& path : pictures) {
        SCOPED_TRACE(path);
        PixelRows whole;
        try {
            // Not one of 1.3 GB, whose album images CostBounds makes.
            const picture::PictureSize claimed = picture::ReadPictureSize(path);
            if (std::int64_t{claimed.width} * claimed.height > 50'000'000) continue;
            whole = picture::DecodePicture(path);
        } catch (const Fault& fault) {
            EXPECT_EQ(testing::FaultOf([&] { imaging::DecodeByArea(path, 9, 9); }),
                      fault.Description());
            continue;
        }
        // A thumbnail, an enlarged one, and one of a preview's kind (smaller
        // than the album's, as that takes longer here to no gain).
        std::vector<ThumbnailSize> sizes{ThumbnailSizeFor(whole.width, whole.height, 23)};
        const std::int32_t longer = std::max(whole.width, whole.height);
        if (longer <= 150) sizes.push_back(ThumbnailSizeFor(whole.width, whole.height, 2 * longer));
        if (longer > 500) sizes.push_back(ThumbnailSizeFor(whole.width, whole.height, 500));
        for (const ThumbnailSize size : sizes) {
            const PixelRows averaged = imaging::DecodeByArea(path, size.width, size.height);
            ASSERT_EQ(averaged.width, size.width);
            ASSERT_EQ(averaged.height, size.height);
            EXPECT_LE(
                MostDifference(averaged, imaging::ResizeByArea(whole, size.width, size.height)), 1)
                << size.width << " x " << size.height;
        }
    }
}

TEST(AlbumImages, AveragePngsAsTheyDecodeWithinALevelOfTheWholeDecode) {
    // Every colour type and depth, palettes with tRNS, 16-bit with alpha,
    // and those that are no picture (the same fault as the whole decode).
    const std::vector<std::string> pictures = TestPictures({".png"});
    ASSERT_GT(pictures.size(), 90u);
    for (const std::string& path : pictures) {
        SCOPED_TRACE(path);
        PixelRows whole;
        try {
            whole = picture::DecodeAlbumPicture(path);
        } catch (const Fault& fault) {
            EXPECT_EQ(testing::FaultOf([&] { imaging::DecodeAlbumByArea(path, 9, 9); }),
                      fault.Description());
            continue;
        }
        const std::vector<gallery::PixelSize> sizes = {
            AlbumTileSize({whole.width, whole.height}),
            AlbumImageSize({whole.width, whole.height}, 23)};
        for (const gallery::PixelSize& size : sizes) {
            const PixelRows averaged = imaging::DecodeAlbumByArea(path, size.width, size.height);
            ASSERT_EQ(averaged.width, size.width);
            ASSERT_EQ(averaged.height, size.height);
            EXPECT_LE(
                MostDifference(averaged, imaging::ResizeByArea(whole, size.width, size.height)), 1)
                << size.width << " x " << size.height;
        }
    }
}

// The peak signal-to-noise ratio of `a` against `b`, of one size, in dB;
// infinite when they are equal.
double Psnr(const PixelRows& a, const PixelRows& b) {
    double squares = 0;
    for (std::int32_t s = 0; s < a.height; ++s) {
        for (std::int32_t i = 0; i < 3 * a.width; ++i) {
            const double difference = a.ScanLine(s)[i] - b.ScanLine(s)[i];
            squares += difference * difference;
        }
    }
    const double mean = squares / (3.0 * a.width * a.height);
    return 10 * std::log10(255.0 * 255.0 / mean);
}

// A WebP of `picture` (B, G, R rows), lossy, lossy with alpha or lossless,
// by libwebp's encoder.
std::string EncodeWebp(const PixelRows& picture, int kind) {
    const auto width = static_cast<std::size_t>(picture.width);
    std::vector<std::uint8_t> rgba(4 * width * static_cast<std::size_t>(picture.height));
    for (std::int32_t y = 0; y < picture.height; ++y) {
        const std::uint8_t* bgr = picture.ScanLine(picture.height - 1 - y);
        for (std::size_t x = 0; x < width; ++x) {
            std::uint8_t* to = rgba.data() + 4 * (static_cast<std::size_t>(y) * width + x);
            to[0] = bgr[3 * x + 2];
            to[1] = bgr[3 * x + 1];
            to[2] = bgr[3 * x];
            to[3] = static_cast<std::uint8_t>(kind == 1 ? 255 * x / width : 255);
        }
    }
    std::uint8_t* out = nullptr;
    const int stride = 4 * picture.width;
    const std::size_t size =
        kind == 2 ? WebPEncodeLosslessRGBA(rgba.data(), picture.width, picture.height, stride, &out)
                  : WebPEncodeRGBA(rgba.data(), picture.width, picture.height, stride, 80, &out);
    std::string file(reinterpret_cast<const char*>(out), size);
    WebPFree(out);
    return file;
}

TEST(AlbumImages, AverageStillWebpsFromAScaledDecodeCloseToTheWholeDecode) {
    const TempFolder folder;
    const PixelRows photo =
        picture::DecodePicture(kTestData + "/exif-orientation-examples/Landscape_1.jpg");
    for (const int kind : {0, 1, 2}) {
        SCOPED_TRACE(kind);
        const std::string name = "kind" + std::to_string(kind) + ".webp";
        folder.Write(name, EncodeWebp(photo, kind));
        const PixelRows whole = picture::DecodeAlbumPicture(folder / name);
        for (const gallery::PixelSize& size : {AlbumSmallTileSize({whole.width, whole.height}),
                                               AlbumImageSize({whole.width, whole.height}, 70)}) {
            EXPECT_GE(Psnr(imaging::DecodeAlbumByArea(folder / name, size.width, size.height),
                           imaging::ResizeByArea(whole, size.width, size.height)),
                      imaging::kScaledDecodeBound)
                << size.width << "x" << size.height;
        }
    }
    // A lossy picture shrunk is never whole in memory: within a budget that
    // its whole decode would not fit.
    {
        const PixelRows large = AllocatePixelRows(3000, 2000);
        for (std::int32_t y = 0; y < large.height; ++y) {
            std::uint8_t* line = large.ScanLine(y);
            for (std::int32_t i = 0; i < 3 * large.width; ++i) {
                line[i] = static_cast<std::uint8_t>((i / 3 + y) / 32);
            }
        }
        folder.Write("large.webp", EncodeWebp(large, 0));
    }
    const ScopedPictureMemoryBudget budget(std::size_t{24} << 20);
    const PixelRows shrunk = imaging::DecodeAlbumByArea(folder / "large.webp", 400, 300);
    EXPECT_EQ(shrunk.width, 400);
    EXPECT_EQ(testing::FaultOf([&] { picture::DecodeAlbumPicture(folder / "large.webp"); }),
              Fault::OutOfMemory().Naming(folder / "large.webp").Description());
}

TEST(AlbumImages, AverageJpegsFromAScaledDecodeCloseToTheWholeDecode) {
    // Sequential, progressive, grayscale, CMYK, turned, cut short, and
    // those that are no picture (the same fault as the whole decode).
    const std::vector<std::string> pictures = TestPictures({".jpg", ".jpeg"});
    ASSERT_GT(pictures.size(), 90u);
    double worst = std::numeric_limits<double>::infinity();
    for (const std::string& path : pictures) {
        SCOPED_TRACE(path);
        PixelRows whole;
        try {
            whole = picture::DecodePicture(path);
        } catch (const Fault& fault) {
            EXPECT_EQ(testing::FaultOf([&] { imaging::DecodeByArea(path, 9, 9); }),
                      fault.Description());
            continue;
        }
        // The album's high-density thumbnail and, of a picture longer than
        // one, its preview; and a small image, which most pictures here
        // decode at a reduced scale.
        std::vector<gallery::PixelSize> sizes = {
            AlbumTileSize({whole.width, whole.height}),
            AlbumImageSize({whole.width, whole.height}, 2 * gallery::kDefaultThumbnailSize)};
        if (std::max(whole.width, whole.height) > gallery::kPreviewSide) {
            sizes.push_back(AlbumImageSize({whole.width, whole.height}, gallery::kPreviewSide));
        }
        for (const gallery::PixelSize& size : sizes) {
            const PixelRows averaged = imaging::DecodeByArea(path, size.width, size.height);
            ASSERT_EQ(averaged.width, size.width);
            ASSERT_EQ(averaged.height, size.height);
            const double psnr =
                Psnr(averaged, imaging::ResizeByArea(whole, size.width, size.height));
            EXPECT_GE(psnr, imaging::kScaledDecodeBound) << size.width << "x" << size.height;
            worst = std::min(worst, psnr);
        }
    }
    RecordProperty("WorstPsnr", std::to_string(worst));
}

std::size_t RowsBytes(const PixelRows& rows) {
    return static_cast<std::size_t>(rows.stride) * static_cast<std::size_t>(rows.height);
}

TEST(AlbumImages, AverageJpegLinesAsTheyDecodeAsTheWholeRows) {
    // Sizes the margin decodes whole (half: whole factors for an even size),
    // so that the lines averaged as they come are the whole decode's: the
    // same bytes, but for the order of the sums of a picture turned after
    // its averaging. A large picture under a budget of less than its rows.
    Album album;
    PixelRows large = AllocatePixelRows(2400, 1600);
    for (std::int32_t s = 0; s < large.height; ++s) {
        for (std::int32_t i = 0; i < 3 * large.width; ++i) {
            large.ScanLine(s)[i] = static_cast<std::uint8_t>((s * 7 + i * i / 5) % 251);
        }
    }
    const std::string largePath = album.folder / "large.jpg";
    ASSERT_TRUE(WriteAlbumJpeg(large, largePath, 90, album.counts));
    large = PixelRows();
    const auto expectAsWhole = [](const std::string& path, bool budgeted) {
        SCOPED_TRACE(path);
        PixelRows whole;
        try {
            whole = picture::DecodePicture(path);
        } catch (const Fault&) {
            return;
        }
        const std::string bytes = ReadFile(path);
        const bool upright = picture::detail::ReadExifOrientation(
                                 {reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                  bytes.size()}) == picture::detail::Orientation::Upright;
        // The whole rows are given back before the budgeted decodes, which
        // may take a quarter of them and their target besides the expected
        // rows.
        std::size_t budget = RowsBytes(whole) / 4;
        std::vector<PixelRows> expected;
        for (const double part : {0.5, 0.4}) {
            expected.push_back(imaging::ResizeByArea(
                whole, static_cast<std::int32_t>(std::ceil(whole.width * part)),
                static_cast<std::int32_t>(std::ceil(whole.height * part))));
            budget += RowsBytes(expected.back());
        }
        budget += RowsBytes(expected.front());
        whole = PixelRows();
        for (const PixelRows& each : expected) {
            std::optional<ScopedPictureMemoryBudget> scoped;
            if (budgeted) scoped.emplace(budget);
            EXPECT_LE(MostDifference(imaging::DecodeByArea(path, each.width, each.height), each),
                      upright ? 0 : 1)
                << each.width << " x " << each.height;
        }
    };
    for (const std::string& path : TestPictures({".jpg", ".jpeg"})) expectAsWhole(path, false);
    expectAsWhole(largePath, true);
}

}  // namespace
}  // namespace fotolane::thumbnails
