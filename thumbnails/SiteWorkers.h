#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "gallery/Site.h"
#include "thumbnails/OrderedWorkers.h"

namespace fotolane::thumbnails {

// Makes the site's pictures announced (ExpectSitePictures) on worker
// threads, ahead of the site's run, through `images`, which must be safe to
// call from several threads at once (SiteImages is): each MakeSitePicture
// call for the next announced picture takes that picture's result, as
// OrderedWorkers hands out its jobs' values. The single calls
// (MakeSiteImages, PublishOriginal) are made in the call.
class SiteWorkers final : public gallery::ISiteImages {
  public:
    SiteWorkers(gallery::ISiteImages& images, int workers);

    gallery::SitePictureImages MakeSiteImages(const std::string& strFileName,
                                              const gallery::SiteImageTargets& targets,
                                              std::int32_t lThumbSize, bool previewAlways,
                                              gallery::AlbumImageCounts& counts) override;
    void PublishOriginal(const std::string& strFileName, const std::string& destination,
                         bool keepLocation) override;
    gallery::SitePictureMade MakeSitePicture(const gallery::SitePictureJob& job,
                                             gallery::AlbumImageCounts& counts) override;
    void ExpectSitePictures(const std::vector<gallery::SitePictureJob>& jobs) override;

    // The workers running now.
    std::size_t Workers() const { return workers_.Workers(); }

  private:
    gallery::ISiteImages& images_;
    OrderedWorkers<gallery::SitePictureJob, gallery::SitePictureMade> workers_;
};

}  // namespace fotolane::thumbnails
