#include "thumbnails/AlbumImages.h"

#include <algorithm>
#include <optional>

#include "decoding/AlbumDecoder.h"
#include "decoding/PictureDecoder.h"
#include "decoding/PictureMetadata.h"
#include "gallery/PictureNames.h"
#include "imaging/AreaResize.h"
#include "imaging/JpegEncoder.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/files/FileSystem.h"
#include "platform/files/WholeFile.h"
#include "platform/ui/UserInterface.h"
#include "thumbnails/AlbumJpeg.h"
#include "thumbnails/Freshness.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
namespace {

// Whether the image `strImage` of the picture, `size` when made, is made
// (again): "New" keeps one while it is not older than its picture (a tile
// also while its JPEG header, when it reads, gives its size: an earlier
// version's may be of another), --update only while it is current as a
// thumbnail would be.
bool MustMake(gallery::AlbumRemake remake, const std::string& strImage,
              const std::string& strFileName, const gallery::PixelSize& size, bool tile = false) {
    switch (remake) {
        case gallery::AlbumRemake::All:
            return true;
        case gallery::AlbumRemake::Outdated:
            if (!IsUpToDate(strImage, strFileName)) return true;
            if (tile) {
                try {
                    const picture::PictureSize stored = picture::ReadPictureSize(strImage);
                    return stored.width != size.width || stored.height != size.height;
                } catch (const Fault&) {
                    // Unreadable: "New" looks at its time alone, as at any image.
                }
            }
            return false;
        case gallery::AlbumRemake::Stale:
            return !IsCurrentImage(strImage, strFileName, std::max(size.width, size.height));
    }
    return true;
}

// Which of a picture's album images are made (again), and where each goes;
// those kept are counted in `counts`.
struct ImagePlan {
    std::string smallPath;
    std::string largePath;
    std::string previewPath;
    bool makeSmall = false;
    bool makeLarge = false;
    bool makePreview = false;
    bool Any() const { return makeSmall || makeLarge || makePreview; }
};

ImagePlan PlanImages(const std::string& strFileName, const std::string& strName,
                     const gallery::AlbumPaths& paths, gallery::AlbumRemake remake,
                     const gallery::AlbumPicture& album, gallery::AlbumImageCounts& counts) {
    const std::string image = gallery::AlbumImageName(strName);
    ImagePlan plan{paths.smallThumbnailFolder + image, paths.largeThumbnailFolder + image,
                   paths.previewFolder + image};
    plan.makeSmall = MustMake(remake, plan.smallPath, strFileName, *album.smallThumbnail, true);
    plan.makeLarge = MustMake(remake, plan.largePath, strFileName, *album.largeThumbnail, true);
    plan.makePreview =
        album.preview && MustMake(remake, plan.previewPath, strFileName, *album.preview);
    counts.kept += (plan.makeSmall ? 0 : 1) + (plan.makeLarge ? 0 : 1) +
                   (album.preview && !plan.makePreview ? 1 : 0);
    return plan;
}

// The planned images from rows of the picture's whole shape: the preview
// (the rows themselves, when `previewed`), the 2x tile shrunk from them
// (or the rows themselves, when there is no preview), the 1x tile shrunk
// from that; each dropped from `album` when its writing fails.
void WriteImages(const PixelRows& rows, bool previewed, const ImagePlan& plan,
                 gallery::AlbumPicture& album, gallery::AlbumImageCounts& counts) {
    if (plan.makePreview && !WriteAlbumJpeg(rows, plan.previewPath, kAlbumPreviewQuality, counts)) {
        album.preview.reset();
    }
    if (!plan.makeLarge && !plan.makeSmall) return;
    const gallery::PixelSize large = *album.largeThumbnail;
    PixelRows shrunk;
    if (previewed) shrunk = imaging::ResizeByArea(rows, large.width, large.height);
    const PixelRows& largeRows = previewed ? shrunk : rows;
    if (plan.makeLarge &&
        !WriteAlbumJpeg(largeRows, plan.largePath, kAlbumThumbnailQuality, counts)) {
        album.largeThumbnail.reset();
    }
    if (plan.makeSmall &&
        !WriteAlbumJpeg(imaging::ResizeByArea(largeRows, album.smallThumbnail->width,
                                              album.smallThumbnail->height),
                        plan.smallPath, kAlbumThumbnailQuality, counts)) {
        album.smallThumbnail.reset();
    }
}

// What the album shows of a picture beside its images: its date taken, its
// caption, its camera details and its file's time, from one read of its
// metadata.
void AddMetadata(const std::string& strFileName, gallery::AlbumPicture& album) {
    const picture::PictureMetadata metadata = picture::ReadPictureMetadata(strFileName);
    album.dateTaken = metadata.dateTaken;
    album.dateOffset = metadata.dateOffset;
    album.caption = gallery::AlbumCaption(metadata.caption);
    album.details = CameraDetailsOf(metadata);
    if (const std::optional<FileStamp> stamp = StampOf(strFileName)) {
        album.modifiedNs = stamp->modifiedNs;
    }
}

// A picture of the album's own formats (PNG, WebP, HEIC, AVIF): its tiles
// and preview: the first of them (the preview, else the 2x tile) decoded
// by area averaging (DecodeAlbumByArea, a PNG line by line), the tiles
// shrunk from it. It has no thumbnail of the gallery's: its 1x tile stands in. A
// picture that browsers do not show gets a preview of its own size when it
// is not larger.
gallery::AlbumPicture MakeOwnImages(const std::string& strFileName, const std::string& strName,
                                    const gallery::AlbumPaths& paths, gallery::AlbumRemake remake,
                                    std::int32_t lThumbSize, gallery::AlbumImageCounts& counts) {
    const picture::PictureSize size = picture::ReadAlbumPictureSize(strFileName);
    gallery::AlbumPicture album;
    album.name = strName;
    album.hasThumbnail = false;
    album.browsersShow = picture::BrowsersShowPicture(strFileName);
    album.thumbnail = AlbumImageSize(size, lThumbSize);
    album.largeThumbnail = AlbumTileSize(size);
    album.smallThumbnail = AlbumSmallTileSize(size);
    const std::int32_t longer = std::max(size.width, size.height);
    if (longer > gallery::kPreviewSide || !album.browsersShow) {
        album.preview = AlbumImageSize(size, std::min(longer, gallery::kPreviewSide));
    }
    AddMetadata(strFileName, album);

    const ImagePlan plan = PlanImages(strFileName, strName, paths, remake, album, counts);
    if (!plan.Any()) return album;

    // Decoded straight to the first image, as the gallery's pictures are
    // (DecodeAlbumByArea holds no more of a PNG than that image); a preview
    // of the picture's own size is its whole decode.
    const bool previewed = album.preview.has_value();
    const gallery::PixelSize first = previewed ? *album.preview : *album.largeThumbnail;
    const PixelRows rows = previewed && first.width == size.width && first.height == size.height
                               ? picture::DecodeAlbumPicture(strFileName)
                               : imaging::DecodeAlbumByArea(strFileName, first.width, first.height);
    WriteImages(rows, previewed, plan, album, counts);
    return album;
}

}  // namespace

gallery::AlbumPicture AlbumImages::MakeAlbumImages(
    const std::string& strFileName, const std::string& strName, const gallery::AlbumPaths& paths,
    gallery::AlbumRemake remake, std::int32_t lThumbSize, gallery::AlbumImageCounts& counts) {
    if (gallery::IsAlbumOnlyPictureName(strName)) {
        return MakeOwnImages(strFileName, strName, paths, remake, lThumbSize, counts);
    }
    const picture::PictureSize size = picture::ReadPictureSize(strFileName);
    gallery::AlbumPicture album;
    album.name = strName;
    album.thumbnail = AlbumImageSize(size, lThumbSize);
    album.largeThumbnail = AlbumTileSize(size);
    album.smallThumbnail = AlbumSmallTileSize(size);
    if (std::max(size.width, size.height) > gallery::kPreviewSide) {
        album.preview = AlbumImageSize(size, gallery::kPreviewSide);
    }
    AddMetadata(strFileName, album);

    const ImagePlan plan = PlanImages(strFileName, strName, paths, remake, album, counts);
    if (!plan.Any()) return album;

    // The picture is decoded straight to the first image it gives: the
    // preview, or the 2x tile when it needs none (DecodeByArea holds no
    // more of a bitmap or a GIF than that image). The tiles are shrunk from
    // the preview: the same result as from the picture to within rounding,
    // at a fraction of the work.
    const bool previewed = album.preview.has_value();
    const gallery::PixelSize first = previewed ? *album.preview : *album.largeThumbnail;
    const PixelRows rows = imaging::DecodeByArea(strFileName, first.width, first.height);
    WriteImages(rows, previewed, plan, album, counts);
    return album;
}

}  // namespace fotolane::thumbnails
