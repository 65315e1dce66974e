#include <gtest/gtest.h>

#include <string>

#include "gallery/GalleryPaths.h"
#include "gallery/GalleryRun.h"
#include "gallery/ModThumbnails.h"
#include "gallery/PictureNames.h"

namespace fotolane::gallery {
namespace {

using ModThumbnails::FileExtension;
using ModThumbnails::LastPathPart;
using ModThumbnails::SplitFileName;

struct Split {
    std::string name;
    std::string folder;
    bool found;
};

Split SplitOf(std::string path, bool found = false) {
    std::string name = SplitFileName(path, found);
    return {name, path, found};
}

TEST(SplitFileName, DropsTheLastExtensionOfTheNameAndKeepsTheFolderPart) {
    Split split = SplitOf("photo.JPG");
    EXPECT_EQ(split.name, "photo");
    EXPECT_EQ(split.folder, "");
    EXPECT_TRUE(split.found);

    split = SplitOf("/pics/holiday.2004.jpeg");
    EXPECT_EQ(split.name, "holiday.2004");
    EXPECT_EQ(split.folder, "/pics/");
    EXPECT_TRUE(split.found);

    // A "." in the folder part is never an extension mark.
    split = SplitOf("/my.folder/readme");
    EXPECT_EQ(split.name, "readme");
    EXPECT_EQ(split.folder, "/my.folder/");
    EXPECT_FALSE(split.found);

    split = SplitOf("/pics/");
    EXPECT_EQ(split.name, "");
    EXPECT_EQ(split.folder, "/pics/");
    EXPECT_FALSE(split.found);

    split = SplitOf("/");
    EXPECT_EQ(split.name, "");
    EXPECT_EQ(split.folder, "/");
}

TEST(SplitFileName, EdgesOfTheExtensionMark) {
    Split split = SplitOf(".profile");
    EXPECT_EQ(split.name, "");
    EXPECT_TRUE(split.found);

    split = SplitOf("name.");
    EXPECT_EQ(split.name, "name");
    EXPECT_TRUE(split.found);

    // With the flag already set nothing is dropped.
    split = SplitOf("a.b", true);
    EXPECT_EQ(split.name, "a.b");
    EXPECT_EQ(split.folder, "");
    EXPECT_TRUE(split.found);

    split = SplitOf("/x/a.b.c", true);
    EXPECT_EQ(split.name, "a.b.c");
    EXPECT_EQ(split.folder, "/x/");

    // Multi-byte UTF-8 passes through untouched.
    split = SplitOf("/\xC3\xA9t\xC3\xA9/\xE6\x97\xA5.jpg");
    EXPECT_EQ(split.name, "\xE6\x97\xA5");
    EXPECT_EQ(split.folder, "/\xC3\xA9t\xC3\xA9/");
}

TEST(FileExtension, IsTheTextAfterTheLastDotOfTheFileNamePart) {
    EXPECT_EQ(FileExtension("Beach.Gif"), "Gif");
    EXPECT_EQ(FileExtension("archive.tar.gz"), "gz");
    EXPECT_EQ(FileExtension("/x.y/file"), "");
    EXPECT_EQ(FileExtension("README"), "");
    EXPECT_EQ(FileExtension("name."), "");
    EXPECT_EQ(FileExtension(".jpg"), "jpg");
    EXPECT_EQ(FileExtension("/x.y/"), "");
    EXPECT_EQ(FileExtension(""), "");
}

TEST(LastPathPart, IsTheTextAfterTheLastSeparator) {
    EXPECT_EQ(LastPathPart("/Photos/Summer"), "Summer");
    EXPECT_EQ(LastPathPart("/"), "");
    EXPECT_EQ(LastPathPart("/Photos/"), "");
    EXPECT_EQ(LastPathPart("Summer"), "Summer");
    EXPECT_EQ(LastPathPart("/a.b/c.d"), "c.d");
    EXPECT_EQ(LastPathPart(""), "");
}

TEST(GalleryPaths, AreFormedFromThePictureFolder) {
    GalleryPaths paths = MakeGalleryPaths("/photos/Summer");
    EXPECT_EQ(paths.folderName, "Summer");
    EXPECT_EQ(paths.pagePath, "/photos/Summer/Summer.htm");
    EXPECT_EQ(paths.thumbnailFolder, "/photos/Summer/Thumbnails/");

    // The root is the one folder whose path ends in the separator: its name
    // is empty, so the page is ".htm", and no separator is doubled.
    paths = MakeGalleryPaths("/");
    EXPECT_EQ(paths.folderName, "");
    EXPECT_EQ(paths.pagePath, "/.htm");
    EXPECT_EQ(paths.thumbnailFolder, "/Thumbnails/");

    EXPECT_EQ(PathInFolder("/", "a.jpg"), "/a.jpg");
    EXPECT_EQ(PathInFolder("/photos", "a.jpg"), "/photos/a.jpg");
}

TEST(IsPictureName, TakesJpgJpegGifAndBmpInAnyLetterCase) {
    for (const char* name :
         {"a.Jpeg", "b.JPG", "c.jpg", "d.gif", "e.GiF", "f.BMP", "g.bmp", "holiday.2004.JPEG"}) {
        EXPECT_TRUE(IsPictureName(name)) << name;
    }
    for (const char* name : {"a.png", "a.jpe", "README", "jpg", "a.jpg.txt", "a.jpeg ", "a."}) {
        EXPECT_FALSE(IsPictureName(name)) << name;
    }
}

TEST(AlbumPictureNames, TellTheAlbumsFormatsAndWhatIsLeftOut) {
    struct Case {
        const char* name;
        AlbumOnlyFormat format;
        bool album;
        const char* leftOut;
    };
    const Case cases[] = {
        {"a.png", AlbumOnlyFormat::Png, true, ""},
        {"b.PNG", AlbumOnlyFormat::Png, true, ""},
        {"c.WebP", AlbumOnlyFormat::WebP, true, ""},
        {"IMG_0001.HEIC", AlbumOnlyFormat::Heic, true, ""},
        {"d.heif", AlbumOnlyFormat::Heic, true, ""},
        {"e.Avif", AlbumOnlyFormat::Avif, true, ""},
        {"f.jpg", AlbumOnlyFormat::None, true, ""},
        {"g.GIF", AlbumOnlyFormat::None, true, ""},
        {"IMG_0002.MOV", AlbumOnlyFormat::None, false, ".mov"},
        {"h.mp4", AlbumOnlyFormat::None, false, ".mp4"},
        {"i.CR2", AlbumOnlyFormat::None, false, ".cr2"},
        {"j.nef", AlbumOnlyFormat::None, false, ".nef"},
        {"k.Tiff", AlbumOnlyFormat::None, false, ".tiff"},
        {"l.3gp", AlbumOnlyFormat::None, false, ".3gp"},
        {"png", AlbumOnlyFormat::None, false, ""},
        {"m.png.txt", AlbumOnlyFormat::None, false, ""},
        {"notes.mov.", AlbumOnlyFormat::None, false, ""},
        {"README", AlbumOnlyFormat::None, false, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AlbumOnlyFormatOfName(c.name), c.format) << c.name;
        EXPECT_EQ(IsAlbumPictureName(c.name), c.album) << c.name;
        EXPECT_EQ(LeftOutExtension(c.name), c.leftOut) << c.name;
        // The gallery's own pictures stay JPEG, GIF and BMP.
        if (c.format != AlbumOnlyFormat::None) {
            EXPECT_FALSE(IsPictureName(c.name)) << c.name;
        }
    }
}

TEST(IsBlankTitle, HoldsOnlySpacesOrNothing) {
    EXPECT_TRUE(IsBlankTitle(""));
    EXPECT_TRUE(IsBlankTitle("   "));
    EXPECT_FALSE(IsBlankTitle(" a "));
    EXPECT_FALSE(IsBlankTitle("\t"));
}

}  // namespace
}  // namespace fotolane::gallery
