// Hostile pictures, a few bytes whose headers claim huge pictures or hundreds
// of scans: each ends in a thumbnail or a fault naming the file, with at most
// 1 GiB of memory at its peak. Each is made here and handled in a child
// process of its own, whose peak resident memory is measured. The album's
// images of the bitmaps and GIFs among them, and of a PNG that claims
// 20000 x 20000, fit a memory budget of 100 MiB.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gallery/Album.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"
#include "tests/TempFolder.h"
#include "tests/thumbnails/ThumbnailTestSupport.h"
#include "thumbnails/AlbumImages.h"
#include "thumbnails/frmThumbnails.h"

namespace fotolane::thumbnails {
namespace {

using testing::Bitmap;
using testing::Bytes;
using testing::Gif;
using testing::GifScreen;
using testing::Little16;
using testing::Little32;
using testing::RunLengths;

Bytes Big16(int value) {
    return {static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF)};
}

Bytes Segment(int marker, const Bytes& payload) {
    return Bytes{'\xFF', static_cast<char>(marker)} + Big16(static_cast<int>(payload.size()) + 2) +
           payload;
}

// A JPEG of three components whose Huffman tables make the one-bit code 0
// both "DC difference 0" and "end of block", so zero bytes are sound data.
Bytes Jpeg(int sofMarker, int size, int scans, const Bytes& dataPerScan) {
    const Bytes table = Bytes(1, '\1') + Bytes(15, '\0') + Bytes(1, '\0');
    Bytes jpeg = "\xFF\xD8" + Segment(0xDB, Bytes(1, '\0') + Bytes(64, '\1'));
    Bytes frame = Bytes(1, '\x08') + Big16(size) + Big16(size) + Bytes(1, '\x03');
    for (char c = 1; c <= 3; ++c) frame += Bytes{c, '\x11', '\0'};
    jpeg += Segment(sofMarker, frame) + Segment(0xC4, Bytes(1, '\0') + table) +
            Segment(0xC4, Bytes(1, '\x10') + table);
    Bytes scan = Bytes(1, '\x03');
    for (char c = 1; c <= 3; ++c) scan += Bytes{c, '\0'};
    scan += Bytes(3, '\0');
    for (int i = 0; i < scans; ++i) jpeg += Segment(0xDA, scan) + dataPerScan;
    return jpeg + "\xFF\xD9";
}

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16));
    }
    return bytes;
}

// The file up to its end-of-image marker.
Bytes HeaderOnly(const Bytes& jpeg) {
    return jpeg.substr(0, jpeg.size() - 2);
}

// `jpeg` with an EXIF block of one entry, its orientation, after its start.
Bytes WithOrientation(const Bytes& jpeg, int orientation) {
    const Bytes tiff = Bytes("II*\0", 4) + Little32(8) + Little16(1) + Little16(0x0112) +
                       Little16(3) + Little32(1) + Little16(orientation) + Little16(0) +
                       Little32(0);
    return jpeg.substr(0, 2) + Segment(0xE1, Bytes("Exif\0\0", 6) + tiff) + jpeg.substr(2);
}

struct Bomb {
    const char* what;
    const char* name;
    Bytes bytes;
    std::int32_t lSize;
    // The fault's message, empty for a thumbnail, "*" for any fault.
    std::string fault;
};

// What the child process reports: how the call ended, and its peak memory.
struct Outcome {
    std::string ending;
    long peakKilobytes = 0;
};

Outcome InChildProcess(const std::string& picture, const std::string& thumbnails,
                       std::int32_t lSize) {
    int pipe[2];
    if (::pipe(pipe) != 0) return {"no pipe", 0};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        std::string ending = "thumbnail";
        try {
            testing::RecordingHost host;
            ui::ScopedHost installed{host};
            frmThumbnails maker;
            maker.Get_Thrumbal(picture, thumbnails, true, lSize);
        } catch (const Fault& fault) {
            ending = fault.Description();
        } catch (...) {
            ending = "another exception";
        }
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const std::string report = std::to_string(usage.ru_maxrss) + " " + ending;
        const ssize_t written = ::write(pipe[1], report.data(), report.size());
        ::_exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    ::close(pipe[1]);
    std::string report;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;) {
        report.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {"the child died", 0};
    const std::size_t space = report.find(' ');
    return {report.substr(space + 1), std::stol(report.substr(0, space))};
}

std::vector<Bomb> Bombs() {
    const Bytes rle8Palette = Bytes(4, '\0') + "\xFF\xFF\xFF" + Bytes(1, '\0');
    const Bytes masks565 = Little32(0xF800) + Little32(0x07E0) + Little32(0x001F) + Little32(0);
    return {
        {"progressive, 499 scans without data", "scans.jpg", Jpeg(0xC2, 26700, 499, ""), 70,
         "Invalid picture"},
        {"progressive, 499 scans with data", "data.jpg", Jpeg(0xC2, 16000, 499, Bytes(1370, '\0')),
         70, "Invalid picture"},
        {"progressive header without data", "header.jpg", Jpeg(0xC2, 26700, 1, ""), 70,
         "Out of memory"},
        {"baseline header without data", "baseline.jpg", HeaderOnly(Jpeg(0xC0, 26700, 1, "")), 70,
         ""},
        // Decoded as stored and sampled through the turn: a turned copy of
        // the claimed picture would take 2 GiB beside it.
        {"baseline header without data, turned a quarter", "turned.jpg",
         WithOrientation(HeaderOnly(Jpeg(0xC0, 26700, 1, "")), 6), 70, ""},
        {"GIF screen of 16383 x 16383", "screen.gif", GifScreen(16383, 16383), 70, ""},
        {"GIF of a 6727 x 65351 screen and an interlaced frame of no size, its data refused",
         "nodata.gif",
         FromHex(
             "474946383961471a47ff0000002c0100000000000027f846380000010000ffb938ffff4649040038"),
         70, ""},
        {"GIF first frame of 19200 x 35980 on a 1 x 1 screen", "frame.gif",
         Gif(0, 0, 19200, 35980, false), 150, ""},
        {"GIF interlaced frame at (17738, 21074) widening a 1 x 1 screen", "union.gif",
         Gif(17738, 21074, 10335, 8, true), 150, ""},
        {"RLE8 bitmap of 16384 x 16384", "runs.bmp", Bitmap(16384, 8, 1, rle8Palette, RunLengths()),
         70, ""},
        {"24-bit bitmap header without pixels", "bare.bmp", Bitmap(16384, 24, 0, "", ""), 70, ""},
        {"V5 16-bit bitmap of 16252928 x 16, top-down, without pixels", "wide.bmp",
         Bitmap(124, 16252928, -16, 16, 3, masks565, ""), 150, ""},
        {"16-bit bitmap of 6 x 33554471 whose pixels end in the first row", "tall.bmp",
         Bitmap(56, 6, 33554471, 16, 3, masks565, Bytes(5, '\x7F')), 150, ""},
        {"RLE8 bitmap of 2 x 33554434 with a few lines of runs", "lines.bmp",
         Bitmap(40, 2, 33554434, 8, 1, rle8Palette, Bytes{'\2', '\1', '\0', '\0', '\2', '\1'}), 150,
         ""},
        {"a 64 x 43 picture at size 30000", "typo.bmp",
         Bitmap(64, 24, 0, "", Bytes(43 * 192, '\x40')), 30000, "*"},
    };
}

Bytes Big32(std::uint32_t value) {
    return Big16(static_cast<int>(value >> 16)) + Big16(static_cast<int>(value & 0xFFFF));
}

Bytes PngChunk(const char* type, const Bytes& data) {
    const Bytes typed = type + data;
    const auto* bytes = reinterpret_cast<const Bytef*>(typed.data());
    return Big32(static_cast<std::uint32_t>(data.size())) + typed +
           Big32(static_cast<std::uint32_t>(crc32(0, bytes, static_cast<uInt>(typed.size()))));
}

// An RGB PNG of width x height whose data holds only its first `lines`
// lines, black.
Bytes PngOfLines(std::uint32_t width, std::uint32_t height, std::uint32_t lines) {
    const Bytes raw(static_cast<std::size_t>(lines) * (3 * width + 1), '\0');
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes deflated(size, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(deflated.data()), &size,
                       reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size())),
              Z_OK);
    deflated.resize(size);
    return "\x89PNG\r\n\x1A\n" +
           PngChunk("IHDR",
                    Big32(width) + Big32(height) + Bytes{'\x08', '\x02', '\0', '\0', '\0'}) +
           PngChunk("IDAT", deflated) + PngChunk("IEND", "");
}

TEST(CostBounds, EveryBombEndsInAThumbnailOrAFaultWithinAGibibyte) {
    const std::vector<Bomb> bombs = Bombs();
    fotolane::testing::TempFolder folder;
    const std::string thumbnails = folder / "Thumbnails/";
    std::filesystem::create_directory(thumbnails);
    // A file of 2 GiB that takes no room: nothing is read past its start.
    { std::ofstream sparse(folder / "sparse.jpg"); }
    std::filesystem::resize_file(folder / "sparse.jpg", std::uintmax_t{2} << 30);
    const Bomb sparse{"2 GiB of nothing", "sparse.jpg", "", 70, "Invalid picture"};

    std::vector<Bomb> all = bombs;
    all.push_back(sparse);
    for (const Bomb& bomb : all) {
        SCOPED_TRACE(bomb.what);
        const std::string path = folder / bomb.name;
        if (!bomb.bytes.empty()) folder.Write(bomb.name, bomb.bytes);
        const Outcome outcome = InChildProcess(path, thumbnails, bomb.lSize);
        if (bomb.fault == "*") {
            EXPECT_TRUE(outcome.ending.ends_with(": " + path)) << outcome.ending;
        } else {
            EXPECT_EQ(outcome.ending, bomb.fault.empty() ? "thumbnail" : bomb.fault + ": " + path);
        }
        EXPECT_GT(outcome.peakKilobytes, 0);
        EXPECT_LE(outcome.peakKilobytes, 1L << 20);
    }
}

TEST(CostBounds, TheAlbumImagesOfEveryBombWithAThumbnailFitAHundredMebibytes) {
    // A bitmap's or a GIF's are averaged from the pixels as they are
    // decoded, a JPEG's from a scaled decode: a whole decode of the largest
    // would take 800 MB, of the JPEG 2 GB.
    fotolane::testing::TempFolder folder;
    std::filesystem::create_directory(folder / "Thumbnails@1x");
    std::filesystem::create_directory(folder / "Thumbnails@2x");
    std::filesystem::create_directory(folder / "Previews");
    const gallery::AlbumPaths paths = gallery::MakeAlbumPaths(folder.str());
    testing::RecordingHost host;
    const ui::ScopedHost installed{host};
    const ScopedPictureMemoryBudget budget(std::size_t{100} << 20);
    AlbumImages album;
    std::vector<Bomb> bombs = Bombs();
    // A PNG is averaged from its lines as libspng decodes them: a whole
    // decode would take 1.2 GB.
    bombs.push_back({"PNG of 20000 x 20000 with data for 64 lines", "lines.png",
                     PngOfLines(20000, 20000, 64), 150, ""});
    for (const Bomb& bomb : bombs) {
        const std::string name = bomb.name;
        if (!bomb.fault.empty() || bomb.lSize > 999) continue;
        SCOPED_TRACE(bomb.what);
        folder.Write(name, bomb.bytes);
        gallery::AlbumImageCounts counts;
        const gallery::AlbumPicture picture = album.MakeAlbumImages(
            folder / name, name, paths, gallery::AlbumRemake::All, bomb.lSize, counts);
        EXPECT_TRUE(std::filesystem::exists(folder / ("Thumbnails@2x/" + name + ".jpg")));
        EXPECT_EQ(std::filesystem::exists(folder / ("Previews/" + name + ".jpg")),
                  picture.preview.has_value());
    }
    EXPECT_TRUE(host.messages.empty());
}

TEST(CostBounds, AWholeDecodeOfADamagedJpegLeavesItsAlbumImagesTheirMemory) {
    // libjpeg warns about the missing data, so the picture is decoded whole
    // if the budget allows: here it does, with less left than the preview
    // needs, which is therefore drawn first (else "Out of memory").
    fotolane::testing::TempFolder folder;
    for (const char* images : {"Thumbnails@1x", "Thumbnails@2x", "Previews"}) {
        std::filesystem::create_directory(folder / images);
    }
    testing::RecordingHost host;
    const ui::ScopedHost installed{host};
    const std::size_t whole = static_cast<std::size_t>(StrideOf24BitRow(26700)) * 26700;
    const ScopedPictureMemoryBudget budget(whole + (std::size_t{6} << 20));
    folder.Write("baseline.jpg", HeaderOnly(Jpeg(0xC0, 26700, 1, "")));
    gallery::AlbumImageCounts counts;
    const gallery::AlbumPicture picture = AlbumImages().MakeAlbumImages(
        folder / "baseline.jpg", "baseline.jpg", gallery::MakeAlbumPaths(folder.str()),
        gallery::AlbumRemake::All, 70, counts);
    EXPECT_TRUE(picture.preview.has_value());
    EXPECT_TRUE(std::filesystem::exists(folder / "Previews/baseline.jpg.jpg"));
    EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace fotolane::thumbnails
