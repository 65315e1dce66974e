#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace fotolane::thumbnails {

// Width and height in pixels.
struct ThumbnailSize {
    std::int32_t width = 0;
    std::int32_t height = 0;

    bool operator==(const ThumbnailSize&) const = default;
};

// The thumbnail of a sourceWidth x sourceHeight picture whose longer side is
// lSize pixels. The shorter side is the longer side's ratio applied to it, in
// double precision and in this order: first longer side / lSize, then the
// shorter side divided by that, rounded half to even. A square counts as
// portrait. The shorter side is at least 1 pixel, so that a very elongated
// picture still gets a thumbnail; lSize 0 is a "Division by zero" fault.
ThumbnailSize ThumbnailSizeFor(std::int32_t sourceWidth, std::int32_t sourceHeight,
                               std::int32_t lSize);

// The layout of 24-bit rows in a byte array: height rows of scanWidth bytes,
// bottom-up (the first row in memory is the picture's last line), 3 bytes
// per pixel in the order blue, green, red.
struct RowLayout {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t scanWidth = 0;
};

// The distance in source pixels between two sampled pixels: the source
// length over the thumbnail length in double precision, kept as a 32-bit
// float. A thumbnail length of 0 is a "Division by zero" fault.
float SamplingStep(std::int32_t sourceLength, std::int32_t thumbLength);

// How many thumbnail rows (from the top) and columns (from the left) the
// walk wrote.
struct SampledExtent {
    std::int32_t rows = 0;
    std::int32_t columns = 0;
};

// Point-samples the thumbnail from the source rows. The positions are 32-bit
// floats advanced by adding the step (never by multiplying), each rounded
// half to even to pick a source pixel; rows are counted from the top of both
// pictures. The walk stops at the source's last row and column, so it may
// write fewer thumbnail rows or columns than there are (an enlarged picture,
// or a step barely above 1), and at the thumbnail's last row and column,
// which the summed positions of a very long side would otherwise pass. Every
// byte index is checked against its array: one outside it is a "Subscript
// out of range" fault, and so is a negative thumbnail size.
SampledExtent SampleNearest(std::span<const std::uint8_t> source, const RowLayout& sourceLayout,
                            float stepX, float stepY, std::span<std::uint8_t> thumb,
                            const RowLayout& thumbLayout);

// The source columns (or rows) that SampleNearest reads along a source
// side of `sourceLength` pixels with this step for a thumbnail side of
// `thumbLength`: the same positions in the same arithmetic, ascending, each
// once.
std::vector<std::int32_t> WalkPositions(std::int32_t sourceLength, float step,
                                        std::int32_t thumbLength);

// Gives the thumbnail pixels that the walk did not reach the colour of the
// nearest pixel it wrote: columns right of the reached ones repeat the last
// reached column, rows below the reached ones repeat the last reached row.
// Row padding stays as it is.
void FillUnreached(std::span<std::uint8_t> thumb, const RowLayout& thumbLayout,
                   SampledExtent reached);

}  // namespace fotolane::thumbnails
