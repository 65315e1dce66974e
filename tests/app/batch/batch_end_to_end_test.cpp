#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <libheif/heif.h>
#include <webp/encode.h>
#include <zlib.h>

#include "decoding/PictureDecoder.h"
#include "decoding/PictureMetadata.h"
#include "decoding/metadata/Exiv2Session.h"
#include "platform/core/Utf8.h"
#include "tests/TempFolder.h"
#include "thumbnails/AlbumImages.h"

extern char** environ;

namespace fotolane::batch {
namespace {

using testing::ReadFile;
using testing::TempFolder;

const std::string kTestData = FOTOLANE_TESTDATA_DIR;

// fotolane-gallery started with its output streams in files, and with a
// limit on the size of the files it writes when `fileSizeLimit` is not 0.
class Program {
  public:
    explicit Program(const std::vector<std::string>& arguments, rlim_t fileSizeLimit = 0) {
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
        // The child inherits the limit, lowered here for the spawn alone.
        rlimit before{};
        const bool limited = fileSizeLimit != 0 && ::getrlimit(RLIMIT_FSIZE, &before) == 0;
        if (limited) {
            const rlimit lower{fileSizeLimit, before.rlim_max};
            ::setrlimit(RLIMIT_FSIZE, &lower);
        }
        const int error =
            posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ);
        if (limited) ::setrlimit(RLIMIT_FSIZE, &before);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) pid_ = -1;
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program() {
        if (pid_ > 0) Wait();
    }

    void Interrupt() const { ::kill(pid_, SIGINT); }
    void Kill() const { ::kill(pid_, SIGKILL); }

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

Finished RunProgram(const std::vector<std::string>& arguments, rlim_t fileSizeLimit = 0) {
    Program program(arguments, fileSizeLimit);
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
    EXPECT_EQ(std::pair(tower.width, tower.height), std::pair(400, 600));
    EXPECT_TRUE(std::filesystem::is_directory(trip.folder + "/Previews"));
}

TEST(BatchEndToEnd, RecursiveAlbumsLeadUpAndDownAndSkipTheirImageFolders) {
    TempFolder root;
    const std::string top = root / "Trips";
    for (const char* folder : {"", "/Day 1", "/Day 2/Evening", "/Empty"}) {
        std::filesystem::create_directories(top + folder);
    }
    for (const char* picture : {"/Day 1/a.bmp", "/Day 2/b.bmp", "/Day 2/Evening/c.bmp"}) {
        std::filesystem::copy_file(kTestData + "/pillow/bmp/hopper.bmp", top + picture);
    }
    // Run twice: the second run finds the first one's image folders.
    for (int run = 0; run < 2; ++run) {
        const Finished finished = RunProgram({"-ri", top});
        EXPECT_EQ(finished.status, 0);
        EXPECT_EQ(finished.err, "");
    }
    // Trips holds no picture: no gallery page, but an album leading down.
    EXPECT_FALSE(std::filesystem::exists(top + "/Trips.htm"));
    const std::string trips = ReadFile(top + "/index.html");
    EXPECT_NE(trips.find("href=\"Day%201/index.html\""), std::string::npos);
    EXPECT_NE(trips.find("href=\"Day%202/index.html\""), std::string::npos);
    EXPECT_EQ(trips.find("Empty"), std::string::npos);
    EXPECT_EQ(trips.find("../index.html"), std::string::npos);
    const std::string day2 = ReadFile(top + "/Day 2/index.html");
    EXPECT_NE(day2.find("href=\"../index.html\""), std::string::npos);
    EXPECT_NE(day2.find("href=\"Evening/index.html\""), std::string::npos);
    EXPECT_NE(ReadFile(top + "/Day 2/Evening/index.html").find("href=\"../index.html\""),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(top + "/Empty/index.html"));
    EXPECT_FALSE(std::filesystem::exists(top + "/Day 1/Thumbnails@2x/Thumbnails@2x.htm"));
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

    // A per-row count of 0 could not make a gallery: wrong usage, nothing written.
    const Finished perRowZero = RunProgram({"--per-row", "0", trip.folder});
    EXPECT_EQ(perRowZero.status, 2);
    EXPECT_FALSE(std::filesystem::exists(trip.thumbnails));

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

// A tree of pictures for one row of the command-line table; "@" at the start
// of an argument stands for the tree's root.
// A small picture of the album's own formats, made by its encoder: a
// gradient of width x height as PNG (".png", written whole here), WebP
// (".webp"), HEIC (".heic") or AVIF (".avif"); a HEIF file with `exif` as
// its EXIF item when it is given.
std::string AlbumOnlyPicture(const std::string& extension, int width, int height,
                             const std::string& exif = {}) {
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rgb.insert(rgb.end(), {static_cast<std::uint8_t>(x * 255 / width),
                                   static_cast<std::uint8_t>(y * 255 / height), 128});
        }
    }
    if (extension == ".png") {
        const auto put32 = [](std::string& out, std::uint32_t v) {
            for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(v >> shift);
        };
        const auto chunk = [&put32](std::string& out, const char* type, const std::string& data) {
            put32(out, static_cast<std::uint32_t>(data.size()));
            const std::string body = type + data;
            out += body;
            put32(out,
                  static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                   static_cast<uInt>(body.size()))));
        };
        std::string header;
        put32(header, static_cast<std::uint32_t>(width));
        put32(header, static_cast<std::uint32_t>(height));
        header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
        std::string raw;
        const auto line = 3 * static_cast<std::size_t>(width);
        for (int y = 0; y < height; ++y) {
            raw += '\0';  // filter type 0
            raw.append(
                reinterpret_cast<const char*>(rgb.data()) + line * static_cast<std::size_t>(y),
                line);
        }
        uLongf size = compressBound(static_cast<uLong>(raw.size()));
        std::string data(size, '\0');
        compress(reinterpret_cast<Bytef*>(data.data()), &size,
                 reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()));
        data.resize(size);
        std::string png("\x89PNG\r\n\x1A\n", 8);
        chunk(png, "IHDR", header);
        chunk(png, "IDAT", data);
        chunk(png, "IEND", "");
        return png;
    }
    if (extension == ".webp") {
        std::uint8_t* out = nullptr;
        const std::size_t size = WebPEncodeRGB(rgb.data(), width, height, 3 * width, 80, &out);
        std::string webp(reinterpret_cast<const char*>(out), size);
        WebPFree(out);
        return webp;
    }
    const std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                              heif_context_free);
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(
        context.get(), extension == ".avif" ? heif_compression_AV1 : heif_compression_HEVC,
        &encoder);
    heif_encoder_set_lossy_quality(encoder, 80);
    if (extension == ".avif") heif_encoder_set_parameter(encoder, "speed", "8");
    heif_image* image = nullptr;
    heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const auto line = 3 * static_cast<std::size_t>(width);
    for (int y = 0; y < height; ++y) {
        std::copy_n(rgb.data() + line * static_cast<std::size_t>(y), line, plane + y * stride);
    }
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(context.get(), image, encoder, nullptr, &handle);
    if (!exif.empty()) {
        heif_context_add_exif_metadata(context.get(), handle, exif.data(),
                                       static_cast<int>(exif.size()));
    }
    heif_image_handle_release(handle);
    heif_image_release(image);
    heif_encoder_release(encoder);
    std::string file;
    heif_writer writer{1, [](heif_context*, const void* data, std::size_t size, void* out) {
                           static_cast<std::string*>(out)->append(static_cast<const char*>(data),
                                                                  size);
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
                       }};
    heif_context_write(context.get(), &writer, &file);
    return file;
}

struct Tree {
    TempFolder root;
    std::string Path(const std::string& relative) const { return root / relative; }
    void Picture(const std::string& relative,
                 const std::string& from = "pillow/jpeg/hopper.jpg") const {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        std::filesystem::copy_file(kTestData + "/" + from, Path(relative),
                                   std::filesystem::copy_options::overwrite_existing);
    }
    void Broken(const std::string& relative) const { root.Write(relative, "not a picture"); }
    int ThumbSide(const std::string& relative) const {
        const picture::PictureSize size = picture::ReadPictureSize(Path(relative));
        return std::max(size.width, size.height);
    }
    int Run(std::vector<std::string> arguments) const {
        for (std::string& argument : arguments) {
            if (argument.starts_with('@')) argument = root / argument.substr(1);
        }
        return RunProgram(arguments).status;
    }
};

// Every file below `top` of the tree and its bytes, by its path from there.
std::map<std::string, std::string> FilesBelow(const Tree& tree, const std::string& top) {
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.Path(top))) {
        if (!entry.is_regular_file()) continue;
        // The album's record holds the pictures' own times, which differ
        // from one copy of them to the next: only its place is compared.
        if (entry.path().filename() == thumbnails::kAlbumRecordName) {
            found[std::filesystem::relative(entry.path(), tree.Path(top)).string()] = "record";
            continue;
        }
        found[std::filesystem::relative(entry.path(), tree.Path(top)).string()] =
            ReadFile(entry.path().string());
    }
    return found;
}

struct CommandLineCase {
    std::string what;
    std::function<void(Tree&)> before;  // the tree, and any earlier runs
    std::vector<std::string> arguments;
    int status;
    std::vector<std::string> written;     // files and folders there afterwards
    std::vector<std::string> notWritten;  // files and folders not there
    std::function<void(const Tree&, const Finished&)> check;
    rlim_t fileSizeLimit = 0;  // bytes a file may hold (ulimit -f); 0: no limit
};

// K: a bad picture between good ones.
void KeepGoingFolder(Tree& tree) {
    tree.Picture("K/a.jpg");
    tree.Broken("K/b.jpg");
    tree.Picture("K/c.jpg");
    tree.Picture("K/d.jpg");
}

// A scanned photo longer than a preview (1744 x 2464).
const std::string kLarge = "jpeg-decoder/crashtest/extraneous-bytes-after-sos.jpg";

// An hour after now, as a file's time that shows the file was kept.
std::filesystem::file_time_type Later() {
    return std::filesystem::file_time_type::clock::now() + std::chrono::hours(1);
}

// T: pictures at the top and two levels down, an empty folder, a Thumbnails
// folder with a picture, a hidden folder and a link back to the top.
void RecursiveTree(Tree& tree) {
    tree.Picture("T/top.jpg");
    std::filesystem::create_directories(tree.Path("T/empty"));
    tree.Picture("T/Thumbnails/stray.jpg");
    tree.Picture("T/.hidden/h.jpg");
    tree.Picture("T/sub/s.jpg");
    tree.Picture("T/sub/deeper/d.jpg");
    std::filesystem::create_directory_symlink(tree.Path("T"), tree.Path("T/loop"));
}

TEST(BatchEndToEnd, CommandLines) {
    const std::vector<CommandLineCase> table = {
        {"keep going leaves out the bad picture, rows stay full",
         KeepGoingFolder,
         {"--keep-going", "--no-viewer", "@K"},
         3,
         {"K/K.htm", "K/Thumbnails/a.jpg", "K/Thumbnails/c.jpg", "K/Thumbnails/d.jpg"},
         {"K/Thumbnails/b.jpg"},
         [](const Tree& tree, const Finished& run) {
             EXPECT_EQ(run.err, "fotolane-gallery: skipped: Invalid picture: " +
                                    tree.Path("K/b.jpg") + "\n");
             const std::string page = ReadFile(tree.Path("K/K.htm"));
             EXPECT_EQ(Count(page, "<td "), 3u);
             EXPECT_EQ(Count(page, "</tr>"), 1u);  // a, c, d make one full row
             EXPECT_EQ(page.find("b.jpg"), std::string::npos);
             EXPECT_TRUE(page.ends_with("</html>\r\n"));
         }},
        {"keep going also leaves out a bad picture whose thumbnail New keeps",
         [](Tree& tree) {
             KeepGoingFolder(tree);
             std::filesystem::create_directory(tree.Path("K/Thumbnails"));
             tree.root.Write("K/Thumbnails/b.jpg", "an earlier thumbnail");
         },
         {"-kn", "@K"},
         3,
         {"K/Thumbnails/b.jpg"},
         {},
         [](const Tree& tree, const Finished&) {
             const std::string page = ReadFile(tree.Path("K/K.htm"));
             EXPECT_EQ(Count(page, "<td "), 3u);
             EXPECT_TRUE(page.ends_with("</html>\r\n"));
         }},
        {"without keep going the bad picture ends the run",
         KeepGoingFolder,
         {"@K"},
         1,
         {"K/K.htm", "K/Thumbnails/a.jpg"},
         {"K/Thumbnails/b.jpg", "K/Thumbnails/c.jpg"},
         nullptr},
        {"recursive: every folder with pictures, as a run on it alone",
         RecursiveTree,
         {"-r", "@T"},
         0,
         {"T/T.htm", "T/sub/sub.htm", "T/sub/Thumbnails/s.jpg", "T/sub/deeper/deeper.htm",
          "T/sub/deeper/Thumbnails/d.jpg"},
         {"T/empty/empty.htm", "T/empty/Thumbnails", "T/Thumbnails/Thumbnails.htm",
          "T/Thumbnails/Thumbnails", "T/.hidden/.hidden.htm", "T/loop.htm"},
         [](const Tree& tree, const Finished& run) {
             EXPECT_EQ(run.err, "");
             // The same page as a run on the folder alone.
             const std::string page = ReadFile(tree.Path("T/sub/sub.htm"));
             ASSERT_EQ(tree.Run({"@T/sub"}), 0);
             EXPECT_EQ(ReadFile(tree.Path("T/sub/sub.htm")), page);
         }},
        {"recursive, after an album: the album's image folders are no galleries",
         [](Tree& tree) {
             tree.Picture("R/big.jpg", kLarge);
             tree.root.Write("R/p.png", AlbumOnlyPicture(".png", 20, 20));
             ASSERT_EQ(tree.Run({"-ri", "@R"}), 0);
         },
         {"-ru", "@R"},
         0,
         {"R/R.htm", "R/Previews/big.jpg.jpg", "R/Thumbnails@1x/p.png.jpg"},
         {"R/Previews/Previews.htm", "R/Previews/Thumbnails", "R/Thumbnails@2x/Thumbnails@2x.htm",
          "R/Thumbnails@2x/Thumbnails", "R/Thumbnails@1x/Thumbnails@1x.htm",
          "R/Thumbnails@1x/Thumbnails"},
         nullptr},
        {"recursive: a failing folder stops the rest",
         [](Tree& tree) {
             RecursiveTree(tree);
             std::filesystem::create_directory(tree.Path("T/sub/sub.htm"));  // no page there
         },
         {"-r", "@T"},
         1,
         {"T/T.htm"},
         {"T/sub/deeper/deeper.htm"},
         nullptr},
        {"recursive, keep going: a failing folder does not stop the others",
         [](Tree& tree) {
             RecursiveTree(tree);
             std::filesystem::create_directory(tree.Path("T/sub/sub.htm"));
         },
         {"-rk", "@T"},
         1,
         {"T/T.htm", "T/sub/deeper/deeper.htm"},
         {},
         nullptr},
        {"update after a size change makes every thumbnail again",
         [](Tree& tree) {
             tree.Picture("U/a.jpg");
             tree.Picture("U/b.bmp", "pillow/bmp/hopper.bmp");
             ASSERT_EQ(tree.Run({"@U"}), 0);
             ASSERT_EQ(tree.Run({"--new", "--size", "100", "@U"}), 0);
             ASSERT_EQ(tree.ThumbSide("U/Thumbnails/a.jpg"), 70);  // "New" keeps them
         },
         {"--update", "--size", "100", "@U"},
         0,
         {},
         {},
         [](const Tree& tree, const Finished&) {
             EXPECT_EQ(tree.ThumbSide("U/Thumbnails/a.jpg"), 100);
             EXPECT_EQ(tree.ThumbSide("U/Thumbnails/b.jpg"), 100);
         }},
        {"update after a picture changed makes its thumbnail only",
         [](Tree& tree) {
             tree.Picture("U/a.jpg");
             tree.Picture("U/b.jpg");
             ASSERT_EQ(tree.Run({"@U"}), 0);
             tree.root.Write("U/Thumbnails/b.jpg", "current, as far as its time tells");
             const auto thumbTime =
                 std::filesystem::last_write_time(tree.Path("U/Thumbnails/a.jpg"));
             tree.Picture("U/a.jpg", "pillow/jpeg/flower.jpg");
             std::filesystem::last_write_time(tree.Path("U/a.jpg"),
                                              thumbTime + std::chrono::seconds(1));
             std::filesystem::last_write_time(tree.Path("U/Thumbnails/b.jpg"),
                                              thumbTime + std::chrono::seconds(2));
         },
         {"-u", "--no-viewer", "@U"},
         0,
         {},
         {},
         [](const Tree& tree, const Finished&) {
             const picture::PictureSize a =
                 picture::ReadPictureSize(tree.Path("U/Thumbnails/a.jpg"));
             EXPECT_EQ(std::pair(a.width, a.height), std::pair(70, 52));  // the flower now
             // Newer than its picture but unreadable: not of the size asked for.
             EXPECT_EQ(tree.ThumbSide("U/Thumbnails/b.jpg"), 70);
         }},
        {"update makes the thumbnails again at the size asked for, the album's at their own",
         [](Tree& tree) {
             tree.Picture("U/a.jpg");
             tree.Picture("U/big.jpg", kLarge);
             ASSERT_EQ(tree.Run({"-i", "@U"}), 0);
             std::filesystem::last_write_time(tree.Path("U/Previews/big.jpg.jpg"), Later());
         },
         {"-i", "-u", "-s", "150", "@U"},
         0,
         {},
         {},
         [](const Tree& tree, const Finished&) {
             EXPECT_EQ(tree.ThumbSide("U/Thumbnails/a.jpg"), 150);
             // The album's thumbnails do not follow --size: a small picture's
             // is of its own size, a larger one's kAlbumThumbnailHeight high.
             EXPECT_EQ(tree.ThumbSide("U/Thumbnails@2x/a.jpg.jpg"), 128);
             EXPECT_EQ(tree.ThumbSide("U/Thumbnails@2x/big.jpg.jpg"), 600);
             // The preview is of its size still: kept.
             EXPECT_GT(std::filesystem::last_write_time(tree.Path("U/Previews/big.jpg.jpg")),
                       Later() - std::chrono::minutes(30));
         }},
        {"update makes unreadable or outdated album images again, keeps current ones",
         [](Tree& tree) {
             for (const char* name : {"U/a.jpg", "U/b.jpg", "U/c.jpg", "U/d.jpg"}) {
                 tree.Picture(name);
             }
             tree.Picture("U/big.jpg", kLarge);
             ASSERT_EQ(tree.Run({"-i", "@U"}), 0);
             tree.root.Write("U/Thumbnails@2x/a.jpg.jpg", "");
             tree.root.Write("U/Thumbnails@2x/b.jpg.jpg", "not a JPEG");
             tree.root.Write("U/Previews/big.jpg.jpg", "");
             std::filesystem::last_write_time(tree.Path("U/Thumbnails@2x/c.jpg.jpg"), Later());
             // "New" keeps every image not older than its picture.
             ASSERT_EQ(tree.Run({"-in", "@U"}), 0);
             ASSERT_EQ(ReadFile(tree.Path("U/Thumbnails@2x/b.jpg.jpg")), "not a JPEG");
             std::filesystem::last_write_time(
                 tree.Path("U/Thumbnails@2x/d.jpg.jpg"),
                 std::filesystem::last_write_time(tree.Path("U/d.jpg")) - std::chrono::hours(1));
         },
         {"-iu", "@U"},
         0,
         {},
         {},
         [](const Tree& tree, const Finished&) {
             EXPECT_EQ(tree.ThumbSide("U/Thumbnails@2x/a.jpg.jpg"), 128);
             EXPECT_EQ(tree.ThumbSide("U/Thumbnails@2x/b.jpg.jpg"), 128);
             EXPECT_EQ(tree.ThumbSide("U/Previews/big.jpg.jpg"), 2048);
             EXPECT_GT(std::filesystem::last_write_time(tree.Path("U/Thumbnails@2x/c.jpg.jpg")),
                       Later() - std::chrono::minutes(30));
             EXPECT_GE(std::filesystem::last_write_time(tree.Path("U/Thumbnails@2x/d.jpg.jpg")),
                       std::filesystem::last_write_time(tree.Path("U/d.jpg")));
         }},
        {"a write past the file-size limit is a fault naming the file, as any failed write",
         [](Tree& tree) { tree.Picture("L/a.jpg"); },
         {"--size", "20", "--title", std::string(4000, 'x'), "@L"},
         1,
         {"L/Thumbnails/a.jpg"},
         {"L/L.htm"},
         [](const Tree& tree, const Finished& run) {
             EXPECT_EQ(run.err, "Errore : File too large: " + tree.Path("L/L.htm") + "\n");
             // Only the thumbnails too large: the gallery is finished without them.
             const Finished thumbnails = RunProgram({"--size", "999", tree.Path("L")}, 20000);
             EXPECT_EQ(thumbnails.status, 3);
             EXPECT_EQ(thumbnails.err, "fotolane-gallery: Failed to save to JPG: " +
                                           tree.Path("L/Thumbnails/a.jpg") + "\n");
             // The album's page, with its style sheet and script, and its
             // tiles are the largest files.
             const Finished album = RunProgram({"-i", "--size", "20", tree.Path("L")}, 4000);
             EXPECT_EQ(album.status, 1);
             EXPECT_EQ(album.err, "fotolane-gallery: Failed to save to JPG: " +
                                      tree.Path("L/Thumbnails@2x/a.jpg.jpg") +
                                      "\nfotolane-gallery: Failed to save to JPG: " +
                                      tree.Path("L/Thumbnails@1x/a.jpg.jpg") +
                                      "\nErrore : File too large: " + tree.Path("L/index.html") +
                                      "\n");
         },
         5000},
        {"index: Thumbnails@2x a link to the folder ends the run before anything is written",
         [](Tree& tree) {
             tree.Picture("A/a.jpg");
             tree.Picture("A/a.jpg.jpg", "pillow/jpeg/flower.jpg");  // the user's own photo
             std::filesystem::create_directory_symlink(".", tree.Path("A/Thumbnails@2x"));
         },
         {"-i", "@A"},
         1,
         {},
         {"A/A.htm", "A/Thumbnails", "A/index.html", "A/a.jpg.jpg.jpg"},
         [](const Tree& tree, const Finished& run) {
             EXPECT_EQ(run.err,
                       "Errore : A link stands where the high-density thumbnail folder belongs: " +
                           tree.Path("A/Thumbnails@2x") + "\n");
             EXPECT_EQ(ReadFile(tree.Path("A/a.jpg.jpg")),
                       ReadFile(kTestData + "/pillow/jpeg/flower.jpg"));
         }},
        {"index: Previews a link elsewhere ends the run before anything is written",
         [](Tree& tree) {
             tree.Picture("P/a.jpg");
             std::filesystem::create_directories(tree.Path("elsewhere"));
             std::filesystem::create_directory_symlink(tree.Path("elsewhere"),
                                                       tree.Path("P/Previews"));
         },
         {"-i", "@P"},
         1,
         {},
         {"P/P.htm", "P/Thumbnails", "P/Thumbnails@2x", "P/index.html"},
         [](const Tree& tree, const Finished& run) {
             EXPECT_EQ(run.err, "Errore : A link stands where the preview folder belongs: " +
                                    tree.Path("P/Previews") + "\n");
             EXPECT_TRUE(std::filesystem::is_empty(tree.Path("elsewhere")));
         }},
        {"index: a removed picture's images and a killed run's leftovers go, the user's file stays",
         [](Tree& tree) {
             tree.Picture("G/a.jpg");
             tree.Picture("G/gone.jpg");
             ASSERT_EQ(tree.Run({"-i", "@G"}), 0);
             std::filesystem::remove(tree.Path("G/gone.jpg"));
             tree.root.Write("G/Thumbnails@2x/notes.jpg", "mine");
             tree.root.Write("G/.index.html.999999999-1.tmp", "cut");
             tree.root.Write("G/Thumbnails@2x/.a.jpg.jpg.999999999-2.tmp", "cut");
         },
         {"-i", "@G"},
         0,
         {"G/Thumbnails@2x/a.jpg.jpg", "G/Thumbnails@2x/notes.jpg"},
         {"G/Thumbnails@2x/gone.jpg.jpg", "G/.index.html.999999999-1.tmp",
          "G/Thumbnails@2x/.a.jpg.jpg.999999999-2.tmp"},
         nullptr},
        {"index: names of 255 bytes get album images, distinct for names alike in 250 bytes",
         [](Tree& tree) {
             tree.Picture("L/" + std::string(250, 'n') + "1.jpg");
             tree.Picture("L/" + std::string(250, 'n') + "2.jpg", "pillow/jpeg/flower.jpg");
         },
         {"-i", "@L"},
         0,
         {},
         {},
         [](const Tree& tree, const Finished& run) {
             EXPECT_EQ(run.err, "");
             EXPECT_EQ(testing::MissingAlbumFiles(tree.Path("L")), std::vector<std::string>{});
             EXPECT_EQ(Count(ReadFile(tree.Path("L/index.html")), "src=\"Thumbnails@1x/"), 2u);
             std::set<std::string> images;
             for (const auto& entry :
                  std::filesystem::directory_iterator(tree.Path("L/Thumbnails@2x"))) {
                 if (entry.path().filename() == thumbnails::kAlbumRecordName) continue;
                 images.insert(ReadFile(entry.path().string()));
             }
             EXPECT_EQ(images.size(), 2u);
             EXPECT_EQ(tree.Run({"-i", "-n", "@L"}), 0);
         }},
        {"index: PNG, WebP, HEIC and AVIF join the album with images of their own; the page "
         "and its thumbnails stay those of the JPEGs",
         [](Tree& tree) {
             tree.Picture("F/a.jpg");
             // A JPEG named as the PNG's album images are: its images differ.
             tree.Picture("F/b.png.jpg", "pillow/jpeg/flower.jpg");
             tree.root.Write("F/b.png", AlbumOnlyPicture(".png", 120, 80));
             tree.root.Write("F/c.webp", AlbumOnlyPicture(".webp", 90, 60));
             tree.root.Write("F/d.HEIC", AlbumOnlyPicture(".heic", 64, 96));
             tree.root.Write("F/e.avif", AlbumOnlyPicture(".avif", 100, 50));
         },
         {"-i", "@F"},
         0,
         {"F/Thumbnails@1x/b.png.jpg", "F/Thumbnails@1x/c.webp.jpg", "F/Thumbnails@1x/d.HEIC.jpg",
          "F/Thumbnails@1x/e.avif.jpg", "F/Thumbnails@2x/b.png.jpg",
          "F/Thumbnails@2x/b.png.jpg.jpg", "F/Thumbnails@2x/e.avif.jpg", "F/Previews/d.HEIC.jpg",
          "F/Thumbnails@1x/a.jpg.jpg", "F/Thumbnails@1x/b.png.jpg.jpg"},
         // Browsers show the small PNG, WebP and AVIF themselves.
         {"F/Previews/b.png.jpg", "F/Previews/c.webp.jpg", "F/Previews/e.avif.jpg",
          "F/Thumbnails/b.jpg", "F/Thumbnails/d.jpg"},
         [](const Tree& tree, const Finished& run) {
             EXPECT_EQ(run.err, "");
             const std::string album = ReadFile(tree.Path("F/index.html"));
             EXPECT_EQ(Count(album, "<li style="), 6u);
             EXPECT_EQ(testing::MissingAlbumFiles(tree.Path("F")), std::vector<std::string>{});
             // The lightbox shows the HEIC's preview, never the file; the
             // download is the file.
             EXPECT_NE(album.find("<a href=\"d.HEIC\" data-preview=\"Previews/d.HEIC.jpg\""),
                       std::string::npos);
             EXPECT_NE(album.find("data-preview=\"e.avif\""), std::string::npos);
             // Upright, a 1x tile of its own size as it is no higher.
             const picture::PictureSize tile =
                 picture::ReadPictureSize(tree.Path("F/Thumbnails@1x/d.HEIC.jpg"));
             EXPECT_EQ((std::array{tile.width, tile.height}), (std::array{64, 96}));
             EXPECT_NE(ReadFile(tree.Path("F/Thumbnails@2x/b.png.jpg")),
                       ReadFile(tree.Path("F/Thumbnails@2x/b.png.jpg.jpg")));
             // The page and Thumbnails/ are those of a run without --index.
             std::map<std::string, std::string> gallery;
             gallery["F.htm"] = ReadFile(tree.Path("F/F.htm"));
             for (const auto& entry :
                  std::filesystem::directory_iterator(tree.Path("F/Thumbnails"))) {
                 gallery[entry.path().filename().string()] = ReadFile(entry.path().string());
             }
             EXPECT_EQ(gallery.size(), 3u);  // the page, a.jpg and b.png.jpg
             std::filesystem::remove_all(tree.Path("F/Thumbnails"));
             ASSERT_EQ(tree.Run({"@F"}), 0);
             for (const auto& [name, bytes] : gallery) {
                 EXPECT_EQ(
                     ReadFile(tree.Path(name == "F.htm" ? "F/F.htm" : "F/Thumbnails/" + name)),
                     bytes)
                     << name;
             }
             EXPECT_EQ(Count(ReadFile(tree.Path("F/F.htm")), "<td "), 2u);
         }},
        {"index: three workers write the files of one, byte for byte",
         [](Tree& tree) {
             for (const std::string top : {"one/J/", "three/J/"}) {
                 tree.Picture(top + "a.jpg");
                 tree.Picture(top + "b.jpg", kLarge);
                 tree.Picture(top + "c.gif", "pillow/gif/transparent.gif");
                 tree.Picture(top + "d.jpg", "pillow/jpeg/flower.jpg");
                 tree.root.Write(top + "e.png", AlbumOnlyPicture(".png", 120, 80));
             }
             ASSERT_EQ(tree.Run({"-i", "-j", "1", "@one/J"}), 0);
         },
         {"-i", "-j", "3", "@three/J"},
         0,
         {"three/J/index.html", "three/J/Previews/b.jpg.jpg", "three/J/Thumbnails@1x/e.png.jpg"},
         {},
         [](const Tree& tree, const Finished& run) {
             EXPECT_EQ(run.err, "");
             EXPECT_EQ(FilesBelow(tree, "three"), FilesBelow(tree, "one"));
             EXPECT_EQ(FilesBelow(tree, "one").size(), 23u);  // the album's record too
         }},
        {"index: a folder of the album's own formats alone has its album and no page; the images "
         "of a removed one go",
         [](Tree& tree) {
             std::filesystem::create_directories(tree.Path("H"));
             tree.root.Write("H/x.heic", AlbumOnlyPicture(".heic", 96, 64));
             tree.root.Write("H/y.png", AlbumOnlyPicture(".png", 30, 20));
             ASSERT_EQ(tree.Run({"-i", "@H"}), 0);
             ASSERT_TRUE(std::filesystem::exists(tree.Path("H/Thumbnails@1x/y.png.jpg")));
             std::filesystem::remove(tree.Path("H/y.png"));
         },
         {"-i", "@H"},
         0,
         {"H/index.html", "H/Thumbnails@1x/x.heic.jpg", "H/Thumbnails@2x/x.heic.jpg",
          "H/Previews/x.heic.jpg"},
         {"H/H.htm", "H/Thumbnails", "H/Thumbnails@1x/y.png.jpg", "H/Thumbnails@2x/y.png.jpg"},
         [](const Tree& tree, const Finished&) {
             EXPECT_EQ(Count(ReadFile(tree.Path("H/index.html")), "<li style="), 1u);
             // Without --index they are no pictures.
             EXPECT_EQ(tree.Run({"@H"}), 0);
             EXPECT_FALSE(std::filesystem::exists(tree.Path("H/H.htm")));
         }},
        {"numbers that cannot make a gallery are wrong usage, nothing written",
         [](Tree& tree) { tree.Picture("N/a.jpg"); },
         {"--size", "0", "@N"},
         2,
         {},
         {"N/N.htm", "N/Thumbnails"},
         [](const Tree& tree, const Finished& run) {
             EXPECT_TRUE(run.err.starts_with(
                 "fotolane-gallery: option '--size' takes a whole number from 1 to 999"));
             for (const char* wrong : {"-1", "1000", "x"}) {
                 EXPECT_EQ(tree.Run({"--per-row", wrong, "@N"}), 2) << wrong;
             }
             EXPECT_FALSE(std::filesystem::exists(tree.Path("N/N.htm")));
         }},
    };
    for (const CommandLineCase& row : table) {
        SCOPED_TRACE(row.what);
        Tree tree;
        row.before(tree);
        std::vector<std::string> arguments = row.arguments;
        for (std::string& argument : arguments) {
            if (argument.starts_with('@')) argument = tree.root / argument.substr(1);
        }
        const Finished run = RunProgram(arguments, row.fileSizeLimit);
        EXPECT_EQ(run.status, row.status) << run.err;
        for (const std::string& file : row.written) {
            EXPECT_TRUE(std::filesystem::exists(tree.Path(file))) << file;
        }
        for (const std::string& file : row.notWritten) {
            EXPECT_FALSE(std::filesystem::exists(tree.Path(file))) << file;
        }
        if (row.check) row.check(tree, run);
    }
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

// Every file below `folder` with its time and size, and every folder: what a
// run that only reads them must leave as it was.
std::map<std::string, std::pair<std::filesystem::file_time_type, std::uintmax_t>> Snapshot(
    const std::string& folder) {
    std::map<std::string, std::pair<std::filesystem::file_time_type, std::uintmax_t>> files;
    if (!std::filesystem::exists(folder)) return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        files[entry.path().string()] = {entry.last_write_time(),
                                        entry.is_regular_file() ? entry.file_size() : 0};
    }
    return files;
}

// What the site's pages link or show that is not there, or lies outside the
// site.
std::vector<std::string> SiteFaults(const std::string& site) {
    std::vector<std::string> faults;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(site)) {
        if (entry.path().filename() != "index.html" || !entry.is_regular_file()) continue;
        const std::string folder = entry.path().parent_path().string();
        for (const std::string& missing : testing::MissingAlbumFiles(folder)) {
            faults.push_back(folder + "/" + missing);
        }
        const std::string page = ReadFile(entry.path().string());
        for (const std::string attribute : {" href=\"", " src=\""}) {
            for (std::size_t at = page.find(attribute); at != std::string::npos;
                 at = page.find(attribute, at + 1)) {
                const std::size_t start = at + attribute.size();
                const std::string url = page.substr(start, page.find('"', start) - start);
                if (url.empty() || url == "data:,") continue;
                const std::string path = testing::PercentDecoded(url);
                const std::filesystem::path target =
                    std::filesystem::weakly_canonical(std::filesystem::path(folder) / path);
                const std::string inside = std::filesystem::canonical(site).string() + "/";
                if (!target.string().starts_with(inside) ||
                    !std::filesystem::is_regular_file(target)) {
                    faults.push_back(folder + ": " + url);
                }
            }
        }
    }
    return faults;
}

// An EXIF block (a TIFF header on) of orientation 1 and a GPS latitude.
std::string ExifWithLocation() {
    const auto u16 = [](std::uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; };
    const auto u32 = [&u16](std::uint32_t v) {
        return u16(std::uint16_t(v & 0xFFFF)) + u16(std::uint16_t(v >> 16));
    };
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                           const std::string& value) {
        return u16(tag) + u16(type) + u32(count) + value;
    };
    std::string tiff = "II*" + std::string(1, '\0') + u32(8);
    tiff += u16(2) + entry(0x0112, 3, 1, u16(1) + u16(0)) + entry(0x8825, 4, 1, u32(38)) + u32(0);
    tiff += u16(2) + entry(0x0001, 2, 2, std::string("N\0\0\0", 4)) + entry(0x0002, 5, 3, u32(68)) +
            u32(0);
    for (const std::uint32_t part : {48u, 1u, 51u, 1u, 0u, 1u}) tiff += u32(part);
    return tiff;
}

// hopper.jpg with that EXIF block.
std::string PhotoWithLocation() {
    const std::string photo = ReadFile(kTestData + "/pillow/jpeg/hopper.jpg");
    const std::string exif = std::string("Exif\0\0", 6) + ExifWithLocation();
    const auto length = static_cast<std::uint16_t>(exif.size() + 2);
    return photo.substr(0, 2) + "\xFF\xE1" + char(length >> 8) + char(length & 0xFF) + exif +
           photo.substr(2);
}

// hopper.jpg with an XMP packet whose dc:title is `title` (XML-escaped).
std::string PhotoWithTitle(const std::string& title) {
    const std::string photo = ReadFile(kTestData + "/pillow/jpeg/hopper.jpg");
    const std::string xmp =
        std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
        "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
        "rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title><rdf:Alt>"
        "<rdf:li xml:lang=\"x-default\">" +
        title +
        "</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta>"
        "<?xpacket end=\"w\"?>";
    const auto length = static_cast<std::uint16_t>(xmp.size() + 2);
    return photo.substr(0, 2) + "\xFF\xE1" + char(length >> 8) + char(length & 0xFF) + xmp +
           photo.substr(2);
}

// The compressed picture data: from the first scan to the end of the picture.
std::string ScanData(const std::string& jpeg) {
    const std::size_t start = jpeg.find("\xFF\xDA");
    const std::size_t end = jpeg.rfind("\xFF\xD9");
    return start == std::string::npos || end == std::string::npos
               ? std::string()
               : jpeg.substr(start, end + 2 - start);
}

struct SiteCase {
    std::string what;
    std::function<void(Tree&)> before;   // the pictures below P, any earlier runs
    std::vector<std::string> arguments;  // "@P", "@S" and the like: paths in the tree
    int status;
    std::vector<std::string> written;     // there afterwards
    std::vector<std::string> notWritten;  // not there
    std::function<void(const Tree&, const Finished&)> check;
    rlim_t fileSizeLimit = 0;  // of the files the run writes, when not 0
};

// A site's record of the current version as an earlier one wrote it:
// `header`, then of each line its first `fields` fields.
std::string EarlierRecord(const std::string& record, const std::string& header, int fields) {
    EXPECT_TRUE(record.starts_with("fotolane-site 3\n")) << record;
    std::string earlier = header + "\n";
    for (std::size_t at = record.find('\n') + 1; at < record.size();) {
        const std::size_t end = record.find('\n', at);
        std::size_t cut = at;
        for (int field = 0; field < fields; ++field) cut = record.find('\t', cut) + 1;
        earlier += record.substr(at, cut - 1 - at) + "\n";
        at = end + 1;
    }
    return earlier;
}

// P: two pictures at the top, one large below; S: the site made of it.
void SiteTree(Tree& tree) {
    tree.Picture("P/a.jpg");
    tree.Picture("P/b.gif", "pillow/gif/transparent.gif");
    tree.Picture("P/sub/big.jpg", kLarge);
}
void SiteMade(Tree& tree) {
    SiteTree(tree);
    ASSERT_EQ(tree.Run({"-r", "--keep-location", "-o", "@S", "@P"}), 0);
}

TEST(BatchEndToEnd, Sites) {
    const std::vector<std::string> kSite = {"-r", "--keep-location", "-o", "@S", "@P"};
    const std::vector<SiteCase> table = {
        {"fresh: pages, thumbnails, previews and originals in the site alone",
         SiteTree,
         kSite,
         0,
         {"S/index.html", "S/Thumbnails/a.jpg.jpg", "S/Thumbnails/b.gif.jpg",
          "S/Thumbnails@2x/a.jpg.jpg", "S/Thumbnails@1x/a.jpg.jpg", "S/a.jpg", "S/b.gif",
          "S/sub/index.html", "S/sub/Previews/big.jpg.jpg", "S/sub/big.jpg", "S/.fotolane-site"},
         {"S/Previews", "P/index.html", "P/Thumbnails", "P/P.htm", "P/sub/Previews"},
         [](const Tree& tree, const Finished&) {
             EXPECT_EQ(ReadFile(tree.Path("S/a.jpg")), ReadFile(tree.Path("P/a.jpg")));
             EXPECT_NE(ReadFile(tree.Path("S/index.html")).find("href=\"sub/index.html\""),
                       std::string::npos);
             // The site's own 1x thumbnail, of the size asked for.
             EXPECT_EQ(tree.ThumbSide("S/Thumbnails/a.jpg.jpg"), 70);
             // The 1x tile, half as high as the 2x one, recorded with its own key.
             EXPECT_EQ(
                 picture::ReadPictureSize(tree.Path("S/sub/Thumbnails@1x/big.jpg.jpg")).height,
                 300);
             const std::string record = ReadFile(tree.Path("S/.fotolane-site"));
             const std::size_t at = record.find("\nsub/Thumbnails@1x/big.jpg.jpg\t");
             ASSERT_NE(at, std::string::npos) << record;
             EXPECT_NE(record.substr(at, record.find('\n', at + 1) - at).find("\ttile 300 high\t"),
                       std::string::npos)
                 << record;
             EXPECT_NE(ReadFile(tree.Path("S/index.html"))
                           .find("<img src=\"Thumbnails@1x/a.jpg.jpg\" srcset=\"Thumbnails@1x/"
                                 "a.jpg.jpg 1x, Thumbnails@2x/a.jpg.jpg 2x\""),
                       std::string::npos);
         }},
        {"unchanged: nothing is written again", SiteMade, kSite, 0, {}, {}, nullptr},
        {"a record of the first version, without captions: they are read, the images kept",
         [](Tree& tree) {
             SiteTree(tree);
             tree.root.Write("P/t.jpg", PhotoWithTitle("&lt;b&gt;Harbour&lt;/b&gt; &amp; boats"));
             ASSERT_EQ(tree.Run({"-r", "--keep-location", "-o", "@S", "@P"}), 0);
             // The record as the first version wrote it: its lines end at
             // the date taken (the eighth field), and a page without captions.
             tree.root.Write(
                 "S/.fotolane-site",
                 EarlierRecord(ReadFile(tree.Path("S/.fotolane-site")), "fotolane-site 1", 8));
             tree.root.Write("S/index.html", "a page of the first version");
             std::filesystem::last_write_time(tree.Path("S/Thumbnails/t.jpg.jpg"),
                                              std::filesystem::file_time_type());
         },
         kSite,
         0,
         {},
         {},
         [](const Tree& tree, const Finished&) {
             const std::string caption = "&lt;b&gt;Harbour&lt;/b&gt; &amp; boats";
             EXPECT_NE(ReadFile(tree.Path("S/index.html"))
                           .find("<span class=\"caption\" data-caption=\"" + caption + "\">" +
                                 caption + "</span>"),
                       std::string::npos);
             const std::string record = ReadFile(tree.Path("S/.fotolane-site"));
             EXPECT_TRUE(record.starts_with("fotolane-site 3\n"));
             EXPECT_NE(record.find("\t<b>Harbour</b> & boats\t"), std::string::npos) << record;
             EXPECT_EQ(std::filesystem::last_write_time(tree.Path("S/Thumbnails/t.jpg.jpg")),
                       std::filesystem::file_time_type());
         }},
        {"a record of the second version, without camera details: they are read, the images kept",
         [](Tree& tree) {
             SiteTree(tree);
             tree.Picture("P/c.jpg", "pillow/jpeg/flower.jpg");  // a Canon's EXIF
             ASSERT_EQ(tree.Run({"-r", "--keep-location", "-o", "@S", "@P"}), 0);
             // Its lines end at the caption (the ninth field).
             tree.root.Write(
                 "S/.fotolane-site",
                 EarlierRecord(ReadFile(tree.Path("S/.fotolane-site")), "fotolane-site 2", 9));
             tree.root.Write("S/index.html", "a page of the second version");
             std::filesystem::last_write_time(tree.Path("S/Thumbnails/c.jpg.jpg"),
                                              std::filesystem::file_time_type());
         },
         kSite,
         0,
         {},
         {},
         [](const Tree& tree, const Finished&) {
             EXPECT_NE(
                 ReadFile(tree.Path("S/index.html"))
                     .find(
                         " data-camera=\"Canon PowerShot S40\" data-focal-length=\"21.3 mm\" "
                         "data-aperture=\"f/4.9\" data-exposure=\"1/500 s\" data-iso=\"ISO 100\">"),
                 std::string::npos);
             // Every file of the picture, the kept thumbnail's too, records them.
             const std::string record = ReadFile(tree.Path("S/.fotolane-site"));
             for (const std::string file :
                  {"Thumbnails/c.jpg.jpg", "Thumbnails@2x/c.jpg.jpg", "c.jpg"}) {
                 const std::size_t at = record.find("\n" + file + "\t");
                 ASSERT_NE(at, std::string::npos) << record;
                 const std::string line = record.substr(at, record.find('\n', at + 1) - at);
                 EXPECT_TRUE(
                     line.ends_with("\tCanon PowerShot S40\t\t21.3 mm\tf/4.9\t1/500 s\tISO 100"))
                     << line;
             }
             EXPECT_EQ(std::filesystem::last_write_time(tree.Path("S/Thumbnails/c.jpg.jpg")),
                       std::filesystem::file_time_type());
         }},
        {"a changed picture and a changed size are made again, the rest kept",
         [](Tree& tree) {
             SiteMade(tree);
             tree.Picture("P/a.jpg", "exif-orientation-examples/Portrait_6.jpg");
         },
         kSite,
         0,
         {},
         {},
         [](const Tree& tree, const Finished&) {
             EXPECT_EQ(ReadFile(tree.Path("S/a.jpg")), ReadFile(tree.Path("P/a.jpg")));
             const picture::PictureSize size =
                 picture::ReadPictureSize(tree.Path("S/Thumbnails@2x/a.jpg.jpg"));
             EXPECT_LT(size.width, size.height);  // upright portrait now
             EXPECT_NE(ReadFile(tree.Path("S/index.html"))
                           .find("width=\"" + std::to_string(size.width) + "\""),
                       std::string::npos);
             ASSERT_EQ(tree.Run({"-r", "--keep-location", "-s", "90", "-o", "@S", "@P"}), 0);
             EXPECT_EQ(tree.ThumbSide("S/sub/Thumbnails/big.jpg.jpg"), 90);
             // The site's high-density thumbnails keep their own size.
             EXPECT_EQ(tree.ThumbSide("S/Thumbnails@2x/b.gif.jpg"), 200);
         }},
        {"a removed picture and folder leave the site, files of the owner stay",
         [](Tree& tree) {
             SiteMade(tree);
             tree.root.Write("S/notes.txt", "mine");
             tree.root.Write("S/sub/.htaccess", "mine");
             std::filesystem::remove(tree.Path("P/a.jpg"));
             std::filesystem::remove_all(tree.Path("P/sub"));
         },
         kSite,
         0,
         {"S/notes.txt", "S/sub/.htaccess", "S/b.gif"},
         {"S/a.jpg", "S/Thumbnails/a.jpg.jpg", "S/Thumbnails@2x/a.jpg.jpg",
          "S/Thumbnails@1x/a.jpg.jpg", "S/sub/index.html", "S/sub/Previews", "S/sub/big.jpg"},
         [](const Tree& tree, const Finished&) {
             const std::string page = ReadFile(tree.Path("S/index.html"));
             EXPECT_EQ(page.find("a.jpg"), std::string::npos);
             EXPECT_EQ(page.find("sub/"), std::string::npos);
             EXPECT_EQ(ReadFile(tree.Path("S/.fotolane-site")).find("a.jpg"), std::string::npos);
         }},
        {"previews only: no original, the lightbox has no Original link",
         SiteTree,
         {"-r", "--no-originals", "-o", "@S", "@P"},
         0,
         {"S/Previews/a.jpg.jpg", "S/Previews/b.gif.jpg", "S/sub/Previews/big.jpg.jpg"},
         {"S/a.jpg", "S/b.gif", "S/sub/big.jpg"},
         [](const Tree& tree, const Finished&) {
             const std::string page = ReadFile(tree.Path("S/index.html"));
             EXPECT_NE(page.find("id=\"lightbox-original\" href=\"\" hidden>"), std::string::npos);
             EXPECT_NE(page.find("<a href=\"Previews/a.jpg.jpg\""), std::string::npos);
         }},
        {"keep going: a bad picture is left out, a folder whose page fails is not linked, "
         "nor linked up to",
         [](Tree& tree) {
             SiteMade(tree);
             tree.Broken("P/c.jpg");
             std::filesystem::remove_all(tree.Path("S/sub"));
             tree.root.Write("S/sub", "a file of the owner's");
             tree.Picture("P/x/y/z.jpg");
             std::filesystem::create_directories(tree.Path("S/x/index.html"));
         },
         {"-rk", "--keep-location", "-o", "@S", "@P"},
         3,
         {"S/a.jpg"},
         {"S/c.jpg", "S/Thumbnails/c.jpg.jpg"},
         [](const Tree& tree, const Finished& run) {
             EXPECT_NE(run.err.find("skipped: Invalid picture: " + tree.Path("P/c.jpg")),
                       std::string::npos);
             const std::string page = ReadFile(tree.Path("S/index.html"));
             EXPECT_EQ(page.find("sub/index.html"), std::string::npos);
             EXPECT_EQ(page.find("c.jpg"), std::string::npos);
             EXPECT_EQ(ReadFile(tree.Path("S/sub")), "a file of the owner's");
             EXPECT_EQ(ReadFile(tree.Path("S/x/y/index.html")).find("../index.html"),
                       std::string::npos);
         }},
        {"a disk that fills: each file not written told once, the pages link what was made, "
         "the next run completes the site",
         SiteTree,
         kSite,
         3,
         {"S/index.html", "S/Thumbnails/a.jpg.jpg"},
         {"S/sub/big.jpg"},
         [](const Tree& tree, const Finished& run) {
             EXPECT_EQ(run.err, "fotolane-gallery: Failed to save to JPG: " +
                                    tree.Path("S/sub/Previews/big.jpg.jpg") + "\n" +
                                    "fotolane-gallery: File too large: " +
                                    tree.Path("S/sub/big.jpg") + "\n");
             ASSERT_EQ(tree.Run({"-r", "--keep-location", "-o", "@S", "@P"}), 0);
             EXPECT_EQ(SiteFaults(tree.Path("S")), std::vector<std::string>{});
             EXPECT_TRUE(std::filesystem::exists(tree.Path("S/sub/index.html")));
         },
         40000},
        {"three workers write the site of one, byte for byte, its warnings in the same order",
         [](Tree& tree) {
             tree.Picture("P/a.jpg");
             tree.root.Write("P/here.jpg", PhotoWithLocation());
             tree.Picture("P/b.gif", "pillow/gif/transparent.gif");
             tree.root.Write("P/c.png", AlbumOnlyPicture(".png", 40, 30));
             tree.root.Write("P/d.heic", AlbumOnlyPicture(".heic", 64, 64, ExifWithLocation()));
             tree.root.Write("P/e.heic", AlbumOnlyPicture(".heic", 48, 64, ExifWithLocation()));
             tree.Picture("P/sub/big.jpg", kLarge);
         },
         {"-r", "-j", "3", "-o", "@S3", "@P"},
         3,
         {"S3/here.jpg", "S3/Previews/d.heic.jpg", "S3/sub/Previews/big.jpg.jpg"},
         {"S3/d.heic"},
         [](const Tree& tree, const Finished& run) {
             const Finished one =
                 RunProgram({"-r", "-j", "1", "-o", tree.Path("S1"), tree.Path("P")});
             EXPECT_EQ(one.status, 3);
             std::string err = one.err;
             for (std::size_t at; (at = err.find(tree.Path("S1"))) != std::string::npos;) {
                 err.replace(at, tree.Path("S1").size(), tree.Path("S3"));
             }
             EXPECT_EQ(run.err, err);
             EXPECT_EQ(FilesBelow(tree, "S3"), FilesBelow(tree, "S1"));
         }},
        {"the album's own formats: PNG without its location, a HEIF file as it is without one, "
         "as its preview with one",
         [](Tree& tree) {
             std::filesystem::create_directories(tree.Path("P"));
             tree.root.Write("P/a.png", AlbumOnlyPicture(".png", 40, 30));
             tree.root.Write("P/plain.avif", AlbumOnlyPicture(".avif", 40, 30));
             tree.root.Write("P/here.heic", AlbumOnlyPicture(".heic", 64, 64, ExifWithLocation()));
             tree.root.Write("P/here.avif", AlbumOnlyPicture(".avif", 64, 64, ExifWithLocation()));
         },
         {"-o", "@S", "@P"},
         3,
         {"S/a.png", "S/plain.avif", "S/Previews/here.heic.jpg", "S/Previews/here.avif.jpg",
          "S/Thumbnails/here.heic.jpg"},
         {"S/here.heic", "S/here.avif", "S/Previews/plain.avif.jpg"},
         [](const Tree& tree, const Finished& run) {
             ASSERT_TRUE(picture::CarriesLocation(tree.Path("P/here.heic")));
             ASSERT_TRUE(picture::CarriesLocation(tree.Path("P/here.avif")));
             EXPECT_EQ(ReadFile(tree.Path("S/plain.avif")), ReadFile(tree.Path("P/plain.avif")));
             for (const char* name : {"here.heic", "here.avif"}) {
                 EXPECT_NE(run.err.find("Cannot remove the location: " + tree.Path("P/") + name),
                           std::string::npos)
                     << run.err;
             }
             EXPECT_NE(ReadFile(tree.Path("S/index.html"))
                           .find("<a href=\"Previews/here.heic.jpg\" data-preview=\"Previews/"
                                 "here.heic.jpg\""),
                       std::string::npos);
             // With --keep-location they are published as they are.
             EXPECT_EQ(tree.Run({"--keep-location", "-o", "@S", "@P"}), 0);
             EXPECT_EQ(ReadFile(tree.Path("S/here.heic")), ReadFile(tree.Path("P/here.heic")));
         }},
        {"refused: the site inside the photos, the photos inside the site, a folder of other "
         "files, a file, a link",
         [](Tree& tree) {
             SiteTree(tree);
             std::filesystem::create_directory(tree.Path("other"));
             tree.root.Write("other/notes.txt", "");
             tree.root.Write("file", "");
             std::filesystem::create_directory(tree.Path("linked"));
             std::filesystem::create_directory_symlink(tree.Path("linked"), tree.Path("link"));
         },
         {"-r", "-o", "@P/sub/site", "@P"},
         2,
         {},
         {"P/sub/site"},
         [](const Tree& tree, const Finished& run) {
             EXPECT_NE(run.err.find("inside the picture folder"), std::string::npos) << run.err;
             for (const std::string site : {"@", "@other", "@file", "@link", "@P"}) {
                 EXPECT_EQ(tree.Run({"-o", site, "@P/sub"}), 2) << site;
             }
             EXPECT_EQ(tree.Run({"-n", "-o", "@S", "@P"}), 2);
             EXPECT_EQ(tree.Run({"--no-originals", "@P"}), 2);
             EXPECT_TRUE(std::filesystem::is_empty(tree.Path("linked")));
             EXPECT_FALSE(std::filesystem::exists(tree.Path("S")));
         }},
    };
    for (const SiteCase& row : table) {
        SCOPED_TRACE(row.what);
        Tree tree;
        row.before(tree);
        const auto photos = Snapshot(tree.Path("P"));
        const auto siteBefore = Snapshot(tree.Path("S"));
        std::vector<std::string> arguments = row.arguments;
        for (std::string& argument : arguments) {
            if (argument.starts_with('@')) argument = tree.root / argument.substr(1);
        }
        const Finished run = RunProgram(arguments, row.fileSizeLimit);
        EXPECT_EQ(run.status, row.status) << run.err;
        for (const std::string& file : row.written) {
            EXPECT_TRUE(std::filesystem::exists(tree.Path(file))) << file;
        }
        for (const std::string& file : row.notWritten) {
            EXPECT_FALSE(std::filesystem::exists(tree.Path(file))) << file;
        }
        if (row.what.starts_with("unchanged")) {
            EXPECT_EQ(Snapshot(tree.Path("S")), siteBefore);
        }
        if (row.check) row.check(tree, run);
        // The photos only read: not a file, a folder or a time changed.
        EXPECT_EQ(Snapshot(tree.Path("P")), photos);
        if (std::filesystem::exists(tree.Path("S/index.html"))) {
            EXPECT_EQ(SiteFaults(tree.Path("S")), std::vector<std::string>{});
        }
    }
}

TEST(BatchEndToEnd, ASiteTellsNoLocationAndKeepsThePicturesData) {
    Tree tree;
    std::filesystem::create_directory(tree.Path("P"));
    tree.root.Write("P/here.jpg", PhotoWithLocation());
    tree.Picture("P/big.jpg", kLarge);
    ASSERT_TRUE(picture::CarriesLocation(tree.Path("P/here.jpg")));
    const Finished run = RunProgram({"-o", tree.Path("S"), tree.Path("P")});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.Path("S"))) {
        if (!entry.is_regular_file() || entry.path().extension() != ".jpg") continue;
        EXPECT_FALSE(picture::CarriesLocation(entry.path().string())) << entry.path();
        // Thumbnails and previews carry no metadata at all.
        if (entry.path().parent_path() != tree.Path("S")) {
            EXPECT_EQ(ReadFile(entry.path().string()).find("Exif"), std::string::npos)
                << entry.path();
        }
    }
    const std::string original = ReadFile(tree.Path("S/here.jpg"));
    EXPECT_EQ(ScanData(original), ScanData(PhotoWithLocation()));
    EXPECT_NE(original.find("Exif"), std::string::npos);  // orientation kept
    // With --keep-location the original is the photo itself.
    ASSERT_EQ(RunProgram({"--keep-location", "-o", tree.Path("S"), tree.Path("P")}).status, 0);
    EXPECT_EQ(ReadFile(tree.Path("S/here.jpg")), PhotoWithLocation());
}

// A copy of the small test photo whose metadata is what `fill` sets,
// written by exiv2.
void LyingPhoto(const Tree& tree, const std::string& file,
                const std::function<void(Exiv2::ExifData&, Exiv2::XmpData&)>& fill) {
    tree.Picture(file);
    picture::detail::Exiv2Session session;
    const auto image = Exiv2::ImageFactory::open(tree.Path(file));
    image->readMetadata();
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    fill(exif, xmp);
    image->setExifData(exif);
    image->setXmpData(xmp);
    image->writeMetadata();
}

// Metadata that lies (dates of the years 0 and 9999, texts of 64 KB full of
// control characters, markup, UTF-16 broken in the middle) breaks neither
// the run, nor the page, nor the date order, beside the pictures or in a site.
TEST(BatchEndToEnd, MetadataThatLiesBreaksNeitherTheRunNorThePageNorTheOrder) {
    Tree tree;
    LyingPhoto(tree, "P/a.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
        exif["Exif.Photo.DateTimeOriginal"] = "9999:12:31 23:59:59";
        exif["Exif.Photo.OffsetTimeOriginal"] = "+99:99";
    });
    LyingPhoto(tree, "P/b.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
        exif["Exif.Photo.DateTimeOriginal"] = "0000:00:00 00:00:00";
        std::string text;
        for (int i = 0; i < 65536; ++i) text += static_cast<char>(1 + i % 127);
        exif["Exif.Image.ImageDescription"] = text;
    });
    LyingPhoto(tree, "P/c.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData& xmp) {
        exif["Exif.Photo.DateTimeOriginal"] = "2020:02:30 25:61:61";
        // "UNICODE\0" then UTF-16 cut by a lone high surrogate and an odd byte.
        const std::string comment = std::string(
            "UNICODE\0A\0\x00\xD8"
            "B\0C",
            15);
        Exiv2::DataValue value(Exiv2::undefined);
        value.read(reinterpret_cast<const Exiv2::byte*>(comment.data()),
                   static_cast<long>(comment.size()));
        exif.add(Exiv2::ExifKey("Exif.Photo.UserComment"), &value);
        xmp["Xmp.dc.title"] = "<script>alert(1)</script>\x1b[2J\xFF\xFE";
    });
    LyingPhoto(tree, "P/d.jpg", [](Exiv2::ExifData& exif, Exiv2::XmpData&) {
        exif["Exif.Photo.DateTimeOriginal"] = "2021:07:04 18:30:00";
    });
    for (const std::string page : {"P/index.html", "S/index.html"}) {
        SCOPED_TRACE(page);
        const std::vector<std::string> arguments =
            page.starts_with("P")
                ? std::vector<std::string>{"-i", "--sort", "date", "@P"}
                : std::vector<std::string>{"--sort", "date", "--keep-location", "-o", "@S", "@P"};
        ASSERT_EQ(tree.Run(arguments), 0);
        const std::string html = ReadFile(tree.Path(page));
        EXPECT_EQ(Count(html, "data-key="), 4u);
        EXPECT_EQ(html.find("<script>alert"), std::string::npos);
        EXPECT_EQ(std::count_if(html.begin(), html.end(),
                                [](char c) {
                                    return static_cast<unsigned char>(c) < 0x20 && c != '\n' &&
                                           c != '\t';
                                }),
                  0);
        EXPECT_TRUE(IsWellFormedUtf8(html));
        // The dates that are no dates (the year 0, 30 February) stand in by
        // the files' times, now: after 2021, before the year 9999.
        const auto at = [&html](const char* name) {
            return html.find(std::string("data-key=\"") + name + "\"");
        };
        EXPECT_LT(at("d.jpg"), at("b.jpg"));
        EXPECT_LT(at("b.jpg"), at("c.jpg"));
        EXPECT_LT(at("c.jpg"), at("a.jpg"));
    }
}

// In the date order, albums below one come by their earliest picture, or
// that of the albums below them; by name otherwise. Beside the pictures and
// in a site alike.
TEST(BatchEndToEnd, SubAlbumsFollowTheirEarliestPictureInTheDateOrder) {
    for (const bool site : {false, true}) {
        SCOPED_TRACE(site ? "site" : "album");
        Tree tree;
        tree.Picture("P/top.jpg");
        tree.Picture("P/a/x.jpg");
        tree.Picture("P/b/deep/y.jpg");
        const auto year = [](int years) {
            return std::filesystem::file_time_type::clock::now() -
                   std::chrono::hours(24 * 365 * years);
        };
        std::filesystem::last_write_time(tree.Path("P/a/x.jpg"), year(1));
        std::filesystem::last_write_time(tree.Path("P/b/deep/y.jpg"), year(5));
        const std::string page = site ? "S/index.html" : "P/index.html";
        const auto order = [&](const std::string& sort) {
            std::vector<std::string> arguments = {"-r", "--sort", sort};
            if (site) {
                arguments.insert(arguments.end(), {"--keep-location", "-o", "@S", "@P"});
            } else {
                arguments.insert(arguments.end(), {"-i", "@P"});
            }
            EXPECT_EQ(tree.Run(arguments), 0);
            const std::string html = ReadFile(tree.Path(page));
            return html.find("\"a/index.html\"") < html.find("\"b/index.html\"") ? "a b" : "b a";
        };
        EXPECT_EQ(order("name"), std::string("a b"));
        EXPECT_EQ(order("date"), std::string("b a"));
    }
}

// An album's tile of each album below: the cover is the first picture's
// high-density thumbnail, or for a folder of folders that of its first album,
// and the count is of the album's own pictures.
TEST(BatchEndToEnd, AlbumsBelowShowTheirCoverAndCount) {
    const std::string hostile = "Tom's \"<b>\" #1";
    const std::string url = "Tom%27s%20%22%3Cb%3E%22%20%231";
    for (const bool site : {false, true}) {
        SCOPED_TRACE(site ? "site" : "album");
        Tree tree;
        tree.Picture("P/top.jpg");
        tree.Picture("P/" + hostile + "/b.jpg");
        tree.Picture("P/" + hostile + "/a.jpg");
        tree.Picture("P/deep/only/x.jpg");
        const std::string top = site ? "S" : "P";
        EXPECT_EQ(
            tree.Run(site ? std::vector<std::string>{"-r", "--keep-location", "-o", "@S", "@P"}
                          : std::vector<std::string>{"-r", "-i", "@P"}),
            0);
        const std::string page = ReadFile(tree.Path(top + "/index.html"));
        EXPECT_NE(page.find("<a href=\"" + url + "/index.html\"><img src=\"" + url +
                            "/Thumbnails@1x/a.jpg.jpg\" srcset=\"" + url +
                            "/Thumbnails@1x/a.jpg.jpg 1x, " + url +
                            "/Thumbnails@2x/a.jpg.jpg 2x\" width=\"128\" height=\"128\" alt=\"\">"),
                  std::string::npos);
        EXPECT_NE(page.find("&quot;&lt;b&gt;&quot; #1</span><span class=\"album-count\">2 "
                            "pictures</span>"),
                  std::string::npos);
        EXPECT_NE(page.find("<a href=\"deep/index.html\"><img src=\"deep/only/Thumbnails@1x/"
                            "x.jpg.jpg\" srcset=\"deep/only/Thumbnails@1x/x.jpg.jpg 1x, "
                            "deep/only/Thumbnails@2x/x.jpg.jpg 2x\" width=\"128\" height=\"128\" "
                            "alt=\"\"><span "
                            "class=\"album-name\">deep</span></a>"),
                  std::string::npos);
        EXPECT_NE(ReadFile(tree.Path(top + "/deep/index.html")).find(">1 picture<"),
                  std::string::npos);
        // Every image the pages show is there (and in the site, inside it).
        EXPECT_EQ(testing::MissingAlbumFiles(tree.Path(top)), std::vector<std::string>{});
        if (site) {
            EXPECT_EQ(SiteFaults(tree.Path("S")), std::vector<std::string>{});
        }
    }
}

// A first site run stopped early shows what it made, and the next run
// completes it.
TEST(BatchEndToEnd, AnInterruptedFirstSiteRunShowsWhatItMade) {
    Tree tree;
    constexpr int kPictures = 8;
    for (int i = 0; i < kPictures; ++i)
        tree.Picture("P/p" + std::to_string(100 + i) + ".jpg", kLarge);
    {
        Program program({"--keep-location", "-o", tree.Path("S"), tree.Path("P")});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!std::filesystem::exists(tree.Path("S/Thumbnails/p101.jpg.jpg")) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        program.Interrupt();
        EXPECT_EQ(program.Wait(), 130);
    }
    EXPECT_EQ(SiteFaults(tree.Path("S")), std::vector<std::string>{});
    const std::size_t shown = Count(ReadFile(tree.Path("S/index.html")), "data-key=");
    EXPECT_GE(shown, 1u);
    EXPECT_LT(shown, static_cast<std::size_t>(kPictures));
    ASSERT_EQ(tree.Run({"--keep-location", "-o", "@S", "@P"}), 0);
    EXPECT_EQ(SiteFaults(tree.Path("S")), std::vector<std::string>{});
    EXPECT_EQ(Count(ReadFile(tree.Path("S/index.html")), "data-key="),
              static_cast<std::size_t>(kPictures));
}

TEST(BatchEndToEnd, AKilledSiteRunLeavesPagesLinkingOnlyFilesThatAreThere) {
    Tree tree;
    for (int i = 0; i < 12; ++i) tree.Picture("P/sub/p" + std::to_string(i) + ".jpg", kLarge);
    tree.Picture("P/a.jpg");
    ASSERT_EQ(tree.Run({"-r", "--keep-location", "-o", "@S", "@P"}), 0);
    // The pictures change, and the run that makes them again is killed.
    for (int i = 0; i < 12; ++i) {
        tree.Picture("P/sub/p" + std::to_string(i) + ".jpg",
                     "exif-orientation-examples/Portrait_6.jpg");
    }
    tree.Picture("P/new/n.jpg");
    {
        Program program({"-r", "--keep-location", "-o", tree.Path("S"), tree.Path("P")});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        // Once the record marks the files to be made, with no key (the
        // fifth field), a few of them are made; then the kill.
        const std::regex marked("\n([^\t\n]*\t){4}\t");
        while (!std::regex_search(ReadFile(tree.Path("S/.fotolane-site")), marked) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        program.Kill();
    }
    EXPECT_EQ(SiteFaults(tree.Path("S")), std::vector<std::string>{});
    ASSERT_EQ(tree.Run({"-r", "--keep-location", "-o", "@S", "@P"}), 0);
    EXPECT_EQ(SiteFaults(tree.Path("S")), std::vector<std::string>{});
    EXPECT_NE(ReadFile(tree.Path("S/index.html")).find("new/index.html"), std::string::npos);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.Path("S"))) {
        EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp")) << entry.path();
    }
}

}  // namespace
}  // namespace fotolane::batch
