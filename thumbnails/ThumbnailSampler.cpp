#include "thumbnails/ThumbnailSampler.h"

#include <new>
#include <span>

#include "platform/core/Fault.h"
#include "thumbnails/PictureSteps.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
using detail::AboutPicture;
using detail::BytesOf;

void ThumbnailSampler::SampleThumbnail(const std::string& strFileName, std::int32_t lSize,
                                       const SharedDecode& shared) {
    shared_ = shared ? &shared : nullptr;
    struct Forget {
        const SharedDecode*& shared;
        ~Forget() { shared = nullptr; }
    } forget{shared_};
    try {
        SampleOnce(strFileName, lSize);
    } catch (const Fault& fault) {
        if (!detail::IsOutOfMemory(fault) || !SourceBits.bits) throw;
        ReleaseMemory();
        SampleOnce(strFileName, lSize);
    }
}

void ThumbnailSampler::ReleaseMemory() {
    SourceBits = PixelRows();
    ThumbBits = PixelRows();
    Picture1.ReleaseMemory();
}

void ThumbnailSampler::SampleOnce(const std::string& strFileName, std::int32_t lSize) {
    ThumbBits = PixelRows();
    AboutPicture(strFileName, [&] { ReadSourceSize(Picture1.Open(strFileName)); });
    // Its one fault, lSize 0, is about the size asked for, not the picture.
    const ThumbnailSize size = ThumbnailSizeFor(SourceWidth, SourceHeight, lSize);
    ThumbWidth = size.width;
    ThumbHeight = size.height;
    AboutPicture(strFileName, [&] {
        StepX = SamplingStep(SourceWidth, ThumbWidth);
        StepY = SamplingStep(SourceHeight, ThumbHeight);
        // No array has a negative length.
        if (ThumbWidth < 0 || ThumbHeight < 0) throw Fault::SubscriptOutOfRange();
        // The thumbnail's rows first: a size beyond the limits is a fault
        // before any decoding.
        ThumbBits = AllocatePixelRows(ThumbWidth, ThumbHeight);
        GrabSourceBits();
        ScaleBits();
    });
}

void ThumbnailSampler::ReadSourceSize(const picture::PictureSize& size) {
    SourceWidth = size.width;
    SourceHeight = size.height;
    SourceScanWidth = StrideOf24BitRow(SourceWidth);
    // The rows of the last picture are reused when they are large enough.
    ReshapePixelRows(SourceBits, SourceWidth, SourceHeight);
}

// Decodes the picture straight into SourceBits: at least every pixel that
// the walk of ScaleBits reads.
void ThumbnailSampler::GrabSourceBits() {
    const picture::SampledPixels sampled{WalkPositions(SourceWidth, StepX, ThumbWidth),
                                         WalkPositions(SourceHeight, StepY, ThumbHeight)};
    if (shared_ != nullptr) {
        // The other decode does not run beside what this one kept.
        Picture1.ReleaseDecoderMemory();
        if ((*shared_)(sampled, SourceBits)) return;
    }
    Picture1.Decode(sampled, SourceBits);
}

void ThumbnailSampler::ScaleBits() {
    const RowLayout thumbLayout{ThumbWidth, ThumbHeight, ThumbBits.stride};
    const SampledExtent reached =
        SampleNearest(BytesOf(SourceBits), RowLayout{SourceWidth, SourceHeight, SourceScanWidth},
                      StepX, StepY, BytesOf(ThumbBits), thumbLayout);
    FillUnreached(BytesOf(ThumbBits), thumbLayout, reached);
}

}  // namespace fotolane::thumbnails
