// The SSE2 kernels of the point inverse DCT against their scalar reference,
// over blocks of every range: sums that wrap around, results that saturate,
// the first-row shortcut. The exactness of the kernels against the whole
// decode is the sampled decoder test's.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>

#include "decoding/jpeg/PointIdct.h"

namespace fotolane::picture::detail::idct {
namespace {

#if defined(__SSE2__)

struct Block {
    std::array<JCOEF, 64> coefficients{};
    alignas(16) std::array<std::int16_t, 64> quant{};
};

// Blocks whose dequantised values lie within +-8191, within +-16383 or
// anywhere, each also with only its first row not zero, and with all zero.
std::vector<Block> Blocks() {
    std::mt19937 random(5);
    std::vector<Block> blocks;
    for (const int most : {40, 1000, 8191, 16383, 32767}) {
        for (int i = 0; i < 300; ++i) {
            Block block;
            std::uniform_int_distribution<int> step(1, most >= 16383 ? 32767 : 255);
            for (auto& q : block.quant) q = static_cast<std::int16_t>(step(random));
            const int coefficients = i % 3 == 0 ? 8 : 64;  // the first row only, or all
            for (int k = 0; k < coefficients; ++k) {
                const int limit = std::max(1, most / block.quant[static_cast<std::size_t>(k)]);
                std::uniform_int_distribution<int> value(most == 32767 ? -32768 : -limit,
                                                         most == 32767 ? 32767 : limit);
                block.coefficients[static_cast<std::size_t>(k)] =
                    static_cast<JCOEF>(i % 7 == 0 ? 0 : value(random));
            }
            blocks.push_back(block);
        }
    }
    return blocks;
}

TEST(PointIdct, Sse2KernelsGiveWhatTheScalarReferenceGives) {
    const std::vector<Block> blocks = Blocks();
    long compared = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const Block& block = blocks[b];
        SCOPED_TRACE(::testing::Message() << "block " << b);
        ASSERT_EQ(sse2::NonzeroMask(block.coefficients.data()),
                  scalar::NonzeroMask(block.coefficients.data()));
        std::array<BlockRow, 8> rows{};
        for (std::size_t y = 0; y < 8; ++y) {
            const BlockRow simd =
                sse2::ColumnPass(block.coefficients.data(), block.quant.data(), y);
            rows[y] = scalar::ColumnPass(block.coefficients.data(), block.quant.data(), y);
            ASSERT_EQ(simd.columns, rows[y].columns) << "row " << y;
            ASSERT_EQ(simd.plain, rows[y].plain) << "row " << y;
            for (std::int32_t n = 0; n < 8; ++n) {
                ASSERT_EQ(sse2::RowPass(rows[y], n), scalar::RowPass(rows[y], n))
                    << "row " << y << ", position " << n;
                ++compared;
            }
        }
        for (std::int32_t n = 0; n < 8; ++n) {
            const std::array<const BlockRow*, 4> four = {
                &rows[static_cast<std::size_t>(n)], &rows[(static_cast<std::size_t>(n) + 3) % 8],
                &rows[7 - static_cast<std::size_t>(n)], &rows[0]};
            const std::array<std::int32_t, 4> at = {n, 7 - n, (n + 2) % 8, 8 + n};
            ASSERT_EQ(sse2::RowPass4(four, at), scalar::RowPass4(four, at)) << "position " << n;
        }
    }
    EXPECT_EQ(compared, static_cast<long>(blocks.size()) * 64);
}

#else

TEST(PointIdct, Sse2KernelsGiveWhatTheScalarReferenceGives) {
    GTEST_SKIP() << "no SSE2 on this target: the scalar kernels are the ones it runs";
}

#endif

}  // namespace
}  // namespace fotolane::picture::detail::idct
