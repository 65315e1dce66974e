#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "gallery/Album.h"
#include "gallery/GalleryInterfaces.h"

namespace fotolane::batch {

// The thumbnail maker as the batch front end hands it to the run: it decides
// per picture whether "New" keeps an existing thumbnail, and counts what it
// made and kept for the closing line.
//
// With `update`, "New" keeps a thumbnail only while it is current
// (thumbnails::IsCurrentImage): not older than its picture, and its longer
// side the size asked for. Any other is made again, as "All" would make it;
// so is one whose size cannot be read.
class BatchThumbnails final : public gallery::IThumbnailMaker {
  public:
    BatchThumbnails(gallery::IThumbnailMaker& maker, bool update);

    void Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                      bool bThumbMode, std::int32_t& lSize) override;
    void Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                         std::int32_t& DimY) override;
    // Passed on: the maker may work ahead.
    void ExpectPictures(const std::vector<std::string>& strFileNames, const std::string& strNewPath,
                        bool bThumbMode, std::int32_t lSize) override {
        maker_.ExpectPictures(strFileNames, strNewPath, bThumbMode, lSize);
    }
    void FinishThumbnails() override { maker_.FinishThumbnails(); }

    // Thumbnails the maker was asked to make and that it returned from (a
    // write it warned about included), and existing ones kept.
    std::int32_t made = 0;
    std::int32_t kept = 0;

  private:
    gallery::IThumbnailMaker& maker_;
    bool update_;
    // Thumbnails the maker was asked to make in this run: their files may
    // not be in place yet when "New" looks at the name again.
    std::set<std::string> asked_;
};

// The album's image maker as the batch front end hands it to the album: with
// `update`, "New" also makes again the images that are not current, by the
// thumbnails' rule.
class BatchAlbumImages final : public gallery::IAlbumImages {
  public:
    BatchAlbumImages(gallery::IAlbumImages& images, bool update)
        : images_(images), update_(update) {}

    gallery::AlbumPicture MakeAlbumImages(const std::string& strFileName,
                                          const std::string& strName,
                                          const gallery::AlbumPaths& paths,
                                          gallery::AlbumRemake remake, std::int32_t lThumbSize,
                                          gallery::AlbumImageCounts& counts) override {
        return images_.MakeAlbumImages(strFileName, strName, paths, Remake(remake), lThumbSize,
                                       counts);
    }
    // Passed on with the remake that the calls will pass.
    void ExpectAlbumImages(const gallery::AlbumPaths& paths,
                           const std::vector<gallery::AlbumImageJob>& jobs) override {
        try {
            std::vector<gallery::AlbumImageJob> passed = jobs;
            for (gallery::AlbumImageJob& job : passed) job.remake = Remake(job.remake);
            images_.ExpectAlbumImages(paths, passed);
        } catch (...) {
            // Without work ahead every picture's images are made in its call.
            images_.ExpectAlbumImages(paths, {});
        }
    }

  private:
    gallery::AlbumRemake Remake(gallery::AlbumRemake remake) const {
        return update_ && remake == gallery::AlbumRemake::Outdated ? gallery::AlbumRemake::Stale
                                                                   : remake;
    }

    gallery::IAlbumImages& images_;
    bool update_;
};

}  // namespace fotolane::batch
