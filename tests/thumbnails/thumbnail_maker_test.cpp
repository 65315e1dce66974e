#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "decoding/PictureDecoder.h"
#include "imaging/cDIBSection.h"
#include "imaging/mIntelJPEGLibrary.h"
#include "platform/core/Fault.h"
#include "platform/drawing/Gdi.h"
#include "platform/drawing/GdiTesting.h"
#include "tests/TempFolder.h"
#include "tests/thumbnails/ThumbnailTestSupport.h"
#include "thumbnails/frmThumbnails.h"

namespace fotolane::thumbnails {
namespace {

using fotolane::testing::ReadFile;
using fotolane::testing::TempFolder;
using testing::Bgr;
using testing::Decode;
using testing::FaultOf;
using testing::Near;
using testing::RecordingHost;
using testing::Solid;
using testing::TopDown;
using testing::WriteBmp;

const std::string kTestData = FOTOLANE_TESTDATA_DIR;

// A picture folder with its Thumbnails folder; messages and yields of the
// maker are recorded rather than shown.
struct Gallery {
    TempFolder folder;
    std::string thumbnails = folder / "Thumbnails/";
    RecordingHost host;
    ui::ScopedHost installed{host};
    frmThumbnails maker;

    Gallery() { std::filesystem::create_directory(thumbnails); }

    // Made and in place, as at the end of a run.
    void Make(const std::string& name, std::int32_t lSize = 70, bool bThumbMode = true) {
        maker.Get_Thrumbal(folder / name, thumbnails, bThumbMode, lSize);
        maker.FinishThumbnails();
    }
    std::string Thumb(const std::string& base) const { return thumbnails + base + ".jpg"; }
    picture::PictureSize ThumbSize(const std::string& base) const {
        return picture::ReadPictureSize(Thumb(base));
    }
};

// A real JPEG file of one colour, written by the program's own writer.
void WriteSolidJpeg(const std::string& path, std::int32_t width, std::int32_t height, Bgr colour) {
    imaging::cDIBSection dib;
    ASSERT_TRUE(dib.Create(width, height));
    for (std::int32_t s = 0; s < height; ++s) {
        std::uint8_t* row =
            dib.DIBSectionBitsPtr() + static_cast<std::ptrdiff_t>(s) * dib.BytesPerScanLine();
        for (std::int32_t x = 0; x < width; ++x) {
            for (std::size_t channel = 0; channel < 3; ++channel) {
                row[3 * static_cast<std::size_t>(x) + channel] =
                    static_cast<std::uint8_t>(colour[channel]);
            }
        }
    }
    ASSERT_TRUE(imaging::mIntelJPEGLibrary::WriteJPEGFile(dib, path, 95));
}

// The mean difference per channel of two pictures of one size.
double MeanDifference(const TopDown& a, const TopDown& b) {
    double sum = 0;
    for (std::int32_t y = 0; y < a.Height(); ++y) {
        for (std::int32_t x = 0; x < a.Width(); ++x) {
            const Bgr p = a.At(x, y);
            const Bgr q = b.At(x, y);
            for (std::size_t i = 0; i < 3; ++i) sum += std::abs(p[i] - q[i]);
        }
    }
    return sum / (3.0 * a.Width() * a.Height());
}

TEST(ThumbnailMaker, GivesTheLongerSideTheSizeWhateverThePicture) {
    Gallery gallery;
    struct Case {
        std::int32_t width, height, lSize, thumbWidth, thumbHeight;
    };
    const std::vector<Case> cases = {
        {640, 480, 150, 150, 112},  // 112.5 goes to the even 112
        {480, 640, 150, 112, 150},  //
        {200, 101, 100, 100, 50},   // 50.5 goes to 50
        {200, 103, 100, 100, 52},   // 51.5 goes to 52
        {1024, 768, 120, 120, 90},  //
        {300, 300, 70, 70, 70},     // a square
        {40, 30, 150, 150, 112},    // enlarged
        {1000, 3, 100, 100, 1},     // 0.3 rows would be none at all
        {3, 1000, 70, 1, 70},
    };
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height) + "-" +
                                 std::to_string(c.lSize);
        WriteBmp(gallery.folder / (name + ".bmp"), c.width, c.height, Solid({30, 60, 90}));
        std::int32_t lSize = c.lSize;
        gallery.maker.Get_Thrumbal(gallery.folder / (name + ".bmp"), gallery.thumbnails, true,
                                   lSize);
        gallery.maker.FinishThumbnails();
        EXPECT_EQ(lSize, c.lSize) << name;
        const picture::PictureSize size = gallery.ThumbSize(name);
        EXPECT_EQ(size.width, c.thumbWidth) << name;
        EXPECT_EQ(size.height, c.thumbHeight) << name;
    }
    EXPECT_TRUE(gallery.host.messages.empty());

    WriteBmp(gallery.folder / "zero.bmp", 640, 480, Solid({1, 2, 3}));
    EXPECT_EQ(FaultOf([&] { gallery.Make("zero.bmp", 0); }), "Division by zero");
    EXPECT_FALSE(std::filesystem::exists(gallery.Thumb("zero")));
}

TEST(ThumbnailMaker, SamplesAVeryLongPictureAndNamesItInEveryFault) {
    Gallery gallery;
    // At size 1024 the summed steps of 65410 columns would pass the
    // thumbnail's last column.
    WriteBmp(gallery.folder / "long.bmp", 65410, 10, Solid({10, 20, 30}));
    gallery.Make("long.bmp", 1024);
    const picture::PictureSize size = gallery.ThumbSize("long");
    EXPECT_EQ(size.width, 1024);
    EXPECT_EQ(size.height, 1);

    const std::string path = gallery.folder / "long.bmp";
    // Thumbnail rows beyond the 32-bit limits.
    EXPECT_EQ(FaultOf([&] { gallery.Make("long.bmp", 1000000000); }), "Overflow: " + path);
    // The decoded picture gets its bitmap, the preview surface none.
    gdi::ScopedRefusal oneBitmap(gdi::Refusable::CreateBitmap, 1);
    EXPECT_EQ(FaultOf([&] { gallery.Make("long.bmp", 1024); }), "Out of memory: " + path);
}

TEST(ThumbnailMaker, TellsAPicturesSizeAsBrowsersShowIt) {
    Gallery gallery;
    WriteBmp(gallery.folder / "wide.bmp", 640, 480, Solid({0, 0, 255}));
    // A 640 x 480 JPEG: the thumbnail of the bitmap at its own size.
    gallery.Make("wide.bmp", 640);
    std::int32_t DimX = 0;
    std::int32_t DimY = 0;
    gallery.maker.Get_SizePicture(gallery.Thumb("wide"), DimX, DimY);
    EXPECT_EQ(DimX, 640);
    EXPECT_EQ(DimY, 480);
    gallery.maker.Get_SizePicture(gallery.folder / "wide.bmp", DimX, DimY);
    EXPECT_EQ(DimX, 640);
    EXPECT_EQ(DimY, 480);
    // Stored 1800 x 1200, turned upright by its EXIF orientation 6.
    gallery.maker.Get_SizePicture(kTestData + "/exif-orientation-examples/Landscape_6.jpg", DimX,
                                  DimY);
    EXPECT_EQ(DimX, 1800);
    EXPECT_EQ(DimY, 1200);

    const std::string missing = gallery.folder / "missing.jpg";
    EXPECT_EQ(FaultOf([&] { gallery.maker.Get_SizePicture(missing, DimX, DimY); }),
              "File not found: " + missing);
    EXPECT_EQ(FaultOf([&] { gallery.Make("missing.jpg"); }), "File not found: " + missing);
    gallery.folder.Write("noise.gif", "GIF89a and then nothing that makes sense");
    EXPECT_EQ(FaultOf([&] { gallery.Make("noise.gif"); }),
              "Invalid picture: " + (gallery.folder / "noise.gif"));
}

TEST(ThumbnailMaker, KeepsThePictureUprightAndItsColoursInPlace) {
    Gallery gallery;
    // 4 x 2 blocks of 160 pixels; sampled every 10 pixels they become the
    // 16 x 16 blocks of the JPEG encoding, which keeps the inside of uniform
    // blocks nearly exact. Every block has another colour, so a picture
    // upside down, mirrored or with red and blue swapped shows.
    const std::vector<Bgr> colours = {{0, 0, 255},   {0, 255, 0},   {255, 0, 0},   {255, 255, 255},
                                      {0, 255, 255}, {255, 0, 255}, {255, 255, 0}, {40, 40, 40}};
    const auto blockColour = [&](std::int32_t x, std::int32_t y) {
        return colours[static_cast<std::size_t>(y / 160 * 4 + x / 160)];
    };
    WriteBmp(gallery.folder / "blocks.bmp", 640, 320, blockColour);
    gallery.Make("blocks.bmp", 64);
    const TopDown thumb = Decode(gallery.Thumb("blocks"));
    ASSERT_EQ(thumb.Width(), 64);
    ASSERT_EQ(thumb.Height(), 32);
    // The centre of every block: the decoder blends chroma across the edges.
    for (std::int32_t y = 5; y < 32; y += 16) {
        for (std::int32_t x = 5; x < 64; x += 16) {
            for (const std::int32_t offset : {0, 3, 6}) {
                EXPECT_TRUE(Near(thumb.At(x + offset, y + offset),
                                 blockColour((x + offset) * 10, (y + offset) * 10)))
                    << x + offset << "," << y + offset;
            }
        }
    }

    // Photos whose EXIF orientation turns them: every thumbnail looks like
    // the one of the photo stored upright, far more than a mirror image does.
    const std::string photos = kTestData + "/exif-orientation-examples/";
    std::filesystem::copy_file(photos + "Landscape_1.jpg", gallery.folder / "upright.jpg");
    gallery.Make("upright.jpg");
    const TopDown upright = Decode(gallery.Thumb("upright"));
    ASSERT_EQ(upright.Width(), 70);
    ASSERT_EQ(upright.Height(), 47);
    TopDown mirrored{AllocatePixelRows(70, 47)};
    for (std::int32_t y = 0; y < 47; ++y) {
        for (std::int32_t x = 0; x < 70; ++x) {
            const Bgr p = upright.At(69 - x, y);
            std::uint8_t* q = mirrored.rows.ScanLine(46 - y) + 3 * x;
            for (std::size_t i = 0; i < 3; ++i) q[i] = static_cast<std::uint8_t>(p[i]);
        }
    }
    const double mirrorDifference = MeanDifference(upright, mirrored);
    for (int orientation = 2; orientation <= 8; ++orientation) {
        const std::string name = "turned" + std::to_string(orientation);
        std::filesystem::copy_file(photos + "Landscape_" + std::to_string(orientation) + ".jpg",
                                   gallery.folder / (name + ".jpg"));
        gallery.Make(name + ".jpg");
        const TopDown turned = Decode(gallery.Thumb(name));
        ASSERT_EQ(turned.Width(), 70) << orientation;
        ASSERT_EQ(turned.Height(), 47) << orientation;
        EXPECT_LT(MeanDifference(turned, upright), mirrorDifference / 3) << orientation;
    }
}

TEST(ThumbnailMaker, FillsThePixelsThatTheSamplingDoesNotReach) {
    Gallery gallery;
    // 10 x 5 to 64 x 32: the sampling ends at the picture's last column and
    // row after 58 columns and 29 rows; the rest repeats the nearest pixel
    // rather than staying black.
    const Bgr colour = {50, 100, 200};
    WriteBmp(gallery.folder / "small.bmp", 10, 5, Solid(colour));
    gallery.Make("small.bmp", 64);
    const TopDown thumb = Decode(gallery.Thumb("small"));
    ASSERT_EQ(thumb.Width(), 64);
    ASSERT_EQ(thumb.Height(), 32);
    for (std::int32_t y = 0; y < 32; ++y) {
        for (std::int32_t x = 0; x < 64; ++x) {
            ASSERT_TRUE(Near(thumb.At(x, y), colour)) << x << "," << y;
        }
    }
}

TEST(ThumbnailMaker, NewSkipsAnExistingThumbnailWithoutOpeningThePicture) {
    Gallery gallery;
    gallery.folder.Write("broken.jpg", "not a picture at all");
    std::ofstream(gallery.Thumb("broken")) << "old";
    gallery.Make("broken.jpg", 70, /*bThumbMode=*/false);
    EXPECT_EQ(ReadFile(gallery.Thumb("broken")), "old");
    EXPECT_EQ(gallery.host.yields, 0);

    // With "All" the picture is opened, fails, and the old thumbnail stays.
    EXPECT_EQ(FaultOf([&] { gallery.Make("broken.jpg", 70, true); }),
              "Invalid picture: " + (gallery.folder / "broken.jpg"));
    EXPECT_EQ(ReadFile(gallery.Thumb("broken")), "old");
}

TEST(ThumbnailMaker, NewMakesAThumbnailThatIsHiddenOrNoPlainFile) {
    Gallery gallery;
    // A hidden file is no thumbnail: it is written over.
    WriteBmp(gallery.folder / ".hidden.bmp", 80, 40, Solid({9, 9, 9}));
    std::ofstream(gallery.Thumb(".hidden")) << "old";
    gallery.Make(".hidden.bmp", 70, false);
    EXPECT_EQ(gallery.ThumbSize(".hidden").width, 70);

    // Neither is a folder of the thumbnail's name: the writer then warns,
    // and the call ends normally.
    WriteBmp(gallery.folder / "taken.bmp", 80, 40, Solid({9, 9, 9}));
    std::filesystem::create_directory(gallery.Thumb("taken"));
    gallery.Make("taken.bmp", 70, false);
    EXPECT_EQ(gallery.host.Texts(), (std::vector<std::string>{"Failed to save to JPG"}));
    EXPECT_TRUE(std::filesystem::is_directory(gallery.Thumb("taken")));
}

TEST(ThumbnailMaker, PicturesOfOneBaseNameShareOneThumbnail) {
    Gallery gallery;
    const Bgr red = {0, 0, 255};
    const Bgr blue = {255, 0, 0};
    WriteSolidJpeg(gallery.folder / "beach.JPG", 96, 64, red);
    WriteBmp(gallery.folder / "beach.bmp", 96, 64, Solid(blue));

    // "All": the later picture replaces the earlier one's thumbnail.
    gallery.Make("beach.JPG", 70, true);
    EXPECT_TRUE(Near(Decode(gallery.Thumb("beach")).At(10, 10), red));
    gallery.Make("beach.bmp", 70, true);
    EXPECT_TRUE(Near(Decode(gallery.Thumb("beach")).At(10, 10), blue));

    // "New": the later picture is skipped.
    std::filesystem::remove(gallery.Thumb("beach"));
    gallery.Make("beach.JPG", 70, false);
    gallery.Make("beach.bmp", 70, false);
    EXPECT_TRUE(Near(Decode(gallery.Thumb("beach")).At(10, 10), red));
    EXPECT_EQ(std::filesystem::directory_iterator(gallery.thumbnails)->path().filename(),
              "beach.jpg");
}

TEST(ThumbnailMaker, YieldsAroundTheWriteAndGivesBackWhatItMadeOnEveryWayOut) {
    const std::size_t before = gdi::LiveObjectCount();
    {
        Gallery gallery;
        WriteBmp(gallery.folder / "a.bmp", 120, 90, Solid({1, 2, 3}));
        gallery.Make("a.bmp");
        // Once just before the JPEG write and once just after.
        EXPECT_EQ(gallery.host.yields, 2);
        // The two surfaces keep their contexts and the last pictures.
        const std::size_t kept = gdi::LiveObjectCount();
        EXPECT_GT(kept, before);

        EXPECT_THROW(gallery.Make("a.bmp", 0), Fault);
        EXPECT_LE(gdi::LiveObjectCount(), kept);
        gallery.folder.Write("b.bmp", "BM and nothing more");
        EXPECT_THROW(gallery.Make("b.bmp"), Fault);
        EXPECT_LE(gdi::LiveObjectCount(), kept);
        EXPECT_EQ(gallery.host.yields, 2);

        gallery.Make("a.bmp");
        EXPECT_EQ(gdi::LiveObjectCount(), kept);
    }
    EXPECT_EQ(gdi::LiveObjectCount(), before);
}

}  // namespace
}  // namespace fotolane::thumbnails
