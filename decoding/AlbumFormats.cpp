#include "decoding/AlbumFormats.h"

#include <cstring>
#include <limits>

#include "platform/core/Fault.h"

namespace fotolane::picture::detail {

PixelRows WhiteRows(PictureSize size, const std::string& path) {
    CheckPictureSize(size, path);
    PixelRows rows = AllocatePixelRows(size.width, size.height);
    const std::size_t lineBytes = 3 * static_cast<std::size_t>(size.width);
    for (std::int32_t s = 0; s < rows.height; ++s) std::memset(rows.ScanLine(s), 0xFF, lineBytes);
    return rows;
}

PictureMemory DrawWorkingMemory(PictureSize size, std::size_t bytesPerPixel, std::size_t fixed) {
    const auto pixels =
        static_cast<std::uint64_t>(size.width) * static_cast<std::uint64_t>(size.height);
    const std::uint64_t most = std::numeric_limits<std::size_t>::max() / 2;
    if (bytesPerPixel != 0 && pixels > (most - fixed) / bytesPerPixel) throw Fault::OutOfMemory();
    return PictureMemory(static_cast<std::size_t>(pixels * bytesPerPixel + fixed));
}

void PutRgbLine(const std::uint8_t* rgb, std::int32_t width, std::uint8_t* bgr) {
    for (std::int32_t x = 0; x < width; ++x, rgb += 3, bgr += 3) {
        bgr[0] = rgb[2];
        bgr[1] = rgb[1];
        bgr[2] = rgb[0];
    }
}

void PutRgbaLine(const std::uint8_t* rgba, std::int32_t width, std::uint8_t* bgr) {
    for (std::int32_t x = 0; x < width; ++x, rgba += 4, bgr += 3) {
        const std::uint32_t alpha = rgba[3];
        bgr[0] = OverWhite(rgba[2], alpha);
        bgr[1] = OverWhite(rgba[1], alpha);
        bgr[2] = OverWhite(rgba[0], alpha);
    }
}

}  // namespace fotolane::picture::detail
