#include "thumbnails/AlbumJpeg.h"

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

bool WriteAlbumJpeg(const PixelRows& rows, const std::string& strPath, std::int32_t quality,
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

gallery::CameraDetails CameraDetailsOf(const picture::PictureMetadata& metadata) {
    return {metadata.camera,   metadata.lens,     metadata.focalLength,
            metadata.aperture, metadata.exposure, metadata.iso};
}

}  // namespace fotolane::thumbnails
