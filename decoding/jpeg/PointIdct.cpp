// The scalar reference of the point inverse DCT's kernels (see PointIdct.h):
// the same arithmetic as the SSE2 kernels, one value at a time.

#include "decoding/jpeg/PointIdct.h"

namespace fotolane::picture::detail::idct::scalar {

BlockRow ColumnPass(const JCOEF* block, const std::int16_t* quant, std::size_t y) {
    BlockRow row;
    const ColumnWeights& weights = kColumnWeights[y];
    bool onlyFirstRow = true;
    for (std::size_t k = 8; k < 64; ++k) onlyFirstRow = onlyFirstRow && block[k] == 0;
    for (std::size_t u = 0; u < 8; ++u) {
        std::array<int, 8> in{};
        for (std::size_t v = 0; v < 8; ++v) in[v] = Wrap16(block[8 * v + u] * quant[8 * v + u]);
        if (onlyFirstRow) {
            row.columns[u] = Wrap16(in[0] * (1 << kPass1Bits));
            continue;
        }
        const std::array<int, kTermCount> terms = {Wrap16(in[0] + in[4]),
                                                   Wrap16(in[0] - in[4]),
                                                   in[2],
                                                   in[6],
                                                   Wrap16(in[7] + in[3]),
                                                   Wrap16(in[5] + in[1]),
                                                   in[1],
                                                   in[3],
                                                   in[5],
                                                   in[7]};
        std::uint32_t sum = 0;
        for (std::size_t t = 0; t < kTermCount; ++t) {
            const auto pair = static_cast<std::uint32_t>(weights[t / 2]);
            const auto weight = static_cast<std::int16_t>(t % 2 == 0 ? pair & 0xFFFFu : pair >> 16);
            sum += static_cast<std::uint32_t>(weight * terms[t]);
        }
        const std::int32_t rounded =
            static_cast<std::int32_t>(sum + (1u << (kPass1Shift - 1))) >> kPass1Shift;
        row.columns[u] = static_cast<std::int16_t>(std::clamp(rounded, INT16_MIN, INT16_MAX));
    }
    row.plain = std::all_of(row.columns.begin(), row.columns.end(),
                            [](std::int16_t c) { return c >= -16384 && c <= 16383; });
    return row;
}

std::uint8_t RowPass(const BlockRow& row, std::int32_t n) {
    const RowWeights& weights = kRowWeights[static_cast<std::size_t>(n & 7)];
    const std::array<std::int16_t, 8>& c = row.columns;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t other = (i + 4) % 8;
        sum += static_cast<std::uint32_t>(weights.sums[i] * Wrap16(c[i] + c[other]));
        sum += static_cast<std::uint32_t>(weights.differences[i] * Wrap16(c[i] - c[other]));
        sum += static_cast<std::uint32_t>(weights.columns[i] * c[i]);
    }
    return SampleOf(static_cast<std::int32_t>(sum + (1u << (kPass2Shift - 1))) >> kPass2Shift);
}

std::array<int, 4> RowPass4(const std::array<const BlockRow*, 4>& rows,
                            const std::array<std::int32_t, 4>& n) {
    std::array<int, 4> samples{};
    for (std::size_t i = 0; i < 4; ++i) samples[i] = RowPass(*rows[i], n[i]);
    return samples;
}

std::uint64_t NonzeroMask(const JCOEF* block) {
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) {
        if (block[k] != 0) mask |= std::uint64_t{1} << k;
    }
    return mask;
}

}  // namespace fotolane::picture::detail::idct::scalar
