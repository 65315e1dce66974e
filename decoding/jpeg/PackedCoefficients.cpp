#include "decoding/jpeg/PackedCoefficients.h"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoding/jpeg/LibjpegSession.h"

namespace fotolane::picture::detail {

namespace {

constexpr std::size_t kRowBytes = 8 * sizeof(JCOEF);  // a row of a block's coefficients

PackedCoefficients& StoreOf(j_common_ptr cinfo) {
    return *static_cast<PackedCoefficients*>(cinfo->client_data);
}

extern "C" jvirt_barray_ptr RequestPacked(j_common_ptr cinfo, int /*pool*/, boolean /*preZero*/,
                                          JDIMENSION blocksPerRow, JDIMENSION rowCount,
                                          JDIMENSION maxAccess) {
    // The arrays start as zeros either way: an empty packed row is one.
    return StoreOf(cinfo).Request(cinfo, blocksPerRow, rowCount, maxAccess);
}

extern "C" JBLOCKARRAY AccessPacked(j_common_ptr cinfo, jvirt_barray_ptr array, JDIMENSION startRow,
                                    JDIMENSION rowCount, boolean writable) {
    return StoreOf(cinfo).Access(cinfo, array, startRow, rowCount, writable);
}

// A block's row of coefficients at `in` packed at `out`, which it moves
// on: nothing when all are zero (false), 8 bytes when all fit in one
// (`narrow`), else 16.
bool PackRow(const JCOEF* in, std::uint8_t*& out, bool& narrow) {
#if defined(__SSE2__)
    const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(values, _mm_setzero_si128())) == 0xFFFF) return false;
    const __m128i bytes = _mm_packs_epi16(values, values);
    const __m128i back = _mm_srai_epi16(_mm_unpacklo_epi8(bytes, bytes), 8);
    narrow = _mm_movemask_epi8(_mm_cmpeq_epi16(back, values)) == 0xFFFF;
    if (narrow) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
        out += 8;
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), values);
        out += kRowBytes;
    }
#else
    bool any = false;
    narrow = true;
    for (std::size_t i = 0; i < 8; ++i) {
        any = any || in[i] != 0;
        narrow = narrow && in[i] >= -128 && in[i] <= 127;
    }
    if (!any) return false;
    if (narrow) {
        for (std::size_t i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(in[i]);
        out += 8;
    } else {
        std::memcpy(out, in, kRowBytes);
        out += kRowBytes;
    }
#endif
    return true;
}

// The row that PackRow packed at `in` (8 bytes when `narrow`), into `out`.
void UnpackRow(const std::uint8_t*& in, bool narrow, JCOEF* out) {
    if (!narrow) {
        std::memcpy(out, in, kRowBytes);
        in += kRowBytes;
        return;
    }
#if defined(__SSE2__)
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_srai_epi16(_mm_unpacklo_epi8(bytes, bytes), 8));
#else
    for (std::size_t i = 0; i < 8; ++i) out[i] = static_cast<std::int8_t>(in[i]);
#endif
    in += 8;
}

}  // namespace

void PackedCoefficients::TakeOver(jpeg_decompress_struct& cinfo) {
    arrays_.clear();
    cinfo.client_data = this;
    cinfo.mem->request_virt_barray = RequestPacked;
    cinfo.mem->access_virt_barray = AccessPacked;
}

std::size_t PackedCoefficients::PackedBytes() const {
    std::size_t bytes = 0;
    for (const Blocks& blocks : arrays_) {
        for (const std::vector<std::uint8_t>& row : blocks.packed) bytes += row.size();
    }
    return bytes;
}

void PackedCoefficients::Pack(const JCOEF* row, JDIMENSION blocks,
                              std::vector<std::uint8_t>& scratch,
                              std::vector<std::uint8_t>& packed) {
    std::uint8_t* out = scratch.data();
    bool any = false;
    for (JDIMENSION b = 0; b < blocks; ++b, row += DCTSIZE2) {
        // Which rows are there, and which of them narrow.
        std::uint8_t* head = out;
        out += 2;
        unsigned rows = 0;
        unsigned narrows = 0;
        for (unsigned r = 0; r < 8; ++r) {
            bool narrow = false;
            if (!PackRow(row + 8 * r, out, narrow)) continue;
            rows |= 1u << r;
            if (narrow) narrows |= 1u << r;
        }
        head[0] = static_cast<std::uint8_t>(rows);
        head[1] = static_cast<std::uint8_t>(narrows);
        any = any || rows != 0;
    }
    if (!any) {
        packed.clear();
        return;
    }
    packed.assign(scratch.data(), out);
}

void PackedCoefficients::Unpack(const std::vector<std::uint8_t>& packed, JDIMENSION blocks,
                                JCOEF* row) {
    if (packed.empty()) {
        std::memset(row, 0, std::size_t{blocks} * DCTSIZE2 * sizeof(JCOEF));
        return;
    }
    const std::uint8_t* in = packed.data();
    for (JDIMENSION b = 0; b < blocks; ++b, row += DCTSIZE2) {
        const unsigned rows = in[0];
        const unsigned narrows = in[1];
        in += 2;
        for (unsigned r = 0; r < 8; ++r) {
            JCOEF* values = row + 8 * r;
            if ((rows & (1u << r)) != 0) {
                UnpackRow(in, (narrows & (1u << r)) != 0, values);
            } else {
                std::memset(values, 0, kRowBytes);
            }
        }
    }
}

jvirt_barray_ptr PackedCoefficients::Request(j_common_ptr cinfo, JDIMENSION blocksPerRow,
                                             JDIMENSION rowCount, JDIMENSION maxAccess) {
    if (blocksPerRow == 0 || rowCount == 0 || maxAccess == 0) RefuseInLibjpeg(cinfo);
    // Nothing may throw through libjpeg: a picture whose arrays cannot be
    // had is one of its errors.
    try {
        Blocks& blocks = arrays_.emplace_back();
        blocks.blocksPerRow = blocksPerRow;
        blocks.rowCount = rowCount;
        blocks.maxAccess = maxAccess;
        blocks.slots = std::min<JDIMENSION>(rowCount, 3 * maxAccess);
        blocks.packed.resize(rowCount);
        blocks.open.resize(std::size_t{blocks.slots} * blocksPerRow * DCTSIZE2);
        blocks.slotRow.assign(blocks.slots, rowCount);
        blocks.handed.resize(blocks.slots);
        blocks.scratch.resize(std::size_t{blocksPerRow} * (2 + 8 * kRowBytes));
        return reinterpret_cast<jvirt_barray_ptr>(&blocks);
    } catch (const std::bad_alloc&) {
    }
    RefuseInLibjpeg(cinfo);
}

JBLOCKARRAY PackedCoefficients::Access(j_common_ptr cinfo, jvirt_barray_ptr array,
                                       JDIMENSION startRow, JDIMENSION rowCount, boolean writable) {
    Blocks* blocks = nullptr;
    for (Blocks& each : arrays_) {
        if (reinterpret_cast<jvirt_barray_ptr>(&each) == array) blocks = &each;
    }
    if (blocks == nullptr || rowCount == 0 || rowCount > blocks->maxAccess ||
        startRow > blocks->rowCount || rowCount > blocks->rowCount - startRow) {
        RefuseInLibjpeg(cinfo);
    }
    const std::size_t rowValues = std::size_t{blocks->blocksPerRow} * DCTSIZE2;
    bool failed = false;
    try {
        // The rows that libjpeg had written are packed again: it is done
        // with them once it asks for others. They stay unpacked too.
        if (blocks->openWritable) {
            for (JDIMENSION i = 0; i < blocks->openRows; ++i) {
                const JDIMENSION row = blocks->openStart + i;
                Pack(blocks->open.data() + (row % blocks->slots) * rowValues, blocks->blocksPerRow,
                     blocks->scratch, blocks->packed[row]);
            }
        }
    } catch (const std::bad_alloc&) {
        failed = true;
    }
    if (failed) RefuseInLibjpeg(cinfo);
    // A read may go a little past the rows asked for, as it can in libjpeg's
    // own arrays, which are in memory whole (its block smoothing reads
    // neighbours of the rows it asks for): the rows around them are handed
    // too. They are unpacked only when not already, as the rows asked for
    // move on.
    const JDIMENSION around = writable != 0 ? 0 : blocks->maxAccess;
    const JDIMENSION first = startRow > around ? startRow - around : 0;
    const JDIMENSION end =
        std::min(blocks->rowCount, std::min(startRow + rowCount + around, first + blocks->slots));
    for (JDIMENSION row = first; row < end; ++row) {
        const JDIMENSION slot = row % blocks->slots;
        JCOEF* values = blocks->open.data() + slot * rowValues;
        if (blocks->slotRow[slot] != row) {
            Unpack(blocks->packed[row], blocks->blocksPerRow, values);
            blocks->slotRow[slot] = row;
        }
        blocks->handed[row - first] = reinterpret_cast<JBLOCKROW>(values);
    }
    blocks->openStart = startRow;
    blocks->openRows = rowCount;
    blocks->openWritable = writable != 0;
    return blocks->handed.data() + (startRow - first);
}

}  // namespace fotolane::picture::detail
