#pragma once

#include <cstdint>

#include "platform/core/PixelRows.h"

namespace fotolane::imaging {

// The picture at width x height by area averaging: every target pixel is the
// mean of the source area it covers, each source pixel weighted by the part
// of it that lies inside. Unlike point sampling it loses no detail to
// aliasing when shrinking by large factors (a 5000-pixel photograph to a
// 140-pixel thumbnail); enlarging blends at most two source pixels per axis.
// Rows in and out are 24-bit bottom-up (PixelRows); the mapping is the same
// from either end, so the rows are worked on in memory order. A source
// without pixels or a target size below 1 is a "Subscript out of range"
// fault; memory that cannot be had, "Out of memory".
PixelRows ResizeByArea(const PixelRows& source, std::int32_t width, std::int32_t height);

}  // namespace fotolane::imaging
