#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "gallery/Album.h"
#include "gallery/AlbumPage.h"
#include "gallery/GalleryRun.h"
#include "gallery/Site.h"
#include "platform/core/Fault.h"
#include "platform/ui/UserInterface.h"
#include "tests/TempFolder.h"
#include "tests/gallery/FakeGalleryFrontEnd.h"
#include "tests/gallery/FakeThumbnailMaker.h"

namespace fotolane::gallery {
namespace {

using testing::FakeGalleryInputs;
using testing::FakeGalleryView;
using testing::FakeThumbnailMaker;
using testing::ReadFile;
using testing::TempFolder;

AlbumPicture Picture(std::string name) {
    AlbumPicture picture;
    picture.name = std::move(name);
    picture.thumbnail = {70, 47};
    picture.largeThumbnail = {900, 600};
    picture.smallThumbnail = {450, 300};
    return picture;
}

TEST(AlbumItem, CarriesTheNameExactlyIntoUrlsAttributesAndText) {
    // An apostrophe, '&', '<', '#', a comma, 'é'
    // and a byte that is no UTF-8.
    AlbumPicture picture = Picture("Tom's #1 & <b>,\xC3\xA9\xFF.x.JPG");
    picture.preview = PixelSize{2048, 1365};
    picture.dateTaken = "2004-06-12T14:03:05";
    const std::string item = AlbumItem(picture, 0);
    const std::string url = "Tom%27s%20%231%20%26%20%3Cb%3E,%C3%A9%FF.x.JPG";
    const std::string base = "Tom%27s%20%231%20%26%20%3Cb%3E,%C3%A9%FF.x";
    EXPECT_NE(item.find("<a href=\"" + url + "\" data-preview=\"Previews/" + url +
                        ".jpg\" data-key=\"" + url + "\">"),
              std::string::npos)
        << item;
    // The tile of the screen's density, the 2x one's shape on the item.
    EXPECT_TRUE(item.starts_with("<li style=\"--ar:1.5000\"><figure>")) << item;
    EXPECT_NE(item.find("<img src=\"Thumbnails@1x/" + url + ".jpg\" srcset=\"Thumbnails@1x/" + url +
                        ".jpg 1x, Thumbnails@2x/" + url +
                        ".jpg 2x\" width=\"900\" height=\"600\" "
                        "alt=\"Tom&#39;s #1 &amp; &lt;b&gt;,\xC3\xA9\xEF\xBF\xBD.x\">"),
              std::string::npos)
        << item;
    EXPECT_NE(item.find("<figcaption>Tom&#39;s #1 &amp; &lt;b&gt;,\xC3\xA9\xEF\xBF\xBD.x.JPG "
                        "<time datetime=\"2004-06-12T14:03:05\">2004-06-12 14:03</time>"
                        "</figcaption>"),
              std::string::npos)
        << item;
    EXPECT_EQ(item.find("loading="), std::string::npos);
}

TEST(AlbumItem, ShowsASmallPictureItselfAndLoadsLaterThumbnailsLazily) {
    const std::string item = AlbumItem(Picture("a.gif"), kEagerThumbnails);
    EXPECT_NE(item.find("data-preview=\"a.gif\""), std::string::npos) << item;
    EXPECT_NE(item.find(" loading=\"lazy\""), std::string::npos) << item;
    EXPECT_EQ(item.find("<time"), std::string::npos) << item;
}

// Each tile falls back to what is there: 2x and 1x by srcset, one of them
// alone, the gallery's thumbnail, the picture.
TEST(AlbumItem, LinksOnlyTheThumbnailsThatAreThere) {
    const std::optional<PixelSize> none;
    const struct {
        std::optional<PixelSize> large, small;
        bool thumbnail;
        std::string img;  // how the item's <img> starts
    } cases[] = {
        {PixelSize{400, 600}, PixelSize{200, 300}, true,
         "<img src=\"Thumbnails@1x/b.jpg.jpg\" srcset=\"Thumbnails@1x/b.jpg.jpg 1x, "
         "Thumbnails@2x/b.jpg.jpg 2x\" width=\"400\" height=\"600\""},
        {PixelSize{400, 600}, none, false, "<img src=\"Thumbnails@2x/b.jpg.jpg\" width=\"400\""},
        {none, PixelSize{200, 300}, true, "<img src=\"Thumbnails@1x/b.jpg.jpg\" width=\"200\""},
        {none, none, true, "<img src=\"Thumbnails/b.jpg\" width=\"70\""},
        {none, none, false, "<img src=\"b.jpg\" width=\"70\""},
    };
    for (const auto& c : cases) {
        AlbumPicture picture = Picture("b.jpg");
        picture.largeThumbnail = c.large;
        picture.smallThumbnail = c.small;
        picture.hasThumbnail = c.thumbnail;
        const std::string item = AlbumItem(picture, 0);
        EXPECT_NE(item.find(c.img), std::string::npos) << item;
        EXPECT_EQ(item.find("srcset") != std::string::npos, c.large && c.small) << item;
    }
    AlbumPicture alone = Picture("b.jpg");
    alone.largeThumbnail.reset();
    alone.smallThumbnail.reset();
    EXPECT_NE(AlbumItem(alone, 0).find("<li style=\"--ar:1.4894\"><figure>"), std::string::npos);
}

// The picture's caption: escaped, cleaned and capped, shortened under the
// thumbnail to 80 characters (not bytes) with the whole one in data-caption.
TEST(AlbumItem, ShowsTheCaptionAsTextShortenedWithTheWholeOneBeside) {
    const auto repeat = [](const std::string& part, int times) {
        std::string text;
        for (int i = 0; i < times; ++i) text += part;
        return text;
    };
    const std::string e = "\xC3\xA9";         // é, two bytes
    const std::string euro = "\xE2\x82\xAC";  // €, three bytes
    const std::string ellipsis = "\xE2\x80\xA6";
    struct Case {
        std::string caption;
        std::string whole;  // data-caption's value; empty: no caption at all
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"<b>Bold</b> & \"Tom's\"", "&lt;b&gt;Bold&lt;/b&gt; &amp; &quot;Tom&#39;s&quot;",
         "&lt;b&gt;Bold&lt;/b&gt; &amp; &quot;Tom&#39;s&quot;"},
        {repeat(e, 80), repeat(e, 80), repeat(e, 80)},
        {repeat(e, 81), repeat(e, 81), repeat(e, 80) + ellipsis},
        {repeat("x", 79) + " yz", repeat("x", 79) + " yz", repeat("x", 79) + ellipsis},
        {"\t a\x01\r\nb \x7F\xFF  ", "a b \xEF\xBF\xBD", "a b \xEF\xBF\xBD"},
        // 3,000 bytes: 666 whole characters are the most of 2,000 bytes.
        {repeat(euro, 1000), repeat(euro, 666), repeat(euro, 80) + ellipsis},
        {" \t\n", "", ""},
    };
    for (const Case& c : cases) {
        AlbumPicture picture = Picture("p.jpg");
        picture.caption = c.caption;
        const std::string item = AlbumItem(picture, 0);
        if (c.whole.empty()) {
            EXPECT_EQ(item.find("caption\""), std::string::npos) << item;
            continue;
        }
        EXPECT_NE(item.find("p.jpg <span class=\"caption\" data-caption=\"" + c.whole + "\">" +
                            c.shown + "</span></figcaption>"),
                  std::string::npos)
            << item;
    }
    EXPECT_EQ(AlbumCaption(repeat(e, 1500)), repeat(e, 1000));
    // The camera details ride on the link, escaped as the caption is; an
    // empty one is left out.
    AlbumPicture detailed = Picture("p.jpg");
    detailed.details = {"Tom's <Cam> & \"Co\"", "\xFF", "35 mm", "f/2.8", "", "ISO 400"};
    const std::string item = AlbumItem(detailed, 0);
    EXPECT_NE(item.find("data-key=\"p.jpg\" data-camera=\"Tom&#39;s &lt;Cam&gt; &amp; "
                        "&quot;Co&quot;\" data-lens=\"\xEF\xBF\xBD\" data-focal-length=\"35 mm\" "
                        "data-aperture=\"f/2.8\" data-iso=\"ISO 400\"><img "),
              std::string::npos)
        << item;
    EXPECT_EQ(item.find("data-exposure"), std::string::npos) << item;
}

TEST(AlbumItem, APictureOfTheAlbumsOwnFallsBackToItsTilesAndNeverShowsAHeic) {
    // Without the gallery's thumbnail: the 1x tile, then the picture.
    AlbumPicture png = Picture("a.png");
    png.hasThumbnail = false;
    EXPECT_NE(AlbumItem(png, 0).find("<a href=\"a.png\" data-preview=\"a.png\" data-key=\"a.png\">"
                                     "<img src=\"Thumbnails@1x/a.png.jpg\" srcset="),
              std::string::npos);
    png.largeThumbnail.reset();
    EXPECT_NE(AlbumItem(png, 0).find("<img src=\"Thumbnails@1x/a.png.jpg\" width=\"450\""),
              std::string::npos);
    png.smallThumbnail.reset();
    EXPECT_NE(AlbumItem(png, 0).find("<img src=\"a.png\" width=\"70\""), std::string::npos);
    // A HEIC's lightbox shows its preview, else its largest image; the
    // plain link stays the file.
    AlbumPicture heic = Picture("b.heic");
    heic.hasThumbnail = false;
    heic.browsersShow = false;
    heic.preview = PixelSize{1200, 800};
    EXPECT_NE(AlbumItem(heic, 0).find("<a href=\"b.heic\" data-preview=\"Previews/b.heic.jpg\""),
              std::string::npos);
    heic.preview.reset();
    EXPECT_NE(
        AlbumItem(heic, 0).find("<a href=\"b.heic\" data-preview=\"Thumbnails@2x/b.heic.jpg\""),
        std::string::npos);
    heic.largeThumbnail.reset();
    EXPECT_NE(AlbumItem(heic, 0).find("data-preview=\"Thumbnails@1x/b.heic.jpg\""),
              std::string::npos);
}

TEST(AlbumImageName, IsTheNamePlusJpgAndFitsLongNamesWithoutCollisions) {
    EXPECT_EQ(AlbumImageName("a.gif"), "a.gif.jpg");
    const std::string longest = std::string(247, 'x') + ".jpg";
    EXPECT_EQ(AlbumImageName(longest), longest + ".jpg");
    // 255 bytes: its first bytes, "~", the SHA-256 of the whole name.
    EXPECT_EQ(AlbumImageName(std::string(251, 'x') + ".jpg"),
              std::string(218, 'x') + "~cacfb91198d18d33b9fb651699bff096.jpg");
    // Alike in their first 250 bytes, and in all their shortened name shows.
    const std::string one = AlbumImageName(std::string(250, 'y') + "1.jpg");
    const std::string two = AlbumImageName(std::string(250, 'y') + "2.jpg");
    EXPECT_NE(one, two);
    EXPECT_LE(one.size(), kLongestFileName);
    // The cut leaves whole characters: "é" is two bytes, at 217 and 218.
    EXPECT_TRUE(AlbumImageName(std::string(217, 'x') + "\xC3\xA9" + std::string(32, 'z') + ".jpg")
                    .starts_with(std::string(217, 'x') + "~"));

    // The album's own formats have images too.
    for (const std::string& name :
         {std::string("a.gif.jpg"), std::string("IMG.JPEG.jpg"), std::string("cover.png.jpg"),
          std::string("IMG_1.HEIC.jpg"), one}) {
        EXPECT_TRUE(IsAlbumImageName(name)) << name;
    }
    std::string upper = one;
    upper[upper.size() - 5] = 'A';
    for (const std::string& name :
         {std::string("notes.jpg"), std::string("a.gif"), std::string("a.gif.JPG"),
          std::string("clip.mov.jpg"), upper, one.substr(10)}) {
        EXPECT_FALSE(IsAlbumImageName(name)) << name;
    }
}

// The date order: the date taken moved to UTC by its offset, else the file's
// time; ties, and dates that lie, still give one order by name.
TEST(SortAlbumPictures, OrdersByTheTimeTakenInUtcThenByName) {
    struct Case {
        const char* name;
        const char* dateTaken;
        const char* dateOffset;
        std::int64_t modifiedSeconds;
    };
    const std::vector<Case> cases = {
        {"a.jpg", "2026-07-14T09:00:00", "", 0},
        {"b.jpg", "2026-07-14T10:00:00", "+02:00", 0},  // 08:00 UTC
        {"c.jpg", "", "", 1784019600},                  // 2026-07-14 09:00 UTC, the file's time
        {"d.jpg", "2026-07-13T23:30:00", "-01:00", 0},  // 00:30 UTC on the 14th
        {"e.jpg", "0000-01-01T00:00:00", "", 0},
        {"f.jpg", "9999-12-31T23:59:59", "+99:99", 0},
        {"g.jpg", "2026:07:14 garbage", "bad", 5},
    };
    std::vector<AlbumPicture> pictures;
    for (const Case& c : cases) {
        AlbumPicture picture = Picture(c.name);
        picture.dateTaken = c.dateTaken;
        picture.dateOffset = c.dateOffset;
        picture.modifiedNs = c.modifiedSeconds * 1000000000;
        pictures.push_back(picture);
    }
    const auto names = [&pictures] {
        std::vector<std::string> names;
        for (const AlbumPicture& picture : pictures) names.push_back(picture.name);
        return names;
    };
    std::vector<AlbumPicture> byName(pictures.rbegin(), pictures.rend());
    SortAlbumPictures(byName, AlbumSort::Name);
    EXPECT_EQ(byName.front().name, "a.jpg");
    SortAlbumPictures(pictures, AlbumSort::Date);
    EXPECT_EQ(names(), (std::vector<std::string>{"e.jpg", "g.jpg", "d.jpg", "b.jpg", "a.jpg",
                                                 "c.jpg", "f.jpg"}));
}

TEST(SortAlbumLinks, OrdersAlbumsByTheirEarliestPictureInTheDateOrder) {
    const std::map<std::string, std::int64_t> earliest = {{"b", 10}, {"c", 5}, {"a", 10}};
    std::vector<AlbumChild> children;
    for (const char* name : {"d", "b", "a", "c"}) {
        children.push_back(AlbumChildOf(name, std::nullopt, 0));
    }
    const auto names = [&children] {
        std::string out;
        for (const AlbumChild& child : children) out += child.name;
        return out;
    };
    SortAlbumLinks(children, earliest, AlbumSort::Date);
    EXPECT_EQ(names(), "cabd");
    SortAlbumLinks(children, earliest, AlbumSort::Name);
    EXPECT_EQ(names(), "abcd");
}

// The cover is the first picture's largest image that is there, else that
// of the first album below, moved down a folder for each page above.
TEST(AlbumCoverOf, TakesTheFirstPicturesLargestImageElseTheFirstAlbumsBelow) {
    AlbumPicture small = Picture("b c.jpg");
    small.largeThumbnail.reset();
    AlbumPicture oneX = small;
    small.smallThumbnail.reset();
    AlbumPicture site = small;
    site.siteFiles = true;
    AlbumPicture none = small;
    none.hasThumbnail = false;
    AlbumLinks below;
    below.children = {
        AlbumChildOf(
            "x y", AlbumCover{"Thumbnails@2x/z.jpg.jpg", {140, 93}, "Thumbnails@1x/z.jpg.jpg"}, 3),
        AlbumChildOf("w", std::nullopt, 0)};
    const struct {
        std::vector<AlbumPicture> pictures;
        AlbumLinks links;
        std::optional<AlbumCover> cover;
    } cases[] = {
        {{Picture("a #1.jpg"), small},
         below,
         AlbumCover{
             "Thumbnails@2x/a%20%231.jpg.jpg", {900, 600}, "Thumbnails@1x/a%20%231.jpg.jpg"}},
        {{oneX}, {}, AlbumCover{"Thumbnails@1x/b%20c.jpg.jpg", {450, 300}, {}}},
        {{small}, {}, AlbumCover{"Thumbnails/b%20c.jpg", {70, 47}, {}}},
        {{site}, {}, AlbumCover{"Thumbnails/b%20c.jpg.jpg", {70, 47}, {}}},
        {{none, Picture("a.jpg")}, below, std::nullopt},
        {{},
         below,
         AlbumCover{"x%20y/Thumbnails@2x/z.jpg.jpg", {140, 93}, "x%20y/Thumbnails@1x/z.jpg.jpg"}},
        {{}, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AlbumCoverOf(c.pictures, c.links), c.cover) << (c.cover ? c.cover->url : "none");
    }
    EXPECT_EQ(AlbumChildOf("up", AlbumCoverOf({}, below), 0).cover->url,
              "up/x%20y/Thumbnails@2x/z.jpg.jpg");
}

TEST(AlbumHtml, FillsTheTemplateOnceWithEscapedTitleAndAlbumLinks) {
    const std::vector<AlbumPicture> pictures = {Picture("b.jpg"), Picture("a.jpg")};
    AlbumLinks links;
    links.parent = true;
    links.children = {
        AlbumChildOf("Day 1",
                     AlbumCover{"Thumbnails@2x/a.jpg.jpg", {140, 93}, "Thumbnails@1x/a.jpg.jpg"},
                     12),
        AlbumChildOf("@PICTURES@", std::nullopt, 1),
        AlbumChildOf("Tom's \"<b>\" & #2", AlbumCover{"Thumbnails@2x/b.jpg.jpg", {93, 140}, {}}, 0),
    };
    const std::string page = AlbumHtml("<i>Trip</i> @TITLE@", pictures, links);
    EXPECT_EQ(
        page.rfind("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">", 0), 0u);
    EXPECT_NE(page.find("<title>&lt;i&gt;Trip&lt;/i&gt; @TITLE@</title>"), std::string::npos);
    // In the run's order, not sorted.
    EXPECT_LT(page.find("href=\"b.jpg\""), page.find("href=\"a.jpg\""));
    EXPECT_NE(page.find("<a href=\"../index.html\" rel=\"up\">Up</a>"), std::string::npos);
    // Each album below is a tile above the pictures: a plain link around its
    // cover, its name and its count; without a cover the name alone, and no
    // count for an album of albums.
    EXPECT_NE(page.find("<li><a href=\"Day%201/index.html\"><img src=\"Day%201/Thumbnails@1x/"
                        "a.jpg.jpg\" srcset=\"Day%201/Thumbnails@1x/a.jpg.jpg 1x, "
                        "Day%201/Thumbnails@2x/a.jpg.jpg 2x\" width=\"140\" height=\"93\" "
                        "alt=\"\"><span "
                        "class=\"album-name\">Day 1</span><span class=\"album-count\">12 "
                        "pictures</span></a></li>"),
              std::string::npos);
    EXPECT_NE(page.find("<li><a href=\"@PICTURES@/index.html\"><span class=\"album-name\">"
                        "@PICTURES@</span><span class=\"album-count\">1 picture</span></a></li>"),
              std::string::npos);
    const std::string hostile = "Tom%27s%20%22%3Cb%3E%22%20%26%20%232";
    EXPECT_NE(page.find("<li><a href=\"" + hostile + "/index.html\"><img src=\"" + hostile +
                        "/Thumbnails@2x/b.jpg.jpg\" width=\"93\" height=\"140\" alt=\"\"><span "
                        "class=\"album-name\">Tom&#39;s &quot;&lt;b&gt;&quot; &amp; #2</span></a>"),
              std::string::npos);
    EXPECT_LT(page.find("class=\"albums\""), page.find("class=\"album\""));
    EXPECT_NE(page.find("<dialog id=\"lightbox\" aria-labelledby=\"lightbox-caption\">"),
              std::string::npos);
    EXPECT_NE(page.find("grid-template-columns"), std::string::npos);
    EXPECT_NE(page.find("showModal"), std::string::npos);
    for (const char* marker : {"@STYLE@", "@SCRIPT@", "@NAVIGATION@", "@ALBUMS@"}) {
        EXPECT_EQ(page.find(marker), std::string::npos) << marker;
    }
    EXPECT_EQ(AlbumHtml("x", {}, AlbumLinks{}).find("<nav"), std::string::npos);
    EXPECT_EQ(AlbumHtml("x", {}, AlbumLinks{}).find("class=\"albums\""), std::string::npos);
}

TEST(FillTemplate, LeavesUnknownMarkersAndStrayAtSignsAlone) {
    const std::array<TemplateValue, 1> values = {{{"A", "@A@"}}};
    EXPECT_EQ(FillTemplate("x@A@y@B@z@", values), "x@A@y@B@z@");
    EXPECT_EQ(FillTemplate("a@b@A@", values), "a@b@A@");
}

// Stands in for the album's image maker: writes nothing, records the calls,
// counts one image a picture, and faults or warns where told.
class FakeAlbumImages : public IAlbumImages {
  public:
    AlbumPicture MakeAlbumImages(const std::string& strFileName, const std::string& strName,
                                 const AlbumPaths& paths, AlbumRemake remake,
                                 std::int32_t lThumbSize, AlbumImageCounts& counts) override {
        calls.push_back(strName + (remake == AlbumRemake::All ? " All " : " New ") +
                        std::to_string(lThumbSize));
        EXPECT_EQ(strFileName, paths.indexPath.substr(0, paths.indexPath.size() - 10) + strName);
        if (static_cast<int>(calls.size()) == warnAt) {
            ui::Warn("Failed to save to JPG", strName);
            ++counts.failed;
        } else {
            ++counts.made;
        }
        if (static_cast<int>(calls.size()) == faultAt) throw Fault::InvalidPicture(strFileName);
        return Picture(strName);
    }
    std::vector<std::string> calls;
    int faultAt = 0;
    int warnAt = 0;
};

class BuildAlbumTest : public ::testing::Test {
  protected:
    BuildAlbumTest() {
        inputs.folderPath = folder / "Trip";
        std::filesystem::create_directory(inputs.folderPath);
        for (const char* name : {"c.jpg", "B.gif", "a.bmp", "notes.txt"}) {
            folder.Write("Trip/" + std::string(name));
        }
    }

    RunOutcome Build() {
        run.Command1_Click();
        return BuildAlbum(run, inputs, view, images, AlbumLinks{});
    }
    std::string Index() const { return ReadFile(folder / "Trip/index.html"); }

    TempFolder folder;
    FakeGalleryInputs inputs;
    FakeGalleryView view;
    ui::ScopedHost host{view};  // where the images' warnings go
    FakeThumbnailMaker thumbnails;
    FakeAlbumImages images;
    GalleryRun run{inputs, view, thumbnails};
};

TEST_F(BuildAlbumTest, FollowsTheRunsPicturesInItsOrderAndKeepsItsOutcome) {
    images.warnAt = 2;
    const RunOutcome outcome = Build();
    EXPECT_EQ(outcome.end, RunEnd::Done);
    EXPECT_EQ(outcome.cells, 3);
    ASSERT_EQ(outcome.warnings.size(), 1u);
    EXPECT_EQ(outcome.warnings[0].path, "B.gif");
    EXPECT_EQ(outcome.albumImages.made, 2);
    EXPECT_EQ(outcome.albumImages.failed, 1);
    // Windows order, as the run listed them; the run's size and "All".
    EXPECT_EQ(images.calls,
              (std::vector<std::string>{"a.bmp All 100", "B.gif All 100", "c.jpg All 100"}));
    const std::string index = Index();
    EXPECT_NE(index.find("<title>Trip Gallery</title>"), std::string::npos);
    EXPECT_LT(index.find("href=\"a.bmp\""), index.find("href=\"B.gif\""));
    EXPECT_LT(index.find("href=\"B.gif\""), index.find("href=\"c.jpg\""));
    EXPECT_EQ(index.find("notes.txt"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "Trip/Thumbnails@1x"));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "Trip/Thumbnails@2x"));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "Trip/Previews"));
}

TEST_F(BuildAlbumTest, AStopBetweenPicturesWritesTheAlbumSoFar) {
    // The run yields once per picture (3), the album after each of its own.
    view.onYield = [this](int yield) {
        if (yield == 4) run.Command2_Click();
    };
    inputs.allSelected = false;
    std::filesystem::create_directory(folder / "Trip/Previews");
    for (const char* name : {"Trip/Previews/gone.jpg.jpg", "Trip/Previews/c.jpg.jpg"}) {
        folder.Write(name);
    }
    const RunOutcome outcome = Build();
    EXPECT_EQ(outcome.end, RunEnd::Stopped);
    EXPECT_EQ(images.calls, std::vector<std::string>{"a.bmp New 100"});
    EXPECT_NE(Index().find("href=\"a.bmp\""), std::string::npos);
    EXPECT_EQ(Index().find("href=\"B.gif\""), std::string::npos);
    // A picture the stop kept the album from stays with its images.
    EXPECT_FALSE(std::filesystem::exists(folder / "Trip/Previews/gone.jpg.jpg"));
    EXPECT_TRUE(std::filesystem::exists(folder / "Trip/Previews/c.jpg.jpg"));
}

// Once the album is in place, its image folders keep only the images of
// pictures still in the folder (the skipped one's too), and lose what a
// killed run left; the user's own files, links and live temporaries stay.
TEST_F(BuildAlbumTest, RemovesImagesOfGonePicturesAndLeftoversOnly) {
    inputs.keepGoing = true;
    images.faultAt = 2;  // B.gif, left out of the album
    for (const char* name : {"Trip/Previews", "Trip/Thumbnails@2x", "Trip/Thumbnails@1x"}) {
        std::filesystem::create_directory(folder / name);
    }
    // 999999999 is beyond any process id; process 1 is always running.
    const std::vector<std::string> gone = {
        "Trip/Previews/gone.jpg.jpg",
        "Trip/Thumbnails@2x/gone.jpg.jpg",
        "Trip/Thumbnails@1x/gone.png.jpg",
        "Trip/Thumbnails@2x/" + AlbumImageName(std::string(251, 'g') + ".jpg"),
        "Trip/Previews/c.jpg.jpg",  // c.jpg is now shown without a preview
        "Trip/.index.html.999999999-3.tmp",
        "Trip/Previews/.a.bmp.jpg.999999999-1.tmp",
        "Trip/Thumbnails@2x/.c.jpg.jpg.999999999-2.tmp"};
    const std::vector<std::string> kept = {
        "Trip/Previews/notes.jpg",      "Trip/Previews/B.gif.jpg",
        "Trip/Thumbnails@2x/B.gif.jpg", "Trip/Thumbnails@2x/c.jpg.jpg",
        "Trip/Thumbnails@1x/c.jpg.jpg", "Trip/Thumbnails@1x/B.gif.jpg",
        "Trip/.index.html.1-3.tmp"};
    for (const std::string& name : gone) folder.Write(name);
    for (const std::string& name : kept) folder.Write(name);
    std::filesystem::create_symlink("../notes.txt", folder / "Trip/Previews/link.jpg.jpg");

    EXPECT_EQ(Build().end, RunEnd::Done);
    for (const std::string& name : gone)
        EXPECT_FALSE(std::filesystem::exists(folder / name)) << name;
    for (const std::string& name : kept)
        EXPECT_TRUE(std::filesystem::exists(folder / name)) << name;
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "Trip/Previews/link.jpg.jpg"));
}

// A folder without pictures whose album leads elsewhere: nothing goes
// through an image folder that is a link, not even a removal.
TEST_F(BuildAlbumTest, AnImageFolderThatIsNoFolderEndsTheAlbum) {
    for (const char* name : {"c.jpg", "B.gif", "a.bmp"}) {
        std::filesystem::remove(folder / ("Trip/" + std::string(name)));
    }
    std::filesystem::create_directory(folder / "elsewhere");
    folder.Write("elsewhere/gone.jpg.jpg", "not ours");
    std::filesystem::create_directory_symlink(folder / "elsewhere", folder / "Trip/Previews");
    run.Command1_Click();
    AlbumLinks links;
    links.parent = true;
    const RunOutcome outcome = BuildAlbum(run, inputs, view, images, links);
    EXPECT_EQ(outcome.end, RunEnd::Failed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Errore : A link stands where the preview folder belongs: " +
                                         (folder / "Trip/Previews"));
    EXPECT_EQ(ReadFile(folder / "elsewhere/gone.jpg.jpg"), "not ours");
    EXPECT_FALSE(std::filesystem::exists(folder / "Trip/index.html"));
}

TEST_F(BuildAlbumTest, AFaultEndsTheRunAsFailedWithItsMessageAndNoAlbum) {
    images.faultAt = 2;
    const RunOutcome outcome = Build();
    EXPECT_EQ(outcome.end, RunEnd::Failed);
    ASSERT_TRUE(outcome.fault);
    ASSERT_FALSE(view.messages.empty());
    EXPECT_EQ(view.messages.back().text, "Errore : Invalid picture: " + (folder / "Trip/B.gif"));
    EXPECT_FALSE(std::filesystem::exists(folder / "Trip/index.html"));
}

TEST_F(BuildAlbumTest, NoAlbumAfterARunThatDidNotEndNormally) {
    thumbnails.faultAtPicture = 2;
    EXPECT_EQ(Build().end, RunEnd::Failed);
    EXPECT_TRUE(images.calls.empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "Trip/index.html"));
}

TEST(SiteRecord, NamesOfAnyBytesComeBackAndOnlyARecordOfTheSiteIsRead) {
    SiteRecord record;
    record["a\tb/Thumbnails/x\ny\\z.jpg.jpg"] = {
        "a\tb/x\ny\\z.jpg",
        {12, -3},
        "thumbnail 70",
        {70, 52},
        {200, 150},
        "2003-12-14T12:01:44",
        "<b>Caf\xC3\xA9</b>\t\\n",
        CameraDetails{"Canon\tEOS\n", "EF \\ 50mm", "50 mm", "f/1.8", "1/250 s", "ISO 400"},
        "-03:30"};
    record["index.html"] = {"", {}, "page", {}, {}, {}, std::string(), CameraDetails(), {}};
    const std::string text = FormatSiteRecord(record);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
    EXPECT_EQ(ParseSiteRecord(text), record);
    // Records of the earlier versions: their entries have no caption, or no
    // details, so that their pictures are read again.
    const std::optional<SiteRecord> first =
        ParseSiteRecord("fotolane-site 1\nx.jpg\tx.jpg\t1\t2\tk\t1x1\t3x3\t2003-12-14T12:01:44\n");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->at("x.jpg"), (SiteEntry{"x.jpg",
                                             {1, 2},
                                             "k",
                                             {1, 1},
                                             {3, 3},
                                             "2003-12-14T12:01:44",
                                             std::nullopt,
                                             std::nullopt,
                                             {}}));
    const std::optional<SiteRecord> second =
        ParseSiteRecord("fotolane-site 2\nx.jpg\tx.jpg\t1\t2\tk\t1x1\t3x3\t\tBoats\n");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->at("x.jpg"),
              (SiteEntry{"x.jpg", {1, 2}, "k", {1, 1}, {3, 3}, "", "Boats", std::nullopt, {}}));
    for (const std::string& broken : std::vector<std::string>{
             std::string(), "fotolane-site 4\n", text.substr(0, text.size() - 1),
             "fotolane-site 3\nx\ts\t1\t1\tk\t1x1\t1x1\t\tcaption\n",
             "fotolane-site 3\nx\ts\t1\t1\tk\t1x1\t1x1\t\t\t\t\t\t\t\tbad\\\n",
             "fotolane-site 2\nx\ts\t1\t1\tk\t1x1\t1x1\t\n",
             "fotolane-site 1\nx\ts\t1\t1\tk\t1x1\t1x1\t\t\n",
             "fotolane-site 2\nx\ts\t1\t1\tk\t1x1\t1x1\t\tbad\\\n",
             "fotolane-site 1\n../x\ts\t1\t1\tk\t1x1\t1x1\t\n",
             "fotolane-site 1\nx\ts\t1\tone\tk\t1x1\t1x1\t\n",
             "fotolane-site 1\nx\\q\ts\t1\t1\tk\t1x1\t1x1\t\n"}) {
        EXPECT_EQ(ParseSiteRecord(broken), std::nullopt) << broken;
    }
}

}  // namespace
}  // namespace fotolane::gallery
