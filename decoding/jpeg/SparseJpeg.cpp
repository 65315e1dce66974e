// Only the sampled pixels of a JPEG, reconstructed from its DCT
// coefficients. libjpeg entropy-decodes the whole file
// (jpeg_read_coefficients: that part cannot be skipped); every sampled pixel
// then costs one inverse DCT at its position for each sample it needs, where
// a whole decode does the inverse DCT, the upsampling and the colour
// conversion of every pixel. The arithmetic is libjpeg-turbo's own for its
// default decode (the accurate integer inverse DCT, smooth "fancy" chroma
// upsampling, its fixed-point YCbCr conversion), so the pixels come out as
// a whole decode gives them.

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoding/jpeg/HuffmanScan.h"
#include "decoding/jpeg/JpegDecoder.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"

namespace fotolane::picture::detail {

namespace {

// ---- The accurate integer inverse DCT, one position at a time ----
//
// The whole decode runs libjpeg-turbo's SIMD accurate inverse DCT. It
// transforms the columns of a block, rounds each result to 2 bits more than
// the sample (a right shift by 11 with rounding) and saturates it to 16
// bits, transforms the rows, rounds again (a shift by 18) and clamps to the
// sample range. Each 1-D transform first forms ten 16-bit terms of its eight
// inputs: four of them sums or differences of two inputs that wrap around
// in 16 bits (in0 + in4, in0 - in4, in7 + in3, in5 + in1), the others inputs
// as they are. Then everything is products of a term and a 13-bit constant
// and sums of those, in 32 bits that wrap around: so each output n is
// exactly sum_t W[n][t] * term[t] modulo 2^32 before its rounding, with W
// the transform's weights, found here by passing unit terms through its
// butterfly. (A file of sane data never wraps or saturates anything; a
// damaged one may, and then the whole decode's pixels are still the ones
// given.) A block whose coefficients beyond the first row are all zero
// takes the transform's shortcut for the columns: the dequantised first
// row shifted left by 2, wrapping around in 16 bits.

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;

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
constexpr std::int64_t F0298 = 2446;   // 0.298631336
constexpr std::int64_t F0390 = 3196;   // 0.390180644
constexpr std::int64_t F0541 = 4433;   // 0.541196100
constexpr std::int64_t F0765 = 6270;   // 0.765366865
constexpr std::int64_t F0899 = 7373;   // 0.899976223
constexpr std::int64_t F1175 = 9633;   // 1.175875602
constexpr std::int64_t F1501 = 12299;  // 1.501321110
constexpr std::int64_t F1847 = 15137;  // 1.847759065
constexpr std::int64_t F1961 = 16069;  // 1.961570560
constexpr std::int64_t F2053 = 16819;  // 2.053119869
constexpr std::int64_t F2562 = 20995;  // 2.562915447
constexpr std::int64_t F3072 = 25172;  // 3.072711026

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

constexpr Weights kWeights = MakeWeights();

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

constexpr PlainWeights kPlainWeights = MakePlainWeights();

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

[[maybe_unused]] std::int16_t Wrap16(int value) {
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

constexpr std::array<RowWeights, 8> kRowWeights = MakeRowWeights();

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

constexpr std::array<ColumnWeights, 8> kColumnWeights = MakeColumnWeights();

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

constexpr std::array<PlainColumnWeights, 8> kPlainColumnWeights = MakePlainColumnWeights();

// The sample that a row pass result (centred on 0) gives: clamped, as the
// SIMD code saturates it.
std::uint8_t SampleOf(std::int32_t value) {
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

constexpr int kPass1Shift = kConstBits - kPass1Bits;
constexpr int kPass2Shift = kConstBits + kPass1Bits + 3;

// The column pass for row y of a block: for each column u, the transform of
// the dequantised coefficients [v][u] at output y, rounded and saturated.
// The dequantisation keeps the low 16 bits of each product, as the SIMD
// code's does.
#if defined(__SSE2__)
// Whether every lane of `magnitudes` (values, each xor its sign: its
// magnitude, less one for a negative value) has none of the bits of `top`:
// 0x4000 for values within +-16383, 0x6000 within +-8191.
bool Within(__m128i magnitudes, std::int16_t top) {
    return _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(magnitudes, _mm_set1_epi16(top)),
                                             _mm_setzero_si128())) == 0xFFFF;
}

__m128i Magnitudes(__m128i values) {
    return _mm_xor_si128(values, _mm_srai_epi16(values, 15));
}
#endif

BlockRow ColumnPass(const JCOEF* block, const std::int16_t* quant, std::size_t y) {
    BlockRow row;
#if defined(__SSE2__)
    __m128i raw[8];
    __m128i in[8];
    __m128i magnitudes = _mm_setzero_si128();
    for (std::size_t v = 0; v < 8; ++v) {
        raw[v] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * v));
        in[v] = _mm_mullo_epi16(raw[v],
                                _mm_load_si128(reinterpret_cast<const __m128i*>(quant + 8 * v)));
        magnitudes = _mm_or_si128(magnitudes, Magnitudes(in[v]));
    }
    const auto onlyFirstRow = [&raw] {
        __m128i beyond = raw[1];
        for (std::size_t v = 2; v < 8; ++v) beyond = _mm_or_si128(beyond, raw[v]);
        return _mm_movemask_epi8(_mm_cmpeq_epi16(beyond, _mm_setzero_si128())) == 0xFFFF;
    };
    const auto sumUp = [](const auto& weights, auto termOf) {
        __m128i low = _mm_setzero_si128();
        __m128i high = _mm_setzero_si128();
        for (std::size_t p = 0; p < weights.size(); ++p) {
            const __m128i pair = _mm_set1_epi32(weights[p]);
            const __m128i even = termOf(2 * p);
            const __m128i odd = termOf(2 * p + 1);
            low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(even, odd), pair));
            high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(even, odd), pair));
        }
        const __m128i round = _mm_set1_epi32(1 << (kPass1Shift - 1));
        low = _mm_srai_epi32(_mm_add_epi32(low, round), kPass1Shift);
        high = _mm_srai_epi32(_mm_add_epi32(high, round), kPass1Shift);
        return _mm_packs_epi32(low, high);
    };
    // Within +-8191 nothing wraps, and the shortcut gives what the whole
    // transform gives; within +-16383 nothing wraps but the shortcut.
    __m128i result;
    if (Within(magnitudes, 0x6000) || (Within(magnitudes, 0x4000) && !onlyFirstRow())) {
        result = sumUp(kPlainColumnWeights[y], [&in](std::size_t k) { return in[k]; });
    } else if (onlyFirstRow()) {
        result = _mm_slli_epi16(in[0], kPass1Bits);
    } else {
        const __m128i terms[kTermCount] = {_mm_add_epi16(in[0], in[4]),
                                           _mm_sub_epi16(in[0], in[4]),
                                           in[2],
                                           in[6],
                                           _mm_add_epi16(in[7], in[3]),
                                           _mm_add_epi16(in[5], in[1]),
                                           in[1],
                                           in[3],
                                           in[5],
                                           in[7]};
        result = sumUp(kColumnWeights[y], [&terms](std::size_t t) { return terms[t]; });
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(row.columns.data()), result);
    row.plain = Within(Magnitudes(result), 0x4000);
#else
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
#endif
    return row;
}

#if defined(__SSE2__)
// The row pass's sum for weights `weights`, in the four lanes of the result.
__m128i RowSums(const BlockRow& row, const RowWeights& weights) {
    const __m128i columns = _mm_load_si128(reinterpret_cast<const __m128i*>(row.columns.data()));
    const auto load = [](const std::array<std::int16_t, 8>& of) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(of.data()));
    };
    if (row.plain) return _mm_madd_epi16(columns, load(weights.plain));
    const __m128i halves = _mm_shuffle_epi32(columns, 0x4E);  // c[i + 4 mod 8]
    return _mm_add_epi32(
        _mm_add_epi32(_mm_madd_epi16(_mm_add_epi16(columns, halves), load(weights.sums)),
                      _mm_madd_epi16(_mm_sub_epi16(columns, halves), load(weights.differences))),
        _mm_madd_epi16(columns, load(weights.columns)));
}
#endif

// The row pass: the sample at position n of a row of the block.
std::uint8_t RowPass(const BlockRow& row, std::int32_t n) {
    const RowWeights& weights = kRowWeights[static_cast<std::size_t>(n & 7)];
#if defined(__SSE2__)
    __m128i sums = RowSums(row, weights);
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
    const auto sum = static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums));
#else
    const std::array<std::int16_t, 8>& c = row.columns;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t other = (i + 4) % 8;
        sum += static_cast<std::uint32_t>(weights.sums[i] * Wrap16(c[i] + c[other]));
        sum += static_cast<std::uint32_t>(weights.differences[i] * Wrap16(c[i] - c[other]));
        sum += static_cast<std::uint32_t>(weights.columns[i] * c[i]);
    }
#endif
    return SampleOf(static_cast<std::int32_t>(sum + (1u << (kPass2Shift - 1))) >> kPass2Shift);
}

// Four row passes at once: the sample at position n[i] of rows[i].
std::array<int, 4> RowPass4(const std::array<const BlockRow*, 4>& rows,
                            const std::array<std::int32_t, 4>& n) {
    std::array<int, 4> samples{};
#if defined(__SSE2__)
    __m128i sums[4];
    for (std::size_t i = 0; i < 4; ++i) {
        sums[i] = RowSums(*rows[i], kRowWeights[static_cast<std::size_t>(n[i] & 7)]);
    }
    const __m128i low01 = _mm_unpacklo_epi32(sums[0], sums[1]);
    const __m128i high01 = _mm_unpackhi_epi32(sums[0], sums[1]);
    const __m128i low23 = _mm_unpacklo_epi32(sums[2], sums[3]);
    const __m128i high23 = _mm_unpackhi_epi32(sums[2], sums[3]);
    const __m128i half01 = _mm_add_epi32(low01, high01);
    const __m128i half23 = _mm_add_epi32(low23, high23);
    __m128i total =
        _mm_add_epi32(_mm_unpacklo_epi64(half01, half23), _mm_unpackhi_epi64(half01, half23));
    total =
        _mm_srai_epi32(_mm_add_epi32(total, _mm_set1_epi32(1 << (kPass2Shift - 1))), kPass2Shift);
    // SampleOf, four at once: saturated to 16 bits, 128 added with
    // saturation, then clamped to 0..255.
    const __m128i words = _mm_adds_epi16(_mm_packs_epi32(total, total), _mm_set1_epi16(128));
    const auto bytes =
        static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
    for (std::size_t i = 0; i < 4; ++i) samples[i] = static_cast<int>((bytes >> (8 * i)) & 0xFFu);
#else
    for (std::size_t i = 0; i < 4; ++i) samples[i] = RowPass(*rows[i], n[i]);
#endif
    return samples;
}

// Bit k set when coefficient k (natural order) of the block is not zero.
std::uint64_t NonzeroMask(const JCOEF* block) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    std::uint64_t mask = 0;
    for (int row = 0; row < 8; row += 2) {
        const __m128i even = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * row));
        const __m128i odd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * row + 8));
        const __m128i zeros =
            _mm_packs_epi16(_mm_cmpeq_epi16(even, zero), _mm_cmpeq_epi16(odd, zero));
        const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(zeros)) ^ 0xFFFFu;
        mask |= static_cast<std::uint64_t>(bits) << (8 * row);
    }
    return mask;
#else
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) {
        if (block[k] != 0) mask |= std::uint64_t{1} << k;
    }
    return mask;
#endif
}

// ---- YCbCr to RGB, in libjpeg's fixed point ----

constexpr int kScaleBits = 16;
constexpr std::int64_t kHalf = std::int64_t{1} << (kScaleBits - 1);

constexpr std::int64_t Fix(double x) {
    return static_cast<std::int64_t>(x * (1 << kScaleBits) + 0.5);
}

struct ColourTables {
    std::array<int, 256> crToRed{};
    std::array<int, 256> cbToBlue{};
    std::array<std::int64_t, 256> crToGreen{};
    std::array<std::int64_t, 256> cbToGreen{};
};

constexpr ColourTables MakeColourTables() {
    ColourTables tables;
    for (int i = 0; i < 256; ++i) {
        const std::int64_t x = i - 128;
        const auto at = static_cast<std::size_t>(i);
        tables.crToRed[at] = static_cast<int>((Fix(1.40200) * x + kHalf) >> kScaleBits);
        tables.cbToBlue[at] = static_cast<int>((Fix(1.77200) * x + kHalf) >> kScaleBits);
        tables.crToGreen[at] = -Fix(0.71414) * x;
        tables.cbToGreen[at] = -Fix(0.34414) * x + kHalf;
    }
    return tables;
}

constexpr ColourTables kColour = MakeColourTables();

std::uint8_t Clamp(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// How a component's samples become full-size ones, as libjpeg-turbo picks
// it for its default (smooth) upsampling.
enum class Upsampling { None, H2V1Smooth, H1V2Smooth, H2V2Smooth, Replicate };

// One component of the picture, ready for reconstruction.
struct Component {
    Upsampling upsampling = Upsampling::None;
    int factorX = 1;  // full-size pixels per sample, across and down
    int factorY = 1;
    std::int32_t width = 0;  // samples across and down (libjpeg's downsampled size)
    std::int32_t height = 0;
    int blockRowsPerMcuRow = 1;           // the component's vertical sampling factor
    std::vector<const JCOEF*> blockRows;  // the first block of every block row held
    // The quantisation steps in natural order, as 16-bit numbers.
    alignas(16) std::array<std::int16_t, 64> quant{};
    // The last column pass done at each row position within a block:
    // neighbouring samples often lie in one block row.
    struct Done {
        const JCOEF* block = nullptr;
        BlockRow row;
    };
    std::array<Done, 8> done{};

    void Prepare(const JQUANT_TBL& table) {
        for (std::size_t k = 0; k < 64; ++k) {
            quant[k] = static_cast<std::int16_t>(table.quantval[k]);
        }
        done.fill(Done{});
    }

    const JCOEF* BlockAt(std::int32_t x, std::int32_t y) const {
        return blockRows[static_cast<std::size_t>(y >> 3)] +
               static_cast<std::ptrdiff_t>(x >> 3) * 64;
    }

    // Row y of the block in block column `blockX` after the column pass.
    BlockRow ColumnPassOf(std::int32_t blockX, std::int32_t y) const {
        const JCOEF* block =
            blockRows[static_cast<std::size_t>(y >> 3)] + static_cast<std::ptrdiff_t>(blockX) * 64;
        return ColumnPass(block, quant.data(), static_cast<std::size_t>(y & 7));
    }

    // Row y of the block at (x, y) after the column pass.
    const BlockRow& ColumnPassAt(std::int32_t x, std::int32_t y) {
        const JCOEF* block = BlockAt(x, y);
        const auto within = static_cast<std::size_t>(y & 7);
        Done& last = done[within];
        if (last.block != block) {
            last.block = block;
            last.row = ColumnPass(block, quant.data(), within);
        }
        return last.row;
    }

    // The sample at (x, y) of this component, as libjpeg's inverse DCT gives it.
    std::uint8_t SampleAt(std::int32_t x, std::int32_t y) { return RowPass(ColumnPassAt(x, y), x); }

    // The samples at (x0, y) and (x1, y): one column pass when both lie in
    // one block.
    void SamplePair(std::int32_t x0, std::int32_t x1, std::int32_t y, int& at0, int& at1) {
        at0 = SampleAt(x0, y);
        at1 = SampleAt(x1, y);
    }

    // The lowest and the highest of this component's rows that the pixels
    // of picture line y are made of.
    std::pair<std::int32_t, std::int32_t> RowsOfLine(std::int32_t y) const {
        switch (upsampling) {
            case Upsampling::None:
            case Upsampling::H2V1Smooth:
                return {y, y};
            case Upsampling::Replicate:
                return {y / factorY, y / factorY};
            case Upsampling::H1V2Smooth:
            case Upsampling::H2V2Smooth: {
                const std::int32_t near = y >> 1;
                if ((y & 1) == 0) return {std::max(near - 1, 0), near};
                return {near, std::min(near + 1, height - 1)};
            }
        }
        return {y, y};
    }

    // The full-size value at pixel (x, y), upsampled as libjpeg does: the
    // smooth kinds weigh the nearest sample 3/4 and the next one 1/4 in each
    // direction, repeating the edge samples beyond the edges.
    int ValueAt(std::int32_t x, std::int32_t y) {
        switch (upsampling) {
            case Upsampling::None:
                return SampleAt(x, y);
            case Upsampling::Replicate:
                return SampleAt(x / factorX, y / factorY);
            case Upsampling::H2V1Smooth: {
                const std::int32_t near = x >> 1;
                const bool left = (x & 1) == 0;
                const std::int32_t far =
                    left ? std::max(near - 1, 0) : std::min(near + 1, width - 1);
                int nearSample = 0;
                int farSample = 0;
                SamplePair(near, far, y, nearSample, farSample);
                return (3 * nearSample + farSample + (left ? 1 : 2)) >> 2;
            }
            case Upsampling::H1V2Smooth: {
                const std::int32_t near = y >> 1;
                const bool upper = (y & 1) == 0;
                const std::int32_t far =
                    upper ? std::max(near - 1, 0) : std::min(near + 1, height - 1);
                return (3 * SampleAt(x, near) + SampleAt(x, far) + (upper ? 1 : 2)) >> 2;
            }
            case Upsampling::H2V2Smooth: {
                const std::int32_t nearX = x >> 1;
                const std::int32_t nearY = y >> 1;
                const bool left = (x & 1) == 0;
                const std::int32_t farX =
                    left ? std::max(nearX - 1, 0) : std::min(nearX + 1, width - 1);
                const std::int32_t farY =
                    (y & 1) == 0 ? std::max(nearY - 1, 0) : std::min(nearY + 1, height - 1);
                int nearNear = 0;
                int nearFar = 0;
                int farNear = 0;
                int farFar = 0;
                SamplePair(nearX, farX, nearY, nearNear, farNear);
                SamplePair(nearX, farX, farY, nearFar, farFar);
                const int nearColumn = 3 * nearNear + nearFar;
                const int farColumn = 3 * farNear + farFar;
                return (3 * nearColumn + farColumn + (left ? 8 : 7)) >> 4;
            }
        }
        return 0;
    }
};

// libjpeg's error handling, led back here: an error jumps out of the
// library, a warning is counted.
struct ErrorHandler {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
};

extern "C" void OnJpegError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorHandler*>(cinfo->err)->jump, 1);
}

extern "C" void OnJpegMessage(j_common_ptr cinfo, int level) {
    if (level < 0) ++cinfo->err->num_warnings;
}

// A progressive file of an absurd number of scans is refused, as the whole
// decode refuses it.
constexpr int kScanLimit = 500;

extern "C" void OnJpegProgress(j_common_ptr cinfo) {
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompress->progressive_mode && decompress->input_scan_number > kScanLimit) {
        std::longjmp(reinterpret_cast<ErrorHandler*>(cinfo->err)->jump, 1);
    }
}

// A whole decode costs about this many times as much per pixel as the
// reconstruction of one sampled pixel costs per pixel, beyond the entropy
// decoding that both do: below this many pixels per sample, decode whole.
constexpr double kPixelsPerSampleForSparse = 48.0;

}  // namespace

namespace {

// Where libjpeg puts one component's coefficients while it entropy-decodes
// the file: its whole-picture block array, replaced through its memory
// manager's methods (jpeg_memory_mgr), so that only what the sampled pixels
// need is kept.
//
// A file of one scan is decoded row of MCUs by row of MCUs, each row
// complete once the next is asked for: a ring of three rows suffices, and
// the sampled lines are reconstructed as soon as their rows are complete,
// from memory that stays in the cache.
//
// A file of several scans (progressive ones above all) visits every block
// once a scan, so all must last to the end; but only the block rows that
// sampled lines need are kept whole. Of the others, while a scan decodes
// them, the decoder gets rows of its own, and of a progressive file only
// which coefficients are not zero is kept: that is all that the decoding of
// a later refinement scan reads of a block.
struct BlockStore {
    JDIMENSION blocksPerRow = 0;  // as libjpeg asks for them (padded to whole MCUs)
    JDIMENSION rowCount = 0;
    JDIMENSION rowsPerAccess = 0;
    std::vector<JCOEF> kept;             // the ring, or the rows kept whole
    std::vector<std::int32_t> keptAt;    // several scans: a row's place in `kept`, or -1
    std::vector<std::uint64_t> nonzero;  // progressive: a mask per block of the other rows
    std::vector<JCOEF> scratch;          // several scans: the other rows while decoded
    std::vector<JBLOCKROW> handed;       // the rows last handed to libjpeg
    JDIMENSION scratchStart = 0;         // the rows now in `scratch`
    JDIMENSION scratchRows = 0;
    bool scratchToMask = false;  // whether their nonzero coefficients count

    JCOEF* KeptRow(std::size_t index) { return kept.data() + index * blocksPerRow * 64; }
    JCOEF* ScratchRow(std::size_t index) { return scratch.data() + index * blocksPerRow * 64; }
};

constexpr JDIMENSION kRingMcuRows = 3;

// A sampled line or column of the stored picture, and where it is shown.
struct Placed {
    std::int32_t stored;
    std::ptrdiff_t offset;  // bytes into the shown rows
};

}  // namespace

struct SparseJpegDecoder::State {
    jpeg_decompress_struct cinfo{};
    ErrorHandler errors;
    jpeg_progress_mgr progress{};
    jpeg_memory_mgr* memory = nullptr;
    // libjpeg's own methods, for anything but the coefficients.
    decltype(jpeg_memory_mgr::request_virt_barray) libraryRequest = nullptr;
    bool created = false;
    bool always = false;
    bool ring = false;  // one scan: the ring of MCU rows
    bool grey = false;
    PictureMemory working;  // the coefficients' memory, while they exist
    std::array<Component, 3> components;
    std::array<BlockStore, 3> stores;
    int requested = 0;            // block arrays handed to libjpeg
    JDIMENSION started = 0;       // ring: the MCU rows libjpeg has begun
    std::vector<Placed> lines;    // sampled stored lines, in order
    std::vector<Placed> columns;  // sampled stored columns
    std::size_t nextLine = 0;     // the first line not yet reconstructed
    std::uint8_t* pixels = nullptr;
    bool prepared = false;   // the components' quantisation known
    HuffmanScanMemory scan;  // our own entropy decoding's (one scan)

    // Ring: the zeroed rows of MCU row `mcuRow` of component `index`, the
    // sampled lines that the earlier rows complete reconstructed first.
    JBLOCKROW* RingRows(std::size_t index, JDIMENSION mcuRow) {
        if (mcuRow >= started) {
            ReconstructBefore(mcuRow);
            started = mcuRow + 1;
            // The ring's rows are about to change under the column passes done.
            for (Component& each : components) each.done.fill(Component::Done{});
        }
        BlockStore& store = stores[index];
        const JDIMENSION rowCount = store.rowsPerAccess;
        const std::size_t rowBytes = std::size_t{store.blocksPerRow} * 64 * sizeof(JCOEF);
        const std::size_t slot = (mcuRow % kRingMcuRows) * rowCount;
        for (JDIMENSION i = 0; i < rowCount; ++i) {
            JCOEF* row = store.KeptRow(slot + i);
            std::memset(row, 0, rowBytes);
            store.handed[i] = reinterpret_cast<JBLOCKROW>(row);
            components[index].blockRows[mcuRow * rowCount + i] = row;
        }
        return store.handed.data();
    }

    // The last MCU row that line y of the stored picture needs.
    JDIMENSION LastMcuRowOf(std::int32_t y) const {
        JDIMENSION last = 0;
        for (int c = 0; c < cinfo.num_components; ++c) {
            const Component& component = components[static_cast<std::size_t>(c)];
            const auto row = static_cast<JDIMENSION>(component.RowsOfLine(y).second >> 3);
            last = std::max(last, row / static_cast<JDIMENSION>(component.blockRowsPerMcuRow));
        }
        return last;
    }

    // Both chroma components smoothly upsampled across (4:2:0, 4:2:2) and
    // alike: reconstructed together, a block column's column passes done
    // once for all samples in it.
    bool pairedChroma = false;

    // The column passes of one chroma block column at the line's near and
    // far rows, for both components.
    struct ChromaColumns {
        std::int32_t blockX = -1;
        BlockRow cbNear;
        BlockRow cbFar;
        BlockRow crNear;
        BlockRow crFar;
    };

    void WritePixel(std::uint8_t* pixel, int luma, std::size_t cb, std::size_t cr) const {
        pixel[2] = Clamp(luma + kColour.crToRed[cr]);
        pixel[1] = Clamp(
            luma + static_cast<int>((kColour.cbToGreen[cb] + kColour.crToGreen[cr]) >> kScaleBits));
        pixel[0] = Clamp(luma + kColour.cbToBlue[cb]);
    }

    // One line with paired chroma: what ValueAt gives for each component,
    // the same arithmetic in another order.
    void ReconstructPairedLine(const Placed& line) {
        Component& luma = components[0];
        const Component& cb = components[1];
        const Component& cr = components[2];
        const std::int32_t y = line.stored;
        const bool twoRows = cb.upsampling == Upsampling::H2V2Smooth;
        const auto [low, high] = cb.RowsOfLine(y);
        // H2V2: the near row weighs 3/4 and the far one 1/4.
        const std::int32_t nearY = twoRows ? y >> 1 : y;
        const std::int32_t farY = nearY == low ? high : low;
        std::array<ChromaColumns, 2> done{};  // by the block column's parity
        const auto columnsOf = [&](std::int32_t blockX) -> const ChromaColumns& {
            ChromaColumns& at = done[static_cast<std::size_t>(blockX & 1)];
            if (at.blockX != blockX) {
                at.blockX = blockX;
                at.cbNear = cb.ColumnPassOf(blockX, nearY);
                at.crNear = cr.ColumnPassOf(blockX, nearY);
                if (twoRows) {
                    at.cbFar = cb.ColumnPassOf(blockX, farY);
                    at.crFar = cr.ColumnPassOf(blockX, farY);
                }
            }
            return at;
        };
        for (const Placed& column : columns) {
            std::uint8_t* pixel = pixels + line.offset + column.offset;
            const std::int32_t x = column.stored;
            const int lumaValue = luma.ValueAt(x, y);
            const std::int32_t nearX = x >> 1;
            const bool left = (x & 1) == 0;
            const std::int32_t farX =
                left ? std::max(nearX - 1, 0) : std::min(nearX + 1, cb.width - 1);
            const ChromaColumns& nearColumns = columnsOf(nearX >> 3);
            const ChromaColumns& farColumns = columnsOf(farX >> 3);
            int cbValue = 0;
            int crValue = 0;
            if (twoRows) {
                const std::array<int, 4> cbSamples =
                    RowPass4({&nearColumns.cbNear, &nearColumns.cbFar, &farColumns.cbNear,
                              &farColumns.cbFar},
                             {nearX, nearX, farX, farX});
                const std::array<int, 4> crSamples =
                    RowPass4({&nearColumns.crNear, &nearColumns.crFar, &farColumns.crNear,
                              &farColumns.crFar},
                             {nearX, nearX, farX, farX});
                const int rounding = left ? 8 : 7;
                cbValue = (3 * (3 * cbSamples[0] + cbSamples[1]) + 3 * cbSamples[2] + cbSamples[3] +
                           rounding) >>
                          4;
                crValue = (3 * (3 * crSamples[0] + crSamples[1]) + 3 * crSamples[2] + crSamples[3] +
                           rounding) >>
                          4;
            } else {
                const std::array<int, 4> samples =
                    RowPass4({&nearColumns.cbNear, &farColumns.cbNear, &nearColumns.crNear,
                              &farColumns.crNear},
                             {nearX, farX, nearX, farX});
                const int rounding = left ? 1 : 2;
                cbValue = (3 * samples[0] + samples[1] + rounding) >> 2;
                crValue = (3 * samples[2] + samples[3] + rounding) >> 2;
            }
            WritePixel(pixel, lumaValue, static_cast<std::size_t>(cbValue),
                       static_cast<std::size_t>(crValue));
        }
    }

    // Reconstructs the sampled lines whose MCU rows all come before `end`.
    void ReconstructBefore(JDIMENSION end) {
        for (; nextLine < lines.size() && LastMcuRowOf(lines[nextLine].stored) < end; ++nextLine) {
            const Placed line = lines[nextLine];
            if (pairedChroma) {
                ReconstructPairedLine(line);
                continue;
            }
            for (const Placed& column : columns) {
                std::uint8_t* pixel = pixels + line.offset + column.offset;
                const std::int32_t x = column.stored;
                const std::int32_t y = line.stored;
                const int luma = components[0].ValueAt(x, y);
                if (grey) {
                    pixel[0] = pixel[1] = pixel[2] = static_cast<std::uint8_t>(luma);
                    continue;
                }
                WritePixel(pixel, luma, static_cast<std::size_t>(components[1].ValueAt(x, y)),
                           static_cast<std::size_t>(components[2].ValueAt(x, y)));
            }
        }
    }
};

namespace {

using State = SparseJpegDecoder::State;

State& StateOf(j_common_ptr cinfo) {
    return *static_cast<State*>(cinfo->client_data);
}

[[noreturn]] void Refuse(j_common_ptr cinfo) {
    (*cinfo->err->error_exit)(cinfo);
    std::abort();  // error_exit does not return
}

// The block arrays of the coefficients: the ones prepared for this picture,
// in component order, when libjpeg asks for arrays of their shape.
extern "C" jvirt_barray_ptr RequestBlocks(j_common_ptr cinfo, int pool, boolean preZero,
                                          JDIMENSION blocksPerRow, JDIMENSION rowCount,
                                          JDIMENSION maxAccess) {
    State& state = StateOf(cinfo);
    const auto index = static_cast<std::size_t>(state.requested);
    if (index >= state.stores.size() || state.requested >= state.cinfo.num_components) {
        Refuse(cinfo);
    }
    BlockStore& store = state.stores[index];
    if (!preZero || blocksPerRow != store.blocksPerRow || rowCount != store.rowCount ||
        maxAccess < store.rowsPerAccess) {
        Refuse(cinfo);
    }
    (void)pool;
    ++state.requested;
    return reinterpret_cast<jvirt_barray_ptr>(&store);
}

// The quantisation of every component: as libjpeg keeps it once each has
// been in a scan (`latched`), or as the tables read before the first scan
// give it.
bool PrepareComponents(State& state, bool latched) {
    for (int c = 0; c < state.cinfo.num_components; ++c) {
        const jpeg_component_info& info = state.cinfo.comp_info[c];
        const JQUANT_TBL* table = latched ? info.quant_table : nullptr;
        if (!latched && info.quant_tbl_no >= 0 && info.quant_tbl_no < NUM_QUANT_TBLS) {
            table = state.cinfo.quant_tbl_ptrs[info.quant_tbl_no];
        }
        if (table == nullptr) return false;
        state.components[static_cast<std::size_t>(c)].Prepare(*table);
    }
    return true;
}

extern "C" JBLOCKARRAY AccessBlocks(j_common_ptr cinfo, jvirt_barray_ptr array, JDIMENSION startRow,
                                    JDIMENSION rowCount, boolean writable) {
    State& state = StateOf(cinfo);
    auto* store = reinterpret_cast<BlockStore*>(array);
    const auto index = static_cast<std::size_t>(store - state.stores.data());
    if (store < state.stores.data() || index >= static_cast<std::size_t>(state.requested) ||
        !writable || rowCount != store->rowsPerAccess || startRow % rowCount != 0 ||
        startRow + rowCount > store->rowCount) {
        Refuse(cinfo);
    }
    const std::size_t rowBytes = std::size_t{store->blocksPerRow} * 64 * sizeof(JCOEF);
    const jpeg_decompress_struct& decompress = state.cinfo;
    if (state.ring) {
        // The rows of MCU row startRow / rowCount: every row before it is
        // complete.
        if (decompress.comps_in_scan != decompress.num_components) Refuse(cinfo);
        // The quantisation tables are the first scan's, known once it starts.
        if (!state.prepared) {
            if (!PrepareComponents(state, true)) Refuse(cinfo);
            state.prepared = true;
        }
        return state.RingRows(index, startRow / rowCount);
    }

    // Several scans. First what the last scan left in the scratch rows.
    if (store->scratchToMask) {
        for (JDIMENSION i = 0; i < store->scratchRows; ++i) {
            const JCOEF* row = store->ScratchRow(i);
            std::uint64_t* masks =
                store->nonzero.data() + std::size_t{store->scratchStart + i} * store->blocksPerRow;
            for (JDIMENSION b = 0; b < store->blocksPerRow; ++b)
                masks[b] |= NonzeroMask(row + 64 * b);
        }
    }
    // A progressive scan of AC coefficients fills a band of coefficients
    // known to be zero, or refines those not zero; one of DC coefficients
    // touches nothing else; a sequential one fills whole blocks.
    const bool progressive = decompress.progressive_mode != 0;
    const bool acScan = progressive && decompress.Ss > 0;
    const bool refining = acScan && decompress.Ah > 0;
    store->scratchStart = startRow;
    store->scratchRows = rowCount;
    store->scratchToMask = acScan;
    for (JDIMENSION i = 0; i < rowCount; ++i) {
        const JDIMENSION at = startRow + i;
        const std::int32_t kept = store->keptAt[at];
        if (kept >= 0) {
            store->handed[i] =
                reinterpret_cast<JBLOCKROW>(store->KeptRow(static_cast<std::size_t>(kept)));
            continue;
        }
        JCOEF* row = store->ScratchRow(i);
        store->handed[i] = reinterpret_cast<JBLOCKROW>(row);
        if (progressive && !acScan) continue;
        std::memset(row, 0, rowBytes);
        if (!refining) continue;
        const std::uint64_t* masks = store->nonzero.data() + std::size_t{at} * store->blocksPerRow;
        for (JDIMENSION b = 0; b < store->blocksPerRow; ++b) {
            for (std::uint64_t mask = masks[b]; mask != 0; mask &= mask - 1) {
                row[64 * b + static_cast<std::size_t>(std::countr_zero(mask))] = 1;
            }
        }
    }
    return store->handed.data();
}

// The ring's rows for our own entropy decoding.
class RingTarget final : public ScanBlockRows {
  public:
    explicit RingTarget(State& state) : state_(state) {}
    JBLOCKROW* RowsOf(int component, JDIMENSION mcuRow) override {
        return state_.RingRows(static_cast<std::size_t>(component), mcuRow);
    }

  private:
    State& state_;
};

// How libjpeg-turbo upsamples a component with these sampling factors, or
// false when this reconstruction does not follow it.
bool ChooseUpsampling(const jpeg_decompress_struct& cinfo, const jpeg_component_info& info,
                      Component& component) {
    if (info.h_samp_factor <= 0 || info.v_samp_factor <= 0 ||
        cinfo.max_h_samp_factor % info.h_samp_factor != 0 ||
        cinfo.max_v_samp_factor % info.v_samp_factor != 0) {
        return false;
    }
    component.factorX = cinfo.max_h_samp_factor / info.h_samp_factor;
    component.factorY = cinfo.max_v_samp_factor / info.v_samp_factor;
    component.width = static_cast<std::int32_t>(info.downsampled_width);
    component.height = static_cast<std::int32_t>(info.downsampled_height);
    const int fx = component.factorX;
    const int fy = component.factorY;
    if (fx == 1 && fy == 1) {
        component.upsampling = Upsampling::None;
    } else if (fx == 2 && fy == 1 && component.width > 2) {
        component.upsampling = Upsampling::H2V1Smooth;
    } else if (fx == 1 && fy == 2) {
        component.upsampling = Upsampling::H1V2Smooth;
    } else if (fx == 2 && fy == 2 && component.width > 2) {
        component.upsampling = Upsampling::H2V2Smooth;
    } else {
        component.upsampling = Upsampling::Replicate;
    }
    return true;
}

std::size_t CountDistinct(const std::vector<std::int32_t>& positions, std::int32_t limit) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        if (positions[i] < 0 || positions[i] >= limit) return 0;
        if (i == 0 || positions[i] != positions[i - 1]) ++count;
    }
    return count;
}

// The sampled lines and columns of the stored picture, in stored order,
// each with its place in the shown rows.
void PlaceSamples(const SampledPixels& sampled, Orientation orientation, std::int32_t width,
                  std::int32_t height, PixelRows& rows, State& state) {
    const bool swap = SwapsWidthAndHeight(orientation);
    const PictureSize stored{width, height};
    state.lines.clear();
    state.columns.clear();
    // Shown row v and shown column u: their bytes into the rows.
    const auto rowOffset = [&rows](std::int32_t v) {
        return rows.ScanLine(rows.height - 1 - v) - rows.bits.get();
    };
    const auto columnOffset = [](std::int32_t u) { return std::ptrdiff_t{3} * u; };
    for (std::size_t i = 0; i < sampled.rows.size(); ++i) {
        const std::int32_t v = sampled.rows[i];
        if (i > 0 && v == sampled.rows[i - 1]) continue;
        if (swap) {
            state.columns.push_back({StoredPixelOf(orientation, 0, v, stored).x, rowOffset(v)});
        } else {
            state.lines.push_back({StoredPixelOf(orientation, 0, v, stored).y, rowOffset(v)});
        }
    }
    for (std::size_t i = 0; i < sampled.columns.size(); ++i) {
        const std::int32_t u = sampled.columns[i];
        if (i > 0 && u == sampled.columns[i - 1]) continue;
        if (swap) {
            state.lines.push_back({StoredPixelOf(orientation, u, 0, stored).y, columnOffset(u)});
        } else {
            state.columns.push_back({StoredPixelOf(orientation, u, 0, stored).x, columnOffset(u)});
        }
    }
    const auto byStored = [](const Placed& a, const Placed& b) { return a.stored < b.stored; };
    std::sort(state.lines.begin(), state.lines.end(), byStored);
    std::sort(state.columns.begin(), state.columns.end(), byStored);
}

// Shapes the block stores for this picture, libjpeg's header read: the
// bytes they take.
std::size_t PrepareStores(State& state) {
    const jpeg_decompress_struct& cinfo = state.cinfo;
    std::size_t bytes = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& info = cinfo.comp_info[c];
        Component& component = state.components[static_cast<std::size_t>(c)];
        BlockStore& store = state.stores[static_cast<std::size_t>(c)];
        const auto perMcuRow = static_cast<JDIMENSION>(info.v_samp_factor);
        const auto perMcu = static_cast<JDIMENSION>(info.h_samp_factor);
        component.blockRowsPerMcuRow = info.v_samp_factor;
        store.blocksPerRow = (info.width_in_blocks + perMcu - 1) / perMcu * perMcu;
        store.rowCount = (info.height_in_blocks + perMcuRow - 1) / perMcuRow * perMcuRow;
        store.rowsPerAccess = perMcuRow;
        store.handed.assign(perMcuRow, nullptr);
        store.scratchRows = 0;
        store.scratchToMask = false;
        component.blockRows.assign(store.rowCount, nullptr);
        const std::size_t rowBlocks = std::size_t{store.blocksPerRow} * 64;
        if (state.ring) {
            store.kept.resize(rowBlocks * kRingMcuRows * perMcuRow);
            bytes += store.kept.size() * sizeof(JCOEF);
            continue;
        }
        // The block rows that sampled lines need, kept whole.
        store.keptAt.assign(store.rowCount, -1);
        for (const Placed& line : state.lines) {
            const auto [low, high] = component.RowsOfLine(line.stored);
            store.keptAt[static_cast<std::size_t>(low >> 3)] = 0;
            store.keptAt[static_cast<std::size_t>(high >> 3)] = 0;
        }
        std::int32_t kept = 0;
        for (std::int32_t& at : store.keptAt) {
            if (at == 0) at = kept++;
        }
        store.kept.assign(rowBlocks * static_cast<std::size_t>(kept), 0);
        store.scratch.resize(rowBlocks * perMcuRow);
        bytes += (store.kept.size() + store.scratch.size()) * sizeof(JCOEF);
        if (cinfo.progressive_mode) {
            store.nonzero.assign(std::size_t{store.blocksPerRow} * store.rowCount, 0);
            bytes += store.nonzero.size() * sizeof(std::uint64_t);
        }
    }
    return bytes;
}

}  // namespace

SparseJpegDecoder::SparseJpegDecoder(bool always) : state_(std::make_unique<State>()) {
    state_->always = always;
}

SparseJpegDecoder::~SparseJpegDecoder() {
    if (state_->created) jpeg_destroy_decompress(&state_->cinfo);
}

bool SparseJpegDecoder::Decode(const JpegCheck& check, const SampledPixels& sampled,
                               PixelRows& rows) {
    const Bytes jpeg = check.bytes;
    const Orientation orientation = check.orientation;
    State& state = *state_;
    jpeg_decompress_struct& cinfo = state.cinfo;
    // Nothing below up to the end of the library's work may own memory of
    // its own: a jump out of libjpeg passes no destructor.
    if (setjmp(state.errors.jump) != 0) {
        jpeg_abort_decompress(&cinfo);
        state.working = PictureMemory();
        return false;
    }
    if (!state.created) {
        cinfo.err = jpeg_std_error(&state.errors.manager);
        state.errors.manager.error_exit = OnJpegError;
        state.errors.manager.emit_message = OnJpegMessage;
        jpeg_create_decompress(&cinfo);
        state.created = true;
        state.progress.progress_monitor = OnJpegProgress;
        cinfo.progress = &state.progress;
        cinfo.client_data = &state;
        cinfo.mem->request_virt_barray = RequestBlocks;
        cinfo.mem->access_virt_barray = AccessBlocks;
    }
    state.errors.manager.num_warnings = 0;
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_abort_decompress(&cinfo);
        return false;
    }

    const bool colour = cinfo.jpeg_color_space == JCS_YCbCr && cinfo.num_components == 3;
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE && cinfo.num_components == 1;
    const auto width = static_cast<std::int32_t>(cinfo.image_width);
    const auto height = static_cast<std::int32_t>(cinfo.image_height);
    const PictureSize shown = OrientedSize({width, height}, orientation);
    const std::size_t columns = CountDistinct(sampled.columns, shown.width);
    const std::size_t lines = CountDistinct(sampled.rows, shown.height);
    // A file whose data cannot reach its last lines is the whole decode's,
    // which decodes only the lines it reaches.
    bool worthIt = (colour || grey) && cinfo.data_precision == 8 && columns > 0 && lines > 0 &&
                   check.linesWithData >= height &&
                   (state.always || static_cast<double>(width) * static_cast<double>(height) >=
                                        kPixelsPerSampleForSparse * static_cast<double>(columns) *
                                            static_cast<double>(lines));
    for (int c = 0; worthIt && c < cinfo.num_components; ++c) {
        worthIt = ChooseUpsampling(cinfo, cinfo.comp_info[c],
                                   state.components[static_cast<std::size_t>(c)]);
    }
    if (!worthIt) {
        jpeg_abort_decompress(&cinfo);
        return false;
    }

    state.grey = grey;
    {
        const Component& cb = state.components[1];
        const Component& cr = state.components[2];
        state.pairedChroma =
            colour && state.components[0].upsampling == Upsampling::None &&
            (cb.upsampling == Upsampling::H2V2Smooth || cb.upsampling == Upsampling::H2V1Smooth) &&
            cr.upsampling == cb.upsampling && cr.width == cb.width && cr.height == cb.height;
    }
    state.ring =
        !check.buffered && !cinfo.progressive_mode && cinfo.comps_in_scan == cinfo.num_components;
    state.requested = 0;
    state.started = 0;
    state.nextLine = 0;
    state.prepared = false;
    try {
        // A file of more coefficients than the whole decode could hold
        // fails as that fails, before any work, though fewer are kept here.
        if (check.buffered) {
            const PictureMemory wholeDecodes(check.coefficientBytes);
        }
        ReshapePixelRows(rows, shown.width, shown.height);
        PlaceSamples(sampled, orientation, width, height, rows, state);
        state.pixels = rows.bits.get();
        const std::size_t bytes = PrepareStores(state);
        state.working = PictureMemory(bytes);
    } catch (const Fault&) {
        // Beyond the budget: the whole decode, which may need less, decides.
        jpeg_abort_decompress(&cinfo);
        return false;
    } catch (...) {
        jpeg_abort_decompress(&cinfo);
        throw;
    }
    // A baseline file of one scan: our own entropy decoding, which gives
    // up on anything libjpeg would warn about or treat in a way of its own;
    // libjpeg then decodes the file after all.
    if (state.ring && state.errors.manager.num_warnings == 0 && HuffmanScanFits(cinfo) &&
        PrepareComponents(state, false)) {
        state.prepared = true;
        RingTarget target(state);
        bool decoded = false;
        try {
            decoded =
                DecodeHuffmanScan(cinfo, {cinfo.src->next_input_byte, cinfo.src->bytes_in_buffer},
                                  target, state.scan);
        } catch (...) {
            jpeg_abort_decompress(&cinfo);
            state.working = PictureMemory();
            throw;
        }
        if (decoded) {
            state.ReconstructBefore(std::numeric_limits<JDIMENSION>::max());
            jpeg_abort_decompress(&cinfo);
            state.working = PictureMemory();
            return true;
        }
        state.started = 0;
        state.nextLine = 0;
        state.prepared = false;
        for (Component& each : state.components) each.done.fill(Component::Done{});
    }
    // The lines are reconstructed while libjpeg decodes (one scan) or once
    // it has decoded everything (several); its pixels then come from the
    // whole decode when it warns.
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&cinfo);
    if (coefficients == nullptr || state.errors.manager.num_warnings != 0 ||
        state.requested != cinfo.num_components) {
        jpeg_abort_decompress(&cinfo);
        state.working = PictureMemory();
        return false;
    }
    if (!state.ring) {
        // Each component's quantisation as it was in its first scan.
        if (!PrepareComponents(state, true)) {
            jpeg_abort_decompress(&cinfo);
            state.working = PictureMemory();
            return false;
        }
        for (int c = 0; c < cinfo.num_components; ++c) {
            BlockStore& store = state.stores[static_cast<std::size_t>(c)];
            Component& component = state.components[static_cast<std::size_t>(c)];
            for (JDIMENSION row = 0; row < store.rowCount; ++row) {
                const std::int32_t kept = store.keptAt[row];
                component.blockRows[row] =
                    kept >= 0 ? store.KeptRow(static_cast<std::size_t>(kept)) : nullptr;
            }
        }
    }
    state.ReconstructBefore(std::numeric_limits<JDIMENSION>::max());
    jpeg_abort_decompress(&cinfo);
    state.working = PictureMemory();
    return true;
}

}  // namespace fotolane::picture::detail
