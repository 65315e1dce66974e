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
    made.large = AlbumTileSize(size);
    made.small = AlbumSmallTileSize(size);
    const std::int32_t longer = std::max(size.width, size.height);
    if (longer > gallery::kPreviewSide || previewAlways ||
        (albumOnly && !picture::BrowsersShowPicture(strFileName))) {
        made.preview = AlbumImageSize(size, std::min(longer, gallery::kPreviewSide));
    }
    const picture::PictureMetadata metadata = picture::ReadPictureMetadata(strFileName);
    made.dateTaken = metadata.dateTaken;
    made.dateOffset = metadata.dateOffset;
    made.caption = gallery::AlbumCaption(metadata.caption);
    made.details = CameraDetailsOf(metadata);
    const bool makePreview = made.preview && !targets.preview.empty();
    if (targets.thumbnail.empty() && targets.large.empty() && targets.small.empty() &&
        !makePreview) {
        return made;
    }

    // The picture is decoded straight to the largest image it gives (as the
    // album's are): the preview, or else the high-density thumbnail; a
    // preview of the picture's own size is its whole decode. The thumbnails
    // are shrunk from that. A PNG is averaged line by line (DecodeAlbumByArea).
    const gallery::PixelSize first = made.preview ? *made.preview : made.large;
    PixelRows rows;
    if (albumOnly) {
        rows = first == made.picture
                   ? picture::DecodeAlbumPicture(strFileName)
                   : imaging::DecodeAlbumByArea(strFileName, first.width, first.height);
    } else {
        rows = first == made.picture
                   ? picture::DecodePicture(strFileName)
                   : imaging::DecodeByArea(strFileName, first.width, first.height);
    }
    if (makePreview) {
        made.previewWritten = WriteAlbumJpeg(rows, targets.preview, kAlbumPreviewQuality, counts);
    }
    if (!targets.large.empty() || !targets.small.empty()) {
        // The 1x tile is shrunk from the 2x one.
        PixelRows shrunk;
        if (made.preview) shrunk = imaging::ResizeByArea(rows, made.large.width, made.large.height);
        const PixelRows& large = made.preview ? shrunk : rows;
        if (!targets.large.empty()) {
            made.largeWritten =
                WriteAlbumJpeg(large, targets.large, kAlbumThumbnailQuality, counts);
        }
        if (!targets.small.empty()) {
            made.smallWritten =
                WriteAlbumJpeg(imaging::ResizeByArea(large, made.small.width, made.small.height),
                               targets.small, kAlbumThumbnailQuality, counts);
        }
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
