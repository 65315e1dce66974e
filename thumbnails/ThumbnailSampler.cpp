#include "thumbnails/ThumbnailSampler.h"

#include <span>

#include "platform/core/Fault.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
namespace {

std::span<std::uint8_t> BytesOf(const PixelRows& rows) {
    return {rows.bits.get(),
            static_cast<std::size_t>(rows.stride) * static_cast<std::size_t>(rows.height)};
}

}  // namespace

void ThumbnailSampler::SampleThumbnail(const std::string& strFileName, std::int32_t lSize) {
    ThumbBits = PixelRows();
    ReadSourceSize(Picture1.Open(strFileName));
    const ThumbnailSize size = ThumbnailSizeFor(SourceWidth, SourceHeight, lSize);
    ThumbWidth = size.width;
    ThumbHeight = size.height;
    StepX = SamplingStep(SourceWidth, ThumbWidth);
    StepY = SamplingStep(SourceHeight, ThumbHeight);
    GrabSourceBits();
    ScaleBits();
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
    const picture::SampledPixels sampled{WalkPositions(SourceWidth, StepX),
                                         WalkPositions(SourceHeight, StepY)};
    Picture1.Decode(sampled, SourceBits);
}

void ThumbnailSampler::ScaleBits() {
    // No array has a negative length.
    if (ThumbWidth < 0 || ThumbHeight < 0) throw Fault::SubscriptOutOfRange();
    ThumbBits = AllocatePixelRows(ThumbWidth, ThumbHeight);
    const RowLayout thumbLayout{ThumbWidth, ThumbHeight, ThumbBits.stride};
    const SampledExtent reached =
        SampleNearest(BytesOf(SourceBits), RowLayout{SourceWidth, SourceHeight, SourceScanWidth},
                      StepX, StepY, BytesOf(ThumbBits), thumbLayout);
    FillUnreached(BytesOf(ThumbBits), thumbLayout, reached);
}

}  // namespace fotolane::thumbnails
