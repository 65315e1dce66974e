#include "imaging/AreaResize.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "platform/core/Fault.h"

namespace fotolane::imaging {
namespace {

// The source pixels that one target pixel covers along one axis, with the
// share of each: the shares add up to 1.
struct Span {
    std::int32_t first = 0;
    std::vector<float> weights;
};

std::vector<Span> SpansFor(std::int32_t sourceLength, std::int32_t targetLength) {
    const double scale = static_cast<double>(sourceLength) / targetLength;
    std::vector<Span> spans(static_cast<std::size_t>(targetLength));
    for (std::int32_t t = 0; t < targetLength; ++t) {
        const double start = t * scale;
        const double end = std::min((t + 1) * scale, static_cast<double>(sourceLength));
        Span& span = spans[static_cast<std::size_t>(t)];
        span.first = static_cast<std::int32_t>(std::floor(start));
        const auto last = std::min(static_cast<std::int32_t>(std::ceil(end)), sourceLength) - 1;
        for (std::int32_t s = span.first; s <= last; ++s) {
            const double covered = std::min(end, s + 1.0) - std::max(start, static_cast<double>(s));
            span.weights.push_back(static_cast<float>(covered / (end - start)));
        }
    }
    return spans;
}

// One source row reduced to the target width: 3 floats per target pixel.
void ReduceRow(const std::uint8_t* row, const std::vector<Span>& columns, float* out) {
    for (const Span& span : columns) {
        float b = 0, g = 0, r = 0;
        const std::uint8_t* pixel = row + 3 * static_cast<std::ptrdiff_t>(span.first);
        for (const float weight : span.weights) {
            b += weight * pixel[0];
            g += weight * pixel[1];
            r += weight * pixel[2];
            pixel += 3;
        }
        *out++ = b;
        *out++ = g;
        *out++ = r;
    }
}

std::uint8_t ToByte(float value) {
    return static_cast<std::uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f));
}

}  // namespace

PixelRows ResizeByArea(const PixelRows& source, std::int32_t width, std::int32_t height) {
    if (!source.bits || source.width < 1 || source.height < 1 || width < 1 || height < 1) {
        throw Fault::SubscriptOutOfRange();
    }
    PixelRows target = AllocatePixelRows(width, height);
    const std::vector<Span> columns = SpansFor(source.width, width);
    const std::vector<Span> rows = SpansFor(source.height, height);
    const auto values = static_cast<std::size_t>(width) * 3;

    // Consecutive target rows share at most the source rows at their common
    // edge, so the reduced rows of the last span are kept for the next one.
    std::vector<float> reduced;
    std::int32_t reducedFirst = 0;
    std::int32_t reducedCount = 0;
    std::vector<float> sum(values);
    for (std::int32_t t = 0; t < height; ++t) {
        const Span& span = rows[static_cast<std::size_t>(t)];
        const auto count = static_cast<std::int32_t>(span.weights.size());
        std::vector<float> next(static_cast<std::size_t>(count) * values);
        for (std::int32_t k = 0; k < count; ++k) {
            const std::int32_t s = span.first + k;
            float* into = next.data() + static_cast<std::size_t>(k) * values;
            if (s >= reducedFirst && s < reducedFirst + reducedCount) {
                const float* kept =
                    reduced.data() + static_cast<std::size_t>(s - reducedFirst) * values;
                std::copy(kept, kept + values, into);
            } else {
                ReduceRow(source.ScanLine(s), columns, into);
            }
        }
        reduced.swap(next);
        reducedFirst = span.first;
        reducedCount = count;

        std::fill(sum.begin(), sum.end(), 0.0f);
        for (std::int32_t k = 0; k < count; ++k) {
            const float weight = span.weights[static_cast<std::size_t>(k)];
            const float* row = reduced.data() + static_cast<std::size_t>(k) * values;
            for (std::size_t v = 0; v < values; ++v) sum[v] += weight * row[v];
        }
        std::uint8_t* out = target.ScanLine(t);
        for (std::size_t v = 0; v < values; ++v) out[v] = ToByte(sum[v]);
    }
    return target;
}

}  // namespace fotolane::imaging
