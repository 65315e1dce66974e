#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "gallery/GalleryRun.h"
#include "tests/TempFolder.h"
#include "tests/gallery/CallLog.h"
#include "tests/gallery/FakeGalleryFrontEnd.h"
#include "tests/gallery/FakeThumbnailMaker.h"
#include "tests/gallery/Golden.h"

namespace fotolane::gallery {
namespace {

namespace fs = std::filesystem;
using testing::CallLog;
using testing::ExpectGolden;
using testing::FakeGalleryInputs;
using testing::FakeGalleryView;
using testing::FakeThumbnailMaker;
using testing::Golden;
using testing::ReadFile;
using testing::TempFolder;

constexpr std::string_view kFooter = "</table>\r\n</center></div>\r\n</body>\r\n</html>\r\n";

// A page as it stands after cell k: up to that cell's last line, and the
// "</tr>" that closes its row if there is one.
std::string UpToCell(const std::string& page, int k) {
    std::size_t end = 0;
    for (int cell = 0; cell < k; ++cell) {
        end = page.find("</td>\r\n", end);
        if (end == std::string::npos) return "cell missing";
        end += 7;
    }
    if (page.compare(end, 7, "</tr>\r\n") == 0) end += 7;
    return page.substr(0, end);
}

std::string WithoutFooter(const std::string& page) {
    return page.substr(0, page.size() - kFooter.size());
}

class GalleryRunTest : public ::testing::Test {
  public:
    GalleryRunTest() { UseFolder("Trip"); }

    void UseFolder(const std::string& name) {
        folderName = name;
        pictures = root / name;
        fs::create_directories(pictures);
        inputs.folderPath = pictures;
    }

    void Touch(std::initializer_list<std::string> names) {
        for (const std::string& name : names) root.Write(folderName + "/" + name, "picture");
    }

    std::string PagePath() const { return pictures + "/" + folderName + ".htm"; }
    std::string Page() const { return ReadFile(PagePath()); }
    std::string Thumbnails() const { return pictures + "/Thumbnails/"; }

    // The pictures of the seven-picture page: listed in this order (upper-
    // cased, "2" sorts before the letters) whatever the order of creation.
    void SevenPictures() {
        Touch({"p7.jpg", "Night.bmp", "IMG_0002.jpg", "IMG_0001.JPG", "holiday.2004.JPEG",
               "Beach.gif", "2004-06 Beach party.jpg"});
        maker.sizes["holiday.2004.JPEG"] = {1024, 768};
        maker.sizes["IMG_0001.JPG"] = {3000, 2000};
        maker.sizes["IMG_0002.jpg"] = {2000, 3000};
        maker.sizes["Night.bmp"] = {800, 600};
        inputs.viewerCheck = CheckValue::Checked;
        inputs.forRowText = "3";
        inputs.sizeText = "100";
    }

    void ExpectIdleWithoutMessages() const {
        EXPECT_TRUE(view.IsIdle());
        EXPECT_FALSE(run.IsRunning());
        EXPECT_TRUE(view.messages.empty());
    }

    // The one message of a run that ended through its error path.
    void ExpectError(const std::string& description) const {
        EXPECT_TRUE(view.IsIdle());
        EXPECT_FALSE(run.IsRunning());
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, "Errore : " + description);
        EXPECT_EQ(view.messages[0].caption, "Fotolane");
        EXPECT_EQ(view.messages[0].icon, ui::Icon::None);
        EXPECT_EQ(view.messages[0].buttons, ui::Buttons::OK);
    }

    TempFolder root;
    std::string folderName;
    std::string pictures;
    CallLog log;
    FakeGalleryInputs inputs{log};
    FakeGalleryView view{log};
    FakeThumbnailMaker maker{log};
    GalleryRun run{inputs, view, maker};
};

TEST_F(GalleryRunTest, SevenPicturesThreePerRowWithTheViewer) {
    SevenPictures();
    run.Command1_Click();
    // Rows of 3, 3 and 1: "</tr>" after cells 3 and 6 only, and "</table>"
    // straight after cell 7. 61 lines: 24 of the head (14 of them the
    // script), 7 cells of 4 lines, 3 "<tr>", 2 "</tr>", 4 closing lines.
    ExpectGolden(Page(), "seven_per_row_3_viewer.htm");
    ExpectIdleWithoutMessages();
    EXPECT_EQ(maker.written.size(), 7u);
    EXPECT_TRUE(fs::exists(Thumbnails() + "2004-06 Beach party.jpg"));
    EXPECT_TRUE(fs::exists(Thumbnails() + "holiday.2004.jpg"));
    EXPECT_EQ(run.lThumbSize, 100);
    EXPECT_EQ(view.progressMax, 7);

    // A negative count per row is taken as its size.
    inputs.forRowText = "-3";
    run.Command1_Click();
    ExpectGolden(Page(), "seven_per_row_3_viewer.htm");
}

TEST_F(GalleryRunTest, SixPicturesThreePerRowWithLinksInSummer) {
    UseFolder("Summer");
    Touch({"f.Jpeg", "E.jpeg", "d.bmp", "c.gif", "B.JPG", "a.jpg"});
    inputs.sizeText = "70";
    run.Command1_Click();
    // Two full rows, both closed; "</table>" follows the second "</tr>".
    // 36 lines: 10 of the head (no script), 6 cells of 3, 2 "<tr>", 2
    // "</tr>", 4 closing lines. The title is the folder's.
    ExpectGolden(Page(), "six_per_row_3_links_summer.htm");
    EXPECT_TRUE(maker.sizeCalls.empty());
    ExpectIdleWithoutMessages();
}

TEST_F(GalleryRunTest, OnePerRowWithATitleThatKeepsItsBlanks) {
    Touch({"first.jpg", "second.jpg", "third.jpg"});
    inputs.forRowText = "1";
    inputs.sizeText = "120";
    inputs.titleCheck = CheckValue::Checked;
    inputs.titleText = "  Our Holiday  ";
    run.Command1_Click();
    // Every cell in a row of its own: 10 head lines, 3 x ("<tr>", 3 cell
    // lines, "</tr>"), 4 closing lines = 29.
    ExpectGolden(Page(), "one_per_row_titled.htm");
    ExpectIdleWithoutMessages();
}

TEST_F(GalleryRunTest, NamesThatWouldBreakThePageReachTheBrowserExactly) {
    UseFolder("Tom & <Jerry> \xC3\xA9t\xC3\xA9");
    Touch({"Tom's party.jpg", "a#1.jpg", "a:b.jpg", "<script>x.jpg", "R&B.gif",
           "\xC3\xA9t\xC3\xA9.jpg", "\xE6\x97\xA5\xE6\x9C\xAC.gif", "\xFF\xFE.bmp", "'quote.jpg",
           "\"q\".jpg", "\\x.jpg"});
    inputs.forRowText = "4";
    inputs.viewerCheck = CheckValue::Checked;
    // The viewer box is read for every cell: every third cell is a link.
    maker.duringPicture = [this](int picture) {
        inputs.viewerCheck = picture % 3 != 0 ? CheckValue::Checked : CheckValue::Unchecked;
    };
    run.Command1_Click();
    // 11 cells, rows of 4, 4 and 3: 24 head lines, 8 viewer cells of 4 and
    // 3 link cells of 3 lines, 3 "<tr>", 2 "</tr>", 4 closing lines = 74.
    ExpectGolden(Page(), "names_escaped.htm");
    ExpectIdleWithoutMessages();
    // The thumbnails lie under the names the page refers to.
    EXPECT_TRUE(fs::exists(Thumbnails() + "Tom's party.jpg"));
    EXPECT_TRUE(fs::exists(Thumbnails() + "\xFF\xFE.jpg"));
}

TEST_F(GalleryRunTest, CallsComeInTheOrderOfTheRun) {
    Touch({"b.jpg", "a.jpg"});
    inputs.viewerCheck = CheckValue::Checked;
    run.Command1_Click();
    const std::string a = pictures + "/a.jpg";
    const std::string b = pictures + "/b.jpg";
    const std::string thumbs = Thumbnails();
    EXPECT_EQ(log.entries, (std::vector<std::string>{
                               "read Check1",  // the title check
                               "read File1",
                               "disable Command1",
                               "enable Command2",
                               "disable Frame1",
                               "disable Frame2",
                               "disable Frame3",
                               "disable Frame4",
                               "pointer busy",
                               "progress 0",
                               "progress max 2",
                               "read chkJava",  // the head: script, title, heading
                               "read Check1",
                               "read Check1",
                               "read Text2",  // the size, once the head stands
                               "progress 1",
                               "read optThumb",
                               "Get_Thrumbal " + a + " " + thumbs + " All 100",
                               "read chkJava",  // cell 1 opens its row without a count
                               "Get_SizePicture " + a,
                               "read Text1",
                               "yield",
                               "progress 2",
                               "read optThumb",
                               "Get_Thrumbal " + b + " " + thumbs + " All 100",
                               "read Text1",
                               "read chkJava",
                               "Get_SizePicture " + b,
                               "read Text1",
                               "yield",
                               "enable Command1",
                               "disable Command2",
                               "enable Frame1",
                               "enable Frame2",
                               "enable Frame3",
                               "enable Frame4",
                               "progress 0",
                               "pointer default",
                           }));
}

TEST_F(GalleryRunTest, FolderWithoutPicturesWritesNothing) {
    Touch({"notes.txt", "a.png"});
    run.Command1_Click();
    EXPECT_FALSE(fs::exists(PagePath()));
    EXPECT_FALSE(fs::exists(Thumbnails()));
    EXPECT_TRUE(maker.thumbnailCalls.empty());
    ExpectIdleWithoutMessages();
    EXPECT_EQ(view.progressMax, 100);  // left as it was
    EXPECT_EQ(log.entries, (std::vector<std::string>{
                               "read Check1", "read File1", "disable Command1", "enable Command2",
                               "disable Frame1", "disable Frame2", "disable Frame3",
                               "disable Frame4", "pointer busy", "progress 0", "enable Command1",
                               "disable Command2", "enable Frame1", "enable Frame2",
                               "enable Frame3", "enable Frame4", "progress 0", "pointer default"}));
}

TEST_F(GalleryRunTest, OnlyPicturesAreTakenInListingOrder) {
    // A name of blanks alone sorts first; it must not end the listing.
    Touch({"   ", "b.jpg", "A.jpg", "_c.GIF", "10.BMP", "9.Jpeg", "a.png", "a.jpe", "README", "jpg",
           ".hidden.jpg"});
    fs::create_directory(pictures + "/sub.jpg");
    run.Command1_Click();
    const std::vector<std::string> expected = {"10.BMP", "9.Jpeg", "A.jpg", "b.jpg", "_c.GIF"};
    EXPECT_EQ(run.strPictures, expected);
    ASSERT_EQ(maker.thumbnailCalls.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(maker.thumbnailCalls[k].strFileName, pictures + "/" + expected[k]);
    }
    const std::string page = Page();
    EXPECT_LT(page.find("href=\"9.Jpeg\""), page.find("href=\"A.jpg\""));
    EXPECT_LT(page.find("href=\"b.jpg\""), page.find("href=\"_c.GIF\""));
    EXPECT_EQ(view.progressMax, 5);
    ExpectIdleWithoutMessages();
}

TEST_F(GalleryRunTest, OldPageIsReplacedAndThumbnailsFolderReused) {
    Touch({"a.jpg", "b.jpg"});
    root.Write("Trip/Trip.htm", std::string(5000, 'o'));
    fs::create_directory(Thumbnails());
    root.Write("Trip/Thumbnails/a.jpg", "old thumbnail");
    root.Write("Trip/Thumbnails/notes.txt", "mine");
    inputs.allSelected = false;  // "New"
    run.Command1_Click();
    const std::string page = Page();
    EXPECT_EQ(page.rfind("<html>\r\n", 0), 0u);
    EXPECT_EQ(page.find('o' + std::string(10, 'o')), std::string::npos);
    EXPECT_EQ(page.substr(page.size() - kFooter.size()), kFooter);
    EXPECT_EQ(ReadFile(Thumbnails() + "a.jpg"), "old thumbnail");
    EXPECT_EQ(ReadFile(Thumbnails() + "b.jpg"), "thumbnail");
    EXPECT_EQ(ReadFile(Thumbnails() + "notes.txt"), "mine");
    ASSERT_EQ(maker.thumbnailCalls.size(), 2u);
    EXPECT_FALSE(maker.thumbnailCalls[0].bThumbMode);
    EXPECT_FALSE(maker.thumbnailCalls[1].bThumbMode);
    ExpectIdleWithoutMessages();
}

TEST_F(GalleryRunTest, StopTakesEffectAfterThePictureInHand) {
    SevenPictures();
    const std::string full = Golden("seven_per_row_3_viewer.htm");

    // Served at the yield after picture 4: cells 1 to 4, row 2 left open.
    view.onYield = [this](int yield) {
        if (yield == 4) run.Command2_Click();
    };
    run.Command1_Click();
    EXPECT_EQ(Page(), UpToCell(full, 4));
    EXPECT_EQ(maker.thumbnailCalls.size(), 4u);
    EXPECT_TRUE(fs::exists(Thumbnails() + "IMG_0001.jpg"));
    EXPECT_FALSE(fs::exists(Thumbnails() + "IMG_0002.jpg"));
    ExpectIdleWithoutMessages();

    // Pressed while picture 3 is being made: that picture is finished, its
    // row closed, and the run ends.
    view.onYield = nullptr;
    maker.thumbnailCalls.clear();
    maker.duringPicture = [this](int picture) {
        if (picture == 3) run.Command2_Click();
    };
    view.yields = 0;
    run.Command1_Click();
    EXPECT_EQ(Page(), UpToCell(full, 3));
    EXPECT_EQ(view.yields, 3);  // the picture in hand still yields
    EXPECT_EQ(Page().substr(Page().size() - 7), "</tr>\r\n");
    ExpectIdleWithoutMessages();

    // The next run starts without a stop request.
    maker.duringPicture = nullptr;
    maker.thumbnailCalls.clear();
    run.Command1_Click();
    EXPECT_EQ(Page(), full);
}

TEST_F(GalleryRunTest, StopDuringTheLastPictureLeavesOutTheClosingLines) {
    SevenPictures();
    maker.duringPicture = [this](int picture) {
        if (picture == 7) run.Command2_Click();
    };
    run.Command1_Click();
    EXPECT_EQ(Page(), WithoutFooter(Golden("seven_per_row_3_viewer.htm")));
    EXPECT_EQ(maker.written.size(), 7u);
    ExpectIdleWithoutMessages();
}

TEST_F(GalleryRunTest, ZeroPerRowEndsAfterTheFirstCell) {
    UseFolder("Summer");
    Touch({"a.jpg", "B.JPG", "c.gif"});
    inputs.sizeText = "70";
    inputs.forRowText = "0";
    // The message comes after the window is restored, while the run still
    // counts as running (a close waits for it).
    bool idleAtMessage = false;
    bool runningAtMessage = false;
    view.onMessage = [&](const FakeGalleryView::Message&) {
        idleAtMessage = view.IsIdle();
        runningAtMessage = run.IsRunning();
    };
    run.Command1_Click();
    // The first thumbnail is made and its cell written, "<tr>" and all; the
    // count is first used by that cell's row-closing test.
    EXPECT_EQ(maker.thumbnailCalls.size(), 1u);
    EXPECT_EQ(Page(), UpToCell(Golden("six_per_row_3_links_summer.htm"), 1));
    ExpectError("Division by zero");
    EXPECT_TRUE(idleAtMessage);
    EXPECT_TRUE(runningAtMessage);
    EXPECT_EQ(log.entries.back(), "message Errore : Division by zero");
    EXPECT_EQ(log.entries[log.entries.size() - 2], "pointer default");
}

TEST_F(GalleryRunTest, PageThatCannotBeCreatedEndsTheRunBeforeAnythingIsWritten) {
    Touch({"a.jpg"});
    fs::create_directory(PagePath());  // a folder already bears the page's name
    run.Command1_Click();
    ExpectError("Is a folder, not a file: " + PagePath());
    EXPECT_FALSE(fs::exists(Thumbnails()));
    EXPECT_TRUE(maker.thumbnailCalls.empty());
    EXPECT_TRUE(fs::is_directory(PagePath()));
}

// Folders laid out to make the run write where it must not: nothing outside
// the picture folder's own Thumbnails folder and page changes, a refusal is
// one message naming the path, and the earlier page stays whole. With an
// album to follow, its image folders are held to the same rule before
// anything is written.
TEST_F(GalleryRunTest, HostileLayoutsNeverWriteElsewhere) {
    struct Case {
        const char* what;
        std::function<void(GalleryRunTest&, const std::string& elsewhere)> arrange;
        std::string fault;  // the message, "" for a run that is done
        const char* place;  // the folder the fault names; nullptr: the page
    };
    const auto fifo = [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0); };
    const auto album = [](GalleryRunTest& t) { t.inputs.writesAlbum = true; };
    const std::vector<Case> cases = {
        {"Thumbnails a link to its own folder",
         [](GalleryRunTest& t, const std::string&) {
             fs::create_directory_symlink(".", t.pictures + "/Thumbnails");
         },
         "A link stands where the thumbnail folder belongs", "Thumbnails"},
        {"Thumbnails a link elsewhere",
         [](GalleryRunTest& t, const std::string& elsewhere) {
             fs::create_directory_symlink(elsewhere, t.pictures + "/Thumbnails");
         },
         "A link stands where the thumbnail folder belongs", "Thumbnails"},
        {"Thumbnails a file",
         [](GalleryRunTest& t, const std::string&) { t.root.Write("Trip/Thumbnails", "file"); },
         "A file stands where the thumbnail folder belongs", "Thumbnails"},
        {"Thumbnails a FIFO",
         [fifo](GalleryRunTest& t, const std::string&) { fifo(t.pictures + "/Thumbnails"); },
         "A device stands where the thumbnail folder belongs", "Thumbnails"},
        {"album: Thumbnails@2x a link to its own folder",
         [album](GalleryRunTest& t, const std::string&) {
             album(t);
             fs::create_directory_symlink(".", t.pictures + "/Thumbnails@2x");
         },
         "A link stands where the high-density thumbnail folder belongs", "Thumbnails@2x"},
        {"album: Thumbnails@2x a file",
         [album](GalleryRunTest& t, const std::string&) {
             album(t);
             t.root.Write("Trip/Thumbnails@2x", "file");
         },
         "A file stands where the high-density thumbnail folder belongs", "Thumbnails@2x"},
        {"album: Previews a link elsewhere",
         [album](GalleryRunTest& t, const std::string& elsewhere) {
             album(t);
             fs::create_directory_symlink(elsewhere, t.pictures + "/Previews");
         },
         "A link stands where the preview folder belongs", "Previews"},
        {"album: Previews a FIFO",
         [album, fifo](GalleryRunTest& t, const std::string&) {
             album(t);
             fifo(t.pictures + "/Previews");
         },
         "A device stands where the preview folder belongs", "Previews"},
        {"no album: Previews a link elsewhere is none of the run's business",
         [](GalleryRunTest& t, const std::string& elsewhere) {
             fs::create_directory_symlink(elsewhere, t.pictures + "/Previews");
         },
         "", nullptr},
        {"page a link elsewhere",
         [](GalleryRunTest& t, const std::string& elsewhere) {
             fs::create_symlink(elsewhere + "/a.jpg", t.PagePath());
         },
         "", nullptr},
        {"page a FIFO", [fifo](GalleryRunTest& t, const std::string&) { fifo(t.PagePath()); },
         "Not a plain file", nullptr},
        {"page a folder",
         [](GalleryRunTest& t, const std::string&) { fs::create_directory(t.PagePath()); },
         "Is a folder, not a file", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        struct Fresh final : GalleryRunTest {
            void TestBody() override {}
        } t;
        t.Touch({"a.jpg", "b.jpg"});
        const std::string elsewhere = t.root / "elsewhere";
        fs::create_directory(elsewhere);
        t.root.Write("elsewhere/a.jpg", "precious");
        c.arrange(t, elsewhere);
        const bool pageWasThere = fs::exists(fs::symlink_status(t.PagePath()));
        const fs::file_type pageType = fs::symlink_status(t.PagePath()).type();

        ui::ScopedHost host(t.view);
        const RunOutcome& outcome = t.run.Command1_Click();
        EXPECT_EQ(ReadFile(t.pictures + "/a.jpg"), "picture");
        EXPECT_EQ(ReadFile(elsewhere + "/a.jpg"), "precious");
        if (c.fault.empty()) {
            EXPECT_EQ(outcome.end, RunEnd::Done);
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(t.PagePath())));
            EXPECT_TRUE(t.Page().ends_with(kFooter));
            continue;
        }
        const std::string named = c.place ? t.pictures + "/" + c.place : t.PagePath();
        t.ExpectError(c.fault + ": " + named);
        EXPECT_EQ(outcome.end, RunEnd::Failed);
        EXPECT_TRUE(t.maker.thumbnailCalls.empty());
        if (t.inputs.writesAlbum) {
            EXPECT_FALSE(fs::exists(t.Thumbnails()));
        }
        // Every thumbnail the run would have written is told as not written.
        std::vector<std::string> unwritten;
        for (const RunWarning& warning : outcome.warnings) unwritten.push_back(warning.path);
        const std::vector<std::string> expected =
            c.place ? std::vector<std::string>{t.Thumbnails() + "a.jpg", t.Thumbnails() + "b.jpg"}
                    : std::vector<std::string>{};
        EXPECT_EQ(unwritten, expected);
        EXPECT_EQ(fs::exists(fs::symlink_status(t.PagePath())), pageWasThere);
        EXPECT_EQ(fs::symlink_status(t.PagePath()).type(), pageType);
    }
}

// A run killed at the wrong moment leaves a temporary file; the next run in
// that folder takes it away, and only what is recognisably such a file.
TEST_F(GalleryRunTest, LeftoversOfAKilledRunAreRemoved) {
    Touch({"a.jpg"});
    fs::create_directory(Thumbnails());
    // 999999999 is beyond any process id the system hands out.
    const std::vector<std::string> leftovers = {"Trip/.Trip.htm.999999999-3.tmp",
                                                "Trip/Thumbnails/.a.jpg.999999999-1.tmp",
                                                "Trip/Thumbnails/.x y.jpg.999999999-12.tmp"};
    const std::vector<std::string> kept = {"Trip/.other.htm.999999999-3.tmp",
                                           "Trip/.Trip.htm.1-3.tmp", "Trip/.Trip.htm.tmp",
                                           "Trip/Thumbnails/.a.jpg.x-1.tmp"};
    for (const std::string& name : leftovers) root.Write(name, "cut");
    for (const std::string& name : kept) root.Write(name, "mine");
    run.Command1_Click();
    ExpectIdleWithoutMessages();
    for (const std::string& name : leftovers) EXPECT_FALSE(fs::exists(root / name)) << name;
    for (const std::string& name : kept) EXPECT_TRUE(fs::exists(root / name)) << name;
}

TEST_F(GalleryRunTest, ThumbnailFaultAtPictureKKeepsWhatWasWritten) {
    SevenPictures();
    maker.faultAtPicture = 3;
    run.Command1_Click();
    ExpectError("Invalid picture: " + pictures + "/holiday.2004.JPEG");
    EXPECT_EQ(Page(), UpToCell(Golden("seven_per_row_3_viewer.htm"), 2));
    EXPECT_TRUE(fs::exists(Thumbnails() + "Beach.jpg"));
    EXPECT_FALSE(fs::exists(Thumbnails() + "holiday.2004.jpg"));
}

TEST_F(GalleryRunTest, FaultsBeforeTheFirstPicture) {
    // A size beyond 32 bits: the head is written, no thumbnail folder yet.
    UseFolder("Summer");
    Touch({"a.jpg"});
    inputs.sizeText = "99999999999";
    run.Command1_Click();
    ExpectError("Overflow");
    const std::string page = Golden("six_per_row_3_links_summer.htm");
    EXPECT_EQ(Page(), page.substr(0, page.find("<tr>")));
    EXPECT_FALSE(fs::exists(Thumbnails()));

    // A folder that has gone.
    view.messages.clear();
    inputs.folderPath = root / "gone";
    run.Command1_Click();
    ExpectError("Path not found: " + (root / "gone"));
}

TEST_F(GalleryRunTest, FailuresOtherThanFaultsTakeTheErrorPathToo) {
    Touch({"a.jpg"});
    maker.duringPicture = [](int) { throw std::bad_alloc(); };
    run.Command1_Click();
    ExpectError("Out of memory");

    view.messages.clear();
    maker.duringPicture = [](int) { throw std::runtime_error("disk on fire"); };
    run.Command1_Click();
    ExpectError("disk on fire");
}

// Every way a run ends, as the front ends read it: how, the fault, the
// warnings given on the way, and how far it got.
TEST_F(GalleryRunTest, OutcomeTellsHowTheRunEnded) {
    struct Case {
        const char* what;
        std::function<void(GalleryRunTest&)> arrange;
        RunEnd end;
        std::string fault;
        std::size_t warnings;
        std::int32_t pictures;
        std::int32_t cells;
    };
    const std::vector<Case> cases = {
        {"no title", [](GalleryRunTest& t) { t.inputs.titleCheck = CheckValue::Checked; },
         RunEnd::NotStarted, "", 0, 0, 0},
        {"no pictures", [](GalleryRunTest&) {}, RunEnd::NoPictures, "", 0, 0, 0},
        {"done",
         [](GalleryRunTest& t) {
             t.Touch({"a.jpg", "b.jpg"});
         },
         RunEnd::Done, "", 0, 2, 2},
        {"stopped",
         [](GalleryRunTest& t) {
             t.Touch({"a.jpg", "b.jpg"});
             t.maker.duringPicture = [&t](int) { t.run.Command2_Click(); };
         },
         RunEnd::Stopped, "", 0, 2, 1},
        {"failed",
         [](GalleryRunTest& t) {
             t.Touch({"a.jpg", "b.jpg"});
             t.maker.faultAtPicture = 2;
         },
         RunEnd::Failed, "Invalid picture", 0, 2, 1},
        {"warned",
         [](GalleryRunTest& t) {
             t.Touch({"a.jpg", "b.jpg"});
             t.maker.duringPicture = [](int k) {
                 if (k == 2) ui::Warn("Failed to save to JPG", "/t/b.jpg");
             };
         },
         RunEnd::Done, "", 1, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        struct Fresh final : GalleryRunTest {
            void TestBody() override {}
        } t;
        c.arrange(t);
        ui::ScopedHost host(t.view);
        const RunOutcome& outcome = t.run.Command1_Click();
        EXPECT_EQ(outcome.end, c.end);
        EXPECT_EQ(outcome.fault ? outcome.fault->Message() : "", c.fault);
        EXPECT_EQ(outcome.warnings.size(), c.warnings);
        EXPECT_EQ(outcome.Incomplete(), c.warnings > 0);
        EXPECT_EQ(outcome.pictures, c.pictures);
        EXPECT_EQ(outcome.cells, c.cells);
        EXPECT_EQ(&outcome, &t.run.Outcome());
    }
}

TEST_F(GalleryRunTest, TitleCheckStopsOnlyACheckedBlankTitle) {
    Touch({"a.jpg"});
    inputs.titleCheck = CheckValue::Checked;
    for (const char* blank : {"", "   "}) {
        log.Clear();
        view.messages.clear();
        inputs.titleText = blank;
        run.Command1_Click();
        EXPECT_EQ(log.entries, (std::vector<std::string>{"read Check1", "read Text3",
                                                         "message First write a Title!"}));
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].caption, "Fotolane");
        EXPECT_EQ(view.messages[0].icon, ui::Icon::Information);
        EXPECT_EQ(view.messages[0].buttons, ui::Buttons::OK);
        EXPECT_FALSE(fs::exists(PagePath()));
    }

    // Unchecked or grey: an empty title is no obstacle, and the page takes
    // the folder's name.
    for (const CheckValue check : {CheckValue::Unchecked, CheckValue::Grey}) {
        view.messages.clear();
        fs::remove(PagePath());
        inputs.titleCheck = check;
        inputs.titleText = "";
        run.Command1_Click();
        EXPECT_TRUE(view.messages.empty());
        EXPECT_NE(Page().find("<title>Trip Gallery</title>"), std::string::npos);
    }

    inputs.titleCheck = CheckValue::Checked;
    inputs.titleText = " x ";
    run.Command1_Click();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_NE(Page().find("<title> x </title>"), std::string::npos);
}

TEST_F(GalleryRunTest, WhileRunningTheWindowIsBusyAndAnotherGetIsIgnored) {
    Touch({"a.jpg", "b.jpg"});
    std::vector<bool> states;
    view.onYield = [&](int) {
        states.push_back(run.IsRunning());
        states.push_back(!view.enabled[Control::Command1] && view.enabled[Control::Command2] &&
                         !view.enabled[Control::Frame1] && !view.enabled[Control::Frame4] &&
                         view.busyPointer && view.progressValue > 0);
        run.Command1_Click();
        run.BuildGallery();
    };
    run.Command1_Click();
    EXPECT_EQ(states, (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(maker.thumbnailCalls.size(), 2u);
    EXPECT_EQ(run.strPictures.size(), 2u);
    ExpectIdleWithoutMessages();
}

}  // namespace
}  // namespace fotolane::gallery
