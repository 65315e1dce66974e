// A baseline scan's Huffman decoding, and below it a progressive file's, for
// the sparse reconstruction (see HuffmanScan.h), as ITU-T T.81 lays it out: the decoding tables of
// Annex C and Figure F.15, the DC difference and the AC coefficients of F.2.2.1 and F.2.2.2. It is
// faster than libjpeg's (jdhuff.c) in three ways: the byte stuffing and the restart markers are
// taken out of the whole scan first, so that the bit reader loads eight bytes at a time without
// looking at them; one table lookup of the next kFastBits bits decodes the codes and extra bits
// that fit in them, up to two coefficients with the zeros before each; and that lookup is made
// before the reader is refilled, so that the two loads overlap. Every check that libjpeg makes of
// the data is made too, and where libjpeg would warn or go its own way the decoder gives up
// instead.

#include "decoding/jpeg/HuffmanScan.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "decoding/jpeg/PointIdct.h"

namespace fotolane::picture::detail {

namespace {

// The zigzag order of the coefficients in the data (T.81 Figure A.6), as
// positions of the block in natural (row by row) order.
constexpr std::array<std::uint8_t, 64> kNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr int kFastBits = 11;
// Bits taken, in the low six bits of a table entry: a shift by the entry
// masked to them is one instruction.
constexpr std::int32_t kTakenMask = 63;
constexpr std::size_t kFastSize = std::size_t{1} << kFastBits;

// A Huffman table ready for decoding.
struct Table {
    // By the next kFastBits bits: (code length << 8) | symbol, or 0 when the
    // code is longer.
    std::array<std::uint16_t, kFastSize> fast{};
    // DC tables, by the next kFastBits bits, when the code and the extra
    // bits of the difference fit in them: (difference << 16) | bits taken;
    // else 0.
    std::array<std::int32_t, kFastSize> coefficient{};
    // AC tables, by the next kFastBits bits: the one or two coefficients
    // whose codes and extra bits fit in them (see Pair), or 0.
    std::array<std::uint64_t, kFastSize> pair{};
    // AC tables, by the next kFastBits bits: the up to four symbols of two
    // pairs that fit in them, for a block passed over (see Skip), or 0.
    std::array<std::uint16_t, kFastSize> skip{};
    // Longer codes, as libjpeg decodes them: the largest code of each length
    // (-1 for none), and what turns a code of that length into the index of
    // its symbol.
    std::array<std::int32_t, 17> maxCode{};
    std::array<std::int32_t, 17> valueOffset{};
    std::array<std::uint8_t, 256> values{};
};

// An entry of an AC table's `pair`: one or two coefficients, each as the
// step from the position after the last one to the position after it (the
// zeros before it, plus one) and its value. The end of a block steps 64,
// past any block's end; a run of 16 zeros is 15 and a zero. An entry of one
// coefficient gives a second step of 0 and the first value again, so that
// writing "the second" writes the first once more.
struct Pair {
    // The low 6 bits: the bits taken by both.
    static constexpr int kFirstTakenShift = 6;   // bits taken by the first (6 bits)
    static constexpr int kFirstStepShift = 12;   // 7 bits
    static constexpr int kSecondStepShift = 19;  // 7 bits
    static constexpr std::uint64_t kFirstEnds = std::uint64_t{1} << 26;
    static constexpr std::uint64_t kSecondEnds = std::uint64_t{1} << 27;
    static constexpr int kEndStep = 64;

    static int Taken(std::uint64_t e) { return static_cast<int>(e & 63); }
    static int FirstTaken(std::uint64_t e) {
        return static_cast<int>((e >> kFirstTakenShift) & 63);
    }
    static int FirstStep(std::uint64_t e) { return static_cast<int>((e >> kFirstStepShift) & 127); }
    static int SecondStep(std::uint64_t e) {
        return static_cast<int>((e >> kSecondStepShift) & 127);
    }
    static JCOEF FirstValue(std::uint64_t e) { return static_cast<JCOEF>(e >> 32); }
    static JCOEF SecondValue(std::uint64_t e) { return static_cast<JCOEF>(e >> 48); }
};

// An entry of an AC table's `skip`: the bits that its symbols take (4
// bits), the steps of their coefficients and runs of zeros (7 bits), and
// whether the last is the end of the block.
struct Skip {
    static constexpr int kStepsShift = 4;
    static constexpr std::uint16_t kEnds = 1 << 11;
    static int Taken(std::uint16_t e) { return e & 15; }
    static int Steps(std::uint16_t e) { return (e >> kStepsShift) & 127; }
    static bool Ends(std::uint16_t e) { return (e & kEnds) != 0; }
};

// The value that `bits`, the `size` extra bits of a coefficient, stand for:
// EXTEND, T.81 Figure F.12.
constexpr int Extend(int bits, int size) {
    return bits < (1 << (size - 1)) ? bits - (1 << size) + 1 : bits;
}

// One AC symbol decoded from the top of `bits` (kFastBits of them, of which
// `available` are known), as libjpeg takes it: a size of 0 is the end of
// the block, but with a run of 15 sixteen zeros.
struct Coded {
    int taken = 0;  // 0: not within the bits available
    int step = 0;
    int value = 0;
    bool ends = false;
};

Coded CodedAt(const Table& table, std::size_t bits, int available) {
    const std::uint16_t fast = table.fast[bits];
    const int length = fast >> 8;
    if (fast == 0 || length > available) return {};
    const int symbol = fast & 0xFF;
    const int size = symbol & 15;
    const int run = symbol >> 4;
    if (size == 0) {
        if (run == 15) return {length, 16, 0, false};
        return {length, Pair::kEndStep, 0, true};
    }
    if (length + size > available) return {};
    const int extra = static_cast<int>(bits >> (kFastBits - length - size)) & ((1 << size) - 1);
    return {length + size, run + 1, Extend(extra, size), false};
}

std::uint64_t PairAt(const Table& table, std::size_t at) {
    const Coded first = CodedAt(table, at, kFastBits);
    if (first.taken == 0) return 0;
    Coded second;
    if (!first.ends && first.taken < kFastBits) {
        second = CodedAt(table, (at << first.taken) & (kFastSize - 1), kFastBits - first.taken);
    }
    const auto bitsOf = [](int value) {
        return static_cast<std::uint64_t>(
            static_cast<std::uint16_t>(static_cast<std::int16_t>(value)));
    };
    const int secondValue = second.taken != 0 ? second.value : first.value;
    return static_cast<std::uint64_t>(first.taken + second.taken) |
           static_cast<std::uint64_t>(first.taken) << Pair::kFirstTakenShift |
           static_cast<std::uint64_t>(first.step) << Pair::kFirstStepShift |
           static_cast<std::uint64_t>(second.step) << Pair::kSecondStepShift |
           (first.ends ? Pair::kFirstEnds : 0) | (second.ends ? Pair::kSecondEnds : 0) |
           bitsOf(first.value) << 32 | bitsOf(secondValue) << 48;
}

// What a pair entry passes over: its bits, its steps but the end's, and
// whether it ends the block.
struct Passed {
    int taken = 0;
    int steps = 0;
    bool ends = false;
};
Passed PassedBy(std::uint64_t pair) {
    if ((pair & Pair::kFirstEnds) != 0) return {Pair::FirstTaken(pair), 0, true};
    if ((pair & Pair::kSecondEnds) != 0) {
        return {Pair::Taken(pair), Pair::FirstStep(pair), true};
    }
    return {Pair::Taken(pair), Pair::FirstStep(pair) + Pair::SecondStep(pair), false};
}

// The skip entry of the next kFastBits bits `at`: the pair there and, when
// it does not end the block, the pair whose bits follow it within them.
std::uint16_t SkipAt(const Table& table, std::size_t at) {
    const std::uint64_t first = table.pair[at];
    if (first == 0) return 0;
    Passed passed = PassedBy(first);
    if (!passed.ends && passed.taken < kFastBits) {
        const std::uint64_t second = table.pair[(at << passed.taken) & (kFastSize - 1)];
        if (second != 0 && Pair::Taken(second) <= kFastBits - passed.taken) {
            const Passed more = PassedBy(second);
            passed = {passed.taken + more.taken, passed.steps + more.steps, more.ends};
        }
    }
    return static_cast<std::uint16_t>(passed.taken | passed.steps << Skip::kStepsShift |
                                      (passed.ends ? Skip::kEnds : 0));
}

// Builds the table as libjpeg does, with its checks: false where libjpeg
// refuses the table. Every entry that decoding reads is written, so a table
// used for an earlier picture is built over in place.
bool Build(const JHUFF_TBL* source, bool dc, Table& table, bool pairs = true) {
    if (source == nullptr) return false;
    // The code length of each symbol in turn (HUFFSIZE, T.81 Figure C.1),
    // then the codes (HUFFCODE, Figure C.2).
    std::array<int, 257> lengths{};
    std::array<std::int32_t, 257> codes{};
    std::size_t count = 0;
    for (int length = 1; length <= 16; ++length) {
        const int many = source->bits[length];
        if (count + static_cast<std::size_t>(many) > 256) return false;
        for (int i = 0; i < many; ++i) lengths[count++] = length;
    }
    lengths[count] = 0;
    std::int32_t code = 0;
    int length = lengths[0];
    for (std::size_t p = 0; lengths[p] != 0;) {
        while (lengths[p] == length) codes[p++] = code++;
        if (code >= (std::int32_t{1} << length)) return false;
        code <<= 1;
        ++length;
    }
    // The largest code of each length and where its symbols start (MAXCODE,
    // and VALPTR less MINCODE: Figure F.15).
    std::size_t p = 0;
    for (int l = 1; l <= 16; ++l) {
        const auto many = static_cast<std::size_t>(source->bits[l]);
        if (many == 0) {
            table.maxCode[static_cast<std::size_t>(l)] = -1;
            continue;
        }
        table.valueOffset[static_cast<std::size_t>(l)] = static_cast<std::int32_t>(p) - codes[p];
        p += many;
        table.maxCode[static_cast<std::size_t>(l)] = codes[p - 1];
    }
    for (std::size_t i = 0; i < 256; ++i) table.values[i] = source->huffval[i];
    if (dc) {
        for (std::size_t i = 0; i < count; ++i) {
            if (table.values[i] > 15) return false;
        }
    }

    // The lookups by the next kFastBits bits.
    table.fast.fill(0);
    table.coefficient.fill(0);
    for (std::size_t i = 0; i < count; ++i) {
        const int l = lengths[i];
        if (l > kFastBits) break;
        const int symbol = table.values[i];
        const auto first = static_cast<std::size_t>(codes[i]) << (kFastBits - l);
        const std::size_t span = std::size_t{1} << (kFastBits - l);
        for (std::size_t at = first; at < first + span; ++at) {
            table.fast[at] = static_cast<std::uint16_t>((l << 8) | symbol);
            // A DC table: the difference.
            const int size = symbol & 15;
            if (!dc || l + size > kFastBits) continue;
            const int extra =
                size == 0 ? 0 : static_cast<int>(at >> (kFastBits - l - size)) & ((1 << size) - 1);
            table.coefficient[at] = (size == 0 ? 0 : Extend(extra, size) * 65536) + (l + size);
        }
    }
    if (!dc && pairs) {
        for (std::size_t at = 0; at < kFastSize; ++at) table.pair[at] = PairAt(table, at);
        for (std::size_t at = 0; at < kFastSize; ++at) table.skip[at] = SkipAt(table, at);
    }
    return true;
}

std::uint64_t LoadBigEndian(const std::uint8_t* at) {
    std::uint64_t value = 0;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap64(value);
    return value;
}

// The bits of one restart interval, read from the top of a 64-bit buffer.
// The data beyond the interval is readable (the next interval's, or the
// zeros after the last): what is read beyond the end is never used, since
// the decoder gives up once it has taken bits beyond it.
struct Bits {
    const std::uint8_t* start;
    const std::uint8_t* next;  // the byte at the buffer's count
    std::uint64_t buffer = 0;  // the bits not yet taken from the top; zeros or the next bits below
    std::ptrdiff_t count = 0;  // how many of its bits are valid

    explicit Bits(const std::uint8_t* at) : start(at), next(at) {}

    // At least 56 valid bits.
    void Refill() {
        buffer |= LoadBigEndian(next) >> count;
        next += (63 - count) >> 3;
        count |= 56;
    }
    // The next `n` bits (1 to 32), not taken.
    std::uint32_t Peek(int n) const { return static_cast<std::uint32_t>(buffer >> (64 - n)); }
    void Skip(std::ptrdiff_t n) {
        buffer <<= n;
        count -= n;
    }
    std::uint32_t Take(int n) {
        const std::uint32_t bits = Peek(n);
        Skip(n);
        return bits;
    }
    std::size_t Taken() const {
        return static_cast<std::size_t>(next - start) * 8 - static_cast<std::size_t>(count);
    }
};

// The symbol of the next code (32 or more bits valid), or -1 for a code the
// table does not have: a lookup, or for a longer code DECODE (T.81 Figure
// F.16).
inline int DecodeSymbol(Bits& bits, const Table& table) {
    const std::uint16_t fast = table.fast[bits.Peek(kFastBits)];
    if (fast != 0) {
        bits.Skip(fast >> 8);
        return fast & 0xFF;
    }
    const std::uint32_t next16 = bits.Peek(16);
    int length = kFastBits + 1;
    while (length <= 16 && static_cast<std::int32_t>(next16 >> (16 - length)) >
                               table.maxCode[static_cast<std::size_t>(length)]) {
        ++length;
    }
    if (length > 16) return -1;
    const auto code = static_cast<std::int32_t>(next16 >> (16 - length));
    bits.Skip(length);
    return table.values[static_cast<std::size_t>(
        (code + table.valueOffset[static_cast<std::size_t>(length)]) & 0xFF)];
}

// The block zeroed by eight 16-byte stores: the compiler makes a memset of
// these 128 bytes a `rep stos`, whose start-up costs more than the stores.
[[gnu::always_inline]] inline void ZeroBlock(JCOEF* block) {
    using Eight = std::int16_t __attribute__((vector_size(16), aligned(2), may_alias));
    for (std::size_t i = 0; i < DCTSIZE2; i += 8) *reinterpret_cast<Eight*>(block + i) = Eight{};
}

// One block: its DC difference added to `predictor` (T.81 F.2.2.1), its AC
// coefficients into the block, zeroed before or (kZero) first (F.2.2.2,
// Figures F.13 and F.14); with kStore false only passed over, for a block
// no one reads: the same checks, nothing written. False where libjpeg would
// warn, or would write a coefficient run past the block's end where it can
// hold it.
template <bool kStore = true, bool kZero = false>
[[gnu::always_inline]] inline bool DecodeBlock(Bits& state, const Table& dc, const Table& ac,
                                               std::int32_t& predictor, JCOEF* block) {
    if constexpr (kStore && kZero) ZeroBlock(block);
    // A copy of the reader, which the compiler keeps in registers.
    Bits bits = state;
    bits.Refill();
    int difference = 0;
    const std::int32_t both = dc.coefficient[bits.Peek(kFastBits)];
    if (both != 0) [[likely]] {
        bits.Skip(both & kTakenMask);
        difference = both >> 16;
    } else {
        const int size = DecodeSymbol(bits, dc);
        if (size < 0) return false;
        if (size != 0) difference = Extend(static_cast<int>(bits.Take(size)), size);
    }
    if (difference != 0) {
        const std::int64_t sum = std::int64_t{predictor} + difference;
        if (sum > std::numeric_limits<std::int32_t>::max() ||
            sum < std::numeric_limits<std::int32_t>::min()) {
            return false;
        }
        predictor = static_cast<std::int32_t>(sum);
    }
    if constexpr (kStore) block[0] = static_cast<JCOEF>(predictor);
    // At least 25 bits are valid at the top of the loop, enough for the
    // lookup, which is done before the reader is refilled: so the loads of
    // the data and of the table overlap.
    // k is the position after the last coefficient decoded.
    for (int k = 1; k < 64;) {
        if constexpr (!kStore) {
            // Up to four symbols at once while they stay within the block;
            // near its end the pairs decide, as for a block written.
            const std::uint16_t skip = ac.skip[bits.Peek(kFastBits)];
            bits.Refill();
            if (skip != 0 && k + Skip::Steps(skip) < 64) [[likely]] {
                bits.Skip(Skip::Taken(skip));
                if (Skip::Ends(skip)) break;
                k += Skip::Steps(skip);
                continue;
            }
        }
        const std::uint64_t pair = ac.pair[bits.Peek(kFastBits)];
        const Bits before = bits;
        bits.Refill();
        if (pair != 0) [[likely]] {
            bits.Skip(Pair::Taken(pair));
            const int afterFirst = k + Pair::FirstStep(pair);
            if (afterFirst >= 64) [[unlikely]] {
                if ((pair & Pair::kFirstEnds) != 0) break;
                if (afterFirst > 64) return false;
                // The first fills the block: what follows is the next
                // block's, not a second coefficient.
                if constexpr (kStore) block[kNatural[63]] = Pair::FirstValue(pair);
                bits = before;
                bits.Refill();
                bits.Skip(Pair::FirstTaken(pair));
                break;
            }
            if constexpr (kStore) {
                block[kNatural[static_cast<std::size_t>(afterFirst - 1)]] = Pair::FirstValue(pair);
            }
            k = afterFirst + Pair::SecondStep(pair);
            if (k > 64) [[unlikely]] {
                if ((pair & Pair::kSecondEnds) != 0) break;
                return false;
            }
            if constexpr (kStore) {
                block[kNatural[static_cast<std::size_t>(k - 1)]] = Pair::SecondValue(pair);
            }
            continue;
        }
        const int symbol = DecodeSymbol(bits, ac);
        if (symbol < 0) return false;
        const int run = symbol >> 4;
        const int bitCount = symbol & 15;
        if (bitCount == 0) {
            if (run != 15) break;  // the end of the block
            k += 16;
            continue;
        }
        k += run;
        if (k > 63) return false;
        const auto value =
            static_cast<JCOEF>(Extend(static_cast<int>(bits.Take(bitCount)), bitCount));
        if constexpr (kStore) block[kNatural[static_cast<std::size_t>(k)]] = value;
        ++k;
    }
    state = bits;
    return true;
}

constexpr std::uint8_t kMarkerRst0 = 0xD0;
constexpr std::uint8_t kMarkerEoi = 0xD9;
// Readable zeros after the data: more than an MCU's bits at most (64 codes
// of 31 bits for each of its blocks), so that decoding runs on until the
// check after each MCU.
constexpr std::size_t kPadding = 4096;
static_assert(kPadding * 8 > std::size_t{D_MAX_BLOCKS_IN_MCU} * 64 * 31);

// Takes the byte stuffing (T.81 F.1.2.3) out of the scan's data, as libjpeg
// reads it (an 0xFF, any further 0xFF, and a 0 stand for one 0xFF byte; an
// 0xFF, any further 0xFF, and anything else are a marker), and notes where
// each restart interval ends. False unless the markers are restart markers
// numbered 0, 1, ... 7, 0, ... and then the end of the picture; with
// `markerEnd`, or any other marker, whose end it is set to (0 for the end
// of the picture).
bool Unstuff(std::span<const std::uint8_t> in, HuffmanScanMemory& memory,
             std::size_t* markerEnd = nullptr) {
    memory.data.resize(in.size() + kPadding);
    memory.segmentEnds.clear();
    std::uint8_t* out = memory.data.data();
    std::size_t written = 0;
    std::size_t at = 0;
    int nextRestart = 0;
    if (markerEnd != nullptr) *markerEnd = 0;
    while (true) {
        const auto* found =
            static_cast<const std::uint8_t*>(std::memchr(in.data() + at, 0xFF, in.size() - at));
        if (found == nullptr) return false;  // no end of the picture
        const auto run = static_cast<std::size_t>(found - (in.data() + at));
        std::memcpy(out + written, in.data() + at, run);
        written += run;
        at += run + 1;
        while (at < in.size() && in[at] == 0xFF) ++at;
        if (at >= in.size()) return false;
        const std::uint8_t code = in[at++];
        if (code == 0) {
            out[written++] = 0xFF;
            continue;
        }
        memory.segmentEnds.push_back(written);
        if (code == kMarkerEoi) break;
        // A scan of several: the next marker that is no restart ends it.
        if (markerEnd != nullptr && (code < kMarkerRst0 || code > kMarkerRst0 + 7)) {
            *markerEnd = at;
            break;
        }
        if (code != kMarkerRst0 + nextRestart) return false;
        nextRestart = (nextRestart + 1) & 7;
    }
    std::fill(out + written, out + written + kPadding, std::uint8_t{0});
    return true;
}

// One block of the MCU: its component's place in the scan and the block's
// place in the component's part of the MCU.
struct McuBlock {
    std::size_t component = 0;  // in the scan
    int across = 0;
    int down = 0;
};

// The restart intervals, one after the other.
struct Intervals {
    const HuffmanScanMemory& memory;
    unsigned length;        // MCUs in one, 0 for a single interval
    std::size_t index = 0;  // the interval under way
    unsigned left = 0;      // its MCUs not yet decoded
    std::array<std::int32_t, MAX_COMPS_IN_SCAN> predictors{};
    Bits bits;

    Intervals(const HuffmanScanMemory& data, unsigned mcus)
        : memory(data), length(mcus), left(mcus), bits(data.data.data()) {}

    std::size_t Bytes() const {
        const std::size_t begin = index == 0 ? 0 : memory.segmentEnds[index - 1];
        return memory.segmentEnds[index] - begin;
    }
    // Whether the interval's data has been taken as libjpeg expects:
    // nothing beyond it, and no whole byte left over.
    bool Ended() const {
        const std::size_t taken = bits.Taken();
        const std::size_t available = Bytes() * 8;
        return taken <= available && available - taken < 8;
    }
    bool Overrun() const { return bits.Taken() > Bytes() * 8; }
    // Before each MCU: the next interval when this one is done.
    bool Next() {
        if (length == 0) return true;
        if (left == 0) {
            if (!Ended() || index + 1 >= memory.segmentEnds.size()) return false;
            ++index;
            bits = Bits(memory.data.data() + memory.segmentEnds[index - 1]);
            predictors.fill(0);
            left = length;
        }
        --left;
        return true;
    }
    // After the last MCU.
    bool Finished() const { return index + 1 == memory.segmentEnds.size() && Ended(); }
};

}  // namespace

struct HuffmanTables {
    std::array<Table, NUM_HUFF_TBLS> dc;
    std::array<Table, NUM_HUFF_TBLS> ac;
};

HuffmanScanMemory::HuffmanScanMemory() = default;
HuffmanScanMemory::~HuffmanScanMemory() = default;

bool HuffmanScanFits(const jpeg_decompress_struct& cinfo) {
    if (cinfo.arith_code || cinfo.progressive_mode || cinfo.data_precision != 8 ||
        cinfo.comps_in_scan != cinfo.num_components || cinfo.num_components < 1 ||
        cinfo.num_components > MAX_COMPS_IN_SCAN || cinfo.Ss != 0 || cinfo.Se != 63 ||
        cinfo.Ah != 0 || cinfo.Al != 0) {
        return false;
    }
    int blocks = 0;
    for (int i = 0; i < cinfo.comps_in_scan; ++i) {
        const jpeg_component_info* info = cinfo.cur_comp_info[i];
        if (info == nullptr || info->dc_tbl_no < 0 || info->dc_tbl_no >= NUM_HUFF_TBLS ||
            info->ac_tbl_no < 0 || info->ac_tbl_no >= NUM_HUFF_TBLS) {
            return false;
        }
        blocks += info->h_samp_factor * info->v_samp_factor;
    }
    return cinfo.comps_in_scan == 1 || blocks <= D_MAX_BLOCKS_IN_MCU;
}

bool DecodeHuffmanScan(const jpeg_decompress_struct& cinfo, std::span<const std::uint8_t> data,
                       ScanBlockRows& rows, HuffmanScanMemory& memory) {
    if (!HuffmanScanFits(cinfo)) return false;
    const auto scanned = static_cast<std::size_t>(cinfo.comps_in_scan);
    if (!memory.tables) memory.tables = std::make_unique<HuffmanTables>();
    std::array<Table, NUM_HUFF_TBLS>& dcTables = memory.tables->dc;
    std::array<Table, NUM_HUFF_TBLS>& acTables = memory.tables->ac;
    std::array<const Table*, MAX_COMPS_IN_SCAN> dcOf{};
    std::array<const Table*, MAX_COMPS_IN_SCAN> acOf{};
    std::array<bool, NUM_HUFF_TBLS> dcBuilt{};
    std::array<bool, NUM_HUFF_TBLS> acBuilt{};
    for (std::size_t i = 0; i < scanned; ++i) {
        const jpeg_component_info& info = *cinfo.cur_comp_info[i];
        const auto dc = static_cast<std::size_t>(info.dc_tbl_no);
        const auto ac = static_cast<std::size_t>(info.ac_tbl_no);
        if (!dcBuilt[dc] && !Build(cinfo.dc_huff_tbl_ptrs[dc], true, dcTables[dc])) return false;
        if (!acBuilt[ac] && !Build(cinfo.ac_huff_tbl_ptrs[ac], false, acTables[ac])) return false;
        dcBuilt[dc] = acBuilt[ac] = true;
        dcOf[i] = &dcTables[dc];
        acOf[i] = &acTables[ac];
    }
    if (!Unstuff(data, memory)) return false;
    Intervals intervals(memory, cinfo.restart_interval);
    if (cinfo.restart_interval == 0 && memory.segmentEnds.size() != 1) return false;

    if (scanned == 1) {
        // One component: an MCU is a block, in rows of the component's
        // blocks; an MCU row of the frame holds as many block rows as the
        // component's vertical sampling factor (fewer in the last).
        const jpeg_component_info& info = *cinfo.cur_comp_info[0];
        const JDIMENSION perRow = info.width_in_blocks;
        const auto rowsPer = static_cast<JDIMENSION>(info.v_samp_factor);
        const BlockMask wanted = rows.WantedBlocks(info.component_index);
        for (JDIMENSION mcuRow = 0; mcuRow * rowsPer < info.height_in_blocks; ++mcuRow) {
            JBLOCKROW* blockRows = rows.RowsOf(info.component_index, mcuRow, false);
            if (blockRows == nullptr) return false;
            const JDIMENSION count = std::min(rowsPer, info.height_in_blocks - mcuRow * rowsPer);
            for (JDIMENSION r = 0; r < count; ++r) {
                const bool rowWanted = wanted.Row(mcuRow * rowsPer + r);
                for (JDIMENSION x = 0; x < perRow; ++x) {
                    if (!intervals.Next()) return false;
                    const bool decoded =
                        rowWanted && wanted.Column(x)
                            ? DecodeBlock(intervals.bits, *dcOf[0], *acOf[0],
                                          intervals.predictors[0], blockRows[r][x])
                            : DecodeBlock<false>(intervals.bits, *dcOf[0], *acOf[0],
                                                 intervals.predictors[0], blockRows[r][x]);
                    if (!decoded || intervals.Overrun()) return false;
                }
            }
        }
        return intervals.Finished();
    }

    std::array<McuBlock, D_MAX_BLOCKS_IN_MCU> plan{};
    std::size_t blocks = 0;
    for (std::size_t i = 0; i < scanned; ++i) {
        const jpeg_component_info& info = *cinfo.cur_comp_info[i];
        for (int down = 0; down < info.v_samp_factor; ++down) {
            for (int across = 0; across < info.h_samp_factor; ++across)
                plan[blocks++] = {i, across, down};
        }
    }
    const auto mcuWidth = static_cast<JDIMENSION>(cinfo.max_h_samp_factor * DCTSIZE);
    const auto mcuHeight = static_cast<JDIMENSION>(cinfo.max_v_samp_factor * DCTSIZE);
    const JDIMENSION mcusAcross = (cinfo.image_width + mcuWidth - 1) / mcuWidth;
    const JDIMENSION mcuRows = (cinfo.image_height + mcuHeight - 1) / mcuHeight;
    std::array<BlockMask, MAX_COMPS_IN_SCAN> wanted{};
    for (std::size_t i = 0; i < scanned; ++i) {
        wanted[i] = rows.WantedBlocks(cinfo.cur_comp_info[i]->component_index);
    }
    // Every block of the rows is decoded when the MCUs across fill the
    // components' rows (padded to whole MCUs, as the rows are): then the
    // blocks written are zeroed as they are decoded, and no others.
    bool filled = true;
    for (std::size_t i = 0; i < scanned; ++i) {
        const jpeg_component_info& info = *cinfo.cur_comp_info[i];
        const auto across = static_cast<JDIMENSION>(info.h_samp_factor);
        filled = filled && (info.width_in_blocks + across - 1) / across == mcusAcross;
    }
    std::array<JBLOCKROW*, MAX_COMPS_IN_SCAN> rowsOf{};
    // Whether each of an MCU row's block rows is read, by component and row.
    std::array<std::array<bool, MAX_SAMP_FACTOR>, MAX_COMPS_IN_SCAN> rowWanted{};
    for (JDIMENSION mcuRow = 0; mcuRow < mcuRows; ++mcuRow) {
        for (std::size_t i = 0; i < scanned; ++i) {
            const jpeg_component_info& info = *cinfo.cur_comp_info[i];
            rowsOf[i] = rows.RowsOf(info.component_index, mcuRow, filled);
            if (rowsOf[i] == nullptr) return false;
            const auto down = static_cast<JDIMENSION>(info.v_samp_factor);
            for (JDIMENSION r = 0; r < down; ++r)
                rowWanted[i][r] = wanted[i].Row(mcuRow * down + r);
        }
        for (JDIMENSION mcu = 0; mcu < mcusAcross; ++mcu) {
            if (!intervals.Next()) return false;
            for (std::size_t b = 0; b < blocks; ++b) {
                const McuBlock& block = plan[b];
                const auto across =
                    static_cast<JDIMENSION>(cinfo.cur_comp_info[block.component]->h_samp_factor);
                const JDIMENSION x = mcu * across + static_cast<JDIMENSION>(block.across);
                JCOEF* coefficients = rowsOf[block.component][block.down][x];
                const bool read =
                    rowWanted[block.component][static_cast<std::size_t>(block.down)] &&
                    wanted[block.component].Column(x);
                const Table& dc = *dcOf[block.component];
                const Table& ac = *acOf[block.component];
                std::int32_t& predictor = intervals.predictors[block.component];
                const bool decoded =
                    !read ? DecodeBlock<false>(intervals.bits, dc, ac, predictor, coefficients)
                    : filled
                        ? DecodeBlock<true, true>(intervals.bits, dc, ac, predictor, coefficients)
                        : DecodeBlock(intervals.bits, dc, ac, predictor, coefficients);
                if (!decoded) return false;
            }
            if (intervals.Overrun()) return false;
        }
    }
    return intervals.Finished();
}

// ---------------------------------------------------------------------------
// Progressive scans (T.81 G.1.2), as libjpeg decodes them (jdphuff.c).

namespace {

// A scan of a progressive file, as its header has it.
struct ScanShape {
    int ss = 0;  // the first and last coefficient of the band, in zigzag order
    int se = 0;
    int ah = 0;  // the successive approximation's bit before and after
    int al = 0;
};

// A scan's header, from SOS, or for the first scan from libjpeg.
struct ScanHeader {
    int count = 0;
    std::array<int, MAX_COMPS_IN_SCAN> component{};  // index in the frame
    std::array<int, MAX_COMPS_IN_SCAN> dcTable{};
    std::array<int, MAX_COMPS_IN_SCAN> acTable{};
    ScanShape shape;
};

// The tables as the file defines them, one DHT segment after another.
struct DefinedTables {
    std::array<JHUFF_TBL, NUM_HUFF_TBLS> dc{};
    std::array<JHUFF_TBL, NUM_HUFF_TBLS> ac{};
    std::array<bool, NUM_HUFF_TBLS> dcDefined{};
    std::array<bool, NUM_HUFF_TBLS> acDefined{};
};

// The positions of the band in natural order, as libjpeg's table has them:
// its entries past the last (written to by damaged data) are the last.
constexpr std::array<std::uint8_t, 80> kNaturalPadded = [] {
    std::array<std::uint8_t, 80> positions{};
    for (std::size_t k = 0; k < positions.size(); ++k) positions[k] = k < 64 ? kNatural[k] : 63;
    return positions;
}();
std::size_t NaturalAt(int k) {
    return kNaturalPadded[static_cast<std::size_t>(k)];
}

// Which of a block's coefficients are not zero, bit k for zigzag position
// k: the mask in natural order, each of its bytes turned by a table.
using ZigzagTables = std::array<std::array<std::uint64_t, 256>, 8>;
constexpr ZigzagTables kZigzagOfNatural = [] {
    std::array<std::uint8_t, 64> zigzag{};
    for (std::size_t k = 0; k < 64; ++k) zigzag[kNatural[k]] = static_cast<std::uint8_t>(k);
    ZigzagTables tables{};
    for (std::size_t byte = 0; byte < 8; ++byte) {
        for (std::size_t value = 0; value < 256; ++value) {
            for (std::size_t bit = 0; bit < 8; ++bit) {
                if ((value >> bit & 1) != 0) {
                    tables[byte][value] |= std::uint64_t{1} << zigzag[8 * byte + bit];
                }
            }
        }
    }
    return tables;
}();
std::uint64_t ZigzagNonzero(const JCOEF* block) {
    const std::uint64_t natural = idct::kernels::NonzeroMask(block);
    std::uint64_t zigzag = 0;
    for (std::size_t byte = 0; byte < 8; ++byte) {
        zigzag |= kZigzagOfNatural[byte][(natural >> (8 * byte)) & 0xFF];
    }
    return zigzag;
}

// The bits from..to - 1 (0 <= from <= to <= 64).
std::uint64_t BitsBetween(int from, int to) {
    const std::uint64_t below = to >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << to) - 1;
    return below & ~((std::uint64_t{1} << from) - 1);
}

// The bits set. std::popcount is a call into libgcc where the POPCNT
// instruction is not in the target (the baseline x86-64 of the build): this
// is its arithmetic, inline.
int CountOnes(std::uint64_t x) {
    x -= (x >> 1) & 0x5555555555555555U;
    x = (x & 0x3333333333333333U) + ((x >> 2) & 0x3333333333333333U);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FU;
    return static_cast<int>((x * 0x0101010101010101U) >> 56);
}

std::uint32_t BigEndian16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at] << 8 | bytes[at + 1]);
}

// Reads a DHT segment's tables (its payload); false for one libjpeg refuses.
bool ReadTables(std::span<const std::uint8_t> payload, DefinedTables& tables) {
    std::size_t at = 0;
    while (at < payload.size()) {
        if (at + 17 > payload.size()) return false;
        const int index = payload[at] & 0x0F;
        const bool ac = (payload[at] & 0x10) != 0;
        if ((payload[at] & 0xE0) != 0 || index >= NUM_HUFF_TBLS) return false;
        JHUFF_TBL& table = ac ? tables.ac[static_cast<std::size_t>(index)]
                              : tables.dc[static_cast<std::size_t>(index)];
        table = JHUFF_TBL{};
        std::size_t count = 0;
        for (std::size_t l = 1; l <= 16; ++l) {
            table.bits[l] = payload[at + l];
            count += payload[at + l];
        }
        at += 17;
        if (count > 256 || at + count > payload.size()) return false;
        for (std::size_t i = 0; i < count; ++i) table.huffval[i] = payload[at + i];
        at += count;
        (ac ? tables.acDefined : tables.dcDefined)[static_cast<std::size_t>(index)] = true;
    }
    return true;
}

// Reads an SOS segment's payload into `scan`, with libjpeg's checks.
bool ReadScanHeader(const jpeg_decompress_struct& cinfo, std::span<const std::uint8_t> payload,
                    ScanHeader& scan) {
    if (payload.empty()) return false;
    scan.count = payload[0];
    if (scan.count < 1 || scan.count > MAX_COMPS_IN_SCAN ||
        payload.size() != 1 + 2 * static_cast<std::size_t>(scan.count) + 3) {
        return false;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(scan.count); ++i) {
        const int id = payload[1 + 2 * i];
        int found = -1;
        for (int c = 0; c < cinfo.num_components; ++c) {
            if (cinfo.comp_info[c].component_id == id) found = c;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (scan.component[j] == found) found = -1;
        }
        if (found < 0) return false;
        scan.component[i] = found;
        scan.dcTable[i] = payload[2 + 2 * i] >> 4;
        scan.acTable[i] = payload[2 + 2 * i] & 15;
    }
    const std::size_t end = 1 + 2 * static_cast<std::size_t>(scan.count);
    scan.shape = {payload[end], payload[end + 1], payload[end + 2] >> 4, payload[end + 2] & 15};
    return true;
}

// The checks libjpeg makes of a scan's place in the progression, with the
// bits each coefficient of each component has had (-1 before any):
// false where it would stop or warn.
bool Progresses(const ScanHeader& scan, std::array<std::array<int, 64>, MAX_COMPONENTS>& bits) {
    const ScanShape& shape = scan.shape;
    const bool dc = shape.ss == 0;
    if (dc ? shape.se != 0 : shape.ss > shape.se || shape.se > 63 || scan.count != 1) return false;
    if ((shape.ah != 0 && shape.al != shape.ah - 1) || shape.al > 13) return false;
    for (int i = 0; i < scan.count; ++i) {
        auto& had = bits[static_cast<std::size_t>(scan.component[static_cast<std::size_t>(i)])];
        if (!dc && had[0] < 0) return false;
        for (int k = shape.ss; k <= shape.se; ++k) {
            const int expected =
                had[static_cast<std::size_t>(k)] < 0 ? 0 : had[static_cast<std::size_t>(k)];
            if (shape.ah != expected) return false;
            had[static_cast<std::size_t>(k)] = shape.al;
        }
    }
    return true;
}

// A block whose values are wanted.
struct ValueBlock {
    static constexpr bool kValues = true;
    JCOEF* block;
    void SetDc(JCOEF value) const { block[0] = value; }
    void OrDc(JCOEF bit) const { block[0] = static_cast<JCOEF>(block[0] | bit); }
    // Zigzag position k (past the last: the last, as libjpeg has it).
    void Put(int k, JCOEF value) const { block[NaturalAt(k)] = value; }
    JCOEF& At(int k) const { return block[kNatural[static_cast<std::size_t>(k)]]; }
    std::uint64_t Nonzero() const { return ZigzagNonzero(block); }
};

// A block of which only its coefficients that are not zero count: its mask
// (ScanRow), without its first coefficient, which no later scan of the
// others reads.
struct MaskBlock {
    static constexpr bool kValues = false;
    std::uint64_t* mask;
    void SetDc(JCOEF /*value*/) const {}
    void OrDc(JCOEF /*bit*/) const {}
    void Put(int k, JCOEF value) const {
        if (value != 0) *mask |= std::uint64_t{1} << (k < 64 ? k : 63);
    }
    std::uint64_t Nonzero() const { return *mask; }
};

// One scan's blocks, one decoder for each of its four kinds.
class ProgressiveScan {
  public:
    ProgressiveScan(const ScanHeader& scan, const HuffmanScanMemory& memory, unsigned restarts)
        : shape_(scan.shape), intervals_(memory, restarts) {}

    // Before each MCU (each block of a scan of one component).
    bool Next() {
        const std::size_t index = intervals_.index;
        if (!intervals_.Next()) return false;
        if (intervals_.index != index) eobRun_ = 0;
        return true;
    }
    bool Finished() const { return intervals_.Finished(); }
    bool Overrun() const { return intervals_.Overrun(); }

    template <typename Block>
    bool DcFirst(const Table& table, std::size_t place, Block block) {
        Bits& bits = intervals_.bits;
        bits.Refill();
        const int size = DecodeSymbol(bits, table);
        if (size < 0) return false;
        const int difference = size == 0 ? 0 : Extend(static_cast<int>(bits.Take(size)), size);
        std::int32_t& predictor = intervals_.predictors[place];
        const std::int64_t sum = std::int64_t{predictor} + difference;
        if (sum > std::numeric_limits<std::int32_t>::max() ||
            sum < std::numeric_limits<std::int32_t>::min()) {
            return false;
        }
        predictor = static_cast<std::int32_t>(sum);
        block.SetDc(static_cast<JCOEF>(static_cast<std::uint32_t>(predictor) << shape_.al));
        return true;
    }

    template <typename Block>
    void DcRefine(Block block) {
        Bits& bits = intervals_.bits;
        bits.Refill();
        if (bits.Take(1) != 0) block.OrDc(static_cast<JCOEF>(1 << shape_.al));
    }

    template <typename Block>
    bool AcFirst(const Table& table, Block block) {
        if (eobRun_ > 0) {
            --eobRun_;
            return true;
        }
        Bits& bits = intervals_.bits;
        for (int k = shape_.ss; k <= shape_.se; ++k) {
            bits.Refill();
            const int symbol = DecodeSymbol(bits, table);
            if (symbol < 0) return false;
            const int run = symbol >> 4;
            const int size = symbol & 15;
            if (size != 0) {
                k += run;
                const int value = Extend(static_cast<int>(bits.Take(size)), size);
                block.Put(k, static_cast<JCOEF>(static_cast<std::uint32_t>(value) << shape_.al));
            } else if (run == 15) {
                k += 15;
            } else {
                eobRun_ = 1U << run;
                if (run != 0) eobRun_ += bits.Take(run);
                --eobRun_;
                break;
            }
        }
        return true;
    }

    // As libjpeg's decode_mcu_AC_refine, but it finds the coefficients
    // already there and the zeros between them from a mask of the block,
    // rather than testing each coefficient of the band in turn.
    template <typename Block>
    bool AcRefine(const Table& table, Block block) {
        Bits& bits = intervals_.bits;
        const int p1 = 1 << shape_.al;
        const int m1 = -p1;
        std::uint64_t nonzero = block.Nonzero();
        const int end = shape_.se + 1;
        // The correction bits of the coefficients already there from `from`
        // up to `to`, in zigzag order.
        const auto correct = [&](int from, int to) {
            const std::uint64_t there = nonzero & BitsBetween(from, to);
            if constexpr (!Block::kValues) {
                for (int count = CountOnes(there); count > 0;) {
                    if (bits.count < 32) bits.Refill();
                    const int taken = std::min(count, 32);
                    bits.Skip(taken);
                    count -= taken;
                }
            } else {
                for (std::uint64_t left = there; left != 0; left &= left - 1) {
                    JCOEF& coefficient = block.At(std::countr_zero(left));
                    if (bits.count < 8) bits.Refill();
                    if (bits.Take(1) != 0 && (coefficient & p1) == 0) {
                        coefficient =
                            static_cast<JCOEF>(coefficient + (coefficient >= 0 ? p1 : m1));
                    }
                }
            }
        };
        int k = shape_.ss;
        if (eobRun_ == 0) {
            for (; k <= shape_.se; ++k) {
                bits.Refill();
                const int symbol = DecodeSymbol(bits, table);
                if (symbol < 0) return false;
                const int run = symbol >> 4;
                const int size = symbol & 15;
                int value = 0;
                if (size != 0) {
                    if (size != 1) return false;  // libjpeg warns
                    value = bits.Take(1) != 0 ? p1 : m1;
                } else if (run != 15) {
                    eobRun_ = 1U << run;
                    if (run != 0) eobRun_ += bits.Take(run);
                    break;
                }
                // Past `run` zeros, to the zero after them (or past the band).
                std::uint64_t zeros = ~nonzero & BitsBetween(k, end);
                for (int skipped = 0; skipped < run && zeros != 0; ++skipped) zeros &= zeros - 1;
                const int at = zeros != 0 ? std::countr_zero(zeros) : end;
                correct(k, at);
                k = at;
                if (size != 0) {
                    block.Put(k, static_cast<JCOEF>(value));
                    if (k < 64) nonzero |= std::uint64_t{1} << k;
                }
            }
        }
        if (eobRun_ > 0) {
            if (k <= shape_.se) correct(k, end);
            --eobRun_;
        }
        return true;
    }

  private:
    ScanShape shape_;
    Intervals intervals_;
    std::uint32_t eobRun_ = 0;
};

// Decodes one scan, whose data `memory` holds unstuffed.
bool DecodeOneScan(const jpeg_decompress_struct& cinfo, const ScanHeader& scan, unsigned restarts,
                   const std::array<const Table*, MAX_COMPS_IN_SCAN>& tables,
                   HuffmanScanMemory& memory, ScanBlockArrays& arrays) {
    ProgressiveScan decoder(scan, memory, restarts);
    const ScanShape& shape = scan.shape;
    const bool dc = shape.ss == 0;
    const bool refining = shape.ah != 0;
    const auto decodeAs = [&](std::size_t place, auto block) {
        if (dc) {
            if (!refining) return decoder.DcFirst(*tables[place], place, block);
            decoder.DcRefine(block);
            return true;
        }
        return refining ? decoder.AcRefine(*tables[place], block)
                        : decoder.AcFirst(*tables[place], block);
    };
    // Block x of a row.
    const auto decode = [&](std::size_t place, const ScanRow& row, JDIMENSION x) {
        return row.blocks != nullptr ? decodeAs(place, ValueBlock{row.blocks[x]})
                                     : decodeAs(place, MaskBlock{row.masks + x});
    };
    const auto mcuHeight = static_cast<JDIMENSION>(cinfo.max_v_samp_factor * DCTSIZE);
    const JDIMENSION mcuRows = (cinfo.image_height + mcuHeight - 1) / mcuHeight;
    if (scan.count == 1) {
        // One component: its blocks in rows, a row of MCUs of the frame at
        // a time.
        const int c = scan.component[0];
        const jpeg_component_info& info = cinfo.comp_info[c];
        const auto rowsPer = static_cast<JDIMENSION>(info.v_samp_factor);
        for (JDIMENSION mcuRow = 0; mcuRow < mcuRows; ++mcuRow) {
            const ScanRow* rows = arrays.RowsOf(c, mcuRow * rowsPer, rowsPer);
            if (rows == nullptr) return false;
            const JDIMENSION first = mcuRow * rowsPer;
            if (first >= info.height_in_blocks) continue;
            const JDIMENSION count = std::min(rowsPer, info.height_in_blocks - first);
            for (JDIMENSION r = 0; r < count; ++r) {
                for (JDIMENSION x = 0; x < info.width_in_blocks; ++x) {
                    if (!decoder.Next() || !decode(0, rows[r], x) || decoder.Overrun()) {
                        return false;
                    }
                }
            }
        }
        return decoder.Finished();
    }
    // Several components (DC scans only): MCU by MCU, of at most libjpeg's
    // blocks.
    int blocks = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(scan.count); ++i) {
        const jpeg_component_info& info = cinfo.comp_info[scan.component[i]];
        blocks += info.h_samp_factor * info.v_samp_factor;
    }
    if (blocks > D_MAX_BLOCKS_IN_MCU) return false;
    const auto mcuWidth = static_cast<JDIMENSION>(cinfo.max_h_samp_factor * DCTSIZE);
    const JDIMENSION mcusAcross = (cinfo.image_width + mcuWidth - 1) / mcuWidth;
    std::array<const ScanRow*, MAX_COMPS_IN_SCAN> rowsOf{};
    for (JDIMENSION mcuRow = 0; mcuRow < mcuRows; ++mcuRow) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(scan.count); ++i) {
            const jpeg_component_info& info = cinfo.comp_info[scan.component[i]];
            const auto rowsPer = static_cast<JDIMENSION>(info.v_samp_factor);
            rowsOf[i] = arrays.RowsOf(scan.component[i], mcuRow * rowsPer, rowsPer);
            if (rowsOf[i] == nullptr) return false;
        }
        for (JDIMENSION mcu = 0; mcu < mcusAcross; ++mcu) {
            if (!decoder.Next()) return false;
            for (std::size_t i = 0; i < static_cast<std::size_t>(scan.count); ++i) {
                const jpeg_component_info& info = cinfo.comp_info[scan.component[i]];
                const auto across = static_cast<JDIMENSION>(info.h_samp_factor);
                for (int down = 0; down < info.v_samp_factor; ++down) {
                    for (JDIMENSION a = 0; a < across; ++a) {
                        if (!decode(i, rowsOf[i][down], mcu * across + a)) return false;
                    }
                }
            }
            if (decoder.Overrun()) return false;
        }
    }
    return decoder.Finished();
}

}  // namespace

bool ProgressiveScansFit(const jpeg_decompress_struct& cinfo) {
    return cinfo.progressive_mode && !cinfo.arith_code && cinfo.data_precision == 8 &&
           cinfo.num_components >= 1 && cinfo.num_components <= MAX_COMPONENTS;
}

bool DecodeProgressiveScans(const jpeg_decompress_struct& cinfo, std::span<const std::uint8_t> data,
                            ScanBlockArrays& arrays, HuffmanScanMemory& memory) {
    if (!ProgressiveScansFit(cinfo)) return false;
    if (!memory.tables) memory.tables = std::make_unique<HuffmanTables>();
    DefinedTables defined;
    for (std::size_t t = 0; t < NUM_HUFF_TBLS; ++t) {
        if (cinfo.dc_huff_tbl_ptrs[t] != nullptr) {
            defined.dc[t] = *cinfo.dc_huff_tbl_ptrs[t];
            defined.dcDefined[t] = true;
        }
        if (cinfo.ac_huff_tbl_ptrs[t] != nullptr) {
            defined.ac[t] = *cinfo.ac_huff_tbl_ptrs[t];
            defined.acDefined[t] = true;
        }
    }
    ScanHeader scan;
    scan.count = cinfo.comps_in_scan;
    for (std::size_t i = 0; i < static_cast<std::size_t>(scan.count); ++i) {
        const jpeg_component_info* info = cinfo.cur_comp_info[i];
        if (info == nullptr) return false;
        scan.component[i] = info->component_index;
        scan.dcTable[i] = info->dc_tbl_no;
        scan.acTable[i] = info->ac_tbl_no;
    }
    scan.shape = {cinfo.Ss, cinfo.Se, cinfo.Ah, cinfo.Al};
    unsigned restarts = cinfo.restart_interval;
    std::array<std::array<int, 64>, MAX_COMPONENTS> bits;
    for (auto& each : bits) each.fill(-1);
    std::size_t at = 0;  // where the scan's data starts
    while (true) {
        if (!Progresses(scan, bits)) return false;
        // The scan's tables, built for it.
        std::array<const Table*, MAX_COMPS_IN_SCAN> tables{};
        const bool dc = scan.shape.ss == 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(scan.count); ++i) {
            if (dc && scan.shape.ah != 0) continue;
            const int index = dc ? scan.dcTable[i] : scan.acTable[i];
            if (index < 0 || index >= NUM_HUFF_TBLS) return false;
            const auto t = static_cast<std::size_t>(index);
            if (!(dc ? defined.dcDefined[t] : defined.acDefined[t])) return false;
            Table& table = dc ? memory.tables->dc[t] : memory.tables->ac[t];
            if (!Build(dc ? &defined.dc[t] : &defined.ac[t], dc, table, false)) return false;
            tables[i] = &table;
        }
        std::size_t markerEnd = 0;
        if (!Unstuff(data.subspan(at), memory, &markerEnd)) return false;
        if (!DecodeOneScan(cinfo, scan, restarts, tables, memory, arrays)) return false;
        if (markerEnd == 0) return true;  // the end of the picture
        // The segments up to the next scan: tables, restart intervals, and
        // segments of no bearing on decoding.
        at += markerEnd;
        std::uint8_t marker = data[at - 1];
        while (true) {
            if (marker == kMarkerEoi) return true;
            if (at + 2 > data.size()) return false;
            const std::size_t length = BigEndian16(data, at);
            if (length < 2 || at + length > data.size()) return false;
            const std::span<const std::uint8_t> payload = data.subspan(at + 2, length - 2);
            at += length;
            if (marker == 0xDA) {
                if (!ReadScanHeader(cinfo, payload, scan)) return false;
                break;
            }
            if (marker == 0xC4) {
                if (!ReadTables(payload, defined)) return false;
            } else if (marker == 0xDD) {
                if (payload.size() != 2) return false;
                restarts = BigEndian16(payload, 0);
            } else if (!(marker >= 0xE0 && marker <= 0xEF) && marker != 0xFE) {
                // Quantisation tables, frames, anything else: libjpeg's way.
                return false;
            }
            // The next marker, straight after: libjpeg warns of bytes between.
            if (at + 2 > data.size() || data[at] != 0xFF) return false;
            marker = data[at + 1];
            at += 2;
        }
    }
}

}  // namespace fotolane::picture::detail
