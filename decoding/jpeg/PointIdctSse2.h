#pragma once

// The SSE2 kernels of the point inverse DCT (see PointIdct.h), which the
// scalar ones of PointIdct.cpp mirror: eight columns of a block row at once,
// the products of pairs of 16-bit terms and weights summed by madd.

#if defined(__SSE2__)

#include <emmintrin.h>

#include "decoding/jpeg/PointIdct.h"

namespace fotolane::picture::detail::idct::sse2 {

// ColumnPass, RowPass, RowPass4 and NonzeroMask give what their scalar
// namesakes give (PointIdct.h); the helpers before them are their own.

// Whether every lane of `magnitudes` (values, each xor its sign: its
// magnitude, less one for a negative value) has none of the bits of `top`:
// 0x4000 for values within +-16383, 0x6000 within +-8191.
inline bool Within(__m128i magnitudes, std::int16_t top) {
    return _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(magnitudes, _mm_set1_epi16(top)),
                                             _mm_setzero_si128())) == 0xFFFF;
}

inline __m128i Magnitudes(__m128i values) {
    return _mm_xor_si128(values, _mm_srai_epi16(values, 15));
}

inline BlockRow ColumnPass(const JCOEF* block, const std::int16_t* quant, std::size_t y) {
    BlockRow row;
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
    return row;
}

// The row pass's sum for weights `weights`, in the four lanes of the result.
inline __m128i RowSums(const BlockRow& row, const RowWeights& weights) {
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

inline std::uint8_t RowPass(const BlockRow& row, std::int32_t n) {
    const RowWeights& weights = kRowWeights[static_cast<std::size_t>(n & 7)];
    __m128i sums = RowSums(row, weights);
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
    const auto sum = static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums));
    return SampleOf(static_cast<std::int32_t>(sum + (1u << (kPass2Shift - 1))) >> kPass2Shift);
}

inline std::array<int, 4> RowPass4(const std::array<const BlockRow*, 4>& rows,
                                   const std::array<std::int32_t, 4>& n) {
    std::array<int, 4> samples{};
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
    return samples;
}

inline std::uint64_t NonzeroMask(const JCOEF* block) {
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
}

}  // namespace fotolane::picture::detail::idct::sse2

#endif
