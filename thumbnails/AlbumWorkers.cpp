#include "thumbnails/AlbumWorkers.h"

namespace fotolane::thumbnails {

bool AlbumWorkers::Job::operator==(const Job& other) const {
    const gallery::AlbumPaths& a = paths;
    const gallery::AlbumPaths& b = other.paths;
    const gallery::AlbumImageJob& p = picture;
    const gallery::AlbumImageJob& q = other.picture;
    return a.indexPath == b.indexPath && a.smallThumbnailFolder == b.smallThumbnailFolder &&
           a.largeThumbnailFolder == b.largeThumbnailFolder && a.previewFolder == b.previewFolder &&
           p.strFileName == q.strFileName && p.strName == q.strName && p.remake == q.remake &&
           p.lThumbSize == q.lThumbSize;
}

AlbumWorkers::AlbumWorkers(gallery::IAlbumImages& images, int workers)
    : images_(images),
      workers_(
          [this](const Job& job, gallery::AlbumImageCounts& counts, bool /*ahead*/) {
              const gallery::AlbumImageJob& p = job.picture;
              return images_.MakeAlbumImages(p.strFileName, p.strName, job.paths, p.remake,
                                             p.lThumbSize, counts);
          },
          workers) {}

void AlbumWorkers::ExpectAlbumImages(const gallery::AlbumPaths& paths,
                                     const std::vector<gallery::AlbumImageJob>& jobs) {
    std::vector<Job> list;
    list.reserve(jobs.size());
    for (const gallery::AlbumImageJob& job : jobs) list.push_back({paths, job});
    workers_.Expect(std::move(list));
    // Told once the workers are done with what they made ahead.
    images_.ExpectAlbumImages(paths, jobs);
}

gallery::AlbumPicture AlbumWorkers::MakeAlbumImages(
    const std::string& strFileName, const std::string& strName, const gallery::AlbumPaths& paths,
    gallery::AlbumRemake remake, std::int32_t lThumbSize, gallery::AlbumImageCounts& counts) {
    return workers_.Take({paths, {strFileName, strName, remake, lThumbSize}}, counts);
}

}  // namespace fotolane::thumbnails
