#include "thumbnails/AlbumImages.h"

#include <algorithm>
#include <optional>

#include "imaging/AreaResize.h"
#include "platform/codecs/JpegEncoder.h"
#include "platform/codecs/PictureDecoder.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/files/FileSystem.h"
#include "platform/files/WholeFile.h"
#include "platform/ui/UserInterface.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
namespace {

constexpr std::int32_t kLargeThumbnailQuality = 80;
constexpr std::int32_t kPreviewQuality = 85;

gallery::PixelSize SizeFor(const picture::PictureSize& picture, std::int32_t longerSide) {
    const ThumbnailSize size = ThumbnailSizeFor(picture.width, picture.height, longerSide);
    return {size.width, size.height};
}

// Writes the rows as a JPEG; a file that cannot be written is told to the
// user as the thumbnails' are, and the album goes on.
void WriteJpeg(const PixelRows& rows, const std::string& strPath, std::int32_t quality) {
    try {
        jpeg::Compressor compressor;
        if (compressor.InitCode() != 0) throw Fault("The JPEG encoder could not be set up");
        const jpeg::JpegBytes bytes = compressor.CompressBottomUpBgr(
            rows.bits.get(), rows.width, rows.stride, rows.height, quality);
        ReplaceFileWhole(strPath, bytes.Bytes());
    } catch (const Fault&) {
        ui::Warn("Failed to save to JPG", strPath);
    }
}

}  // namespace

gallery::AlbumPicture AlbumImages::MakeAlbumImages(const std::string& strFileName,
                                                   const std::string& strName,
                                                   const gallery::AlbumPaths& paths, bool bRemake,
                                                   std::int32_t lThumbSize) {
    const picture::PictureSize size = picture::ReadPictureSize(strFileName);
    gallery::AlbumPicture album;
    album.name = strName;
    album.thumbnail = SizeFor(size, lThumbSize);
    album.largeThumbnail = SizeFor(size, CheckedMul(lThumbSize, 2));
    if (std::max(size.width, size.height) > gallery::kPreviewSide) {
        album.preview = SizeFor(size, gallery::kPreviewSide);
    }
    album.dateTaken = picture::ReadDateTaken(strFileName);

    const std::string largePath = paths.largeThumbnailFolder + strName + ".jpg";
    const std::string previewPath = paths.previewFolder + strName + ".jpg";
    // Made once: kept while it is there and not older than its picture.
    const bool makeLarge = bRemake || !IsUpToDate(largePath, strFileName);
    const bool makePreview = album.preview && (bRemake || !IsUpToDate(previewPath, strFileName));
    if (!makeLarge && !makePreview) return album;

    // The picture is decoded straight to the first image it gives: the
    // preview, or the thumbnail when it needs none (DecodeByArea holds no
    // more of a bitmap or a GIF than that image).
    const gallery::PixelSize first = album.preview ? *album.preview : album.largeThumbnail;
    const PixelRows rows = imaging::DecodeByArea(strFileName, first.width, first.height);
    if (!album.preview) {
        if (makeLarge) WriteJpeg(rows, largePath, kLargeThumbnailQuality);
        return album;
    }
    if (makePreview) WriteJpeg(rows, previewPath, kPreviewQuality);
    if (makeLarge) {
        // The thumbnail is shrunk from the preview: the same result as from
        // the picture to within rounding, at a fraction of the work.
        const PixelRows large =
            imaging::ResizeByArea(rows, album.largeThumbnail.width, album.largeThumbnail.height);
        WriteJpeg(large, largePath, kLargeThumbnailQuality);
    }
    return album;
}

}  // namespace fotolane::thumbnails
