// Thumbnails made ahead on worker threads change nothing that a run leaves
// or shows: the same files, byte for byte, the same calls to the window in
// the same order, the same outcome, whether the run ends normally, at a
// fault or at a stop, with "All" or "New", or with a thumbnail whose flush to
// the disk fails after its call has returned; nor the album made after the
// run, nor pictures that fit the memory budget alone but not beside others,
// nor workers that the system refuses to start.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gallery/Album.h"
#include "gallery/GalleryRun.h"
#include "platform/core/MemoryBudget.h"
#include "platform/core/ThreadsTesting.h"
#include "platform/files/FilesTesting.h"
#include "tests/TempFolder.h"
#include "tests/gallery/FakeGalleryFrontEnd.h"
#include "thumbnails/AlbumImages.h"
#include "thumbnails/ThumbnailPipeline.h"
#include "thumbnails/frmThumbnails.h"

namespace fotolane::thumbnails {
namespace {

using fotolane::testing::TempFolder;

const std::string kTestData = FOTOLANE_TESTDATA_DIR;

const std::string kHugeGif = {'G',    'I',    'F',    '8',    '9',    'a',    '\x47', '\x1A',
                              '\x47', '\xFF', '\0',   '\0',   '\0',   ',',    '\1',   '\0',
                              '\0',   '\0',   '\0',   '\0',   '\0',   '\x27', '\xF8', '\x46',
                              '\x38', '\0',   '\0',   '\1',   '\0',   '\0',   '\xFF', '\xB9',
                              '\x38', '\xFF', '\xFF', '\x46', '\x49', '\x04', '\0',   '\x38'};

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
    bool album = false;        // the album after the run
    // Copies of a GIF of 40 bytes whose 6727 x 65351 screen takes 1.3 GB
    // decoded whole; the memory budget then holds one such picture, not two.
    int hugeGifs = 0;
    int threadsStarted = -1;  // with several workers, the threads the system gives, if limited
};

struct Result {
    std::map<std::string, std::string> files;  // every file below the folder
    std::vector<std::string> calls;            // the window's calls, in order
    gallery::RunEnd end{};
    std::string fault;
    std::int32_t cells = 0;
    std::vector<std::string> warnings;  // the files warned about
};

// `ahead`: the album's images made from the thumbnails' decodes.
Result RunGallery(const Scenario& scenario, int workers, bool ahead = false) {
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
    for (int i = 0; i < scenario.hugeGifs; ++i) {
        // Among the pictures, each sampled after some others.
        folder.Write("Photos/p" + std::to_string(11 + 4 * i) + "_huge.gif", kHugeGif);
    }

    testing::CallLog log;
    testing::FakeGalleryInputs inputs(log);
    testing::FakeGalleryView view(log);
    inputs.folderPath = pictures;
    inputs.viewerCheck = gallery::CheckValue::Checked;
    inputs.allSelected = scenario.all;
    const ScopedPictureMemoryBudget budget(std::size_t{3} << 29);
    std::optional<fotolane::testing::ScopedThreadRefusal> refusal;
    if (workers > 1 && scenario.threadsStarted >= 0) refusal.emplace(scenario.threadsStarted);
    AlbumImages images;
    frmThumbnails maker(workers);
    if (ahead) maker.MakeAlbumsAhead(images);
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
    if (scenario.hugeGifs > 0) {
        // The memory kept for the huge pictures is back once the run is over,
        // whichever worker held it.
        EXPECT_NO_THROW(AllocatePixelRows(6727, 65351)) << workers << " workers";
    }
    if (scenario.album) outcome = gallery::BuildAlbum(run, inputs, view, images, {});

    Result result;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(pictures)) {
        // The album's record holds the pictures' own times, which differ
        // from one copy of them to the next.
        if (entry.is_regular_file() && entry.path().filename() != kAlbumRecordName) {
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
        {"p15_zz.jpg", 0, true, 0},      // a fault at the sixth picture
        {"", 4, true, 0},                // a stop during the fourth picture's yields
        {"", 0, false, 5},               // "New" with the first five thumbnails there
        {"", 0, true, 0, 1},             // the second thumbnail is not written
        {"", 0, true, 0, -1, false, 3},  // three huge GIFs
        // The album, with a huge GIF, when the system gives two threads.
        {"", 0, true, 0, -1, true, 1, 2},
        {"", 4, true, 0, -1, true},                   // the album of a stopped run
        {"p15_zz.jpg", 0, true, 0, -1, false, 0, 0},  // no thread at all
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(
            "bad " + scenario.badPicture + ", stop " + std::to_string(scenario.stopAtYield) +
            ", New " + std::to_string(!scenario.all) + ", flush " +
            std::to_string(scenario.failingFlush) + ", album " + std::to_string(scenario.album) +
            ", huge GIFs " + std::to_string(scenario.hugeGifs) + ", threads " +
            std::to_string(scenario.threadsStarted));
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
        // A stopped run gets no album.
        EXPECT_EQ(one.files.count("index.html"),
                  scenario.album && scenario.stopAtYield == 0 ? 1u : 0u);
        // Fewer workers than pictures, and 999, which start one per picture;
        // the album's images made ahead with one worker and with two.
        const std::vector<std::pair<int, bool>> runs =
            scenario.album
                ? std::vector<std::pair<int, bool>>{{2, false}, {999, false}, {1, true}, {2, true}}
                : std::vector<std::pair<int, bool>>{{2, false}, {999, false}};
        for (const auto& [workers, ahead] : runs) {
            const Result many = RunGallery(scenario, workers, ahead);
            SCOPED_TRACE(std::to_string(workers) + " workers, album ahead " +
                         std::to_string(ahead));
            EXPECT_EQ(many.end, one.end) << workers;
            EXPECT_EQ(many.fault, one.fault) << workers;
            EXPECT_EQ(many.cells, one.cells) << workers;
            EXPECT_EQ(many.calls, one.calls) << workers;
            EXPECT_TRUE(many.files == one.files) << workers << " workers: files differ";
            EXPECT_EQ(many.warnings, one.warnings) << workers;
        }
    }
}

TEST(WorkerProperty, NoMoreWorkersStartThanPicturesNorThanTheSystemGives) {
    const ThumbnailJob job{kTestData + "/bmpsuite/g/pal8.bmp", "unused.jpg", true, 10, 0};
    const std::vector<ThumbnailJob> jobs(3, job);
    ThumbnailPipeline pipeline(999);
    EXPECT_EQ(pipeline.Workers(), 0u);  // not before the pictures are known
    pipeline.Expect(jobs);
    EXPECT_EQ(pipeline.Workers(), 3u);
    {
        const fotolane::testing::ScopedThreadRefusal refusal(1);
        pipeline.Expect(jobs);
        EXPECT_EQ(pipeline.Workers(), 1u);
        for (const ThumbnailJob& each : jobs) {
            const std::optional<SampledThumbnail> made = pipeline.Take(each);
            ASSERT_TRUE(made);
            EXPECT_FALSE(made->fault);
            EXPECT_EQ(made->ThumbWidth, 10);
        }
    }
    {
        const fotolane::testing::ScopedThreadRefusal refusal(0);
        pipeline.Expect(jobs);
        EXPECT_EQ(pipeline.Workers(), 0u);
        EXPECT_FALSE(pipeline.Take(job));  // made by the caller
    }
    pipeline.Expect(jobs);
    pipeline.Expect({});
    EXPECT_EQ(pipeline.Workers(), 0u);
}

}  // namespace
}  // namespace fotolane::thumbnails
