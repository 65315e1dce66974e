#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>

#include "imaging/cDIBSection.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"

namespace fotolane::imaging {
namespace {

// The whole part of a source position whose neighbour one step further on
// (the next column or scan line) must still lie inside a source of `size`
// pixels: 0 <= floor(position) <= size - 2. Anything else would read outside
// the source, and is a "Subscript out of range" fault instead.
std::int32_t NeighbourPairStart(float position, std::int32_t size) {
    if (!(position >= 0.0F && static_cast<double>(position) < static_cast<double>(size) - 1.0)) {
        throw Fault::SubscriptOutOfRange();
    }
    return static_cast<std::int32_t>(std::floor(position));
}

// A blend of two whole values, in double precision, rounded half to even.
std::int32_t Blend(double weightOfFirst, double first, double weightOfSecond, double second) {
    return RoundHalfEven(weightOfFirst * first + weightOfSecond * second);
}

}  // namespace

std::unique_ptr<cDIBSection> cDIBSection::Resample(std::int32_t lNewHeight,
                                                   std::int32_t lNewWidth) const {
    auto resampled = std::make_unique<cDIBSection>();
    if (!resampled->Create(lNewWidth, lNewHeight)) return nullptr;
    if (lNewWidth == Width() && lNewHeight == Height()) {
        resampled->LoadPictureBlt(m_hDC);
    } else {
        // A fault releases the new buffer on its way to the caller.
        ResampleBilinear(*resampled);
    }
    return resampled;
}

void cDIBSection::ResampleBilinear(cDIBSection& target) const {
    const std::int32_t sourceWidth = Width();
    const std::int32_t sourceHeight = Height();
    const std::int32_t targetWidth = target.Width();
    const std::int32_t targetHeight = target.Height();
    const std::uint8_t* const source = DIBSectionBitsPtr();
    std::uint8_t* const destination = target.DIBSectionBitsPtr();
    if (destination == nullptr || targetWidth <= 0 || targetHeight <= 0) return;
    // Without pixel memory every read would be out of range.
    if (source == nullptr) throw Fault::SubscriptOutOfRange();
    const std::ptrdiff_t sourceStride = BytesPerScanLine();
    const std::ptrdiff_t targetStride = target.BytesPerScanLine();

    // The divisor is the target size itself: target column 0 falls on source
    // column 0, and the last target column one scale step short of the last
    // source column, so that every right neighbour exists (likewise rows).
    const auto xScale = static_cast<float>((static_cast<double>(sourceWidth) - 1.0) / targetWidth);
    const auto yScale =
        static_cast<float>((static_cast<double>(sourceHeight) - 1.0) / targetHeight);

    for (std::int32_t y = 0; y < targetHeight; ++y) {
        const auto sourceY = static_cast<float>(static_cast<double>(yScale) * y);
        const std::int32_t iy = NeighbourPairStart(sourceY, sourceHeight);
        const float fy = sourceY - static_cast<float>(iy);
        const std::uint8_t* const lower = source + iy * sourceStride;
        const std::uint8_t* const upper = lower + sourceStride;
        std::uint8_t* const out = destination + y * targetStride;

        for (std::int32_t x = 0; x < targetWidth; ++x) {
            const auto sourceX = static_cast<float>(static_cast<double>(xScale) * x);
            const std::int32_t ix = NeighbourPairStart(sourceX, sourceWidth);
            const float fx = sourceX - static_cast<float>(ix);
            const std::uint8_t* const lowerLeft = lower + std::ptrdiff_t{3} * ix;
            const std::uint8_t* const upperLeft = upper + std::ptrdiff_t{3} * ix;

            for (std::ptrdiff_t channel = 0; channel < 3; ++channel) {
                // Vertical first, each blend rounded to a whole number before
                // the horizontal blend uses it.
                const std::int32_t left =
                    Blend(1.0 - fy, lowerLeft[channel], fy, upperLeft[channel]);
                const std::int32_t right =
                    Blend(1.0 - fy, lowerLeft[channel + 3], fy, upperLeft[channel + 3]);
                const std::int32_t value = Blend(1.0 - fx, left, fx, right);
                out[3 * x + channel] = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
            }
        }
    }
}

}  // namespace fotolane::imaging
