#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gallery/GalleryInterfaces.h"
#include "gallery/ModThumbnails.h"
#include "platform/core/Fault.h"
#include "tests/gallery/CallLog.h"

namespace fotolane::testing {

// A stand-in for the thumbnail maker. It records every call (in `log` as
// "Get_Thrumbal <file> <folder> All|New <size>" and "Get_SizePicture <file>",
// and in the call lists), writes a small file where the thumbnail belongs
// (folder + base name + ".jpg"; with "New" it leaves an existing one alone),
// reports a configurable picture size, and raises a fault where told to.
class FakeThumbnailMaker : public gallery::IThumbnailMaker {
  public:
    struct ThumbnailCall {
        std::string strFileName;
        std::string strNewPath;
        bool bThumbMode;
        std::int32_t lSize;
    };

    FakeThumbnailMaker() : log(ownLog_) {}
    explicit FakeThumbnailMaker(CallLog& shared) : log(shared) {}
    FakeThumbnailMaker(const FakeThumbnailMaker&) = delete;
    FakeThumbnailMaker& operator=(const FakeThumbnailMaker&) = delete;

    void Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                      bool bThumbMode, std::int32_t& lSize) override {
        log.Add("Get_Thrumbal " + strFileName + " " + strNewPath +
                (bThumbMode ? " All " : " New ") + std::to_string(lSize));
        thumbnailCalls.push_back({strFileName, strNewPath, bThumbMode, lSize});
        const int picture = static_cast<int>(thumbnailCalls.size());
        if (duringPicture) duringPicture(picture);
        if (picture == faultAtPicture) throw Fault::InvalidPicture(strFileName);
        if (!writeFiles) return;
        std::string folder = strFileName;
        bool bExtensionFound = false;
        const std::string target =
            strNewPath + gallery::ModThumbnails::SplitFileName(folder, bExtensionFound) + ".jpg";
        if (!bThumbMode && std::filesystem::exists(target)) {
            kept.push_back(target);
            return;
        }
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out << thumbnailBytes;
        if (!out) throw Fault::PathNotFound(target);
        written.push_back(target);
    }

    void Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                         std::int32_t& DimY) override {
        log.Add("Get_SizePicture " + strFileName);
        sizeCalls.push_back(strFileName);
        const std::string name = gallery::ModThumbnails::LastPathPart(strFileName);
        if (unreadable.count(name) != 0) throw Fault::InvalidPicture(strFileName);
        const auto size = sizes.find(name);
        DimX = size != sizes.end() ? size->second.first : width;
        DimY = size != sizes.end() ? size->second.second : height;
    }

    // Settings.
    bool writeFiles = true;
    std::string thumbnailBytes = "thumbnail";
    int faultAtPicture = 0;                  // the k-th Get_Thrumbal call (from 1) faults; 0: none
    std::function<void(int)> duringPicture;  // runs inside the k-th call, before its fault
    std::int32_t width = 640;
    std::int32_t height = 480;
    std::map<std::string, std::pair<std::int32_t, std::int32_t>> sizes;  // by file name
    std::set<std::string> unreadable;  // file names whose size cannot be had

    // What happened.
    std::vector<ThumbnailCall> thumbnailCalls;
    std::vector<std::string> sizeCalls;
    std::vector<std::string> written;  // thumbnail paths written
    std::vector<std::string> kept;     // existing thumbnails left alone ("New")

  private:
    CallLog ownLog_;

  public:
    CallLog& log;
};

}  // namespace fotolane::testing
