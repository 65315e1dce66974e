#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/batch/BatchGallery.h"
#include "platform/core/Fault.h"
#include "platform/files/FilesTesting.h"
#include "platform/ui/UserInterface.h"
#include "tests/TempFolder.h"
#include "tests/gallery/FakeThumbnailMaker.h"

namespace fotolane::batch {
namespace {

using testing::FakeThumbnailMaker;
using testing::ReadFile;
using testing::TempFolder;

struct Outcome {
    int status;
    std::string err;
};

Outcome RunBatch(const BatchSettings& settings, const BatchImageMakers& makers,
                 bool progress = false) {
    std::ostringstream err;
    const int status = RunBatchGallery(settings, makers, err, progress);
    return {status, err.str()};
}

// The album's images as the closing line counts them: a picture's
// high-density thumbnail is written, its preview fails.
class FakeAlbumImages final : public gallery::IAlbumImages {
  public:
    gallery::AlbumPicture MakeAlbumImages(const std::string&, const std::string& strName,
                                          const gallery::AlbumPaths& paths, gallery::AlbumRemake,
                                          std::int32_t,
                                          gallery::AlbumImageCounts& counts) override {
        ++counts.made;
        ++counts.failed;
        ui::Warn("Failed to save to JPG", paths.previewFolder + strName + ".jpg");
        gallery::AlbumPicture picture;
        picture.name = strName;
        picture.thumbnail = {70, 70};
        picture.largeThumbnail = gallery::PixelSize{140, 140};
        return picture;
    }
};

BatchSettings SettingsFor(const TempFolder& folder) {
    BatchSettings settings;
    settings.folder = folder.str();
    return settings;
}

// Three pictures (the listing sorts them) and a file the run leaves alone.
void WritePictures(const TempFolder& folder) {
    folder.Write("a.jpg");
    folder.Write("b.GIF");
    folder.Write("c.bmp");
    folder.Write("notes.txt");
}

std::string PagePath(const TempFolder& folder) {
    return folder / (folder.path().filename().string() + ".htm");
}

TEST(BatchGallery, MakesTheGalleryQuietlyAndEndsWithStatusZero) {
    TempFolder folder;
    WritePictures(folder);
    FakeThumbnailMaker thumbnails;
    const Outcome outcome = RunBatch(SettingsFor(folder), thumbnails);
    EXPECT_EQ(outcome.status, kExitDone);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(thumbnails.thumbnailCalls.size(), 3u);
    const std::string page = ReadFile(PagePath(folder));
    EXPECT_TRUE(page.ends_with("</html>\r\n"));
    EXPECT_NE(page.find("Viewer('c','c.bmp',640,480)"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(folder / "Thumbnails/b.jpg"));

    // A relative folder with a trailing separator names the same gallery.
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(folder.path().parent_path());
    BatchSettings relative;
    relative.folder = folder.path().filename().string() + "/";
    relative.viewer = false;
    const Outcome again = RunBatch(relative, thumbnails);
    std::filesystem::current_path(here);
    EXPECT_EQ(again.status, kExitDone);
    EXPECT_NE(ReadFile(PagePath(folder)).find("<a href=\"c.bmp\">"), std::string::npos);
}

TEST(BatchGallery, ReportsMessagesAndProgressOnTheErrorStream) {
    TempFolder folder;
    WritePictures(folder);
    FakeThumbnailMaker warning;
    warning.duringPicture = [](int picture) {
        if (picture == 2) ui::MessageBox("Failed to save to JPG", ui::Icon::Exclamation);
    };
    const Outcome warned = RunBatch(SettingsFor(folder), warning, /*progress=*/true);
    // A writer's warning does not end the run.
    EXPECT_EQ(warned.status, kExitDone);
    EXPECT_TRUE(
        warned.err.starts_with("\rpicture 1 of 3: a.jpg\x1b[K"
                               "\rpicture 2 of 3: b.GIF\x1b[K\n"
                               "Failed to save to JPG\n"
                               "\rpicture 3 of 3: c.bmp\x1b[K\n"
                               "3 pictures: 3 thumbnails made, 0 kept, 0 skipped, "
                               "0 failed, "))
        << warned.err;

    // The album's images are counted apart from the thumbnails.
    BatchSettings index = SettingsFor(folder);
    index.index = true;
    FakeThumbnailMaker made;
    FakeAlbumImages album;
    // Files the album cannot take are counted by kind, with the album only.
    for (const char* name : {"x.MOV", "y.mov", "z.mov", "r.cr2"}) folder.Write(name, "");
    const Outcome albumFailed = RunBatch(index, {made, &album}, /*progress=*/true);
    EXPECT_EQ(albumFailed.status, kExitIncomplete);
    EXPECT_NE(albumFailed.err.find("\n3 pictures: 3 thumbnails made, 0 kept, 0 skipped, 0 failed; "
                                   "album: 3 images made, 0 kept, 3 failed; "
                                   "left out: 3 .mov, 1 .cr2, "),
              std::string::npos)
        << albumFailed.err;
    // A HEIC is the album's: named in its progress, not left out; the
    // gallery alone does not take it.
    folder.Write("w.HEIC", "");
    FakeThumbnailMaker more;
    const Outcome withHeic = RunBatch(index, {more, &album}, /*progress=*/true);
    EXPECT_NE(withHeic.err.find("\rpicture 4 of 4: w.HEIC\x1b[K"), std::string::npos)
        << withHeic.err;
    EXPECT_NE(
        withHeic.err.find("album: 4 images made, 0 kept, 4 failed; left out: 3 .mov, 1 .cr2, "),
        std::string::npos)
        << withHeic.err;
    FakeThumbnailMaker plain;
    EXPECT_NE(RunBatch(SettingsFor(folder), plain, /*progress=*/true)
                  .err.find("\n3 pictures: 3 thumbnails made, 0 kept, 0 skipped, 0 failed, "),
              std::string::npos);

    FakeThumbnailMaker failing;
    failing.faultAtPicture = 2;
    const Outcome failed = RunBatch(SettingsFor(folder), failing);
    EXPECT_EQ(failed.status, kExitError);
    EXPECT_EQ(failed.err, "Errore : Invalid picture: " + (folder / "b.GIF") + "\n");
    EXPECT_FALSE(ReadFile(PagePath(folder)).ends_with("</html>\r\n"));

    BatchSettings blank = SettingsFor(folder);
    blank.titled = true;
    blank.title = "   ";
    FakeThumbnailMaker unused;
    const Outcome untitled = RunBatch(blank, unused);
    EXPECT_EQ(untitled.status, kExitUsage);
    EXPECT_EQ(untitled.err, "First write a Title!\n");
    EXPECT_EQ(unused.thumbnailCalls.size(), 0u);

    // A folder that can be read but not searched: its pictures cannot be
    // opened, which is no empty folder.
    TempFolder unsearchable;
    unsearchable.Write("a.jpg");
    {
        files::ScopedFailure refused(files::Step::StatEntry, 0, EACCES);
        const Outcome denied = RunBatch(SettingsFor(unsearchable), unused);
        EXPECT_EQ(denied.status, kExitError);
        EXPECT_EQ(denied.err, "Errore : Permission denied: " + (unsearchable / "a.jpg") + "\n");
    }

    BatchSettings missing;
    missing.folder = folder / "gone";
    const Outcome notAFolder = RunBatch(missing, unused);
    EXPECT_EQ(notAFolder.status, kExitUsage);
    EXPECT_EQ(notAFolder.err, "fotolane-gallery: not a folder: " + missing.folder + "\n");
}

extern "C" void CountInterrupt(int) {}

TEST(BatchGallery, AnInterruptStopsAfterThePictureUnderWay) {
    TempFolder folder;
    WritePictures(folder);
    // Whatever handled SIGINT before the run handles it again afterwards.
    struct sigaction mine {};
    mine.sa_handler = CountInterrupt;
    sigemptyset(&mine.sa_mask);
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGINT, &mine, &before), 0);

    FakeThumbnailMaker thumbnails;
    thumbnails.duringPicture = [](int picture) {
        if (picture == 2) std::raise(SIGINT);
    };
    const Outcome outcome = RunBatch(SettingsFor(folder), thumbnails);
    EXPECT_EQ(outcome.status, kExitStopped);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(thumbnails.thumbnailCalls.size(), 2u);
    const std::string page = ReadFile(PagePath(folder));
    EXPECT_NE(page.find("Thumbnails/b.jpg"), std::string::npos);
    EXPECT_EQ(page.find("Thumbnails/c.jpg"), std::string::npos);
    EXPECT_EQ(page.find("</table>"), std::string::npos);

    struct sigaction after {};
    ASSERT_EQ(::sigaction(SIGINT, &before, &after), 0);
    EXPECT_EQ(after.sa_handler, &CountInterrupt);

    // The next run starts without the old request.
    FakeThumbnailMaker next;
    EXPECT_EQ(RunBatch(SettingsFor(folder), next).status, kExitDone);
    EXPECT_EQ(next.thumbnailCalls.size(), 3u);
}

// A recursive run walks folders in the product's one name order (that of
// the pictures), each after its parent, and leaves out the image folders,
// hidden folders, links to folders and sites made by -o.
TEST(BatchGallery, RecursiveRunWalksFoldersInNameOrder) {
    TempFolder top;
    for (const char* folder : {"b/Inner", "A", "a2", "_x", "Thumbnails/t", "Thumbnails@2x",
                               "Previews", ".h", "Site/Inner"}) {
        std::filesystem::create_directories(top.path() / folder);
    }
    top.Write("Site/.fotolane-site", "fotolane-site 1\n");
    std::filesystem::create_directory_symlink(top.path() / "A", top.path() / "Link");
    EXPECT_EQ(GalleryFolders(top.str()),
              (std::vector<std::string>{top.str(), top / "A", top / "a2", top / "b",
                                        top / "b/Inner", top / "_x"}));
}

// Failed thumbnails are told one by one with their paths, the status tells a
// script that the gallery is incomplete, and no name reaches the terminal
// as control characters.
TEST(BatchGallery, ReportsEachUnwrittenThumbnailSafely) {
    TempFolder folder;
    const std::string hostile = "\x1b]0;owned\x07\x1b[2J\xC2\x9B\xFF\\.jpg";
    folder.Write(hostile, "picture");
    folder.Write("b.jpg", "picture");
    FakeThumbnailMaker thumbnails;
    thumbnails.duringPicture = [&](int) {
        const auto& call = thumbnails.thumbnailCalls.back();
        const std::string name = call.strFileName.substr(call.strFileName.rfind('/') + 1);
        ui::Warn("Failed to save to JPG", call.strNewPath + name);
    };
    const Outcome outcome = RunBatch(SettingsFor(folder), thumbnails, /*progress=*/true);
    EXPECT_EQ(outcome.status, kExitIncomplete);
    const std::string shown = "\\x1B]0;owned\\x07\\x1B[2J\\u009B\\xFF\\\\.jpg";
    const std::string thumbs = folder / "Thumbnails/";
    EXPECT_TRUE(outcome.err.starts_with(
        "\rpicture 1 of 2: " + shown + "\x1b[K\n" + "fotolane-gallery: Failed to save to JPG: " +
        TerminalText(thumbs) + shown + "\n" + "\rpicture 2 of 2: b.jpg\x1b[K\n" +
        "fotolane-gallery: Failed to save to JPG: " + TerminalText(thumbs) + "b.jpg\n"))
        << outcome.err;
    EXPECT_EQ(TerminalText("caf\xC3\xA9 \xE6\x97\xA5\tx\x7F"),
              "caf\xC3\xA9 \xE6\x97\xA5\\x09x\\x7F");
}

TEST(BatchGallery, MainAnswersHelpVersionAndUsageErrors) {
    FakeThumbnailMaker thumbnails;
    const auto main = [&](std::vector<std::string> arguments) {
        std::ostringstream out;
        std::ostringstream err;
        const int status = BatchMain(arguments, thumbnails, out, err, false);
        return std::tuple(status, out.str(), err.str());
    };
    const auto [helpStatus, help, helpErr] = main({"--help"});
    EXPECT_EQ(helpStatus, kExitDone);
    EXPECT_TRUE(help.starts_with("Usage: fotolane-gallery"));
    EXPECT_EQ(std::get<1>(main({"--version"})), "fotolane-gallery 0.1.0\n");
    const auto [usageStatus, usageOut, usage] = main({"--size", "x", "pics"});
    EXPECT_EQ(usageStatus, kExitUsage);
    EXPECT_EQ(usageOut, "");
    EXPECT_EQ(usage,
              "fotolane-gallery: option '--size' takes a whole number from 1 to 999, not 'x'\n"
              "Try 'fotolane-gallery --help' for more information.\n");
    EXPECT_EQ(thumbnails.thumbnailCalls.size(), 0u);
}

}  // namespace
}  // namespace fotolane::batch
