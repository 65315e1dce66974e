#pragma once

// The accurate integer inverse DCT at one position of a block at a time, as
// the whole decode computes it: libjpeg-turbo's SIMD version of
// jpeg_idct_islow (jidctint.c, the butterfly of Loeffler, Ligtenberg and
// Moschytz), which the sampled JPEG path must follow bit for bit.
//
// That transform does the columns of a block, rounds each result to 2 bits
// more than the sample (a right shift by 11 with rounding) and saturates it
// to 16 bits, does the rows, rounds again (a shift by 18) and clamps to the
// sample range. Each 1-D transform first forms ten 16-bit terms of its eight
// inputs: four of them sums or differences of two inputs that wrap around in
// 16 bits (in0 + in4, in0 - in4, in7 + in3, in5 + in1), the others inputs as
// they are. Then everything is products of a term and a 13-bit constant and
// sums of those, in 32 bits that wrap around: so each output n is exactly
// sum_t W[n][t] * term[t] modulo 2^32 before its rounding, with W the
// transform's weights, found here by passing unit terms through its
// butterfly. (A file of sane data never wraps or saturates anything; a
// damaged one may, and then the whole decode's pixels are still the ones
// given.) A block whose coefficients beyond the first row are all zero
// takes the transform's shortcut for the columns: the dequantised first row
// shifted left by 2, wrapping around in 16 bits.
//
// The kernels come twice: the scalar reference (PointIdct.cpp), which a
// target without SSE2 runs and a test compares with, and the SSE2 ones
// (PointIdctSse2.h), inline since they run once or more for every sampled
// pixel. `idct::kernels` names the ones this target runs.

#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace fotolane::picture::detail::idct {

inline constexpr int kConstBits = 13;
inline constexpr int kPass1Bits = 2;

// The terms of a 1-D transform, in the order the weights take them.
enum Term : std::size_t {
    kSum04,   // in0 + in4, wrapping
    kDiff04,  // in0 - in4, wrapping
    kIn2,
    kIn6,
    kSum73,  // in7 + in3, wrapping
    kSum51,  // in5 + in1, wrapping
    kIn1,
    kIn3,
    kIn5,
    kIn7,
    kTermCount
};

using Weights = std::array<std::array<std::int64_t, kTermCount>, 8>;  // [output n][term t]

// The 13-bit constants of the butterfly (Loeffler, Ligtenberg and Moschytz).
inline constexpr std::int64_t F0298 = 2446;   // 0.298631336
inline constexpr std::int64_t F0390 = 3196;   // 0.390180644
inline constexpr std::int64_t F0541 = 4433;   // 0.541196100
inline constexpr std::int64_t F0765 = 6270;   // 0.765366865
inline constexpr std::int64_t F0899 = 7373;   // 0.899976223
inline constexpr std::int64_t F1175 = 9633;   // 1.175875602
inline constexpr std::int64_t F1501 = 12299;  // 1.501321110
inline constexpr std::int64_t F1847 = 15137;  // 1.847759065
inline constexpr std::int64_t F1961 = 16069;  // 1.961570560
inline constexpr std::int64_t F2053 = 16819;  // 2.053119869
inline constexpr std::int64_t F2562 = 20995;  // 2.562915447
inline constexpr std::int64_t F3072 = 25172;  // 3.072711026

// The 1-D butterfly on the ten terms, as the SIMD code groups its
// products, without its final rounding.
constexpr std::array<std::int64_t, 8> Butterfly(const std::array<std::int64_t, kTermCount>& in) {
    // The even part.
    const std::int64_t tmp3 = in[kIn2] * (F0541 + F0765) + in[kIn6] * F0541;
    const std::int64_t tmp2 = in[kIn2] * F0541 + in[kIn6] * (F0541 - F1847);
    const std::int64_t tmp0 = in[kSum04] * (std::int64_t{1} << kConstBits);
    const std::int64_t tmp1 = in[kDiff04] * (std::int64_t{1} << kConstBits);
    const std::int64_t tmp10 = tmp0 + tmp3;
    const std::int64_t tmp13 = tmp0 - tmp3;
    const std::int64_t tmp11 = tmp1 + tmp2;
    const std::int64_t tmp12 = tmp1 - tmp2;

    // The odd part.
    const std::int64_t z3 = in[kSum73] * (F1175 - F1961) + in[kSum51] * F1175;
    const std::int64_t z4 = in[kSum73] * F1175 + in[kSum51] * (F1175 - F0390);
    const std::int64_t odd0 = in[kIn7] * (F0298 - F0899) + in[kIn1] * -F0899 + z3;
    const std::int64_t odd1 = in[kIn5] * (F2053 - F2562) + in[kIn3] * -F2562 + z4;
    const std::int64_t odd2 = in[kIn5] * -F2562 + in[kIn3] * (F3072 - F2562) + z3;
    const std::int64_t odd3 = in[kIn7] * -F0899 + in[kIn1] * (F1501 - F0899) + z4;

    return {tmp10 + odd3, tmp11 + odd2, tmp12 + odd1, tmp13 + odd0,
            tmp13 - odd0, tmp12 - odd1, tmp11 - odd2, tmp10 - odd3};
}

constexpr Weights MakeWeights() {
    Weights weights{};
    for (std::size_t t = 0; t < kTermCount; ++t) {
        std::array<std::int64_t, kTermCount> unit{};
        unit[t] = 1;
        const std::array<std::int64_t, 8> out = Butterfly(unit);
        for (std::size_t n = 0; n < 8; ++n) weights[n][t] = out[n];
    }
    return weights;
}

inline constexpr Weights kWeights = MakeWeights();

// Where no sum wraps, output n is sum_k P[n][k] * in[k]: each input's
// weight gathered from the terms that hold it.
using PlainWeights = std::array<std::array<std::int64_t, 8>, 8>;  // [output n][input k]

constexpr PlainWeights MakePlainWeights() {
    PlainWeights plain{};
    for (std::size_t n = 0; n < 8; ++n) {
        const auto& w = kWeights[n];
        plain[n] = {w[kSum04] + w[kDiff04], w[kIn1] + w[kSum51], w[kIn2], w[kIn3] + w[kSum73],
                    w[kSum04] - w[kDiff04], w[kIn5] + w[kSum51], w[kIn6], w[kIn7] + w[kSum73]};
    }
    return plain;
}

inline constexpr PlainWeights kPlainWeights = MakePlainWeights();

// Every weight is one of the constants or a difference of two, so it fits
// in 16 bits: the transform runs on 16-bit multiplications with 32-bit sums.
constexpr bool WeightsFitIn16Bits() {
    for (const auto& row : kWeights) {
        for (const std::int64_t weight : row) {
            if (weight < INT16_MIN || weight > INT16_MAX) return false;
        }
    }
    for (const auto& row : kPlainWeights) {
        for (const std::int64_t weight : row) {
            if (weight < INT16_MIN || weight > INT16_MAX) return false;
        }
    }
    return true;
}
static_assert(WeightsFitIn16Bits());

inline std::int16_t Wrap16(int value) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}

// Two 16-bit weights in one 32-bit number, the first in the low half.
constexpr std::int32_t PairOf(std::int64_t low, std::int64_t high) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(static_cast<std::uint16_t>(low)) |
        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16));
}

// The weights of output position n for the row pass, which takes the
// eight column results c as they are and, as 16-bit sums and differences
// that wrap around, with the other half of the row: sums[i] = c[i] +
// c[i + 4 mod 8] and differences[i] = c[i] - c[i + 4 mod 8]. Each term
// of the transform has its weight at the one place that holds it (c0 + c4
// at sums[0], c5 + c1 at sums[1], c7 + c3 at sums[3], c0 - c4 at
// differences[0]), every other place 0.
struct RowWeights {
    // When nothing can wrap: the weight of each column result itself.
    alignas(16) std::array<std::int16_t, 8> plain{};
    alignas(16) std::array<std::int16_t, 8> sums{};
    alignas(16) std::array<std::int16_t, 8> differences{};
    alignas(16) std::array<std::int16_t, 8> columns{};
};

constexpr std::array<RowWeights, 8> MakeRowWeights() {
    std::array<RowWeights, 8> rows{};
    for (std::size_t n = 0; n < 8; ++n) {
        const auto weight = [&](Term t) { return static_cast<std::int16_t>(kWeights[n][t]); };
        rows[n].sums[0] = weight(kSum04);
        rows[n].sums[1] = weight(kSum51);
        rows[n].sums[3] = weight(kSum73);
        rows[n].differences[0] = weight(kDiff04);
        rows[n].columns = {0, weight(kIn1), weight(kIn2), weight(kIn3),
                           0, weight(kIn5), weight(kIn6), weight(kIn7)};
        for (std::size_t k = 0; k < 8; ++k)
            rows[n].plain[k] = static_cast<std::int16_t>(kPlainWeights[n][k]);
    }
    return rows;
}

inline constexpr std::array<RowWeights, 8> kRowWeights = MakeRowWeights();

// The weights of output position n for the column pass, by pairs of terms:
// pair p holds the weights of terms 2p (low half) and 2p + 1.
using ColumnWeights = std::array<std::int32_t, kTermCount / 2>;

constexpr std::array<ColumnWeights, 8> MakeColumnWeights() {
    std::array<ColumnWeights, 8> columns{};
    for (std::size_t n = 0; n < 8; ++n) {
        for (std::size_t p = 0; p < kTermCount / 2; ++p)
            columns[n][p] = PairOf(kWeights[n][2 * p], kWeights[n][2 * p + 1]);
    }
    return columns;
}

inline constexpr std::array<ColumnWeights, 8> kColumnWeights = MakeColumnWeights();

// The same where no sum wraps, by pairs of inputs.
using PlainColumnWeights = std::array<std::int32_t, 4>;

constexpr std::array<PlainColumnWeights, 8> MakePlainColumnWeights() {
    std::array<PlainColumnWeights, 8> columns{};
    for (std::size_t n = 0; n < 8; ++n) {
        for (std::size_t p = 0; p < 4; ++p)
            columns[n][p] = PairOf(kPlainWeights[n][2 * p], kPlainWeights[n][2 * p + 1]);
    }
    return columns;
}

inline constexpr std::array<PlainColumnWeights, 8> kPlainColumnWeights = MakePlainColumnWeights();

// The sample that a row pass result (centred on 0) gives: clamped, as the
// SIMD code saturates it.
inline std::uint8_t SampleOf(std::int32_t value) {
    return static_cast<std::uint8_t>(std::clamp(value, -128, 127) + 128);
}

// One row of a block after the column pass: the eight column results,
// rounded to 2 bits more than the sample.
struct BlockRow {
    alignas(16) std::array<std::int16_t, 8> columns{};
    // Whether every result lies within +-16383, so that no sum of two of
    // them wraps.
    bool plain = false;
};

inline constexpr int kPass1Shift = kConstBits - kPass1Bits;
inline constexpr int kPass2Shift = kConstBits + kPass1Bits + 3;

// The scalar kernels.
namespace scalar {

// The column pass for row y of a block: for each column u, the transform of
// the dequantised coefficients [v][u] at output y, rounded and saturated.
// The dequantisation keeps the low 16 bits of each product, as the SIMD
// code's does. `quant` holds the quantisation steps in natural order, 16-byte
// aligned (the SSE2 kernel loads them whole).
BlockRow ColumnPass(const JCOEF* block, const std::int16_t* quant, std::size_t y);

// The row pass: the sample at position n & 7 of a row of the block.
std::uint8_t RowPass(const BlockRow& row, std::int32_t n);

// Four row passes at once: the sample at position n[i] & 7 of rows[i].
std::array<int, 4> RowPass4(const std::array<const BlockRow*, 4>& rows,
                            const std::array<std::int32_t, 4>& n);

// Bit k set when coefficient k (natural order) of the block is not zero.
std::uint64_t NonzeroMask(const JCOEF* block);

}  // namespace scalar

}  // namespace fotolane::picture::detail::idct

#if defined(__SSE2__)
#include "decoding/jpeg/PointIdctSse2.h"
namespace fotolane::picture::detail::idct {
namespace kernels = sse2;
}
#else
namespace fotolane::picture::detail::idct {
namespace kernels = scalar;
}
#endif
