#include "decoding/jpeg/DecodePlan.h"

#include <cstdint>
#include <vector>

namespace fotolane::picture::detail {

namespace {

// The distinct positions of an ascending list, or 0 when one lies outside
// 0 to limit - 1.
std::size_t CountDistinct(const std::vector<std::int32_t>& positions, std::int32_t limit) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (positions[i] < 0 || positions[i] >= limit) return 0;
        if (i == 0 || positions[i] != positions[i - 1]) ++count;
    }
    return count;
}

}  // namespace

bool SparseIsCheaper(PictureSize stored, std::size_t columns, std::size_t lines) {
    return static_cast<double>(stored.width) * static_cast<double>(stored.height) >=
           kPixelsPerSampleForSparse * static_cast<double>(columns) * static_cast<double>(lines);
}

std::optional<SparsePlan> PlanSparse(const jpeg_decompress_struct& cinfo, const JpegCheck& check,
                                     const SampledPixels& sampled, bool always,
                                     std::span<ComponentSamples, 3> components) {
    const bool colour = cinfo.jpeg_color_space == JCS_YCbCr && cinfo.num_components == 3;
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE && cinfo.num_components == 1;
    const PictureSize stored{static_cast<std::int32_t>(cinfo.image_width),
                             static_cast<std::int32_t>(cinfo.image_height)};
    const PictureSize shown = OrientedSize(stored, check.orientation);
    const std::size_t columns = CountDistinct(sampled.columns, shown.width);
    const std::size_t lines = CountDistinct(sampled.rows, shown.height);
    // A file whose data cannot reach its last lines is the whole decode's,
    // which decodes only the lines it reaches.
    if (!(colour || grey) || cinfo.data_precision != 8 || columns == 0 || lines == 0 ||
        check.linesWithData < stored.height ||
        (!always && !SparseIsCheaper(stored, columns, lines))) {
        return std::nullopt;
    }
    for (int c = 0; c < cinfo.num_components; ++c) {
        if (!ChooseUpsampling(cinfo, cinfo.comp_info[c], components[static_cast<std::size_t>(c)])) {
            return std::nullopt;
        }
    }
    SparsePlan plan;
    plan.grey = grey;
    const ComponentSamples& cb = components[1];
    const ComponentSamples& cr = components[2];
    plan.pairedChroma =
        colour && components[0].upsampling == Upsampling::None &&
        (cb.upsampling == Upsampling::H2V2Smooth || cb.upsampling == Upsampling::H2V1Smooth) &&
        cr.upsampling == cb.upsampling && cr.width == cb.width && cr.height == cb.height;
    plan.ring =
        !check.buffered && !cinfo.progressive_mode && cinfo.comps_in_scan == cinfo.num_components;
    return plan;
}

}  // namespace fotolane::picture::detail
