#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

#include "imaging/AreaResize.h"
#include "platform/core/Fault.h"

namespace fotolane::imaging {
namespace {

using Bgr = std::array<int, 3>;

// Rows of width x height whose pixel at (x, y), counted from the top left,
// is colourAt(x, y).
PixelRows Rows(std::int32_t width, std::int32_t height,
               const std::function<Bgr(std::int32_t, std::int32_t)>& colourAt) {
    PixelRows rows = AllocatePixelRows(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* p = rows.ScanLine(height - 1 - y);
        for (std::int32_t x = 0; x < width; ++x) {
            const Bgr c = colourAt(x, y);
            for (std::size_t k = 0; k < 3; ++k) *p++ = static_cast<std::uint8_t>(c[k]);
        }
    }
    return rows;
}

Bgr At(const PixelRows& rows, std::int32_t x, std::int32_t y) {
    const std::uint8_t* p = rows.ScanLine(rows.height - 1 - y) + 3 * x;
    return {p[0], p[1], p[2]};
}

TEST(ResizeByArea, KeepsAConstantPictureConstantAtEverySize) {
    const PixelRows source = Rows(37, 23, [](auto, auto) { return Bgr{10, 128, 250}; });
    // Shrinking by whole and broken factors, enlarging, and the same size.
    for (const auto [width, height] : {std::array{1, 1}, std::array{5, 3}, std::array{18, 11},
                                       std::array{36, 22}, std::array{37, 23}, std::array{80, 9}}) {
        const PixelRows target = ResizeByArea(source, width, height);
        ASSERT_EQ(target.width, width);
        ASSERT_EQ(target.height, height);
        for (std::int32_t y = 0; y < height; ++y) {
            for (std::int32_t x = 0; x < width; ++x) {
                ASSERT_EQ(At(target, x, y), (Bgr{10, 128, 250})) << width << "x" << height;
            }
        }
        // The row padding stays zero: the JPEG writer reads whole rows.
        for (std::int32_t s = 0; s < height; ++s) {
            for (std::int32_t b = 3 * width; b < target.stride; ++b) {
                ASSERT_EQ(target.ScanLine(s)[b], 0);
            }
        }
    }
}

TEST(ResizeByArea, AveragesWhatPointSamplingWouldAlias) {
    // A one-pixel checkerboard shrunk by 2 and by 3.5 is grey everywhere;
    // picking single pixels would give black or white.
    const PixelRows board = Rows(70, 70, [](std::int32_t x, std::int32_t y) {
        return (x + y) % 2 == 0 ? Bgr{0, 0, 0} : Bgr{255, 255, 255};
    });
    for (const std::int32_t size : {35, 20}) {
        const PixelRows target = ResizeByArea(board, size, size);
        for (std::int32_t y = 0; y < size; ++y) {
            for (std::int32_t x = 0; x < size; ++x) {
                ASSERT_NEAR(At(target, x, y)[1], 128, 20) << size << " at " << x << "," << y;
            }
        }
    }
}

TEST(ResizeByArea, KeepsTopAndBottomAndTheChannelsApart) {
    // Top half red, bottom half blue, a green left quarter: shrunk 10 times.
    const PixelRows source = Rows(100, 60, [](std::int32_t x, std::int32_t y) {
        if (x < 25) return Bgr{0, 255, 0};
        return y < 30 ? Bgr{0, 0, 255} : Bgr{255, 0, 0};
    });
    const PixelRows target = ResizeByArea(source, 10, 6);
    EXPECT_EQ(At(target, 0, 0), (Bgr{0, 255, 0}));
    EXPECT_EQ(At(target, 9, 0), (Bgr{0, 0, 255}));
    EXPECT_EQ(At(target, 9, 5), (Bgr{255, 0, 0}));
    // The column across the quarter's edge (source 20 to 30) is half green.
    EXPECT_EQ(At(target, 2, 0), (Bgr{0, 128, 128}));
}

TEST(ResizeByArea, GivesTheRoundedMeanAtWholeFactors) {
    // Factors that divide the size take the integer path; its means must be
    // those of the exact average rounded half up, halves included (the
    // pattern gives every remainder of the sums).
    const PixelRows source = Rows(48, 36, [](std::int32_t x, std::int32_t y) {
        return Bgr{(x * 37 + y * 11) % 256, (x * y * 7) % 256, (255 - x * 5 - y * 3 + 512) % 256};
    });
    for (const auto [kx, ky] : {std::array{1, 1}, std::array{2, 2}, std::array{3, 3},
                                std::array{2, 1}, std::array{1, 4}, std::array{16, 12}}) {
        const PixelRows target = ResizeByArea(source, 48 / kx, 36 / ky);
        for (std::int32_t y = 0; y < 36 / ky; ++y) {
            for (std::int32_t x = 0; x < 48 / kx; ++x) {
                Bgr sum{0, 0, 0};
                for (std::int32_t j = 0; j < ky; ++j) {
                    for (std::int32_t i = 0; i < kx; ++i) {
                        const Bgr c = At(source, x * kx + i, y * ky + j);
                        for (std::size_t k = 0; k < 3; ++k) sum[k] += c[k];
                    }
                }
                const int area = kx * ky;
                const Bgr mean{(2 * sum[0] + area) / (2 * area), (2 * sum[1] + area) / (2 * area),
                               (2 * sum[2] + area) / (2 * area)};
                ASSERT_EQ(At(target, x, y), mean) << kx << "x" << ky << " at " << x << "," << y;
            }
        }
    }
}

TEST(ResizeByArea, GivesTheWeightedMeanAtBrokenFactorsWithinALevel) {
    // Factors whose target pixels take 2 to 3, 4 to 5 and 7 to 9 source
    // pixels a side: the unrolled sums and the plain ones.
    const PixelRows source = Rows(48, 36, [](std::int32_t x, std::int32_t y) {
        return Bgr{(x * 37 + y * 11) % 256, (x * y * 7) % 256, (255 - x * 5 - y * 3 + 512) % 256};
    });
    // The share of source pixel s in target pixel t of `targets` along `length`.
    const auto share = [](std::int32_t length, std::int32_t targets, std::int32_t t,
                          std::int32_t s) {
        const double scale = static_cast<double>(length) / targets;
        const double from = std::max(t * scale, static_cast<double>(s));
        const double to = std::min((t + 1) * scale, s + 1.0);
        return to > from ? (to - from) / scale : 0.0;
    };
    for (const auto [width, height] : {std::array{25, 19}, std::array{11, 8}, std::array{6, 5}}) {
        const PixelRows target = ResizeByArea(source, width, height);
        for (std::int32_t y = 0; y < height; ++y) {
            for (std::int32_t x = 0; x < width; ++x) {
                std::array<double, 3> mean{};
                for (std::int32_t sy = 0; sy < 36; ++sy) {
                    for (std::int32_t sx = 0; sx < 48; ++sx) {
                        const double weight = share(48, width, x, sx) * share(36, height, y, sy);
                        const Bgr c = At(source, sx, sy);
                        for (std::size_t k = 0; k < 3; ++k) mean[k] += weight * c[k];
                    }
                }
                const Bgr got = At(target, x, y);
                for (std::size_t k = 0; k < 3; ++k) {
                    ASSERT_NEAR(got[k], mean[k], 1.0)
                        << width << "x" << height << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(ResizeByArea, RefusesEmptySourcesAndSizes) {
    const PixelRows source = Rows(4, 4, [](auto, auto) { return Bgr{1, 2, 3}; });
    EXPECT_THROW(ResizeByArea(source, 0, 4), Fault);
    EXPECT_THROW(ResizeByArea(PixelRows{}, 2, 2), Fault);
}

}  // namespace
}  // namespace fotolane::imaging
