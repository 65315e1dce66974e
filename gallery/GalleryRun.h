#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gallery/GalleryInterfaces.h"

namespace fotolane::gallery {

// One gallery build of a folder: lists its pictures, has each thumbnail made,
// writes the page, shows progress, honours the stop request and restores the
// window at every end. It owns the run's state, which lives as long as the
// window that owns it.
class GalleryRun {
public:
    GalleryRun(IGalleryInputs& inputs, IGalleryView& view, IThumbnailMaker& thumbnails);

    // "&Get": the title check, then BuildGallery.
    void Command1_Click();
    // "&Stop": asks the run under way to stop after the picture in hand.
    void Command2_Click();

    void BuildGallery();
    bool IsRunning() const { return running_; }

    bool bStop = false;
    std::vector<std::string> strPictures;
    std::int32_t lThumbSize = 0;

private:
    IGalleryInputs& inputs_;
    IGalleryView& view_;
    IThumbnailMaker& thumbnails_;
    bool running_ = false;
};

}  // namespace fotolane::gallery
