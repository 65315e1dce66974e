#include "thumbnails/SiteImages.h"

#include <algorithm>
#include <span>
#include <vector>

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
#include "thumbnails/Location.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
gallery::SitePictureImages SiteImages::MakeSiteImages(const std::string& strFileName,
                                                      const gallery::SiteImageTargets& targets,
                                                      std::int32_t lThumbSize, bool previewAlways,
                                                      gallery::AlbumImageCounts& counts) {
    // The album's own formats by its decoder, the gallery's as the gallery
    // decodes them.
    const bool albumOnly = gallery::IsAlbumOnlyPictureName(strFileName);
    const picture::PictureSize size = albumOnly ? picture::ReadAlbumPictureSize(strFileName)
                                                : picture::ReadPictureSize(strFileName);
    gallery::SitePictureImages made;
    made.picture = {size.width, size.height};
    made.thumbnail = AlbumImageSize(size, lThumbSize);
    made.large = AlbumImageSize(size, CheckedMul(lThumbSize, 2));
    const std::int32_t longer = std::max(size.width, size.height);
    if (longer > gallery::kPreviewSide || previewAlways ||
        (albumOnly && !picture::BrowsersShowPicture(strFileName))) {
        made.preview = AlbumImageSize(size, std::min(longer, gallery::kPreviewSide));
    }
    const picture::PictureMetadata metadata = picture::ReadPictureMetadata(strFileName);
    made.dateTaken = metadata.dateTaken;
    made.caption = gallery::AlbumCaption(metadata.caption);
    const bool makePreview = made.preview && !targets.preview.empty();
    if (targets.thumbnail.empty() && targets.large.empty() && !makePreview) return made;

    PixelRows rows =
        albumOnly ? picture::DecodeAlbumPicture(strFileName) : picture::DecodePicture(strFileName);
    if (made.preview && longer > gallery::kPreviewSide) {
        // The thumbnails are shrunk from the preview, as the album's are.
        rows = imaging::ResizeByArea(rows, made.preview->width, made.preview->height);
    }
    if (makePreview) {
        made.previewWritten = WriteAlbumJpeg(rows, targets.preview, kAlbumPreviewQuality, counts);
    }
    if (!targets.large.empty()) {
        const PixelRows large = imaging::ResizeByArea(rows, made.large.width, made.large.height);
        made.largeWritten = WriteAlbumJpeg(large, targets.large, kAlbumThumbnailQuality, counts);
    }
    if (!targets.thumbnail.empty()) {
        // From the same decode, by area averaging like the larger one.
        const PixelRows small =
            imaging::ResizeByArea(rows, made.thumbnail.width, made.thumbnail.height);
        made.thumbnailWritten =
            WriteAlbumJpeg(small, targets.thumbnail, kAlbumThumbnailQuality, counts);
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
