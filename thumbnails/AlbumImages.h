#pragma once

#include <cstdint>
#include <string>

#include "gallery/Album.h"

namespace fotolane::thumbnails {

// Makes the album's tiles (2x and 1x) and previews: the picture is decoded
// upright once and shrunk by area averaging (imaging/AreaResize.h) to the
// preview when it needs one, the 2x tile then shrunk from that, or else
// straight to the 2x tile, and the 1x tile shrunk from the 2x one; a JPEG is
// decoded at a reduced scale that still gives three times that image's
// size, a bitmap or a GIF averaged as it is decoded, never held whole
// (DecodeByArea). Each is written as a JPEG whole or not at all. The sizes
// follow the thumbnail maker's rule (ThumbnailSizeFor), so the run's own
// thumbnail, the tiles and the preview all keep the picture's shape. PNG,
// WebP, HEIC and AVIF (by name, IsAlbumOnlyPictureName) are told apart by
// their content: a PNG averaged line by line as it is decoded, the others
// decoded whole by picture::DecodeAlbumPicture (DecodeAlbumByArea).
class AlbumImages final : public gallery::IAlbumImages {
  public:
    gallery::AlbumPicture MakeAlbumImages(const std::string& strFileName,
                                          const std::string& strName,
                                          const gallery::AlbumPaths& paths,
                                          gallery::AlbumRemake remake, std::int32_t lThumbSize,
                                          gallery::AlbumImageCounts& counts) override;
};

}  // namespace fotolane::thumbnails
