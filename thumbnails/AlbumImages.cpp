#include "thumbnails/AlbumImages.h"

#include <algorithm>
#include <optional>

#include "decoding/PictureDecoder.h"
#include "imaging/AreaResize.h"
#include "imaging/JpegEncoder.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/files/FileSystem.h"
#include "platform/files/WholeFile.h"
#include "platform/ui/UserInterface.h"
#include "thumbnails/Freshness.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
namespace {

constexpr std::int32_t kLargeThumbnailQuality = 80;
constexpr std::int32_t kPreviewQuality = 85;

gallery::PixelSize SizeFor(const picture::PictureSize& picture, std::int32_t longerSide) {
    const ThumbnailSize size = ThumbnailSizeFor(picture.width, picture.height, longerSide);
    return {size.width, size.height};
}

// Writes the rows as a JPEG and tells whether it was written; a file that
// cannot be written is told to the user as the thumbnails' are, and the
// album goes on without it.
bool WriteJpeg(const PixelRows& rows, const std::string& strPath, std::int32_t quality,
               gallery::AlbumImageCounts& counts) {
    try {
        jpeg::Compressor compressor;
        if (compressor.InitCode() != 0) throw Fault("The JPEG encoder could not be set up");
        const jpeg::JpegBytes bytes = compressor.CompressBottomUpBgr(
            rows.bits.get(), rows.width, rows.stride, rows.height, quality);
        ReplaceFileWhole(strPath, bytes.Bytes());
        ++counts.made;
        return true;
    } catch (const Fault&) {
        ++counts.failed;
        ui::Warn("Failed to save to JPG", strPath);
        return false;
    }
}

// Whether the image `strImage` of the picture, `size` when made, is made
// (again): "New" keeps one while it is not older than its picture, --update
// only while it is current as a thumbnail would be.
bool MustMake(gallery::AlbumRemake remake, const std::string& strImage,
              const std::string& strFileName, const gallery::PixelSize& size) {
    switch (remake) {
        case gallery::AlbumRemake::All:
            return true;
        case gallery::AlbumRemake::Outdated:
            return !IsUpToDate(strImage, strFileName);
        case gallery::AlbumRemake::Stale:
            return !IsCurrentImage(strImage, strFileName, std::max(size.width, size.height));
    }
    return true;
}

}  // namespace

gallery::AlbumPicture AlbumImages::MakeAlbumImages(
    const std::string& strFileName, const std::string& strName, const gallery::AlbumPaths& paths,
    gallery::AlbumRemake remake, std::int32_t lThumbSize, gallery::AlbumImageCounts& counts) {
    const picture::PictureSize size = picture::ReadPictureSize(strFileName);
    gallery::AlbumPicture album;
    album.name = strName;
    album.thumbnail = SizeFor(size, lThumbSize);
    album.largeThumbnail = SizeFor(size, CheckedMul(lThumbSize, 2));
    if (std::max(size.width, size.height) > gallery::kPreviewSide) {
        album.preview = SizeFor(size, gallery::kPreviewSide);
    }
    album.dateTaken = picture::ReadDateTaken(strFileName);

    const std::string largePath = paths.largeThumbnailFolder + gallery::AlbumImageName(strName);
    const std::string previewPath = paths.previewFolder + gallery::AlbumImageName(strName);
    const bool makeLarge = MustMake(remake, largePath, strFileName, *album.largeThumbnail);
    const bool makePreview =
        album.preview && MustMake(remake, previewPath, strFileName, *album.preview);
    counts.kept += (makeLarge ? 0 : 1) + (album.preview && !makePreview ? 1 : 0);
    if (!makeLarge && !makePreview) return album;

    // The picture is decoded straight to the first image it gives: the
    // preview, or the thumbnail when it needs none (DecodeByArea holds no
    // more of a bitmap or a GIF than that image).
    const bool previewed = album.preview.has_value();
    const gallery::PixelSize first = previewed ? *album.preview : *album.largeThumbnail;
    const PixelRows rows = imaging::DecodeByArea(strFileName, first.width, first.height);
    if (makePreview && !WriteJpeg(rows, previewPath, kPreviewQuality, counts)) {
        album.preview.reset();
    }
    if (makeLarge) {
        // The thumbnail is shrunk from the preview: the same result as from
        // the picture to within rounding, at a fraction of the work.
        const bool written =
            previewed ? WriteJpeg(imaging::ResizeByArea(rows, album.largeThumbnail->width,
                                                        album.largeThumbnail->height),
                                  largePath, kLargeThumbnailQuality, counts)
                      : WriteJpeg(rows, largePath, kLargeThumbnailQuality, counts);
        if (!written) album.largeThumbnail.reset();
    }
    return album;
}

}  // namespace fotolane::thumbnails
