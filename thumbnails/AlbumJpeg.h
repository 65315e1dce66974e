#pragma once

#include <cstdint>
#include <string>

#include "decoding/PictureDecoder.h"
#include "decoding/PictureMetadata.h"
#include "gallery/AlbumPage.h"
#include "gallery/RunOutcome.h"
#include "imaging/JpegEncoder.h"
#include "platform/core/PixelRows.h"

namespace fotolane::thumbnails {

// What the album's and the site's own images share: their JPEG qualities
// (thumbnails at the gallery's, previews finer), their sizes by the
// thumbnail maker's rule, how one is written, and what the pages show of
// a picture's metadata.
inline constexpr std::int32_t kAlbumThumbnailQuality = 80;
inline constexpr std::int32_t kAlbumPreviewQuality = 85;

// The size of an image of the picture whose longer side is `longerSide`.
gallery::PixelSize AlbumImageSize(const picture::PictureSize& picture, std::int32_t longerSide);

// The size of the album's high-density thumbnail of the picture:
// gallery::kAlbumThumbnailHeight high, its longer side at most
// gallery::kAlbumThumbnailLongest, never larger than the picture.
gallery::PixelSize AlbumTileSize(const picture::PictureSize& picture);
// The same at half the density (Thumbnails@1x/): gallery::kAlbumSmallThumbnailHeight
// high, its longer side at most gallery::kAlbumSmallThumbnailLongest, never
// larger than the picture.
gallery::PixelSize AlbumSmallTileSize(const picture::PictureSize& picture);

// Writes the rows as a JPEG, whole or not at all, and tells whether it was
// written; a file that cannot be written is told to the user as the
// thumbnails' are ("Failed to save to JPG"), and counted in `counts`.
bool WriteAlbumJpeg(const PixelRows& rows, const std::string& strPath, std::int32_t quality,
                    gallery::AlbumImageCounts& counts);
// The same in two steps: the rows encoded (a Fault when the encoder fails),
// and encoded bytes written as WriteAlbumJpeg writes them.
jpeg::JpegBytes EncodeAlbumJpeg(const PixelRows& rows, std::int32_t quality);
bool WriteAlbumJpegBytes(const jpeg::JpegBytes& bytes, const std::string& strPath,
                         gallery::AlbumImageCounts& counts);

// The camera details the album and the site show of a picture, as its
// metadata gives them.
gallery::CameraDetails CameraDetailsOf(const picture::PictureMetadata& metadata);

}  // namespace fotolane::thumbnails
