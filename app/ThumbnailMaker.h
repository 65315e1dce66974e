#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gallery/GalleryInterfaces.h"

namespace fotolane::app {

using ThumbnailMakerFactory = std::function<std::unique_ptr<gallery::IThumbnailMaker>()>;

// The program's thumbnail maker, frmThumbnails.
std::unique_ptr<gallery::IThumbnailMaker> MakeThumbnailMaker();

// The thumbnail maker as the main window holds it: created by the factory at
// the first call into it, and closed (destroyed) when the window closes.
class LazyThumbnailMaker final : public gallery::IThumbnailMaker {
  public:
    explicit LazyThumbnailMaker(ThumbnailMakerFactory factory);

    void Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                      bool bThumbMode, std::int32_t& lSize) override;
    void Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                         std::int32_t& DimY) override;

    void ExpectPictures(const std::vector<std::string>& strFileNames, const std::string& strNewPath,
                        bool bThumbMode, std::int32_t lSize) override;
    void FinishThumbnails() override {
        if (maker_) maker_->FinishThumbnails();
    }

    bool IsCreated() const { return maker_ != nullptr; }
    void Close() { maker_.reset(); }

  private:
    gallery::IThumbnailMaker& Maker();

    ThumbnailMakerFactory factory_;
    std::unique_ptr<gallery::IThumbnailMaker> maker_;
};

}  // namespace fotolane::app
