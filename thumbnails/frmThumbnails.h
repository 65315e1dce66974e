#pragma once

#include <cstdint>
#include <string>

#include "gallery/GalleryInterfaces.h"
#include "platform/core/PixelRows.h"
#include "platform/drawing/Gdi.h"
#include "thumbnails/PictureBox.h"

namespace fotolane::thumbnails {

// The thumbnail maker: turns one picture file into one JPEG thumbnail file
// (decode, read the pixels, work out the size, point-sample, write at
// quality 80) and tells a picture's size in pixels. A plain object that owns
// two off-screen surfaces, the source surface Picture1 and the preview
// surface Picture2, and the two pixel arrays of the last thumbnail, which
// stay until the next thumbnail or the end of the object.
//
// Faults go to the caller, each naming the picture: a missing or undecodable
// picture, sizes beyond the signed 32-bit range ("Overflow"), memory that
// cannot be had ("Out of memory"), pixels that cannot be read; lSize 0 is a
// "Division by zero" of the size asked for and names no file. A JPEG write
// that fails is no fault: the writer has warned the user, and the call
// returns normally.
class frmThumbnails final : public gallery::IThumbnailMaker {
  public:
    frmThumbnails();

    // The picture's width and height in pixels, as browsers show it, read
    // from its header alone.
    void Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                         std::int32_t& DimY) override;

    // Writes strNewPath + the picture's base name + ".jpg", whose longer side
    // is lSize pixels; with bThumbMode false only when no plain file of that
    // name exists yet (then the picture is not even opened). lSize is only
    // read.
    void Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                      bool bThumbMode, std::int32_t& lSize) override;

  private:
    static bool FileExists(const std::string& strPath);
    void SampleThumbnail(const std::string& strFileName, std::int32_t lSize);
    void ReadSourceSize();
    void GrabSourceBits();
    void ScaleBits();
    void ShowThumbBits();

    // Describes the rows read or drawn: 24-bit, bottom-up (positive height),
    // no colour table. Width and height are set per step.
    gdi::BITMAPINFO BitmapHeader{};
    // Bottom-up B, G, R rows of the source picture and of the thumbnail,
    // each row padded with zero bytes to a multiple of 4.
    PixelRows SourceBits;
    PixelRows ThumbBits;
    std::int32_t SourceWidth = 0;
    std::int32_t SourceHeight = 0;
    std::int32_t SourceScanWidth = 0;  // bytes per source row
    std::int32_t ThumbWidth = 0;
    std::int32_t ThumbHeight = 0;

    PictureBox Picture1;     // the decoded picture at its natural size
    PictureBox Picture2{1};  // the thumbnail, inside a one-pixel frame
};

}  // namespace fotolane::thumbnails
