#pragma once

// The choice between the sampled JPEG path and the whole decode, made once
// libjpeg has read the header (the part that jdmaster.c's choice of the
// decoding's stages plays in libjpeg).

#include <cstddef>
#include <optional>
#include <span>

#include "decoding/jpeg/JpegDecoder.h"
#include "decoding/jpeg/Upsampling.h"

namespace fotolane::picture::detail {

// The cost rule. A whole decode costs about this many times as much per
// pixel as the reconstruction of one sampled pixel costs, beyond the
// entropy decoding that both do: the sampled pixels are reconstructed alone
// when the stored picture has at least this many pixels for each of them.
inline constexpr double kPixelsPerSampleForSparse = 48.0;
bool SparseIsCheaper(PictureSize stored, std::size_t columns, std::size_t lines);

// How the sampled pixels are reconstructed.
struct SparsePlan {
    bool grey = false;  // one grey component, else YCbCr
    // Both chroma components smoothly upsampled across (4:2:0, 4:2:2) and
    // alike, the luma not: reconstructed together, a chroma block column's
    // column passes done once for every sample in it.
    bool pairedChroma = false;
    // One scan of every component, not buffered: the coefficients' ring of
    // MCU rows (CoefficientStore).
    bool ring = false;
};

// The plan for the file whose header `cinfo` holds (`check`: what CheckJpeg
// found of it), each component's upsampling chosen into `components`; none
// when the whole decode is the better way or the only one: a colour space,
// precision or chroma layout this path does not follow, data that ends
// before the last lines, no sampled pixel in the picture, or (unless
// `always`) samples too dense for the cost rule.
std::optional<SparsePlan> PlanSparse(const jpeg_decompress_struct& cinfo, const JpegCheck& check,
                                     const SampledPixels& sampled, bool always,
                                     std::span<ComponentSamples, 3> components);

}  // namespace fotolane::picture::detail
