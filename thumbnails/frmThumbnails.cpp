#include "thumbnails/frmThumbnails.h"

#include <new>
#include <span>

#include "gallery/ModThumbnails.h"
#include "imaging/cDIBSection.h"
#include "imaging/mIntelJPEGLibrary.h"
#include "platform/codecs/PictureDecoder.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/files/FileSystem.h"
#include "platform/ui/UserInterface.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
namespace {

constexpr std::int32_t kThumbnailQuality = 80;

// Runs one step of the handling of the picture at `path`: a fault it raises
// names the picture, unless it names a file of its own already.
template <typename Step>
void AboutPicture(const std::string& path, Step&& step) {
    try {
        step();
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

std::span<std::uint8_t> BytesOf(const PixelRows& rows) {
    return {rows.bits.get(),
            static_cast<std::size_t>(rows.stride) * static_cast<std::size_t>(rows.height)};
}

}  // namespace

frmThumbnails::frmThumbnails() {
    gdi::BITMAPINFOHEADER& header = BitmapHeader.bmiHeader;
    header.biSize = sizeof(gdi::BITMAPINFOHEADER);
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = gdi::BI_RGB;
}

void frmThumbnails::Get_SizePicture(const std::string& strFileName, std::int32_t& DimX,
                                    std::int32_t& DimY) {
    const picture::PictureSize size = picture::ReadPictureSize(strFileName);
    DimX = size.width;
    DimY = size.height;
}

void frmThumbnails::Get_Thrumbal(const std::string& strFileName, const std::string& strNewPath,
                                 bool bThumbMode, std::int32_t& lSize) {
    std::string strPath = strFileName;
    bool bExtensionFound = false;
    const std::string strThumbFile =
        strNewPath + gallery::ModThumbnails::SplitFileName(strPath, bExtensionFound) + ".jpg";
    if (!bThumbMode && FileExists(strThumbFile)) return;

    // One buffer per thumbnail; it releases its platform objects on every
    // way out of this call, faults included.
    imaging::cDIBSection cDib;
    SampleThumbnail(strFileName, lSize);
    AboutPicture(strFileName, [&] {
        ShowThumbBits();
        Picture2.PictureFromImage();
        cDib.CreateFromPicture(Picture2.Picture());
    });
    ui::DoEvents();
    // A failed write has been reported by the writer itself.
    imaging::mIntelJPEGLibrary::WriteJPEGFile(cDib, strThumbFile, kThumbnailQuality);
    ui::DoEvents();
    cDib.ClearUp();
}

bool frmThumbnails::FileExists(const std::string& strPath) {
    try {
        const std::string name = LookUpPlainFile(strPath);
        return name.find_first_not_of(' ') != std::string::npos;
    } catch (const Fault&) {
        return false;
    }
}

// Decodes the picture and samples its thumbnail into ThumbBits. Every member
// it uses is set afresh, so what it leaves depends on the file and the size
// alone.
void frmThumbnails::SampleThumbnail(const std::string& strFileName, std::int32_t lSize) {
    // The last thumbnail's memory goes first, so that two decoded pictures
    // never take memory at the same time.
    Picture1.Clear();
    SourceBits = PixelRows();
    ThumbBits = PixelRows();

    AboutPicture(strFileName, [&] {
        Picture1.ShowPicture(gdi::PictureFromPixelRows(picture::DecodePicture(strFileName)));
        ReadSourceSize();
        GrabSourceBits();
    });
    // Its one fault, lSize 0, is about the size asked for, not the picture.
    const ThumbnailSize size = ThumbnailSizeFor(SourceWidth, SourceHeight, lSize);
    ThumbWidth = size.width;
    ThumbHeight = size.height;
    AboutPicture(strFileName, [&] { ScaleBits(); });
}

void frmThumbnails::ReadSourceSize() {
    SourceWidth = Picture1.ScaleWidth();
    SourceHeight = Picture1.ScaleHeight();
    BitmapHeader.bmiHeader.biWidth = SourceWidth;
    BitmapHeader.bmiHeader.biHeight = SourceHeight;
    SourceScanWidth = StrideOf24BitRow(SourceWidth);
}

// The source surface's content is the decoded picture in the very layout of
// SourceBits: it is taken over as it is rather than copied, which would
// double the memory of a large picture. The surface is empty afterwards.
void frmThumbnails::GrabSourceBits() {
    SourceBits = gdi::PixelRowsFromPicture(Picture1.TakeImage());
    // Black rows in place of the picture would pass for a thumbnail.
    if (SourceBits.width != SourceWidth || SourceBits.height != SourceHeight ||
        SourceBits.stride != SourceScanWidth) {
        throw Fault("Could not read the picture's pixels");
    }
}

void frmThumbnails::ScaleBits() {
    const float StepX = SamplingStep(SourceWidth, ThumbWidth);
    const float StepY = SamplingStep(SourceHeight, ThumbHeight);
    // No array has a negative length.
    if (ThumbWidth < 0 || ThumbHeight < 0) throw Fault::SubscriptOutOfRange();
    ThumbBits = AllocatePixelRows(ThumbWidth, ThumbHeight);
    BitmapHeader.bmiHeader.biWidth = ThumbWidth;
    BitmapHeader.bmiHeader.biHeight = ThumbHeight;
    Picture2.Resize(CheckedAdd(ThumbWidth, 2), CheckedAdd(ThumbHeight, 2));

    const RowLayout thumbLayout{ThumbWidth, ThumbHeight, ThumbBits.stride};
    const SampledExtent reached =
        SampleNearest(BytesOf(SourceBits), RowLayout{SourceWidth, SourceHeight, SourceScanWidth},
                      StepX, StepY, BytesOf(ThumbBits), thumbLayout);
    FillUnreached(BytesOf(ThumbBits), thumbLayout, reached);
}

void frmThumbnails::ShowThumbBits() {
    gdi::StretchDIBits(Picture2.hDC(), 0, 0, ThumbWidth, ThumbHeight, 0, 0, ThumbWidth, ThumbHeight,
                       BytesOf(ThumbBits), &BitmapHeader, gdi::DIB_RGB_COLORS, gdi::SRCCOPY);
}

}  // namespace fotolane::thumbnails
