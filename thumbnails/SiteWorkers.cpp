#include "thumbnails/SiteWorkers.h"

#include "thumbnails/PictureSteps.h"

namespace fotolane::thumbnails {

SiteWorkers::SiteWorkers(gallery::ISiteImages& images, int workers)
    : images_(images),
      workers_(
          [this](const gallery::SitePictureJob& job, gallery::AlbumImageCounts& counts,
                 bool ahead) {
              gallery::SitePictureMade made = images_.MakeSitePicture(job, counts);
              // An original that found no memory beside the other workers'
              // is copied again alone, as the images would be made.
              if (ahead && made.refused && detail::IsOutOfMemory(*made.refused)) {
                  throw *made.refused;
              }
              return made;
          },
          workers) {}

gallery::SitePictureImages SiteWorkers::MakeSiteImages(const std::string& strFileName,
                                                       const gallery::SiteImageTargets& targets,
                                                       std::int32_t lThumbSize, bool previewAlways,
                                                       gallery::AlbumImageCounts& counts) {
    return images_.MakeSiteImages(strFileName, targets, lThumbSize, previewAlways, counts);
}

void SiteWorkers::PublishOriginal(const std::string& strFileName, const std::string& destination,
                                  bool keepLocation) {
    images_.PublishOriginal(strFileName, destination, keepLocation);
}

gallery::SitePictureMade SiteWorkers::MakeSitePicture(const gallery::SitePictureJob& job,
                                                      gallery::AlbumImageCounts& counts) {
    return workers_.Take(job, counts);
}

void SiteWorkers::ExpectSitePictures(const std::vector<gallery::SitePictureJob>& jobs) {
    workers_.Expect(jobs);
}

}  // namespace fotolane::thumbnails
