#include <algorithm>
#include <cstring>

#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

namespace {

std::int32_t NextIn(const std::vector<std::int32_t>& positions, std::int32_t from,
                    std::int32_t end) {
    const auto at = std::lower_bound(positions.begin(), positions.end(), from);
    return at == positions.end() ? end : std::min(*at, end);
}

}  // namespace

bool WantedPixels::Line(std::int32_t y) const {
    return Every() || std::binary_search(sampled_->rows.begin(), sampled_->rows.end(), y);
}

std::int32_t WantedPixels::NextLine(std::int32_t from, std::int32_t end) const {
    return Every() ? std::min(from, end) : NextIn(sampled_->rows, from, end);
}

std::int32_t WantedPixels::NextColumn(std::int32_t from, std::int32_t end) const {
    return Every() ? std::min(from, end) : NextIn(sampled_->columns, from, end);
}

void WantedPixels::ShapeRows(PixelRows& rows, std::int32_t width, std::int32_t height) const {
    if (Every()) {
        // The old block goes first, so that both never take memory at once.
        rows = PixelRows();
        rows = AllocatePixelRows(width, height);
    } else {
        ReshapePixelRows(rows, width, height);
    }
}

void WantedPixels::Fill(PixelRows& rows, const std::uint8_t* bgr) const {
    for (std::int32_t y = NextLine(0, rows.height); y < rows.height;
         y = NextLine(y + 1, rows.height)) {
        std::uint8_t* line = rows.ScanLine(rows.height - 1 - y);
        if (Every() && bgr[0] == bgr[1] && bgr[1] == bgr[2]) {
            std::memset(line, bgr[0], 3 * static_cast<std::size_t>(rows.width));
            continue;
        }
        for (std::int32_t x = NextColumn(0, rows.width); x < rows.width;
             x = NextColumn(x + 1, rows.width)) {
            std::memcpy(line + 3 * static_cast<std::ptrdiff_t>(x), bgr, 3);
        }
    }
}

}  // namespace fotolane::picture::detail
