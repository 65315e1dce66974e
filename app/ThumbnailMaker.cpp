#include "app/ThumbnailMaker.h"

#include <utility>

#include "thumbnails/frmThumbnails.h"

namespace fotolane::app {

std::unique_ptr<gallery::IThumbnailMaker> MakeThumbnailMaker() {
    return std::make_unique<thumbnails::frmThumbnails>();
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

gallery::IThumbnailMaker& LazyThumbnailMaker::Maker() {
    if (!maker_) maker_ = factory_();
    return *maker_;
}

}  // namespace fotolane::app
