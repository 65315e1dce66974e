#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "decoding/SamplingDecoder.h"
#include "platform/core/PixelRows.h"

namespace fotolane::thumbnails {

// The sampling half of the thumbnail maker, plain memory work that any
// thread may do: decodes a picture straight into the source rows, works out
// the thumbnail size and point-samples the thumbnail rows from them. The
// source rows and the decoder's memory serve picture after picture; one
// object serves one thread.
class ThumbnailSampler {
  public:
    // Decodes strFileName and samples its thumbnail, whose longer side is
    // lSize pixels, into ThumbBits. Faults as frmThumbnails::Get_Thrumbal's.
    // A picture that is "Out of memory" beside the source rows kept from
    // earlier pictures is tried once more without them: whether a picture
    // fits the memory budget does not depend on the pictures before it.
    //
    // `shared`, when given, is asked first to put the sampled pixels into
    // the source rows from a decode it makes for other images of the
    // picture; when it returns false the sampler decodes them itself.
    using SharedDecode = std::function<bool(const picture::SampledPixels&, PixelRows&)>;
    void SampleThumbnail(const std::string& strFileName, std::int32_t lSize,
                         const SharedDecode& shared = {});

    // Gives back the source rows and the decoder's memory kept for the next
    // picture (and the thumbnail rows not taken), with their share of the
    // memory budget.
    void ReleaseMemory();

    // Bottom-up B, G, R rows of the last thumbnail, each row padded with
    // zero bytes to a multiple of 4; taken away by the caller.
    PixelRows ThumbBits;
    std::int32_t ThumbWidth = 0;
    std::int32_t ThumbHeight = 0;
    // The last picture's size, as its header gave it and as
    // picture::ReadPictureSize tells it.
    picture::PictureSize PictureSize() const { return {SourceWidth, SourceHeight}; }

  private:
    void SampleOnce(const std::string& strFileName, std::int32_t lSize);
    void ReadSourceSize(const picture::PictureSize& size);
    void GrabSourceBits();
    void ScaleBits();

    const SharedDecode* shared_ = nullptr;  // during SampleThumbnail
    picture::SamplingDecoder Picture1;      // the picture being decoded
    // Bottom-up B, G, R rows of the source picture: the pixels the walk
    // reads are the picture's, others may hold an earlier picture's.
    PixelRows SourceBits;
    std::int32_t SourceWidth = 0;
    std::int32_t SourceHeight = 0;
    std::int32_t SourceScanWidth = 0;  // bytes per source row
    float StepX = 0;
    float StepY = 0;
};

}  // namespace fotolane::thumbnails
