#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "gallery/Album.h"
#include "thumbnails/OrderedWorkers.h"

namespace fotolane::thumbnails {

// Makes the album's images of the pictures announced (ExpectAlbumImages) on
// worker threads, ahead of the album, through `images`, which must be safe
// to call from several threads at once (AlbumImages is): each
// MakeAlbumImages call for the next announced picture takes that picture's
// result, as OrderedWorkers hands out its jobs' values; a result holds only
// what the album shows of its picture.
class AlbumWorkers final : public gallery::IAlbumImages {
  public:
    AlbumWorkers(gallery::IAlbumImages& images, int workers);

    gallery::AlbumPicture MakeAlbumImages(const std::string& strFileName,
                                          const std::string& strName,
                                          const gallery::AlbumPaths& paths,
                                          gallery::AlbumRemake remake, std::int32_t lThumbSize,
                                          gallery::AlbumImageCounts& counts) override;
    void ExpectAlbumImages(const gallery::AlbumPaths& paths,
                           const std::vector<gallery::AlbumImageJob>& jobs) override;

    // The workers running now.
    std::size_t Workers() const { return workers_.Workers(); }

  private:
    // A MakeAlbumImages call's arguments.
    struct Job {
        gallery::AlbumPaths paths;
        gallery::AlbumImageJob picture;
        bool operator==(const Job& other) const;
    };

    gallery::IAlbumImages& images_;
    OrderedWorkers<Job, gallery::AlbumPicture> workers_;  // last: stopped before the rest goes
};

}  // namespace fotolane::thumbnails
