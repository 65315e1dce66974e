#include "app/ThumbnailMaker.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "thumbnails/frmThumbnails.h"

namespace fotolane::app {

std::unique_ptr<gallery::IThumbnailMaker> MakeThumbnailMaker() {
    // As many workers as cores; the thumbnails are the same with any number.
    const unsigned cores = std::thread::hardware_concurrency();
    return std::make_unique<thumbnails::frmThumbnails>(
        cores > 0 ? static_cast<int>(std::min(cores, 64u)) : 1);
}

LazyThumbnailMaker::LazyThumbnailMaker(ThumbnailMakerFactory factory)
    : factory_(std::move(factory)) {}

void LazyThumbnailMaker::Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                                      bool bThumbMode, std::int32_t& lSize) {
    Maker().Get_Thrumbal(strFileName, strNewPath, bThumbMode, lSize);
}

void LazyThumbnailMaker::Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                                         std::int32_t& DimY) {
    Maker().Get_SizePicture(strFileName, DimX, DimY);
}

void LazyThumbnailMaker::ExpectPictures(const std::vector<std::string>& strFileNames,
                                        const std::string& strNewPath, bool bThumbMode,
                                        std::int32_t lSize) {
    // Nothing to drop in a maker not made yet.
    if (strFileNames.empty() && !maker_) return;
    try {
        Maker().ExpectPictures(strFileNames, strNewPath, bThumbMode, lSize);
    } catch (...) {
        // The maker is made at the first thumbnail then, and faults there.
    }
}

gallery::IThumbnailMaker& LazyThumbnailMaker::Maker() {
    if (!maker_) maker_ = factory_();
    return *maker_;
}

}  // namespace fotolane::app
