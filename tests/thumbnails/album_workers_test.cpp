#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gallery/Album.h"
#include "platform/core/Fault.h"
#include "platform/ui/UserInterface.h"
#include "tests/TestSupport.h"
#include "thumbnails/AlbumWorkers.h"

namespace fotolane::thumbnails {
namespace {

// Album images by the picture's name: "warn" warns (on whichever thread
// makes it), "bad" faults, "oom" is out of memory on any thread but the
// test's own. Each made picture counts one image made.
class FakeImages final : public gallery::IAlbumImages {
  public:
    gallery::AlbumPicture MakeAlbumImages(const std::string& strFileName,
                                          const std::string& strName, const gallery::AlbumPaths&,
                                          gallery::AlbumRemake, std::int32_t lThumbSize,
                                          gallery::AlbumImageCounts& counts) override {
        {
            const std::scoped_lock lock(mutex);
            made.push_back(strName);
        }
        if (strName == "oom" && std::this_thread::get_id() != caller) {
            throw Fault::OutOfMemory().Naming(strFileName);
        }
        if (strName == "bad") throw Fault("Invalid picture", strFileName);
        if (strName.starts_with("warn")) ui::Warn("warned of " + strName, strFileName);
        ++counts.made;
        gallery::AlbumPicture picture;
        picture.name = strName;
        picture.thumbnail = {lThumbSize, lThumbSize};
        return picture;
    }

    std::thread::id caller = std::this_thread::get_id();
    std::mutex mutex;
    std::vector<std::string> made;
};

TEST(AlbumWorkers, HandOutEachResultInOrderWithItsWarningsCountsAndFault) {
    testing::RecordingHost host;
    const ui::ScopedHost installed(host);
    FakeImages images;
    AlbumWorkers workers(images, 3);
    const gallery::AlbumPaths paths = gallery::MakeAlbumPaths("/album");
    const std::vector<std::string> names = {"a", "warn1", "oom", "warn2", "bad", "c", "warn3"};
    std::vector<gallery::AlbumImageJob> jobs;
    for (const std::string& name : names) {
        jobs.push_back({"/album/" + name, name, gallery::AlbumRemake::All, 70});
    }
    workers.ExpectAlbumImages(paths, jobs);
    EXPECT_EQ(workers.Workers(), 3u);

    gallery::AlbumImageCounts counts;
    std::vector<std::string> returned;
    std::vector<std::size_t> shownBefore;
    for (const gallery::AlbumImageJob& job : jobs) {
        shownBefore.push_back(host.messages.size());
        if (job.strName == "bad") {
            try {
                workers.MakeAlbumImages(job.strFileName, job.strName, paths, job.remake,
                                        job.lThumbSize, counts);
                ADD_FAILURE() << "no fault";
            } catch (const Fault& fault) {
                EXPECT_EQ(fault.Path(), "/album/bad");
            }
            continue;
        }
        // The last one is asked with another size: made in the call.
        const std::int32_t size = job.strName == "warn3" ? 90 : job.lThumbSize;
        returned.push_back(
            workers.MakeAlbumImages(job.strFileName, job.strName, paths, job.remake, size, counts)
                .name);
        if (job.strName == "warn3") {
            EXPECT_EQ(workers.Workers(), 0u);
        }
    }
    EXPECT_EQ(returned, (std::vector<std::string>{"a", "warn1", "oom", "warn2", "c", "warn3"}));
    // The warnings are shown on this thread, each when its picture is taken.
    EXPECT_EQ(host.Texts(),
              (std::vector<std::string>{"warned of warn1", "warned of warn2", "warned of warn3"}));
    EXPECT_EQ(shownBefore, (std::vector<std::size_t>{0, 0, 1, 1, 2, 2, 2}));
    // The failed attempt counts nothing: only the pictures made.
    EXPECT_EQ(counts.made, 6);
    workers.ExpectAlbumImages(paths, {});
    EXPECT_EQ(workers.Workers(), 0u);
}

}  // namespace
}  // namespace fotolane::thumbnails
