// Every write of a run fails in turn, through the file layer's seam: the
// thumbnails' and the page's open, write, flush, close and rename, the
// making of the thumbnail folder and the folder listing; then the album's.
// Afterwards nothing cut short is left, every earlier file is whole, and the
// outcome and the messages say what was not written, naming it.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "gallery/Album.h"
#include "gallery/GalleryRun.h"
#include "platform/files/FilesTesting.h"
#include "tests/TempFolder.h"
#include "tests/gallery/FakeGalleryFrontEnd.h"
#include "tests/thumbnails/ThumbnailTestSupport.h"
#include "thumbnails/AlbumImages.h"
#include "thumbnails/frmThumbnails.h"

namespace fotolane {
namespace {

namespace fs = std::filesystem;
using files::Step;
using testing::ReadFile;
using testing::TempFolder;

const std::string kPicture =
    std::string(FOTOLANE_TESTDATA_DIR) + "/libjpeg-turbo-testimages/testorig.jpg";

struct WriteStepCase {
    Step step;
    std::int32_t allowed;  // calls of the step that succeed before it fails
    // The file whose write fails: "a", "b" (thumbnails), "page", or a folder.
    std::string fails;
    int error = EIO;
};

bool IsJpeg(const std::string& bytes) {
    return bytes.size() > 100 && bytes.compare(0, 2, "\xFF\xD8") == 0;
}

TEST(WriteFailures, EveryStepLeavesWholeFilesAndAnHonestReport) {
    // The page is opened first and kept in memory until its end; each
    // thumbnail is then opened, written once, flushed, closed and renamed,
    // and at last the page written, flushed, closed and renamed.
    std::vector<WriteStepCase> cases = {
        {Step::Open, 0, "page"}, {Step::Open, 1, "a"}, {Step::Open, 2, "b"}};
    for (const Step step : {Step::Write, Step::Flush, Step::Close, Step::Rename}) {
        cases.push_back({step, 0, "a"});
        cases.push_back({step, 1, "b"});
        cases.push_back({step, 2, "page"});
    }
    cases.push_back({Step::CreateFolder, 0, "Thumbnails"});
    cases.push_back({Step::ListFolder, 3, "folder"});
    // A write past the file-size limit, once SIGXFSZ is ignored as the
    // programs ignore it.
    cases.push_back({Step::Write, 2, "page", EFBIG});

    for (const WriteStepCase& c : cases) {
        SCOPED_TRACE("step " + std::to_string(static_cast<int>(c.step)) + " after " +
                     std::to_string(c.allowed));
        TempFolder root;
        const std::string folder = root / "Trip";
        const std::string thumbs = folder + "/Thumbnails/";
        const std::string page = folder + "/Trip.htm";
        fs::create_directory(folder);
        fs::copy_file(kPicture, folder + "/a.jpg");
        fs::copy_file(kPicture, folder + "/b.jpg");
        root.Write("Trip/Trip.htm", "earlier page");
        if (c.fails != "Thumbnails") {
            fs::create_directory(thumbs);
            root.Write("Trip/Thumbnails/a.jpg", "earlier a");
            root.Write("Trip/Thumbnails/b.jpg", "earlier b");
        }

        testing::FakeGalleryInputs inputs;
        inputs.folderPath = folder;
        inputs.viewerCheck = gallery::CheckValue::Unchecked;
        testing::FakeGalleryView view;
        thumbnails::frmThumbnails maker;
        gallery::GalleryRun run(inputs, view, maker);
        ui::ScopedHost host(view);
        gallery::RunOutcome outcome;
        {
            files::ScopedFailure failure(c.step, c.allowed, c.error);
            outcome = run.Command1_Click();
        }

        // Nothing cut short anywhere: no temporary file, and every file
        // either as it was or whole.
        for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
            EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
        }
        const bool pageFails = c.fails == "page" || c.fails == "Thumbnails" || c.fails == "folder";
        EXPECT_EQ(ReadFile(page) == "earlier page", pageFails);
        if (!pageFails) {
            EXPECT_TRUE(ReadFile(page).ends_with("</html>\r\n"));
        }
        for (const std::string name : {"a", "b"}) {
            const std::string thumbnail = ReadFile(thumbs + name + ".jpg");
            // A page that cannot be begun ends the run before any thumbnail.
            const bool unwritten = c.fails == name || c.fails == "folder" ||
                                   (c.fails == "page" && c.step == Step::Open);
            if (c.fails == "Thumbnails") {
                EXPECT_FALSE(fs::exists(thumbs));
            } else if (unwritten) {
                EXPECT_EQ(thumbnail, "earlier " + name);
            } else {
                EXPECT_TRUE(IsJpeg(thumbnail)) << name;
            }
        }

        // The report names what was not written.
        std::vector<std::string> texts;
        for (const auto& message : view.messages) texts.push_back(message.text);
        if (c.fails == "a" || c.fails == "b") {
            EXPECT_EQ(outcome.end, gallery::RunEnd::Done) << (texts.empty() ? "" : texts[0]);
            EXPECT_TRUE(outcome.Incomplete());
            ASSERT_EQ(outcome.warnings.size(), 1u);
            EXPECT_EQ(outcome.warnings[0].path, thumbs + c.fails + ".jpg");
            EXPECT_EQ(texts, std::vector<std::string>{"Failed to save to JPG"});
            continue;
        }
        EXPECT_EQ(outcome.end, gallery::RunEnd::Failed) << (texts.empty() ? "" : texts[0]);
        ASSERT_TRUE(outcome.fault);
        const std::string named = c.fails == "page"         ? page
                                  : c.fails == "Thumbnails" ? folder + "/Thumbnails"
                                                            : folder;
        EXPECT_EQ(outcome.fault->Path(), named);
        if (c.error == EFBIG) {
            EXPECT_EQ(outcome.fault->Message(), "File too large");
        }
        EXPECT_EQ(texts,
                  std::vector<std::string>{"Errore : " + outcome.fault->Message() + ": " + named});
    }
}

// The album's files fail in turn: the 2x and 1x tiles of a.jpg, the preview
// and the tiles of wide.bmp, index.html (each by open, write, flush, close
// and rename), the making of Thumbnails@1x and Thumbnails@2x, and
// the removal of a gone picture's image. The page then shows only files that
// are there (the picture itself for a preview not written), or the earlier
// page stays.
TEST(WriteFailures, TheAlbumShowsOnlyTheImagesThatAreThere) {
    struct AlbumStepCase {
        Step step;
        std::int32_t allowed;
        std::vector<std::string> unwritten;  // warned about, below Trip/
    };
    std::vector<AlbumStepCase> cases;
    for (const Step step : {Step::Open, Step::Write, Step::Flush, Step::Close, Step::Rename}) {
        cases.push_back({step, 0, {"Thumbnails@2x/a.jpg.jpg"}});
        cases.push_back({step, 1, {"Thumbnails@1x/a.jpg.jpg"}});
        cases.push_back({step, 2, {"Previews/wide.bmp.jpg"}});
        cases.push_back({step, 3, {"Thumbnails@2x/wide.bmp.jpg"}});
        cases.push_back({step, 4, {"Thumbnails@1x/wide.bmp.jpg"}});
        cases.push_back({step, 5, {}});  // the album's record, which fails unseen
        cases.push_back({step, 6, {"index.html"}});
    }
    cases.push_back(
        {Step::CreateFolder, 0, {"Thumbnails@1x/a.jpg.jpg", "Thumbnails@1x/wide.bmp.jpg"}});
    cases.push_back(
        {Step::CreateFolder, 1, {"Thumbnails@2x/a.jpg.jpg", "Thumbnails@2x/wide.bmp.jpg"}});
    cases.push_back({Step::Remove, 0, {"Previews/gone.jpg.jpg"}});

    for (const AlbumStepCase& c : cases) {
        SCOPED_TRACE("step " + std::to_string(static_cast<int>(c.step)) + " after " +
                     std::to_string(c.allowed));
        TempFolder root;
        const std::string folder = root / "Trip";
        fs::create_directories(folder + "/Previews");
        fs::copy_file(kPicture, folder + "/a.jpg");
        thumbnails::testing::WriteBmp(folder + "/wide.bmp", 2100, 30,
                                      thumbnails::testing::Solid({0, 200, 0}));
        root.Write("Trip/index.html", "earlier album");
        root.Write("Trip/Previews/gone.jpg.jpg", "gone");

        testing::FakeGalleryInputs inputs;
        inputs.folderPath = folder;
        inputs.writesAlbum = true;
        testing::FakeGalleryView view;
        thumbnails::frmThumbnails maker;
        thumbnails::AlbumImages images;
        gallery::GalleryRun run(inputs, view, maker);
        ui::ScopedHost host(view);
        ASSERT_EQ(run.Command1_Click().end, gallery::RunEnd::Done);
        gallery::RunOutcome outcome;
        {
            files::ScopedFailure failure(c.step, c.allowed);
            outcome = gallery::BuildAlbum(run, inputs, view, images, gallery::AlbumLinks{});
        }

        for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
            EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
        }
        std::vector<std::string> unwritten;
        for (const gallery::RunWarning& warning : outcome.warnings) {
            unwritten.push_back(warning.path.substr(folder.size() + 1));
        }
        if (!c.unwritten.empty() && c.unwritten[0] == "index.html") {
            EXPECT_EQ(outcome.end, gallery::RunEnd::Failed);
            ASSERT_TRUE(outcome.fault);
            EXPECT_EQ(outcome.fault->Path(), folder + "/index.html");
            EXPECT_EQ(ReadFile(folder + "/index.html"), "earlier album");
            // The earlier album may still show it.
            EXPECT_EQ(ReadFile(folder + "/Previews/gone.jpg.jpg"), "gone");
            continue;
        }
        EXPECT_EQ(outcome.end, gallery::RunEnd::Done);
        EXPECT_EQ(unwritten, c.unwritten);
        if (c.unwritten.empty()) {
            EXPECT_FALSE(fs::exists(folder + "/Thumbnails@2x/.fotolane-album"));
        }
        EXPECT_EQ(testing::MissingAlbumFiles(folder), std::vector<std::string>{});
        const std::string album = ReadFile(folder + "/index.html");
        const bool previewShown = c.unwritten.empty() || c.unwritten[0] != "Previews/wide.bmp.jpg";
        EXPECT_EQ(album.find("data-preview=\"Previews/wide.bmp.jpg\"") != std::string::npos,
                  previewShown);
        EXPECT_EQ(album.find("data-preview=\"wide.bmp\"") != std::string::npos, !previewShown);
        EXPECT_EQ(fs::exists(folder + "/Previews/gone.jpg.jpg"), c.step == Step::Remove);
    }
}

}  // namespace
}  // namespace fotolane
