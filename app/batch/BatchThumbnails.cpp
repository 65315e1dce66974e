#include "app/batch/BatchThumbnails.h"

#include "gallery/ModThumbnails.h"
#include "platform/files/FileSystem.h"
#include "thumbnails/Freshness.h"

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
        remake = !IsPlainFile(strThumbFile) ||
                 (update_ && !thumbnails::IsCurrentImage(strThumbFile, strFileName, lSize));
    }
    if (remake) asked_.insert(strThumbFile);
    maker_.Get_Thrumbal(strFileName, strNewPath, bThumbMode || remake, lSize);
    ++(remake ? made : kept);
}

void BatchThumbnails::Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                                      std::int32_t& DimY) {
    maker_.Get_SizePicture(strFileName, DimX, DimY);
}

}  // namespace fotolane::batch
