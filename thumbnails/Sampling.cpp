#include "thumbnails/Sampling.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"

namespace fotolane::thumbnails {
namespace {

// The first of three bytes at `index`, checked against an array of `size`
// bytes; offsets are 64-bit so that they stay exact for any picture size.
std::size_t PixelIndex(std::int64_t index, std::size_t size) {
    if (index < 0 || static_cast<std::uint64_t>(index) + 2 >= size) {
        throw Fault::SubscriptOutOfRange();
    }
    return static_cast<std::size_t>(index);
}

// Byte offset of the row `fromTop` counted from the top of a bottom-up picture.
std::int64_t RowFromTop(const RowLayout& layout, std::int64_t fromTop) {
    return (static_cast<std::int64_t>(layout.height) - 1 - fromTop) * layout.scanWidth;
}

}  // namespace

ThumbnailSize ThumbnailSizeFor(std::int32_t sourceWidth, std::int32_t sourceHeight,
                               std::int32_t lSize) {
    // In double arithmetic x / 0 is infinite, not a fault; the size step
    // reports it as one.
    if (lSize == 0) throw Fault::DivisionByZero();
    const double size = static_cast<double>(lSize);
    ThumbnailSize thumb;
    if (sourceWidth > sourceHeight) {
        thumb.width = lSize;
        thumb.height = RoundHalfEven(static_cast<double>(sourceHeight) /
                                     (static_cast<double>(sourceWidth) / size));
        if (thumb.height == 0) thumb.height = 1;
    } else {
        thumb.height = lSize;
        thumb.width = RoundHalfEven(static_cast<double>(sourceWidth) /
                                    (static_cast<double>(sourceHeight) / size));
        if (thumb.width == 0) thumb.width = 1;
    }
    return thumb;
}

float SamplingStep(std::int32_t sourceLength, std::int32_t thumbLength) {
    if (thumbLength == 0) throw Fault::DivisionByZero();
    return static_cast<float>(static_cast<double>(sourceLength) / static_cast<double>(thumbLength));
}

SampledExtent SampleNearest(std::span<const std::uint8_t> source, const RowLayout& sourceLayout,
                            float stepX, float stepY, std::span<std::uint8_t> thumb,
                            const RowLayout& thumbLayout) {
    // No array has a negative length.
    if (thumbLayout.width < 0 || thumbLayout.height < 0) throw Fault::SubscriptOutOfRange();
    const double lastRow = static_cast<double>(sourceLayout.height) - 1.0;
    const double lastColumn = static_cast<double>(sourceLayout.width) - 1.0;
    SampledExtent reached;
    // Every row takes the same columns: walked once, their byte offsets.
    std::vector<std::int64_t> columns;
    float x = 0.0f;
    for (std::int64_t c = 0; static_cast<double>(x) <= lastColumn && c < thumbLayout.width; ++c) {
        columns.push_back(3 * std::int64_t{RoundHalfEven(static_cast<double>(x))});
        x = x + stepX;
    }
    float y = 0.0f;
    std::int64_t r = 0;
    // The float positions drift: with a large step (a picture tens of
    // thousands of pixels long) their sum can stay below the source's last
    // pixel one step after the thumbnail's last one. The walk also stops
    // there.
    while (static_cast<double>(y) <= lastRow && r < thumbLayout.height) {
        const std::int64_t sy = RoundHalfEven(static_cast<double>(y));
        const std::int64_t sourceRow = RowFromTop(sourceLayout, sy);
        const std::int64_t thumbRow = RowFromTop(thumbLayout, r);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::size_t from = PixelIndex(sourceRow + columns[c], source.size());
            const std::size_t to =
                PixelIndex(thumbRow + 3 * static_cast<std::int64_t>(c), thumb.size());
            thumb[to + 2] = source[from + 2];
            thumb[to + 1] = source[from + 1];
            thumb[to] = source[from];
        }
        reached.columns = static_cast<std::int32_t>(columns.size());
        y = y + stepY;
        ++r;
    }
    reached.rows = static_cast<std::int32_t>(r);
    return reached;
}

std::vector<std::int32_t> WalkPositions(std::int32_t sourceLength, float step,
                                        std::int32_t thumbLength) {
    const double last = static_cast<double>(sourceLength) - 1.0;
    std::vector<std::int32_t> positions;
    float at = 0.0f;
    for (std::int32_t taken = 0; static_cast<double>(at) <= last && taken < thumbLength; ++taken) {
        const auto position = static_cast<std::int32_t>(RoundHalfEven(static_cast<double>(at)));
        if (positions.empty() || positions.back() != position) positions.push_back(position);
        // A step lost in the rounding of a large position never moves on:
        // the walk stays at this position to the end.
        if (at + step == at) break;
        at = at + step;
    }
    return positions;
}

void FillUnreached(std::span<std::uint8_t> thumb, const RowLayout& thumbLayout,
                   SampledExtent reached) {
    const std::int32_t rows = std::min(reached.rows, thumbLayout.height);
    const std::int32_t columns = std::min(reached.columns, thumbLayout.width);
    if (rows <= 0 || columns <= 0) return;
    if (static_cast<std::int64_t>(thumbLayout.height) * thumbLayout.scanWidth >
            static_cast<std::int64_t>(thumb.size()) ||
        static_cast<std::int64_t>(thumbLayout.width) * 3 > thumbLayout.scanWidth) {
        throw Fault::SubscriptOutOfRange();
    }
    for (std::int32_t r = 0; r < rows; ++r) {
        std::uint8_t* row = thumb.data() + RowFromTop(thumbLayout, r);
        const std::uint8_t* last = row + 3 * static_cast<std::ptrdiff_t>(columns - 1);
        for (std::int32_t c = columns; c < thumbLayout.width; ++c) {
            std::memcpy(row + 3 * static_cast<std::ptrdiff_t>(c), last, 3);
        }
    }
    const std::uint8_t* lastRow = thumb.data() + RowFromTop(thumbLayout, rows - 1);
    const std::size_t pixelBytes = 3 * static_cast<std::size_t>(thumbLayout.width);
    for (std::int32_t r = rows; r < thumbLayout.height; ++r) {
        std::memcpy(thumb.data() + RowFromTop(thumbLayout, r), lastRow, pixelBytes);
    }
}

}  // namespace fotolane::thumbnails
