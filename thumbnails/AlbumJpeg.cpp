#include "thumbnails/AlbumJpeg.h"

#include <algorithm>
#include <optional>

#include "imaging/JpegEncoder.h"
#include "platform/core/Fault.h"
#include "platform/files/FileSystem.h"
#include "platform/files/WholeFile.h"
#include "platform/ui/UserInterface.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {

gallery::PixelSize AlbumImageSize(const picture::PictureSize& picture, std::int32_t longerSide) {
    const ThumbnailSize size = ThumbnailSizeFor(picture.width, picture.height, longerSide);
    return {size.width, size.height};
}

namespace {

// A tile `height` high, its longer side at most `longestSide`, never larger
// than the picture.
gallery::PixelSize TileSize(const picture::PictureSize& picture, std::int32_t height,
                            std::int32_t longestSide) {
    const std::int32_t longest = std::max(picture.width, picture.height);
    if (picture.width <= 0 || picture.height <= 0) return AlbumImageSize(picture, height);
    // The longer side that gives the height, in the width's direction for a
    // landscape picture.
    std::int64_t longer = height;
    if (picture.width > picture.height) {
        longer = (static_cast<std::int64_t>(picture.width) * height + picture.height / 2) /
                 picture.height;
    }
    longer = std::min<std::int64_t>(longer, longestSide);
    if (longer >= longest) return {picture.width, picture.height};
    return AlbumImageSize(picture, static_cast<std::int32_t>(longer));
}

}  // namespace

gallery::PixelSize AlbumTileSize(const picture::PictureSize& picture) {
    return TileSize(picture, gallery::kAlbumThumbnailHeight, gallery::kAlbumThumbnailLongest);
}

gallery::PixelSize AlbumSmallTileSize(const picture::PictureSize& picture) {
    return TileSize(picture, gallery::kAlbumSmallThumbnailHeight,
                    gallery::kAlbumSmallThumbnailLongest);
}

jpeg::JpegBytes EncodeAlbumJpeg(const PixelRows& rows, std::int32_t quality) {
    jpeg::Compressor compressor;
    if (compressor.InitCode() != 0) throw Fault("The JPEG encoder could not be set up");
    return compressor.CompressBottomUpBgr(rows.bits.get(), rows.width, rows.stride, rows.height,
                                          quality);
}

namespace {

bool Failed(const std::string& strPath, gallery::AlbumImageCounts& counts) {
    ++counts.failed;
    ui::Warn("Failed to save to JPG", strPath);
    return false;
}

}  // namespace

bool WriteAlbumJpegBytes(const jpeg::JpegBytes& bytes, const std::string& strPath,
                         gallery::AlbumImageCounts& counts) {
    try {
        ReplaceFileWhole(strPath, bytes.Bytes());
    } catch (const Fault&) {
        return Failed(strPath, counts);
    }
    ++counts.made;
    return true;
}

bool WriteAlbumJpeg(const PixelRows& rows, const std::string& strPath, std::int32_t quality,
                    gallery::AlbumImageCounts& counts) {
    std::optional<jpeg::JpegBytes> bytes;
    try {
        bytes = EncodeAlbumJpeg(rows, quality);
    } catch (const Fault&) {
        return Failed(strPath, counts);
    }
    return WriteAlbumJpegBytes(*bytes, strPath, counts);
}

gallery::CameraDetails CameraDetailsOf(const picture::PictureMetadata& metadata) {
    return {metadata.camera,   metadata.lens,     metadata.focalLength,
            metadata.aperture, metadata.exposure, metadata.iso};
}

}  // namespace fotolane::thumbnails
