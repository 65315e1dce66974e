#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fotolane {

// Gives the memory of pixel rows back, however AllocatePixelRows got it: a
// mapping of its own (`capacity` bytes long) or the heap (capacity 0); and
// the `budgeted` bytes to the picture memory budget (MemoryBudget.h).
struct PixelRowsDeleter {
    std::size_t capacity = 0;
    std::size_t budgeted = 0;
    void operator()(std::uint8_t* bits) const noexcept;
};

// A picture as 24-bit pixel rows, the layout that the drawing layer, the
// image buffer, the JPEG writer and the thumbnail maker share:
// 3 bytes per pixel in the order blue, green, red; every row padded to a
// multiple of 4 bytes (stride = (3 * width + 3) with the two lowest bits
// cleared); rows bottom-up, so that row 0 in memory is the picture's last
// line. The memory is stride * height bytes.
struct PixelRows {
    using FreeDeleter = PixelRowsDeleter;

    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    std::unique_ptr<std::uint8_t[], PixelRowsDeleter> bits;
    // Bytes that `bits` holds, which may be more than stride * height after
    // ReshapePixelRows; 0 when not known.
    std::size_t capacity = 0;

    // Scan line `s` counted from the bottom (memory order).
    std::uint8_t* ScanLine(std::int32_t s) const {
        return bits.get() + static_cast<std::ptrdiff_t>(s) * stride;
    }
};

// The stride of a 24-bit row of `width` pixels; "Overflow" fault when it
// does not fit a signed 32-bit integer.
std::int32_t StrideOf24BitRow(std::int32_t width);

// Zero-filled rows for a width x height picture. Sizes of 0 or below give
// empty rows (null bits). A stride or stride * height beyond the signed 32-bit
// range is an "Overflow" fault; memory that cannot be had, or that the picture
// memory budget has not left, "Out of memory".
// A large picture's memory is a mapping of its own, in huge pages where the
// system has them. Safe to call from several threads at once.
PixelRows AllocatePixelRows(std::int32_t width, std::int32_t height);

// Gives `rows` the layout of a width x height picture, keeping their memory
// when it is large enough (then its bytes are left as they were, not
// zeroed), otherwise as AllocatePixelRows. One block serves picture after
// picture, without the page faults and the zeroing of a fresh one.
void ReshapePixelRows(PixelRows& rows, std::int32_t width, std::int32_t height);

}  // namespace fotolane
