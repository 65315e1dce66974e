#include "thumbnails/SiteImages.h"

#include <algorithm>
#include <span>
#include <vector>

#include "decoding/PictureDecoder.h"
#include "imaging/AreaResize.h"
#include "imaging/JpegEncoder.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/files/FileSystem.h"
#include "platform/files/WholeFile.h"
#include "platform/ui/UserInterface.h"
#include "thumbnails/Location.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
namespace {

// As the album's: the thumbnails at the gallery's quality, previews finer.
constexpr std::int32_t kThumbnailQuality = 80;
constexpr std::int32_t kPreviewQuality = 85;

gallery::PixelSize SizeFor(const picture::PictureSize& picture, std::int32_t longerSide) {
    const ThumbnailSize size = ThumbnailSizeFor(picture.width, picture.height, longerSide);
    return {size.width, size.height};
}

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

}  // namespace

gallery::SitePictureImages SiteImages::MakeSiteImages(const std::string& strFileName,
                                                      const gallery::SiteImageTargets& targets,
                                                      std::int32_t lThumbSize, bool previewAlways,
                                                      gallery::AlbumImageCounts& counts) {
    const picture::PictureSize size = picture::ReadPictureSize(strFileName);
    gallery::SitePictureImages made;
    made.picture = {size.width, size.height};
    made.thumbnail = SizeFor(size, lThumbSize);
    made.large = SizeFor(size, CheckedMul(lThumbSize, 2));
    const std::int32_t longer = std::max(size.width, size.height);
    if (longer > gallery::kPreviewSide || previewAlways) {
        made.preview = SizeFor(size, std::min(longer, gallery::kPreviewSide));
    }
    made.dateTaken = picture::ReadDateTaken(strFileName);
    const bool makePreview = made.preview && !targets.preview.empty();
    if (targets.thumbnail.empty() && targets.large.empty() && !makePreview) return made;

    PixelRows rows = picture::DecodePicture(strFileName);
    if (made.preview && longer > gallery::kPreviewSide) {
        // The thumbnails are shrunk from the preview, as the album's are.
        rows = imaging::ResizeByArea(rows, made.preview->width, made.preview->height);
    }
    if (makePreview) {
        made.previewWritten = WriteJpeg(rows, targets.preview, kPreviewQuality, counts);
    }
    if (!targets.large.empty()) {
        const PixelRows large = imaging::ResizeByArea(rows, made.large.width, made.large.height);
        made.largeWritten = WriteJpeg(large, targets.large, kThumbnailQuality, counts);
    }
    if (!targets.thumbnail.empty()) {
        // From the same decode, by area averaging like the larger one.
        const PixelRows small =
            imaging::ResizeByArea(rows, made.thumbnail.width, made.thumbnail.height);
        made.thumbnailWritten = WriteJpeg(small, targets.thumbnail, kThumbnailQuality, counts);
    }
    return made;
}

void SiteImages::PublishOriginal(const std::string& strFileName, const std::string& destination,
                                 bool keepLocation) {
    if (keepLocation) {
        const std::string bytes = ReadWholeFile(strFileName);
        ReplaceFileWhole(destination, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                bytes.size()));
        return;
    }
    const std::vector<std::uint8_t> bytes = BytesWithoutLocation(strFileName);
    ReplaceFileWhole(destination, bytes);
}

}  // namespace fotolane::thumbnails
