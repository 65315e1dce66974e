#pragma once

#include <cstdint>
#include <string>

namespace fotolane::thumbnails {

// Whether the image `strImage` made from the picture `strPicture` (a
// thumbnail, a high-density thumbnail, a preview) can stay as it is: a plain
// file no older than the picture, that reads as a picture lLongerSide pixels
// on its longer side. One rule for the run's thumbnails and the album's
// images alike; an image or a picture that cannot be looked at is not
// current (the maker then reports the picture itself if it is unreadable).
bool IsCurrentImage(const std::string& strImage, const std::string& strPicture,
                    std::int32_t lLongerSide);

}  // namespace fotolane::thumbnails
