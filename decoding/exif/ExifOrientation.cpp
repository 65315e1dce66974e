// A JPEG's EXIF Orientation: read with libexif, applied by turning and
// mirroring the decoded rows.

#include <libexif/exif-data.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "decoding/PictureDecoding.h"
#include "decoding/jpeg/JpegSegments.h"

namespace fotolane::picture::detail {

namespace {

struct ExifDataReleaser {
    void operator()(ExifData* data) const noexcept { exif_data_unref(data); }
};

}  // namespace

Orientation OrientationOfTag(int value) {
    return value >= 1 && value <= 8 ? static_cast<Orientation>(value) : Orientation::Upright;
}

bool SwapsWidthAndHeight(Orientation orientation) {
    return static_cast<int>(orientation) >=
           static_cast<int>(Orientation::MirroredAboutMainDiagonal);
}

Orientation ReadExifOrientation(Bytes jpeg) {
    // libexif's own search for the EXIF segment gives up at the first
    // segment it does not expect (a comment, say): it is handed the EXIF
    // data alone, behind the header it wants ("Exif" and two null bytes;
    // files may carry another fill byte).
    const Bytes tiff = ExifTiffData(jpeg);
    if (tiff.empty()) return Orientation::Upright;
    std::vector<std::uint8_t> exif = {'E', 'x', 'i', 'f', 0, 0};
    exif.insert(exif.end(), tiff.begin(), tiff.end());

    std::unique_ptr<ExifData, ExifDataReleaser> data(exif_data_new());
    if (!data) return Orientation::Upright;
    // As found, not "fixed" to the standard: libexif would otherwise add
    // missing entries with default values.
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    // A damaged block loads as far as it goes; without an orientation in
    // it, the picture is shown as stored.
    exif_data_load_data(data.get(), exif.data(), static_cast<unsigned int>(exif.size()));
    // The tag of the first IFD describes the picture; the second IFD's is
    // the embedded thumbnail's.
    ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (entry == nullptr || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 ||
        entry->data == nullptr || entry->size < 2) {
        return Orientation::Upright;
    }
    return OrientationOfTag(exif_get_short(entry->data, exif_data_get_byte_order(data.get())));
}

PictureSize OrientedSize(PictureSize stored, Orientation orientation) {
    if (SwapsWidthAndHeight(orientation)) return {stored.height, stored.width};
    return stored;
}

namespace {

void MirrorLeftToRight(PixelRows& rows) {
    for (std::int32_t s = 0; s < rows.height; ++s) {
        std::uint8_t* left = rows.ScanLine(s);
        std::uint8_t* right = left + 3 * (rows.width - 1);
        for (; left < right; left += 3, right -= 3) std::swap_ranges(left, left + 3, right);
    }
}

void MirrorTopToBottom(PixelRows& rows) {
    const auto rowBytes = static_cast<std::ptrdiff_t>(3) * rows.width;
    for (std::int32_t s = 0, t = rows.height - 1; s < t; ++s, --t) {
        std::swap_ranges(rows.ScanLine(s), rows.ScanLine(s) + rowBytes, rows.ScanLine(t));
    }
}

}  // namespace

PixelRows ApplyOrientation(PixelRows stored, Orientation orientation) {
    using enum Orientation;
    if (orientation == Upright || !stored.bits) return stored;
    // Those that keep the size are done in place.
    if (orientation == MirroredLeftToRight || orientation == HalfTurn) MirrorLeftToRight(stored);
    if (orientation == HalfTurn || orientation == MirroredTopToBottom) MirrorTopToBottom(stored);
    if (!SwapsWidthAndHeight(orientation)) return stored;
    const PictureSize shown = OrientedSize({stored.width, stored.height}, orientation);
    PixelRows rows = AllocatePixelRows(shown.width, shown.height);

    // The quarter turns and diagonal mirrors swap width and height: into new rows. Stored pixel (x,
    // y), counted from the top left, is at bits + (height - 1 - y) * stride + 3 * x (rows are
    // bottom-up). Each orientation maps the shown pixel (u, v) to a stored pixel whose address is
    // origin + u * stepU + v * stepV.
    const std::ptrdiff_t pixel = 3;
    const std::ptrdiff_t line = stored.stride;  // one row up in the picture: -line
    const std::ptrdiff_t lastX = stored.width - 1;
    const std::ptrdiff_t lastY = stored.height - 1;
    const auto at = [&](std::ptrdiff_t x, std::ptrdiff_t y) {
        return (lastY - y) * line + x * pixel;
    };
    std::ptrdiff_t origin = 0;
    std::ptrdiff_t stepU = 0;
    std::ptrdiff_t stepV = 0;
    switch (orientation) {
        case MirroredAboutMainDiagonal:  // (v, u)
            origin = at(0, 0), stepU = -line, stepV = pixel;
            break;
        case QuarterTurnClockwise:  // (v, lastY - u)
            origin = at(0, lastY), stepU = line, stepV = pixel;
            break;
        case MirroredAboutOtherDiagonal:  // (lastX - v, lastY - u)
            origin = at(lastX, lastY), stepU = line, stepV = -pixel;
            break;
        default:  // QuarterTurnCounterClockwise: (lastX - v, u)
            origin = at(lastX, 0), stepU = -line, stepV = -pixel;
            break;
    }

    // In tiles, so that reading down a stored column stays within the cache.
    constexpr std::int32_t kTile = 64;
    const std::uint8_t* from = stored.bits.get();
    for (std::int32_t v0 = 0; v0 < rows.height; v0 += kTile) {
        const std::int32_t vEnd = std::min(rows.height, v0 + kTile);
        for (std::int32_t u0 = 0; u0 < rows.width; u0 += kTile) {
            const std::int32_t uEnd = std::min(rows.width, u0 + kTile);
            for (std::int32_t v = v0; v < vEnd; ++v) {
                std::uint8_t* to = rows.ScanLine(rows.height - 1 - v) + 3 * u0;
                const std::uint8_t* source = from + origin + v * stepV + u0 * stepU;
                for (std::int32_t u = u0; u < uEnd; ++u, to += 3, source += stepU) {
                    to[0] = source[0];
                    to[1] = source[1];
                    to[2] = source[2];
                }
            }
        }
    }
    return rows;
}

}  // namespace fotolane::picture::detail
