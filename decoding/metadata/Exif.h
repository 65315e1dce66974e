#pragma once

// What a JPEG's EXIF data tells the decoders: the orientation, with the
// geometry of applying it, and the date the picture was taken.

#include <cstdint>
#include <string>
#include <string_view>

#include "decoding/PictureDecoding.h"

namespace fotolane::picture::detail {

// EXIF orientation: how the stored pixels are to be turned or mirrored to
// stand as meant, by the values 1 to 8 of the Orientation tag.
enum class Orientation : int {
    Upright = 1,
    MirroredLeftToRight = 2,
    HalfTurn = 3,
    MirroredTopToBottom = 4,
    MirroredAboutMainDiagonal = 5,
    QuarterTurnClockwise = 6,
    MirroredAboutOtherDiagonal = 7,
    QuarterTurnCounterClockwise = 8,
};
// The orientation a tag value means; 0 and values beyond 8 mean nothing, and
// the picture is shown as stored.
Orientation OrientationOfTag(int value);
// Whether the orientation turns the picture by a quarter (width and height swap).
bool SwapsWidthAndHeight(Orientation orientation);

// A JPEG's orientation (Upright when it has none or it is not valid), the
// size once it is applied, and the pixels turned and mirrored so that the
// picture stands as it is meant to.
Orientation ReadExifOrientation(Bytes jpeg);
PictureSize OrientedSize(PictureSize stored, Orientation orientation);
PixelRows ApplyOrientation(PixelRows stored, Orientation orientation);

// The stored pixel that shown pixel (u, v) comes from, both counted from the
// top left, in a stored picture of the size `stored`: the one mapping of the
// eight orientations, which ApplyOrientation and the sampled JPEG path
// follow. It is affine in u and v.
struct StoredPixel {
    std::int32_t x;
    std::int32_t y;
};
StoredPixel StoredPixelOf(Orientation orientation, std::int32_t u, std::int32_t v,
                          PictureSize stored);

// The EXIF DateTimeOriginal of a JPEG's first segments, and the check and
// reshaping of its text ("2004:06:12 14:03:05" to "2004-06-12T14:03:05";
// empty for anything else, an all-zero date included).
std::string ReadDateTaken(Bytes jpeg);
std::string DateTakenFromExif(std::string_view value);

}  // namespace fotolane::picture::detail
