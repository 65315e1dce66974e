#include <gtest/gtest.h>
#include <sys/stat.h>
#include <turbojpeg.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "imaging/cDIBSection.h"
#include "imaging/mIntelJPEGLibrary.h"
#include "platform/core/ThreadsTesting.h"
#include "platform/drawing/Gdi.h"
#include "platform/files/FilesTesting.h"
#include "tests/TempFolder.h"
#include "tests/imaging/ImagingTestSupport.h"

namespace fotolane::imaging {
namespace {

using fotolane::testing::ReadFile;
using fotolane::testing::TempFolder;
using mIntelJPEGLibrary::WriteJPEGFile;
using testing::Bgr;
using testing::Paint;
using testing::RecordingHost;

// A decoded JPEG file, top-down RGB.
struct Decoded {
    int width = 0;
    int height = 0;
    int subsampling = -1;
    // Top-down rows of width x 3 bytes.
    std::vector<std::uint8_t> rgb;

    // Red, green, blue at (x, y) counted from the top-left corner.
    std::array<int, 3> At(int x, int y) const {
        const std::uint8_t* p = rgb.data() + (static_cast<std::ptrdiff_t>(y) * width + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

Decoded Decode(const std::string& path) {
    const std::string bytes = ReadFile(path);
    struct Destroy {
        void operator()(void* handle) const { tjDestroy(handle); }
    };
    const std::unique_ptr<void, Destroy> decoder(tjInitDecompress());
    Decoded decoded;
    int colourspace = 0;
    auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.empty() ||
        tjDecompressHeader3(decoder.get(), data, bytes.size(), &decoded.width, &decoded.height,
                            &decoded.subsampling, &colourspace) != 0) {
        ADD_FAILURE() << "not a JPEG file: " << path;
        return {};
    }
    decoded.rgb.resize(static_cast<std::size_t>(decoded.width) *
                       static_cast<std::size_t>(decoded.height) * 3);
    EXPECT_EQ(tjDecompress2(decoder.get(), data, bytes.size(), decoded.rgb.data(), decoded.width, 0,
                            decoded.height, TJPF_RGB, 0),
              0);
    return decoded;
}

// Within the loss of a JPEG encoding at a high quality.
void ExpectNear(const std::array<int, 3>& actual, const std::array<int, 3>& expected,
                const std::string& where) {
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(actual[i], expected[i], 12) << where << " channel " << i;
    }
}

std::set<std::string> Entries(const TempFolder& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Top half red, bottom half blue: a flipped picture or swapped channels show.
std::unique_ptr<cDIBSection> RedOverBlue(std::int32_t width, std::int32_t height) {
    auto dib = std::make_unique<cDIBSection>();
    EXPECT_TRUE(dib->Create(width, height));
    Paint(*dib, [height](std::int32_t, std::int32_t y) {
        return y < height / 2 ? Bgr{0, 0, 255} : Bgr{255, 0, 0};
    });
    return dib;
}

TEST(WriteJPEGFile, WritesAnUprightPictureInBlueGreenRedOrder) {
    RecordingHost host;
    const ui::ScopedHost installed(host);
    TempFolder folder;
    const std::string path = folder / "upright.jpg";
    const auto dib = RedOverBlue(32, 16);
    ASSERT_TRUE(WriteJPEGFile(*dib, path, 95));
    EXPECT_TRUE(host.messages.empty());

    const Decoded jpeg = Decode(path);
    ASSERT_EQ(jpeg.width, 32);
    ASSERT_EQ(jpeg.height, 16);
    EXPECT_EQ(jpeg.subsampling, TJSAMP_420);
    ExpectNear(jpeg.At(3, 0), {255, 0, 0}, "top row");
    ExpectNear(jpeg.At(28, 3), {255, 0, 0}, "upper half");
    ExpectNear(jpeg.At(3, 15), {0, 0, 255}, "bottom row");
    ExpectNear(jpeg.At(28, 12), {0, 0, 255}, "lower half");
}

TEST(WriteJPEGFile, ReadsPaddedScanLinesWithoutSkew) {
    // Widths 1 to 5 have 1, 2, 3, 0 and 1 padding bytes a scan line. Luma is
    // not subsampled, and each half is one flat 8-row block, so a skewed
    // read (padding taken for pixels) or flipped rows change the grays.
    RecordingHost host;
    const ui::ScopedHost installed(host);
    TempFolder folder;
    for (std::int32_t width = 1; width <= 5; ++width) {
        cDIBSection dib;
        ASSERT_TRUE(dib.Create(width, 16));
        Paint(dib, [](std::int32_t, std::int32_t y) {
            const std::uint8_t v = y < 8 ? 200 : 40;
            return Bgr{v, v, v};
        });
        // Rubbish in the padding must not reach the picture.
        for (std::int32_t s = 0; s < 16; ++s) {
            for (std::int32_t b = 3 * width; b < dib.BytesPerScanLine(); ++b) {
                dib.DIBSectionBitsPtr()[s * dib.BytesPerScanLine() + b] = 0xFF;
            }
        }
        const std::string path = folder / ("w" + std::to_string(width) + ".jpg");
        ASSERT_TRUE(WriteJPEGFile(dib, path, 90));
        const Decoded jpeg = Decode(path);
        ASSERT_EQ(jpeg.width, width);
        ASSERT_EQ(jpeg.height, 16);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < width; ++x) {
                const int v = y < 8 ? 200 : 40;
                ExpectNear(jpeg.At(x, y), {v, v, v},
                           "width " + std::to_string(width) + " at " + std::to_string(x) + "," +
                               std::to_string(y));
            }
        }
    }
    EXPECT_TRUE(host.messages.empty());
}

TEST(WriteJPEGFile, HonoursTheQuality) {
    RecordingHost host;
    const ui::ScopedHost installed(host);
    TempFolder folder;
    cDIBSection dib;
    ASSERT_TRUE(dib.Create(64, 48));
    RandomisePixels(dib.DIBSectionBitsPtr(), 64, 48, dib.BytesPerScanLine(), false, 7);
    ASSERT_TRUE(WriteJPEGFile(dib, folder / "low.jpg", 20));
    ASSERT_TRUE(WriteJPEGFile(dib, folder / "high.jpg", 95));
    EXPECT_LT(ReadFile(folder / "low.jpg").size(), ReadFile(folder / "high.jpg").size());
    // Outside the scale of 1 to 100 the encoder refuses.
    EXPECT_FALSE(WriteJPEGFile(dib, folder / "zero.jpg", 101));
    EXPECT_FALSE(std::filesystem::exists(folder / "zero.jpg"));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Failed to save to JPG");
}

TEST(WriteJPEGFile, ReplacesAnExistingFileWhole) {
    RecordingHost host;
    const ui::ScopedHost installed(host);
    TempFolder folder;
    const std::string path = folder / "twice.jpg";
    folder.Write("twice.jpg", "not a picture, and longer than nothing");
    cDIBSection dib;
    ASSERT_TRUE(dib.Create(16, 16));
    Paint(dib, [](std::int32_t, std::int32_t) { return Bgr{0, 200, 0}; });
    ASSERT_TRUE(WriteJPEGFile(dib, path, 80));
    Paint(dib, [](std::int32_t, std::int32_t) { return Bgr{220, 0, 0}; });
    ASSERT_TRUE(WriteJPEGFile(dib, path, 80));
    ExpectNear(Decode(path).At(8, 8), {0, 0, 220}, "second picture");
    EXPECT_EQ(Entries(folder), std::set<std::string>{"twice.jpg"});  // no temporary file left

    // A UTF-8 name is used as it stands.
    const std::string named = folder / "\xC3\xA9t\xC3\xA9.jpg";
    ASSERT_TRUE(WriteJPEGFile(dib, named, 80));
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(named)));
    EXPECT_TRUE(host.messages.empty());
}

TEST(WriteJPEGFile, WarnsAndWritesNothingWhenTheFileCannotBeMade) {
    RecordingHost host;
    const ui::ScopedHost installed(host);
    TempFolder folder;
    folder.Write("plain.txt", "x");
    std::filesystem::create_directory(folder.path() / "taken.jpg");
    folder.Write("old.jpg", "old");
    // A name that is not a regular file (here a pipe; a device such as
    // /dev/full is the same) is never renamed over.
    ASSERT_EQ(::mkfifo((folder / "pipe.jpg").c_str(), 0666), 0);
    const auto dib = RedOverBlue(8, 8);

    const std::string names[] = {
        "",                              // no name at all
        folder / "missing/thumb.jpg",    // a folder that does not exist
        folder / "plain.txt/thumb.jpg",  // a file where a folder should be
        folder / "taken.jpg",            // a folder of the file's name
        folder.str() + "/",              // a folder, not a file
        folder / "pipe.jpg",             // not a regular file
    };
    for (const std::string& name : names) {
        host.messages.clear();
        EXPECT_FALSE(WriteJPEGFile(*dib, name, 80)) << name;
        ASSERT_EQ(host.messages.size(), 1u) << name;
        EXPECT_EQ(host.messages[0].text, "Failed to save to JPG");
        EXPECT_EQ(host.messages[0].icon, ui::Icon::Exclamation);
        EXPECT_EQ(host.messages[0].buttons, ui::Buttons::OK);
        EXPECT_EQ(host.messages[0].caption, "Fotolane");
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "taken.jpg"));
    EXPECT_TRUE(std::filesystem::is_empty(folder.path() / "taken.jpg"));
    EXPECT_TRUE(std::filesystem::is_fifo(folder.path() / "pipe.jpg"));
    EXPECT_EQ(Entries(folder),
              (std::set<std::string>{"old.jpg", "pipe.jpg", "plain.txt", "taken.jpg"}));

    // A buffer without pixel memory: the same warning, and the old file kept.
    host.messages.clear();
    const cDIBSection empty;
    EXPECT_FALSE(WriteJPEGFile(empty, folder / "old.jpg", 80));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Failed to save to JPG");
    EXPECT_EQ(ReadFile(folder / "old.jpg"), "old");
}

// A run's files are put in place by another thread: a file that cannot be
// made (its open fails) is warned about at once, one whose flush to the
// disk fails later when the file sixteen places after it is given; every
// other file is in place after Finish, the earlier file of a failed one is
// kept, and no temporary file is left. The same when the system gives no
// thread: the files are then put in place as they are given.
TEST(JpegFileQueue, WarnsAboutEachFailedFileInOrder) {
    struct WarningHost final : ui::Host {
        void ShowMessage(const std::string&, const std::string&, ui::Icon, ui::Buttons) override {}
        void YieldToEvents() override {}
        void ShowWarning(const std::string& text, const std::string& path) override {
            warned.push_back(text + " " + path);
        }
        std::vector<std::string> warned;
    } host;
    const ui::ScopedHost installed(host);
    for (const bool threadRefused : {false, true}) {
        SCOPED_TRACE(threadRefused ? "without a thread" : "with a thread");
        host.warned.clear();
        std::optional<fotolane::testing::ScopedThreadRefusal> refusal;
        if (threadRefused) refusal.emplace(0);
        TempFolder folder;
        folder.Write("f02.jpg", "earlier");
        const auto dib = RedOverBlue(8, 8);
        const auto name = [&](int file) {
            return folder / ((file < 10 ? "f0" : "f") + std::to_string(file) + ".jpg");
        };
        {
            const files::ScopedFailure open(files::Step::Open, 1);    // the second file's
            const files::ScopedFailure flush(files::Step::Flush, 1);  // the third file's
            mIntelJPEGLibrary::JpegFileQueue queue(16);
            std::vector<std::vector<std::string>> warnedAfter;
            for (int file = 0; file < 20; ++file) {
                queue.WriteJPEGFile(*dib, name(file), 80);
                warnedAfter.push_back(host.warned);
            }
            const std::string failed1 = "Failed to save to JPG " + name(1);
            const std::string failed2 = "Failed to save to JPG " + name(2);
            EXPECT_TRUE(warnedAfter[0].empty());
            EXPECT_EQ(warnedAfter[1], std::vector<std::string>{failed1});
            EXPECT_EQ(warnedAfter[17], std::vector<std::string>{failed1});
            EXPECT_EQ(warnedAfter[18], (std::vector<std::string>{failed1, failed2}));
            queue.Finish();
            EXPECT_EQ(host.warned, (std::vector<std::string>{failed1, failed2}));
        }
        EXPECT_EQ(ReadFile(name(2)), "earlier");
        EXPECT_FALSE(std::filesystem::exists(name(1)));
        std::set<std::string> entries = Entries(folder);
        EXPECT_EQ(entries.size(), 19u);  // twenty files but the second, and nothing else
        for (const std::string& entry : entries) {
            if (entry != "f02.jpg") {
                EXPECT_EQ(Decode(folder / entry).width, 8) << entry;
            }
        }
    }
}

}  // namespace
}  // namespace fotolane::imaging
