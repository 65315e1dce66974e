// The thumbnail maker's sizing and sampling over random sizes, as
// frmThumbnails::ScaleBits runs them: the thumbnail's size, the steps, the
// nearest-neighbour walk and the fill of what the walk left.
//
// Sizing, for any 32-bit sizes: a size of 0 is the one fault; for a positive
// size the longer side is that size and the shorter one keeps the picture's
// ratio to within rounding (at least 1 pixel).
// Sampling, on a picture whose every pixel tells its own column and row:
// no fault; the walk stays within the thumbnail; each sampled pixel comes
// from near the place the steps point to; every pixel is given a colour and
// row padding is left alone.
//
// Input: 32-bit width, height and size for the sizing; then the picture's
// width and height and the size for the sampling, in ranges that keep both
// pictures within a few megabytes.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz/FuzzTarget.h"
#include "platform/core/Fault.h"
#include "platform/core/PixelRows.h"
#include "thumbnails/Sampling.h"

namespace fotolane::fuzz {
namespace {

using thumbnails::RowLayout;
using thumbnails::SampledExtent;
using thumbnails::ThumbnailSize;

// Pixels of each picture, so that one input costs at most a few milliseconds.
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 20;
// Wider than the widest picture that once made the walk run past the
// thumbnail (65410 pixels).
constexpr std::int64_t kMaxSide = 70000;

std::string Sizes(std::int64_t w, std::int64_t h, std::int64_t size) {
    return std::to_string(w) + " x " + std::to_string(h) + " at " + std::to_string(size);
}

void CheckSizing(std::int32_t w, std::int32_t h, std::int32_t size) {
    ThumbnailSize thumb;
    try {
        thumb = thumbnails::ThumbnailSizeFor(w, h, size);
    } catch (const Fault& fault) {
        FUZZ_CHECK(size == 0 && fault.Message() == "Division by zero",
                   fault.Message() + ": " + Sizes(w, h, size));
        return;
    }
    FUZZ_CHECK(size != 0, Sizes(w, h, size));
    if (size < 0) return;  // a negative size is refused later, when sampling
    const bool landscape = w > h;
    const std::int32_t longer = landscape ? thumb.width : thumb.height;
    const std::int32_t shorter = landscape ? thumb.height : thumb.width;
    FUZZ_CHECK(longer == size && shorter >= 1 && shorter <= size, Sizes(w, h, size));
    const double ratio = static_cast<double>(landscape ? h : w) / (landscape ? w : h);
    const double exact = ratio * size;
    FUZZ_CHECK(shorter == 1 ? exact <= 1.5 + 1e-9 : std::fabs(shorter - exact) <= 0.5 + 1e-6,
               Sizes(w, h, size) + " gives " + std::to_string(shorter));
}

// Source pixel (x, y from the top): blue, green and bit 6 of red hold x (17
// bits), the low six bits of red y modulo 64; the top bit of red is set, so
// that a pixel the walk and the fill left alone (black) stands out.
void Paint(const PixelRows& rows) {
    for (std::int32_t y = 0; y < rows.height; ++y) {
        std::uint8_t* line = rows.ScanLine(rows.height - 1 - y);
        for (std::int32_t x = 0; x < rows.width; ++x) {
            line[3 * x] = static_cast<std::uint8_t>(x & 0xFF);
            line[3 * x + 1] = static_cast<std::uint8_t>((x >> 8) & 0xFF);
            line[3 * x + 2] = static_cast<std::uint8_t>(0x80 | ((x >> 10) & 0x40) | (y & 0x3F));
        }
    }
}

std::span<std::uint8_t> BytesOf(const PixelRows& rows) {
    return {rows.bits.get(),
            static_cast<std::size_t>(rows.stride) * static_cast<std::size_t>(rows.height)};
}

const std::uint8_t* PixelAt(const PixelRows& rows, std::int32_t c, std::int32_t r) {
    return rows.ScanLine(rows.height - 1 - r) + 3 * static_cast<std::ptrdiff_t>(c);
}

// How far a float walk of `count` additions of `step` may drift from
// count * step, plus the rounding to a pixel: each addition rounds by at
// most half a unit in the last place of positions below kMaxSide (2^17),
// and the step itself is a rounded float.
double Drift(std::int64_t count, float step) {
    return 1.0 +
           static_cast<double>(count) * (std::ldexp(1.0, 17 - 24) + step * std::ldexp(1.0, -24));
}

void CheckSampling(std::int32_t w, std::int32_t h, std::int32_t size) {
    const ThumbnailSize thumb = thumbnails::ThumbnailSizeFor(w, h, size);
    if (std::int64_t{thumb.width} * thumb.height > kMaxPixels) return;
    const std::string what = Sizes(w, h, size);

    const PixelRows source = AllocatePixelRows(w, h);
    Paint(source);
    const float stepX = thumbnails::SamplingStep(w, thumb.width);
    const float stepY = thumbnails::SamplingStep(h, thumb.height);
    const PixelRows rows = AllocatePixelRows(thumb.width, thumb.height);
    const RowLayout layout{thumb.width, thumb.height, rows.stride};
    SampledExtent reached;
    try {
        reached = thumbnails::SampleNearest(BytesOf(source), RowLayout{w, h, source.stride}, stepX,
                                            stepY, BytesOf(rows), layout);
        thumbnails::FillUnreached(BytesOf(rows), layout, reached);
    } catch (const Fault& fault) {
        Broken("sampling raised a fault", fault.Message() + ": " + what, __FILE__, __LINE__);
    }
    FUZZ_CHECK(reached.columns >= 1 && reached.columns <= thumb.width, what);
    FUZZ_CHECK(reached.rows >= 1 && reached.rows <= thumb.height, what);

    const double driftX = Drift(reached.columns, stepX);
    const double driftY = Drift(reached.rows, stepY);
    for (std::int32_t r = 0; r < thumb.height; ++r) {
        for (std::int32_t c = 0; c < thumb.width; ++c) {
            const std::uint8_t* pixel = PixelAt(rows, c, r);
            FUZZ_CHECK((pixel[2] & 0x80) != 0, what + ": pixel " + std::to_string(c) + ", " +
                                                   std::to_string(r) + " left black");
            if (c >= reached.columns || r >= reached.rows) {
                // Beyond the walk: the colour of the nearest pixel it wrote.
                const std::uint8_t* nearest =
                    PixelAt(rows, std::min(c, reached.columns - 1), std::min(r, reached.rows - 1));
                FUZZ_CHECK(
                    pixel[0] == nearest[0] && pixel[1] == nearest[1] && pixel[2] == nearest[2],
                    what);
                continue;
            }
            const std::int32_t x = pixel[0] | pixel[1] << 8 | (pixel[2] & 0x40) << 10;
            FUZZ_CHECK(x < w && std::fabs(x - static_cast<double>(c) * stepX) <= driftX,
                       what + ": column " + std::to_string(c) + " from " + std::to_string(x));
            if (driftY < 16) {
                // Red holds the source row modulo 64.
                const double expected = std::fmod(static_cast<double>(r) * stepY, 64.0);
                double off = std::fabs((pixel[2] & 0x3F) - expected);
                off = std::min(off, 64.0 - off);
                FUZZ_CHECK(off <= driftY, what + ": row " + std::to_string(r));
            }
        }
        // Row padding stays as allocated (zero).
        const std::uint8_t* line = rows.ScanLine(r);
        for (std::int32_t b = 3 * thumb.width; b < rows.stride; ++b) {
            FUZZ_CHECK(line[b] == 0, what + ": row padding written");
        }
    }
}

}  // namespace
}  // namespace fotolane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fotolane::fuzz;
    InputReader input(data, size);
    CheckSizing(static_cast<std::int32_t>(input.InRange(1, INT32_MAX)),
                static_cast<std::int32_t>(input.InRange(1, INT32_MAX)),
                static_cast<std::int32_t>(input.InRange(INT32_MIN, INT32_MAX)));
    const auto w = static_cast<std::int32_t>(input.InRange(1, kMaxSide));
    const auto h = static_cast<std::int32_t>(input.InRange(1, std::min(kMaxSide, kMaxPixels / w)));
    CheckSampling(w, h, static_cast<std::int32_t>(input.InRange(1, kMaxSide)));
    return 0;
}
