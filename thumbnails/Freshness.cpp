#include "thumbnails/Freshness.h"

#include <algorithm>

#include "decoding/PictureDecoder.h"
#include "platform/core/Fault.h"
#include "platform/files/FileSystem.h"

namespace fotolane::thumbnails {

bool IsCurrentImage(const std::string& strImage, const std::string& strPicture,
                    std::int32_t lLongerSide) {
    if (!IsUpToDate(strImage, strPicture)) return false;
    try {
        const picture::PictureSize size = picture::ReadPictureSize(strImage);
        return std::max(size.width, size.height) == lLongerSide;
    } catch (const Fault&) {
        return false;
    }
}

}  // namespace fotolane::thumbnails
