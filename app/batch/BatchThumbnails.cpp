#include "app/batch/BatchThumbnails.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "decoding/PictureDecoder.h"
#include "gallery/ModThumbnails.h"
#include "platform/core/Fault.h"

namespace fotolane::batch {

BatchThumbnails::BatchThumbnails(gallery::IThumbnailMaker& maker, bool update)
    : maker_(maker), update_(update) {}

void BatchThumbnails::Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                                   bool bThumbMode, std::int32_t& lSize) {
    // The thumbnail's name as the maker forms it.
    std::string strPath = strFileName;
    bool bExtensionFound = false;
    const std::string strThumbFile =
        strNewPath + gallery::ModThumbnails::SplitFileName(strPath, bExtensionFound) + ".jpg";
    bool remake = bThumbMode;
    if (!bThumbMode) {
        // Another picture of the same base name had it made in this run.
        if (asked_.contains(strThumbFile)) maker_.FinishThumbnails();
        std::error_code error;
        const bool exists = std::filesystem::is_regular_file(strThumbFile, error);
        remake = !exists || (update_ && !IsCurrentThumbnail(strThumbFile, strFileName, lSize));
    }
    if (remake) asked_.insert(strThumbFile);
    maker_.Get_Thrumbal(strFileName, strNewPath, bThumbMode || remake, lSize);
    ++(remake ? made : kept);
}

void BatchThumbnails::Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                                      std::int32_t& DimY) {
    maker_.Get_SizePicture(strFileName, DimX, DimY);
}

bool IsCurrentThumbnail(const std::string& strThumbFile, const std::string& strFileName,
                        std::int32_t lSize) {
    std::error_code error;
    const auto thumbTime = std::filesystem::last_write_time(strThumbFile, error);
    if (error) return false;
    const auto pictureTime = std::filesystem::last_write_time(strFileName, error);
    // A picture whose time cannot be read is judged by the size alone; the
    // maker reports the picture itself if it is unreadable.
    if (!error && thumbTime < pictureTime) return false;
    try {
        const picture::PictureSize size = picture::ReadPictureSize(strThumbFile);
        return std::max(size.width, size.height) == lSize;
    } catch (const Fault&) {
        return false;
    }
}

}  // namespace fotolane::batch
