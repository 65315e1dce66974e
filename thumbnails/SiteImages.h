#pragma once

#include <cstdint>
#include <string>

#include "gallery/Site.h"

namespace fotolane::thumbnails {

// Makes a site's thumbnails, tiles (2x and 1x) and previews as the
// album's images are made (one upright decode, area averaging, JPEG written
// whole), and its originals: the picture's bytes, or with its location
// removed (BytesWithoutLocation).
class SiteImages final : public gallery::ISiteImages {
  public:
    gallery::SitePictureImages MakeSiteImages(const std::string& strFileName,
                                              const gallery::SiteImageTargets& targets,
                                              std::int32_t lThumbSize, bool previewAlways,
                                              gallery::AlbumImageCounts& counts) override;
    void PublishOriginal(const std::string& strFileName, const std::string& destination,
                         bool keepLocation) override;
};

}  // namespace fotolane::thumbnails
