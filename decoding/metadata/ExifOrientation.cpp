// A JPEG's EXIF Orientation: read with exiv2, applied by turning and
// mirroring the decoded rows.

#include <algorithm>
#include <cstddef>
#include <optional>

#include "decoding/jpeg/JpegSegments.h"
#include "decoding/metadata/Exif.h"
#include "decoding/metadata/Exiv2Session.h"

namespace fotolane::picture::detail {

namespace {

// The bytes of an EXIF block read first: the first directory (IFD0) follows
// the TIFF header in the files of every camera and program, and holds the
// Orientation among its first entries (they are sorted by tag, 0x0112 comes
// early). exiv2 decodes everything it is given, maker notes included, at a
// cost of microseconds per entry and up to tens of milliseconds for some
// makers' notes (bench/metadata_bench.cpp); the head costs some tens of
// microseconds.
constexpr std::size_t kHeadBytes = 256;

// What the block's IFD0 says of the orientation: nothing when exiv2 found
// no Orientation tag in it (or refused the block). A tag that is there but
// not one SHORT or more leaves the picture as stored.
std::optional<Orientation> OrientationIn(Bytes tiff, bool& whole) {
    Exiv2::ExifData data;
    Exiv2::ByteOrder order = Exiv2::invalidByteOrder;
    whole = DecodeExif(tiff, data, order);
    if (!whole) return std::nullopt;
    static const Exiv2::ExifKey kOrientation(0x0112, "Image");
    const auto found = data.findKey(kOrientation);
    if (found == data.end()) return std::nullopt;
    // One entry's value outside the head is cut to nothing: not yet known.
    if (found->typeId() == Exiv2::unsignedShort && found->count() < 1) {
        whole = false;
        return std::nullopt;
    }
    if (found->typeId() != Exiv2::unsignedShort) return Orientation::Upright;
    return OrientationOfTag(static_cast<int>(found->toLong(0)));
}

}  // namespace

Orientation OrientationOfTag(int value) {
    return value >= 1 && value <= 8 ? static_cast<Orientation>(value) : Orientation::Upright;
}

bool SwapsWidthAndHeight(Orientation orientation) {
    return static_cast<int>(orientation) >=
           static_cast<int>(Orientation::MirroredAboutMainDiagonal);
}

Orientation ReadExifOrientation(Bytes jpeg) {
    // The EXIF segment that browsers read (JpegSegments), its TIFF block
    // decoded by exiv2; a damaged block decodes as far as it goes, and
    // without an orientation in it the picture is shown as stored.
    const Bytes tiff = ExifTiffData(jpeg);
    if (tiff.empty()) return Orientation::Upright;
    bool whole = false;
    if (tiff.size() > kHeadBytes) {
        // The head answers unless IFD0 goes on past it (or exiv2 refused
        // the head, whose IFD0 then starts beyond it).
        const Bytes head = tiff.first(kHeadBytes);
        const std::optional<Orientation> inHead = OrientationIn(head, whole);
        if (inHead) return *inHead;
        if (whole && !ReadFirstDirectory(head).cut) return Orientation::Upright;
    }
    return OrientationIn(tiff, whole).value_or(Orientation::Upright);
}

PictureSize OrientedSize(PictureSize stored, Orientation orientation) {
    if (SwapsWidthAndHeight(orientation)) return {stored.height, stored.width};
    return stored;
}

StoredPixel StoredPixelOf(Orientation orientation, std::int32_t u, std::int32_t v,
                          PictureSize stored) {
    const std::int32_t lastX = stored.width - 1;
    const std::int32_t lastY = stored.height - 1;
    switch (orientation) {
        case Orientation::Upright:
            return {u, v};
        case Orientation::MirroredLeftToRight:
            return {lastX - u, v};
        case Orientation::HalfTurn:
            return {lastX - u, lastY - v};
        case Orientation::MirroredTopToBottom:
            return {u, lastY - v};
        case Orientation::MirroredAboutMainDiagonal:
            return {v, u};
        case Orientation::QuarterTurnClockwise:
            return {v, lastY - u};
        case Orientation::MirroredAboutOtherDiagonal:
            return {lastX - v, lastY - u};
        case Orientation::QuarterTurnCounterClockwise:
            return {lastX - v, u};
    }
    return {u, v};
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

    // The quarter turns and diagonal mirrors swap width and height: into new
    // rows. Stored pixel (x, y), counted from the top left, is at bits +
    // (height - 1 - y) * stride + 3 * x (rows are bottom-up); since the
    // mapping is affine, shown pixel (u, v) is at origin + u * stepU + v *
    // stepV.
    const PictureSize size{stored.width, stored.height};
    const auto at = [&](std::int32_t u, std::int32_t v) {
        const StoredPixel pixel = StoredPixelOf(orientation, u, v, size);
        return (std::ptrdiff_t{size.height} - 1 - pixel.y) * stored.stride +
               std::ptrdiff_t{3} * pixel.x;
    };
    const std::ptrdiff_t origin = at(0, 0);
    const std::ptrdiff_t stepU = at(1, 0) - origin;
    const std::ptrdiff_t stepV = at(0, 1) - origin;

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
