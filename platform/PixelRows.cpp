#include "platform/PixelRows.h"

#include "platform/Fault.h"
#include "platform/Numbers.h"

namespace fotolane {

std::int32_t StrideOf24BitRow(std::int32_t width) {
    return CheckedAdd(CheckedMul(width, 3), 3) & ~3;
}

PixelRows AllocatePixelRows(std::int32_t width, std::int32_t height) {
    PixelRows rows;
    if (width <= 0 || height <= 0) return rows;
    const std::int32_t stride = StrideOf24BitRow(width);
    const std::int32_t size = CheckedMul(stride, height);
    // calloc: the zero fill of a large picture costs nothing up front.
    rows.bits.reset(static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(size), 1)));
    if (!rows.bits) throw Fault::OutOfMemory();
    rows.width = width;
    rows.height = height;
    rows.stride = stride;
    return rows;
}

}  // namespace fotolane
