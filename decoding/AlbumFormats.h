#pragma once

// What the album's decoders of PNG, WebP and HEIF (png/, webp/, heif/)
// share: the pixels laid over white, the rows they write into, and their
// draws from the picture memory budget. Nothing outside decoding/ includes
// this header.

#include <cstddef>
#include <cstdint>
#include <string>

#include "decoding/PictureDecoding.h"
#include "platform/core/MemoryBudget.h"
#include "platform/core/PixelRows.h"

namespace fotolane::picture::detail {

// A channel of a pixel of this alpha (0 to 255) laid over white, rounded to
// the nearest level: what Chromium shows of a transparent pixel on a white
// page.
inline std::uint8_t OverWhite(std::uint32_t channel, std::uint32_t alpha) {
    return static_cast<std::uint8_t>((channel * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Rows of the size from a header, every pixel white (what no data reaches),
// the padding zero; "Invalid picture" for a size of zero, "Overflow" past
// the row limits, "Out of memory" past the budget, all before allocating.
PixelRows WhiteRows(PictureSize size, const std::string& path);

// The memory of `pixels` pixels at `bytesPerPixel` each and `fixed` bytes
// besides, drawn from the budget for as long as the object lives: a
// decoder's working memory, drawn before the decoder allocates it.
PictureMemory DrawWorkingMemory(PictureSize size, std::size_t bytesPerPixel, std::size_t fixed);

// Writes `width` pixels of R, G, B (3 bytes) or R, G, B, A (4 bytes) into
// the B, G, R line `bgr`, alpha over white.
void PutRgbLine(const std::uint8_t* rgb, std::int32_t width, std::uint8_t* bgr);
void PutRgbaLine(const std::uint8_t* rgba, std::int32_t width, std::uint8_t* bgr);

}  // namespace fotolane::picture::detail
