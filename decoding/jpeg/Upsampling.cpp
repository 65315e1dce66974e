#include "decoding/jpeg/Upsampling.h"

#include <algorithm>

namespace fotolane::picture::detail {

void ComponentSamples::Prepare(const JQUANT_TBL& table) {
    for (std::size_t k = 0; k < 64; ++k) quant[k] = static_cast<std::int16_t>(table.quantval[k]);
    Forget();
}

namespace {

// The lowest and the highest samples that full-size position p is made of
// in one direction: with smooth upsampling the nearer sample and the next
// one towards p (the edge sample repeated), else the one that p / factor
// falls in.
std::pair<std::int32_t, std::int32_t> SamplesOf(std::int32_t p, bool smooth, int factor,
                                                std::int32_t samples) {
    if (!smooth) return {p / factor, p / factor};
    const std::int32_t near = p >> 1;
    if ((p & 1) == 0) return {std::max(near - 1, 0), near};
    return {near, std::min(near + 1, samples - 1)};
}

}  // namespace

std::pair<std::int32_t, std::int32_t> ComponentSamples::RowsOfLine(std::int32_t y) const {
    const bool smooth =
        upsampling == Upsampling::H1V2Smooth || upsampling == Upsampling::H2V2Smooth;
    return SamplesOf(y, smooth, factorY, height);
}

std::pair<std::int32_t, std::int32_t> ComponentSamples::ColumnsOfPixel(std::int32_t x) const {
    const bool smooth =
        upsampling == Upsampling::H2V1Smooth || upsampling == Upsampling::H2V2Smooth;
    return SamplesOf(x, smooth, factorX, width);
}

int ComponentSamples::ValueAt(std::int32_t x, std::int32_t y) {
    switch (upsampling) {
        case Upsampling::None:
            return SampleAt(x, y);
        case Upsampling::Replicate:
            return SampleAt(x / factorX, y / factorY);
        case Upsampling::H2V1Smooth: {
            const std::int32_t near = x >> 1;
            const bool left = (x & 1) == 0;
            const std::int32_t far = left ? std::max(near - 1, 0) : std::min(near + 1, width - 1);
            const int nearSample = SampleAt(near, y);
            const int farSample = SampleAt(far, y);
            return (3 * nearSample + farSample + (left ? 1 : 2)) >> 2;
        }
        case Upsampling::H1V2Smooth: {
            const std::int32_t near = y >> 1;
            const bool upper = (y & 1) == 0;
            const std::int32_t far = upper ? std::max(near - 1, 0) : std::min(near + 1, height - 1);
            return (3 * SampleAt(x, near) + SampleAt(x, far) + (upper ? 1 : 2)) >> 2;
        }
        case Upsampling::H2V2Smooth: {
            const std::int32_t nearX = x >> 1;
            const std::int32_t nearY = y >> 1;
            const bool left = (x & 1) == 0;
            const std::int32_t farX =
                left ? std::max(nearX - 1, 0) : std::min(nearX + 1, width - 1);
            const std::int32_t farY =
                (y & 1) == 0 ? std::max(nearY - 1, 0) : std::min(nearY + 1, height - 1);
            const int nearNear = SampleAt(nearX, nearY);
            const int farNear = SampleAt(farX, nearY);
            const int nearFar = SampleAt(nearX, farY);
            const int farFar = SampleAt(farX, farY);
            const int nearColumn = 3 * nearNear + nearFar;
            const int farColumn = 3 * farNear + farFar;
            return (3 * nearColumn + farColumn + (left ? 8 : 7)) >> 4;
        }
    }
    return 0;
}

bool ChooseUpsampling(const jpeg_decompress_struct& cinfo, const jpeg_component_info& info,
                      ComponentSamples& component) {
    if (info.h_samp_factor <= 0 || info.v_samp_factor <= 0 ||
        cinfo.max_h_samp_factor % info.h_samp_factor != 0 ||
        cinfo.max_v_samp_factor % info.v_samp_factor != 0) {
        return false;
    }
    component.factorX = cinfo.max_h_samp_factor / info.h_samp_factor;
    component.factorY = cinfo.max_v_samp_factor / info.v_samp_factor;
    component.width = static_cast<std::int32_t>(info.downsampled_width);
    component.height = static_cast<std::int32_t>(info.downsampled_height);
    component.blockRowsPerMcuRow = info.v_samp_factor;
    const int fx = component.factorX;
    const int fy = component.factorY;
    if (fx == 1 && fy == 1) {
        component.upsampling = Upsampling::None;
    } else if (fx == 2 && fy == 1 && component.width > 2) {
        component.upsampling = Upsampling::H2V1Smooth;
    } else if (fx == 1 && fy == 2) {
        component.upsampling = Upsampling::H1V2Smooth;
    } else if (fx == 2 && fy == 2 && component.width > 2) {
        component.upsampling = Upsampling::H2V2Smooth;
    } else {
        component.upsampling = Upsampling::Replicate;
    }
    return true;
}

}  // namespace fotolane::picture::detail
