#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/codecs/PictureDecoder.h"
#include "tests/TempFolder.h"

extern char** environ;

namespace fotolane::batch {
namespace {

using testing::ReadFile;
using testing::TempFolder;

const std::string kTestData = FOTOLANE_TESTDATA_DIR;

// fotolane-gallery started with its output streams in files.
class Program {
  public:
    explicit Program(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {FOTOLANE_GALLERY_PROGRAM};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (std::string& argument : argv) pointers.push_back(argument.data());
        pointers.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (output_ / "out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (output_ / "err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int error =
            posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) pid_ = -1;
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program() {
        if (pid_ > 0) Wait();
    }

    void Interrupt() const { ::kill(pid_, SIGINT); }

    // The exit status; -1 when the program did not start or did not exit.
    int Wait() {
        int status = 0;
        const pid_t pid = std::exchange(pid_, -1);
        if (pid <= 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }
    std::string Out() const { return ReadFile(output_ / "out"); }
    std::string Err() const { return ReadFile(output_ / "err"); }

  private:
    TempFolder output_;
    pid_t pid_ = -1;
};

struct Finished {
    int status;
    std::string out;
    std::string err;
};

Finished RunProgram(const std::vector<std::string>& arguments) {
    Program program(arguments);
    const int status = program.Wait();
    return {status, program.Out(), program.Err()};
}

// A folder "Trip" of real photos and pictures: landscape and portrait
// (stored sideways, turned by EXIF orientation 6), a bitmap and a GIF.
struct Trip {
    TempFolder root;
    std::string folder = root / "Trip";
    std::string page = folder + "/Trip.htm";
    std::string thumbnails = folder + "/Thumbnails/";

    Trip() {
        std::filesystem::create_directory(folder);
        Copy("exif-orientation-examples/Landscape_1.jpg", "Lake.jpg");
        Copy("exif-orientation-examples/Portrait_6.jpg", "Tower.JPG");
        Copy("pillow/jpeg/flower.jpg", "flower.jpeg");
        Copy("pillow/bmp/hopper.bmp", "hopper.bmp");
        Copy("pillow/gif/transparent.gif", "dice.gif");
    }
    void Copy(const std::string& from, const std::string& to) const {
        std::filesystem::copy_file(kTestData + "/" + from, folder + "/" + to);
    }
    std::string Thumb(const std::string& base) const { return thumbnails + base + ".jpg"; }
    std::pair<int, int> ThumbSize(const std::string& base) const {
        const picture::PictureSize size = picture::ReadPictureSize(Thumb(base));
        return {size.width, size.height};
    }
};

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(BatchEndToEnd, MakesTheGalleryOfAFolderOfPhotos) {
    Trip trip;
    const Finished run = RunProgram({trip.folder});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");

    // Longer side 70; 1200 / (1800 / 70) = 46.67 and 360 / (480 / 70) = 52.5.
    EXPECT_EQ(trip.ThumbSize("Lake"), std::pair(70, 47));
    EXPECT_EQ(trip.ThumbSize("Tower"), std::pair(47, 70));
    EXPECT_EQ(trip.ThumbSize("flower"), std::pair(70, 52));
    EXPECT_EQ(trip.ThumbSize("hopper"), std::pair(70, 70));
    EXPECT_EQ(trip.ThumbSize("dice"), std::pair(70, 52));

    const std::string page = ReadFile(trip.page);
    EXPECT_NE(page.find("<title>Trip Gallery</title>\r\n"), std::string::npos);
    EXPECT_EQ(Count(page, "<td align=\"center\" width=\"70\" height=\"70\">"), 5u);
    EXPECT_EQ(Count(page, "<tr>"), 2u);  // three to a row
    EXPECT_NE(page.find("Viewer('Tower','Tower.JPG',1200,1800);"), std::string::npos);
    EXPECT_TRUE(page.ends_with("</table>\r\n</center></div>\r\n</body>\r\n</html>\r\n"));

    // "All" again with other settings makes every thumbnail anew.
    const Finished again = RunProgram({"--size", "100", "--per-row=1", "--no-viewer", "--title",
                                       "Summer 2024", trip.folder + "/"});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(trip.ThumbSize("Tower"), std::pair(67, 100));
    EXPECT_EQ(trip.ThumbSize("hopper"), std::pair(100, 100));
    const std::string retitled = ReadFile(trip.page);
    EXPECT_NE(retitled.find("<title>Summer 2024</title>\r\n"), std::string::npos);
    EXPECT_EQ(Count(retitled, "<tr>"), 5u);
    EXPECT_NE(retitled.find("<a href=\"dice.gif\">"), std::string::npos);
    EXPECT_EQ(retitled.find("Viewer("), std::string::npos);
}

TEST(BatchEndToEnd, NewMakesOnlyTheMissingThumbnails) {
    Trip trip;
    ASSERT_EQ(RunProgram({trip.folder}).status, 0);
    std::ofstream(trip.Thumb("Lake")) << "kept";
    std::filesystem::remove(trip.Thumb("hopper"));
    // A picture that cannot be read does not matter while its thumbnail exists.
    std::ofstream(trip.folder + "/flower.jpeg") << "no longer a picture";
    const Finished run = RunProgram({"--new", "--no-viewer", trip.folder});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFile(trip.Thumb("Lake")), "kept");
    EXPECT_EQ(trip.ThumbSize("hopper"), std::pair(70, 70));
    EXPECT_TRUE(ReadFile(trip.page).ends_with("</html>\r\n"));
}

TEST(BatchEndToEnd, IndexAddsTheAlbumAndLeavesThePageAndThumbnailsAsTheyAre) {
    Trip trip;
    ASSERT_EQ(RunProgram({trip.folder}).status, 0);
    std::map<std::string, std::string> without;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(trip.folder)) {
        if (entry.is_regular_file()) without[entry.path().string()] = ReadFile(entry.path());
    }

    const Finished run = RunProgram({"--index", trip.folder});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    // Every file of the gallery alone is there byte for byte; the album's
    // files stand beside them.
    for (const auto& [path, bytes] : without) EXPECT_EQ(ReadFile(path), bytes) << path;
    const std::string album = ReadFile(trip.folder + "/index.html");
    EXPECT_NE(album.find("href=\"Tower.JPG\""), std::string::npos);
    EXPECT_NE(album.find("flower.jpeg <time datetime=\"2003-12-14T12:01:44\">"), std::string::npos);
    const picture::PictureSize tower =
        picture::ReadPictureSize(trip.folder + "/Thumbnails@2x/Tower.JPG.jpg");
    EXPECT_EQ(std::pair(tower.width, tower.height), std::pair(93, 140));
    EXPECT_TRUE(std::filesystem::is_directory(trip.folder + "/Previews"));
}

TEST(BatchEndToEnd, ExitStatusTellsHowTheRunEnded) {
    Trip trip;
    const Finished usage = RunProgram({});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.err,
              "fotolane-gallery: no folder given\n"
              "Try 'fotolane-gallery --help' for more information.\n");
    const Finished help = RunProgram({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: fotolane-gallery [options] FOLDER\n"));

    const Finished untitled = RunProgram({"--title", " ", trip.folder});
    EXPECT_EQ(untitled.status, 2);
    EXPECT_EQ(untitled.err, "First write a Title!\n");
    EXPECT_FALSE(std::filesystem::exists(trip.page));

    const Finished perRowZero = RunProgram({"--per-row", "0", trip.folder});
    EXPECT_EQ(perRowZero.status, 1);
    EXPECT_EQ(perRowZero.err, "Errore : Division by zero\n");

    // The listing puts the broken picture last: what came before stays.
    std::ofstream(trip.folder + "/zz broken.gif") << "GIF89a, cut short";
    const Finished broken = RunProgram({trip.folder});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err, "Errore : Invalid picture: " + trip.folder + "/zz broken.gif\n");
    EXPECT_EQ(trip.ThumbSize("Tower"), std::pair(47, 70));
    const std::string page = ReadFile(trip.page);
    EXPECT_EQ(Count(page, "<td "), 5u);  // the broken picture has no cell
    EXPECT_EQ(page.find("</table>"), std::string::npos);
}

TEST(BatchEndToEnd, AnInterruptStopsAfterThePictureUnderWay) {
    Trip trip;
    // Enough photos that the run is still busy when the interrupt comes.
    for (int i = 0; i < 40; ++i)
        trip.Copy("exif-orientation-examples/Landscape_3.jpg",
                  "more " + std::to_string(100 + i) + ".jpg");
    Program program({"--no-viewer", trip.folder});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(trip.Thumb("dice")) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    program.Interrupt();
    EXPECT_EQ(program.Wait(), 130);
    EXPECT_EQ(program.Err(), "");

    std::size_t thumbnails = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(trip.thumbnails)) {
        ++thumbnails;
    }
    const std::string page = ReadFile(trip.page);
    // Every thumbnail made has its cell, and the run ended before the last.
    EXPECT_GE(thumbnails, 1u);
    EXPECT_LT(thumbnails, 45u);
    EXPECT_EQ(Count(page, "<td "), thumbnails);
    EXPECT_EQ(page.find("</table>"), std::string::npos);
}

}  // namespace
}  // namespace fotolane::batch
