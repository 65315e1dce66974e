#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "decoding/PictureDecoder.h"
#include "gallery/Album.h"
#include "tests/TempFolder.h"
#include "tests/thumbnails/ThumbnailTestSupport.h"
#include "thumbnails/AlbumImages.h"

namespace fotolane::thumbnails {
namespace {

using fotolane::testing::ReadFile;
using fotolane::testing::TempFolder;
using testing::Bgr;
using testing::Decode;
using testing::Near;
using testing::RecordingHost;
using testing::TopDown;
using testing::WriteBmp;

const std::string kTestData = FOTOLANE_TESTDATA_DIR;

struct Album {
    Album() {
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
    // 2100 x 300: longer than a preview. Vertical stripes one pixel wide,
    // red and blue, which only a smoothing filter turns into purple.
    WriteBmp(album.folder / "wide.bmp", 2100, 300, [](std::int32_t x, std::int32_t) {
        return x % 2 == 0 ? Bgr{0, 0, 255} : Bgr{255, 0, 0};
    });
    const gallery::AlbumPicture picture =
        album.maker.MakeAlbumImages(album.folder / "wide.bmp", "wide.bmp", album.paths,
                                    gallery::AlbumRemake::All, 70, album.counts);
    EXPECT_EQ(picture.name, "wide.bmp");
    // The thumbnail maker's rule: 300 / (2100 / 70) = 10, 300 / (2100 / 140) = 20,
    // 300 / (2100 / 2048) = 292.57.
    EXPECT_EQ((std::array{picture.thumbnail.width, picture.thumbnail.height}),
              (std::array{70, 10}));
    ASSERT_TRUE(picture.largeThumbnail);
    EXPECT_EQ((std::array{picture.largeThumbnail->width, picture.largeThumbnail->height}),
              (std::array{140, 20}));
    ASSERT_TRUE(picture.preview);
    EXPECT_EQ((std::array{picture.preview->width, picture.preview->height}),
              (std::array{2048, 293}));
    EXPECT_EQ(picture.dateTaken, "");

    const TopDown preview = Decode(album.folder / "Previews/wide.bmp.jpg");
    EXPECT_EQ(preview.Width(), 2048);
    EXPECT_EQ(preview.Height(), 293);
    const TopDown large = Decode(album.folder / "Thumbnails@2x/wide.bmp.jpg");
    ASSERT_EQ(large.Width(), 140);
    ASSERT_EQ(large.Height(), 20);
    for (const std::int32_t x : {3, 70, 136}) {
        EXPECT_TRUE(Near(large.At(x, 10), Bgr{128, 0, 128}, 12)) << x;
    }
    EXPECT_TRUE(album.host.messages.empty());
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
    EXPECT_EQ((std::array{large.width, large.height}), (std::array{93, 140}));

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
    // --update judges it as it judges a thumbnail: unreadable, so made again.
    album.maker.MakeAlbumImages(album.folder / "a.bmp", "a.bmp", album.paths,
                                gallery::AlbumRemake::Stale, 70, album.counts);
    EXPECT_EQ(picture::ReadPictureSize(album.folder / "Thumbnails@2x/a.bmp.jpg").width, 140);
    // A picture changed since: its image is made again.
    std::filesystem::last_write_time(
        album.folder / "a.bmp",
        std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));
    album.maker.MakeAlbumImages(album.folder / "a.bmp", "a.bmp", album.paths,
                                gallery::AlbumRemake::Outdated, 70, album.counts);
    EXPECT_EQ(picture::ReadPictureSize(album.folder / "Thumbnails@2x/a.bmp.jpg").width, 140);

    // An image that could not be written is not shown.
    gallery::AlbumPaths missing = album.paths;
    missing.largeThumbnailFolder = album.folder / "missing/";
    EXPECT_FALSE(album.maker
                     .MakeAlbumImages(album.folder / "a.bmp", "a.bmp", missing,
                                      gallery::AlbumRemake::All, 70, album.counts)
                     .largeThumbnail);
    ASSERT_EQ(album.host.Texts(), std::vector<std::string>{"Failed to save to JPG"});
    EXPECT_EQ((std::array{album.counts.made, album.counts.kept, album.counts.failed}),
              (std::array{2, 1, 1}));
    WriteBmp(album.folder / "wide.bmp", 2100, 30, testing::Solid({0, 200, 0}));
    missing.previewFolder = album.folder / "missing/";
    EXPECT_FALSE(album.maker
                     .MakeAlbumImages(album.folder / "wide.bmp", "wide.bmp", missing,
                                      gallery::AlbumRemake::All, 70, album.counts)
                     .preview);
}

}  // namespace
}  // namespace fotolane::thumbnails
