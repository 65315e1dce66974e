#include "thumbnails/frmThumbnails.h"

#include <exception>
#include <new>
#include <optional>
#include <span>
#include <utility>

#include "decoding/PictureDecoder.h"
#include "gallery/ModThumbnails.h"
#include "imaging/cDIBSection.h"
#include "imaging/mIntelJPEGLibrary.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/core/ProcessMemory.h"
#include "platform/files/FileSystem.h"
#include "platform/ui/UserInterface.h"
#include "thumbnails/AlbumImages.h"
#include "thumbnails/PictureSteps.h"

namespace fotolane::thumbnails {
namespace {

constexpr std::int32_t kThumbnailQuality = 80;

using detail::AboutPicture;
using detail::BytesOf;

}  // namespace

frmThumbnails::frmThumbnails(int workers) {
    gdi::BITMAPINFOHEADER& header = BitmapHeader.bmiHeader;
    header.biSize = sizeof(gdi::BITMAPINFOHEADER);
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = gdi::BI_RGB;
    if (workers > 1) pipeline_ = std::make_unique<ThumbnailPipeline>(workers);
}

void frmThumbnails::Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                                    std::int32_t& DimY) {
    // The cell of the picture whose thumbnail was just made: its header was
    // read for it a moment ago.
    const picture::PictureSize size =
        strFileName == strLastPicture ? lastPictureSize : picture::ReadPictureSize(strFileName);
    DimX = size.width;
    DimY = size.height;
}

std::string frmThumbnails::ThumbnailFileName(const std::string& strFileName,
                                             const std::string& strNewPath) {
    std::string strPath = strFileName;
    bool bExtensionFound = false;
    return strNewPath + gallery::ModThumbnails::SplitFileName(strPath, bExtensionFound) + ".jpg";
}

void frmThumbnails::ExpectPictures(const std::vector<std::string>& strFileNames,
                                   const std::string& strNewPath, bool bThumbMode,
                                   std::int32_t lSize) {
    if (strFileNames.empty()) {
        // The run is over: the workers end, and the memory kept for the
        // next picture goes back to the budget, so that what comes next
        // (the album) finds the same memory with any number of workers.
        if (pipeline_) pipeline_->Stop();
        sampler_.ReleaseMemory();
        // The workers that made album images ahead held whole decodes; the
        // album's own workers would not find that memory in their heaps.
        if (albumAheadNow_) GiveBackFreedMemory();
        albumAheadNow_ = false;
        return;
    }
    albumAheadNow_ = albumAhead_ != nullptr && bThumbMode;
    if (albumAhead_ != nullptr) albumAhead_->DropAhead();
    if (!pipeline_) return;
    try {
        std::vector<ThumbnailJob> jobs;
        jobs.reserve(strFileNames.size());
        for (const std::string& strFileName : strFileNames) {
            jobs.push_back({strFileName, ThumbnailFileName(strFileName, strNewPath), bThumbMode,
                            lSize, FileBytes(strFileName), albumAheadNow_ ? albumAhead_ : nullptr});
        }
        pipeline_->Expect(std::move(jobs));
    } catch (...) {
        // Without work ahead every thumbnail is made in its call.
    }
}

void frmThumbnails::Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                                 bool bThumbMode, std::int32_t& lSize) {
    const std::string strThumbFile = ThumbnailFileName(strFileName, strNewPath);
    strLastPicture.clear();
    if (!bThumbMode && FileExists(strThumbFile)) {
        if (pipeline_) pipeline_->Pass({strFileName, strThumbFile, bThumbMode, lSize});
        return;
    }

    // One buffer per thumbnail; it releases its platform objects on every
    // way out of this call, faults included.
    imaging::cDIBSection cDib;
    SampleThumbnail(strFileName, strThumbFile, bThumbMode, lSize);
    AboutPicture(strFileName, [&] {
        ShowThumbBits();
        Picture2.PictureFromImage();
        cDib.CreateFromPicture(Picture2.Picture());
    });
    ui::DoEvents();
    // A failed write is reported by the writer itself.
    jpegFiles_.WriteJPEGFile(cDib, strThumbFile, kThumbnailQuality);
    ui::DoEvents();
    cDib.ClearUp();
}

void frmThumbnails::FinishThumbnails() {
    jpegFiles_.Finish();
}

bool frmThumbnails::FileExists(const std::string& strPath) {
    // A thumbnail of that name written earlier in the run is looked at as
    // it is in place.
    jpegFiles_.Await(strPath);
    try {
        const std::string name = LookUpPlainFile(strPath);
        return name.find_first_not_of(' ') != std::string::npos;
    } catch (const Fault&) {
        return false;
    }
}

// Decodes the picture and samples its thumbnail into ThumbBits: taken from
// the workers when they made it ahead, made here otherwise.
void frmThumbnails::SampleThumbnail(const std::string& strFileName, const std::string& strThumbFile,
                                    bool bThumbMode, std::int32_t lSize) {
    ThumbBits = PixelRows();
    if (pipeline_) {
        std::optional<SampledThumbnail> ahead =
            pipeline_->Take({strFileName, strThumbFile, bThumbMode, lSize});
        if (ahead && ahead->outOfMemory) {
            SampleAlone(strFileName, lSize);
            return;
        }
        if (ahead && ahead->fault) std::rethrow_exception(ahead->fault);
        if (ahead && !ahead->skipped) {
            ThumbBits = std::move(ahead->ThumbBits);
            ThumbWidth = ahead->ThumbWidth;
            ThumbHeight = ahead->ThumbHeight;
            RememberPicture(strFileName, ahead->pictureSize);
            return;
        }
    }
    const bool besideWorkers = pipeline_ && pipeline_->Workers() > 0;
    try {
        ThumbnailJob job{strFileName, strThumbFile, bThumbMode, lSize};
        if (albumAheadNow_ && bThumbMode) job.album = albumAhead_;
        sampler_.SampleThumbnail(strFileName, lSize, SharedDecodeOf(job));
    } catch (const Fault& fault) {
        if (besideWorkers) sampler_.ReleaseMemory();
        if (!besideWorkers || !detail::IsOutOfMemory(fault)) throw;
        SampleAlone(strFileName, lSize);
        return;
    }
    TakeSampled(strFileName);
    // Beside the workers this sampler keeps no memory for a next picture.
    if (besideWorkers) sampler_.ReleaseMemory();
}

// A picture that was "Out of memory" while workers held memory of their
// own: made here once they have stopped and given their memory back, so that
// it faults only when it would with one worker. The workers start again on
// the pictures after it, however it ends.
void frmThumbnails::SampleAlone(const std::string& strFileName, std::int32_t lSize) {
    struct Restart {
        ThumbnailPipeline& pipeline;
        std::vector<ThumbnailJob> left;
        ~Restart() {
            try {
                pipeline.Expect(std::move(left));
            } catch (...) {
                // Without workers every thumbnail is made in its call.
            }
        }
    };
    Restart restart{*pipeline_, pipeline_->Stop()};
    try {
        sampler_.SampleThumbnail(strFileName, lSize);
    } catch (...) {
        sampler_.ReleaseMemory();
        throw;
    }
    TakeSampled(strFileName);
    sampler_.ReleaseMemory();
}

void frmThumbnails::TakeSampled(const std::string& strFileName) {
    ThumbBits = std::move(sampler_.ThumbBits);
    ThumbWidth = sampler_.ThumbWidth;
    ThumbHeight = sampler_.ThumbHeight;
    RememberPicture(strFileName, sampler_.PictureSize());
}

void frmThumbnails::RememberPicture(const std::string& strFileName, picture::PictureSize size) {
    strLastPicture = strFileName;
    lastPictureSize = size;
}

// Draws ThumbBits onto the preview surface, sized so that its drawable area
// is exactly the thumbnail.
void frmThumbnails::ShowThumbBits() {
    BitmapHeader.bmiHeader.biWidth = ThumbWidth;
    BitmapHeader.bmiHeader.biHeight = ThumbHeight;
    Picture2.Resize(CheckedAdd(ThumbWidth, 2), CheckedAdd(ThumbHeight, 2));
    gdi::StretchDIBits(Picture2.hDC(), 0, 0, ThumbWidth, ThumbHeight, 0, 0, ThumbWidth, ThumbHeight,
                       BytesOf(ThumbBits), &BitmapHeader, gdi::DIB_RGB_COLORS, gdi::SRCCOPY);
}

}  // namespace fotolane::thumbnails
