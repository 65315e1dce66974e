#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gallery/GalleryInterfaces.h"
#include "imaging/mIntelJPEGLibrary.h"
#include "platform/core/PixelRows.h"
#include "platform/drawing/Gdi.h"
#include "thumbnails/PictureBox.h"
#include "thumbnails/ThumbnailPipeline.h"
#include "thumbnails/ThumbnailSampler.h"

namespace fotolane::thumbnails {

class AlbumImages;

// The thumbnail maker: turns one picture file into one JPEG thumbnail file
// (decode, work out the size, point-sample, write at quality 80) and tells a
// picture's size in pixels. A plain object that owns the preview surface
// Picture2 and the pixel rows of the last thumbnail, which stay until the
// next thumbnail or the end of the object.
//
// With more than one worker, the pictures that the run announces
// (ExpectPictures) are decoded and sampled ahead on worker threads, started
// then (no more than there are pictures, fewer when the system refuses
// some) and ended with the run; each thumbnail is still drawn, written and
// reported here, on the caller's thread, when the run asks for it, so that
// files, messages and faults come exactly as with one worker. A picture
// that does not fit the memory budget beside the workers' memory is made
// again alone, and faults only if it does not fit then either.
//
// Faults go to the caller, each naming the picture: a missing or undecodable
// picture, sizes beyond the signed 32-bit range ("Overflow"), memory that
// cannot be had ("Out of memory"), pixels that cannot be read; lSize 0 is a
// "Division by zero" of the size asked for and names no file. A JPEG write
// that fails is no fault: the writer has warned the user, and the call
// returns normally; the warning may come with a later thumbnail's call (see
// FinishThumbnails).
class frmThumbnails final : public gallery::IThumbnailMaker {
  public:
    // Up to `workers` threads sample ahead; 1 makes every thumbnail in the
    // call. No thread starts before the run announces its pictures.
    explicit frmThumbnails(int workers = 1);

    // The picture's width and height in pixels, as browsers show it, read
    // from its header alone (for the picture whose thumbnail was just made,
    // from the header read for it).
    void Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                         std::int32_t& DimY) override;

    // Writes strNewPath + the picture's base name + ".jpg", whose longer side
    // is lSize pixels; with bThumbMode false only when no plain file of that
    // name exists yet (then the picture is not even opened). lSize is only
    // read.
    void Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                      bool bThumbMode, std::int32_t& lSize) override;

    void ExpectPictures(const std::vector<std::string>& strFileNames, const std::string& strNewPath,
                        bool bThumbMode, std::int32_t lSize) override;

    // From now on a run that makes every thumbnail ("All") has `images`
    // make each picture's album images too, from the decode that gives its
    // thumbnail (AlbumImages::MakeAhead), for the album that follows the
    // run; the thumbnails are the same.
    void MakeAlbumsAhead(AlbumImages& images) { albumAhead_ = &images; }

    // The thumbnail files are put in place on a thread of their own, in the
    // order written (JpegFileQueue): a flush or rename that fails is warned
    // about a few thumbnails later, or here, at the latest.
    void FinishThumbnails() override;

  private:
    bool FileExists(const std::string& strPath);
    static std::string ThumbnailFileName(const std::string& strFileName,
                                         const std::string& strNewPath);
    void SampleThumbnail(const std::string& strFileName, const std::string& strThumbFile,
                         bool bThumbMode, std::int32_t lSize);
    void SampleAlone(const std::string& strFileName, std::int32_t lSize);
    void TakeSampled(const std::string& strFileName);
    void ShowThumbBits();
    void RememberPicture(const std::string& strFileName, picture::PictureSize size);

    // Describes the rows drawn: 24-bit, bottom-up (positive height), no
    // colour table.
    gdi::BITMAPINFO BitmapHeader{};
    // Bottom-up B, G, R rows of the thumbnail, each row padded with zero
    // bytes to a multiple of 4.
    PixelRows ThumbBits;
    std::int32_t ThumbWidth = 0;
    std::int32_t ThumbHeight = 0;
    // The picture of the thumbnail under way or just made, once its size is
    // known, for Get_SizePicture; empty otherwise.
    std::string strLastPicture;
    picture::PictureSize lastPictureSize{0, 0};

    imaging::mIntelJPEGLibrary::JpegFileQueue jpegFiles_;
    ThumbnailSampler sampler_;                     // for thumbnails made in the call
    std::unique_ptr<ThumbnailPipeline> pipeline_;  // with more than one worker
    AlbumImages* albumAhead_ = nullptr;
    bool albumAheadNow_ = false;  // in this run
    PictureBox Picture2{1};       // the thumbnail, inside a one-pixel frame
};

}  // namespace fotolane::thumbnails
