// Thumbnails made ahead on worker threads change nothing that a run leaves
// or shows: the same files, byte for byte, the same calls to the window in
// the same order, the same outcome, whether the run ends normally, at a
// fault or at a stop, with "All" or "New", or with a thumbnail whose flush to
// the disk fails after its call has returned.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "gallery/GalleryRun.h"
#include "platform/files/FilesTesting.h"
#include "tests/TempFolder.h"
#include "tests/gallery/FakeGalleryFrontEnd.h"
#include "thumbnails/frmThumbnails.h"

namespace fotolane::thumbnails {
namespace {

using fotolane::testing::TempFolder;

const std::string kTestData = FOTOLANE_TESTDATA_DIR;

// Pictures of every kind: JPEG sampling layouts, progressive, arithmetic,
// EXIF orientations, bitmaps, GIFs, large and small.
const char* const kPictures[] = {
    "libjpeg-turbo-testimages/testorig.jpg",
    "libjpeg-turbo-testimages/testimgari.jpg",
    "libjpeg-turbo-testimages/testimgint.jpg",
    "jpeg-decoder/reftest/non-interleaved-mcu.jpg",
    "exif-orientation-examples/Landscape_3.jpg",
    "exif-orientation-examples/Landscape_6.jpg",
    "exif-orientation-examples/Portrait_8.jpg",
    "jpeg-decoder/reftest/restarts.jpg",
    "jpeg-decoder/reftest/grayscale_large.jpg",
    "bmpsuite/g/pal8.bmp",
    "bmpsuite/g/rgb24.bmp",
    "image-gif/samples/interlaced.gif",
    "image-gif/samples/sample_big.gif",
};

struct Scenario {
    std::string badPicture;  // a file of that name that is no picture, if any
    int stopAtYield = 0;     // "&Stop" clicked during this yield, if any
    bool all = true;
    int thumbnailsBefore = 0;  // thumbnails of the first pictures already there ("New")
    int failingFlush = -1;     // the flush to the disk that fails, counted from 0
};

struct Result {
    std::map<std::string, std::string> files;  // every file below the folder
    std::vector<std::string> calls;            // the window's calls, in order
    gallery::RunEnd end{};
    std::string fault;
    std::int32_t cells = 0;
    std::vector<std::string> warnings;  // the files warned about
};

Result RunGallery(const Scenario& scenario, int workers) {
    TempFolder folder;
    const std::string pictures = folder / "Photos";
    std::filesystem::create_directories(pictures + "/Thumbnails");
    int number = 0;
    for (const char* picture : kPictures) {
        const std::filesystem::path from = kTestData + "/" + picture;
        const std::string name =
            "p" + std::to_string(10 + number++) + "_" + from.filename().string();
        std::filesystem::copy_file(from, pictures + "/" + name);
        if (number <= scenario.thumbnailsBefore) {
            folder.Write("Photos/Thumbnails/" + name.substr(0, name.rfind('.')) + ".jpg", "kept");
        }
    }
    if (!scenario.badPicture.empty()) folder.Write("Photos/" + scenario.badPicture, "no picture");

    testing::CallLog log;
    testing::FakeGalleryInputs inputs(log);
    testing::FakeGalleryView view(log);
    inputs.folderPath = pictures;
    inputs.viewerCheck = gallery::CheckValue::Checked;
    inputs.allSelected = scenario.all;
    frmThumbnails maker(workers);
    gallery::GalleryRun run(inputs, view, maker);
    view.onYield = [&](int yield) {
        if (yield == scenario.stopAtYield) run.Command2_Click();
    };
    const ui::ScopedHost host(view);
    gallery::RunOutcome outcome;
    {
        const files::ScopedFailure failure(files::Step::Flush, scenario.failingFlush);
        outcome = run.Command1_Click();
    }

    Result result;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(pictures)) {
        if (entry.is_regular_file()) {
            result.files[entry.path().lexically_relative(pictures).string()] =
                fotolane::testing::ReadFile(entry.path().string());
        }
    }
    // The folder differs from run to run; nothing else may.
    const auto withoutFolder = [&](std::string text) {
        for (std::size_t at; (at = text.find(folder.str())) != std::string::npos;) {
            text.replace(at, folder.str().size(), "<folder>");
        }
        return text;
    };
    for (const std::string& call : log.entries) result.calls.push_back(withoutFolder(call));
    result.end = outcome.end;
    result.fault = outcome.fault ? withoutFolder(outcome.fault->Description()) : "";
    result.cells = outcome.cells;
    for (const gallery::RunWarning& warning : outcome.warnings) {
        result.warnings.push_back(withoutFolder(warning.path));
    }
    return result;
}

TEST(WorkerProperty, AnyNumberOfWorkersLeavesAndShowsWhatOneWorkerDoes) {
    const Scenario scenarios[] = {
        {},
        {"p15_zz.jpg", 0, true, 0},  // a fault at the sixth picture
        {"", 4, true, 0},            // a stop during the fourth picture's yields
        {"", 0, false, 5},           // "New" with the first five thumbnails there
        {"", 0, true, 0, 1},         // the second thumbnail is not written
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE("bad " + scenario.badPicture + ", stop " +
                     std::to_string(scenario.stopAtYield) + ", New " +
                     std::to_string(!scenario.all) + ", flush " +
                     std::to_string(scenario.failingFlush));
        const Result one = RunGallery(scenario, 1);
        EXPECT_GT(one.files.size(), 3u);
        EXPECT_EQ(one.end, !scenario.badPicture.empty() ? gallery::RunEnd::Failed
                           : scenario.stopAtYield > 0   ? gallery::RunEnd::Stopped
                                                        : gallery::RunEnd::Done);
        if (scenario.failingFlush >= 0) {
            EXPECT_EQ(one.warnings,
                      std::vector<std::string>{"<folder>/Photos/Thumbnails/p11_testimgari.jpg"});
            EXPECT_EQ(one.files.count("Thumbnails/p11_testimgari.jpg"), 0u);
        }
        for (const int workers : {2, 5}) {
            const Result many = RunGallery(scenario, workers);
            EXPECT_EQ(many.end, one.end) << workers;
            EXPECT_EQ(many.fault, one.fault) << workers;
            EXPECT_EQ(many.cells, one.cells) << workers;
            EXPECT_EQ(many.calls, one.calls) << workers;
            EXPECT_TRUE(many.files == one.files) << workers << " workers: files differ";
            EXPECT_EQ(many.warnings, one.warnings) << workers;
        }
    }
}

}  // namespace
}  // namespace fotolane::thumbnails
