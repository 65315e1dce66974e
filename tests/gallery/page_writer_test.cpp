#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "gallery/GalleryPage.h"
#include "gallery/GalleryPaths.h"
#include "platform/core/Fault.h"
#include "platform/files/FileSystem.h"
#include "tests/TempFolder.h"
#include "tests/gallery/FakeGalleryFrontEnd.h"
#include "tests/gallery/FakeThumbnailMaker.h"
#include "tests/gallery/Golden.h"

namespace fotolane::gallery {
namespace {

using testing::ExpectGolden;
using testing::FakeGalleryInputs;
using testing::FakeThumbnailMaker;
using testing::Golden;
using testing::ReadFile;
using testing::TempFolder;

std::string Lines(std::initializer_list<std::string_view> lines) {
    std::string text;
    for (const std::string_view line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

// A page written straight through the page writer, for the cases that need
// no folder of pictures.
class PageWriterTest : public ::testing::Test {
  protected:
    PageWriterTest() { file.Open(path); }

    std::string Written() {
        file.Close();
        return ReadFile(path);
    }

    TempFolder folder;
    std::string path = folder / "page.htm";
    TextFileWriter file;
    FakeGalleryInputs inputs;
    FakeThumbnailMaker maker;
    GalleryPage page{file, inputs, maker, "/photos/Trip"};
};

TEST(MakeWindowName, KeepsLettersAndDigitsAndALeadingNonDigit) {
    EXPECT_EQ(MakeWindowName("2004-06 Beach party"), "_004_06_Beach_party");
    EXPECT_EQ(MakeWindowName("-x"), "-x");
    // One character for each character: the first "é" is no digit and stays.
    EXPECT_EQ(MakeWindowName("\xC3\xA9t\xC3\xA9"), "\xC3\xA9t_");
    EXPECT_EQ(MakeWindowName("holiday.2004"), "holiday_2004");
    EXPECT_EQ(MakeWindowName("Beach"), "Beach");
    EXPECT_EQ(MakeWindowName("9"), "_");
    EXPECT_EQ(MakeWindowName("0x"), "_x");
    EXPECT_EQ(MakeWindowName(""), "");
    EXPECT_EQ(MakeWindowName("\xE6\x97\xA5\xE6\x9C\xAC"), "\xE6\x97\xA5_");
    // An invalid byte is one character, U+FFFD.
    EXPECT_EQ(MakeWindowName("\xFF"
                             "a\xFF"),
              "\xEF\xBF\xBD"
              "a_");
}

TEST(UrlPart, PercentEncodesEveryByteButTheSafeOnes) {
    EXPECT_EQ(UrlPart("holiday.2004.JPEG"), "holiday.2004.JPEG");
    EXPECT_EQ(UrlPart("IMG_0001-x~!$()*+,;=@"), "IMG_0001-x~!$()*+,;=@");
    EXPECT_EQ(UrlPart("Tom's party.jpg"), "Tom%27s%20party.jpg");
    EXPECT_EQ(UrlPart("a#1:b?c/d\\e%f&g\"h<i>"), "a%231%3Ab%3Fc%2Fd%5Ce%25f%26g%22h%3Ci%3E");
    EXPECT_EQ(UrlPart("\xC3\xA9\xFF\x01"), "%C3%A9%FF%01");
}

TEST(HtmlText, EscapesMarkupAndWritesIso88591WithReferencesAbove) {
    EXPECT_EQ(HtmlText("Tom & <Jerry> \"x\" 's"), "Tom &amp; &lt;Jerry&gt; &quot;x&quot; 's");
    EXPECT_EQ(HtmlText("\xC3\xA9t\xC3\xA9 \xC3\xBF"), "\xE9t\xE9 \xFF");
    EXPECT_EQ(HtmlText("\xE6\x97\xA5 \xF0\x9F\x98\x80"), "&#26085; &#128512;");
    EXPECT_EQ(HtmlText("a\rb\nc\r\n"), "a&#13;b&#10;c&#13;&#10;");
    EXPECT_EQ(PageCharacters("<&>"), "<&>");
}

TEST(HtmlText, InvalidUtf8BecomesTheReplacementCharacter) {
    EXPECT_EQ(HtmlText("a\xFF"
                       "b"),
              "a&#65533;b");
    // A sequence cut short is one replacement; a stray continuation byte, an
    // overlong form and a surrogate are replaced byte by byte where no
    // well-formed beginning exists.
    EXPECT_EQ(HtmlText("\xE2\x82"), "&#65533;");
    EXPECT_EQ(HtmlText("\xE2\x82x"), "&#65533;x");
    EXPECT_EQ(HtmlText("\x80"), "&#65533;");
    EXPECT_EQ(HtmlText("\xC0\xAF"), "&#65533;&#65533;");
    EXPECT_EQ(HtmlText("\xED\xA0\x80"), "&#65533;&#65533;&#65533;");
    EXPECT_EQ(HtmlText("\xF4\x90\x80\x80"), "&#65533;&#65533;&#65533;&#65533;");
    EXPECT_EQ(HtmlText("\xF4\x8F\xBF\xBF"), "&#1114111;");
}

TEST(TypedTitle, KeepsMarkupAndWritesLineBreaksAsCrLf) {
    EXPECT_EQ(TypedTitle("<b>Hi</b> & 'you'"), "<b>Hi</b> & 'you'");
    EXPECT_EQ(TypedTitle("a\nb\r\nc\rd\n\ne"), "a\r\nb\r\nc\r\nd\r\n\r\ne");
    EXPECT_EQ(TypedTitle("\xC3\xA9\xE6\x97\xA5\xFF"), "\xE9&#26085;&#65533;");
}

TEST(ScriptStringInAttribute, EscapesForTheScriptStringThenForTheAttribute) {
    EXPECT_EQ(ScriptStringInAttribute("Tom's"), "Tom\\'s");
    EXPECT_EQ(ScriptStringInAttribute("a\\b"), "a\\\\b");
    EXPECT_EQ(ScriptStringInAttribute("\"&<>"), "&quot;&amp;&lt;>");
    EXPECT_EQ(ScriptStringInAttribute("\n\x7F"), "\\u000A\\u007F");
    EXPECT_EQ(ScriptStringInAttribute("\xE2\x80\xA8"), "\\u2028");
    EXPECT_EQ(ScriptStringInAttribute("\xC3\xA9\xE6\x97\xA5"), "\xE9&#26085;");
}

TEST(PerRowCount, IsTheTypedNumberWithoutItsSign) {
    EXPECT_EQ(PerRowCount("3"), 3);
    EXPECT_EQ(PerRowCount("-3"), 3);
    EXPECT_EQ(PerRowCount("2.5"), 2);
    EXPECT_EQ(PerRowCount("-2147483648"), 2147483648);
    EXPECT_EQ(PerRowCount(""), 0);
    EXPECT_THROW(PerRowCount("2147483648"), Fault);

    EXPECT_TRUE(IsMultipleOf(6, 3));
    EXPECT_FALSE(IsMultipleOf(7, 3));
    try {
        IsMultipleOf(1, 0);
        FAIL();
    } catch (const Fault& fault) {
        EXPECT_STREQ(fault.Description(), "Division by zero");
    }
}

TEST_F(PageWriterTest, BeachCellWithTheViewerOpensThePictureAtItsOwnSize) {
    inputs.viewerCheck = CheckValue::Checked;
    maker.sizes["Beach.gif"] = {640, 480};
    // Picture 2 of 3 per row neither opens nor closes a row.
    page.WritePictureCell("Beach.gif", 2, 100);
    // The viewer opens Beach.gif itself: Beach.jpg is not in the folder.
    EXPECT_EQ(Written(), Lines({
                             R"(<td align="center" width="100" height="100">)",
                             R"(<img style="cursor:hand" src="Thumbnails/Beach.jpg")",
                             R"(onmouseup = "javascript:Viewer('Beach','Beach.gif',640,480);")",
                             R"(alt="Preview Beach" border="1"></td>)",
                         }));
    EXPECT_EQ(maker.sizeCalls, (std::vector<std::string>{"/photos/Trip/Beach.gif"}));
}

TEST_F(PageWriterTest, BeachCellWithoutTheViewerLinksThePicture) {
    // Only a checked box (1) counts; grey (2) is as good as unchecked.
    inputs.viewerCheck = CheckValue::Unchecked;
    page.WritePictureCell("Beach.gif", 2, 100);
    inputs.viewerCheck = CheckValue::Grey;
    page.WritePictureCell("Beach.gif", 2, 100);
    const std::string cell = Lines({
        R"(<td align="center" width="100" height="100">)",
        R"(<a href="Beach.gif">)",
        R"(<img src="Thumbnails/Beach.jpg"alt="Preview Beach" border="1"></a></td>)",
    });
    EXPECT_EQ(Written(), cell + cell);
    EXPECT_TRUE(maker.sizeCalls.empty());
}

TEST_F(PageWriterTest, TitleIsWrittenAsTypedOnBothLines) {
    inputs.titleCheck = CheckValue::Checked;
    inputs.titleText = "<i>Caf\xC3\xA9</i>\n\xE6\x97\xA5";
    page.WritePageHeader("Trip");
    const std::string written = Written();
    EXPECT_NE(written.find("\r\n<title><i>Caf\xE9</i>\r\n&#26085;</title>\r\n"), std::string::npos);
    EXPECT_NE(written.find("\"Comic Sans MS\"><i>Caf\xE9</i>\r\n&#26085;</font>"),
              std::string::npos);
    EXPECT_EQ(written.find("Trip"), std::string::npos);
}

TEST_F(PageWriterTest, PerRowCountAndViewerAreReadAnewForEveryCell) {
    inputs.forRowText = "2";
    page.WritePictureCell("a.jpg", 1, 50);
    page.WritePictureCell("b.jpg", 2, 50);  // closes the row of 2
    inputs.forRowText = "-1";               // from here one per row
    inputs.viewerCheck = CheckValue::Checked;
    page.WritePictureCell("c.jpg", 3, 50);
    const std::string td = R"(<td align="center" width="50" height="50">)";
    EXPECT_EQ(Written(), Lines({
                             "<tr>",
                             td,
                             R"(<a href="a.jpg">)",
                             R"(<img src="Thumbnails/a.jpg"alt="Preview a" border="1"></a></td>)",
                             td,
                             R"(<a href="b.jpg">)",
                             R"(<img src="Thumbnails/b.jpg"alt="Preview b" border="1"></a></td>)",
                             "</tr>",
                             "<tr>",
                             td,
                             R"(<img style="cursor:hand" src="Thumbnails/c.jpg")",
                             R"(onmouseup = "javascript:Viewer('c','c.jpg',640,480);")",
                             R"(alt="Preview c" border="1"></td>)",
                             "</tr>",
                         }));
}

TEST_F(PageWriterTest, ZeroPerRowFaultsAfterTheFirstCellsLines) {
    inputs.forRowText = "0";
    EXPECT_THROW(page.WritePictureCell("a.jpg", 1, 50), Fault);
    EXPECT_EQ(Written(), Lines({
                             "<tr>",
                             R"(<td align="center" width="50" height="50">)",
                             R"(<a href="a.jpg">)",
                             R"(<img src="Thumbnails/a.jpg"alt="Preview a" border="1"></a></td>)",
                         }));
}

TEST_F(PageWriterTest, PictureWhoseSizeCannotBeHadEndsTheCellAfterItsOpeningLine) {
    inputs.viewerCheck = CheckValue::Checked;
    maker.unreadable.insert("bad.jpg");
    EXPECT_THROW(page.WritePictureCell("bad.jpg", 2, 50), Fault);
    EXPECT_EQ(Written(), Lines({R"(<td align="center" width="50" height="50">)"}));
}

TEST(RootFolderPage, IsNamedDotHtmAndTitledGallery) {
    // A gallery of "/" itself cannot be written in a test; its page is the
    // same as any other folder's with an empty folder name.
    const GalleryPaths paths = MakeGalleryPaths("/");
    ASSERT_EQ(paths.pagePath, "/.htm");
    TempFolder folder;
    TextFileWriter file;
    file.Open(folder / "root.htm");
    FakeGalleryInputs inputs;
    inputs.viewerCheck = CheckValue::Checked;
    FakeThumbnailMaker maker;
    GalleryPage page(file, inputs, maker, "/");
    page.WritePageHeader(paths.folderName);
    page.WritePictureCell("a.jpg", 1, 100);
    page.WritePageFooter();
    file.Close();
    // 24 head lines (the 14 script lines among them), "<tr>" and the cell's
    // 4 lines (3 per row leaves the row open), the 4 closing lines.
    ExpectGolden(ReadFile(folder / "root.htm"), "root_folder.htm");
    EXPECT_EQ(maker.sizeCalls, (std::vector<std::string>{"/a.jpg"}));
}

}  // namespace
}  // namespace fotolane::gallery
