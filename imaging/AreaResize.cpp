#include "imaging/AreaResize.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoding/AlbumDecoder.h"
#include "decoding/PictureDecoder.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"

namespace fotolane::imaging {
namespace {

// The source pixels that each target pixel covers along one axis, with the
// share of each (the shares of a target pixel add up to 1), flat: target
// pixel t takes count[t] source pixels from first[t] on, their shares from
// weights[offset[t]] on.
struct Spans {
    std::vector<std::int32_t> first;
    std::vector<std::int32_t> count;
    std::vector<std::size_t> offset;
    std::vector<float> weights;
};

// The picture covers `extent` of the source's pixels from `from` on: all of
// them, or for a picture decoded at a scale all but a part of its last one.
Spans SpansFor(std::int32_t sourceLength, double from, double extent, std::int32_t targetLength) {
    const double scale = extent / targetLength;
    Spans spans;
    const auto targets = static_cast<std::size_t>(targetLength);
    spans.first.resize(targets);
    spans.count.resize(targets);
    spans.offset.resize(targets);
    for (std::int32_t t = 0; t < targetLength; ++t) {
        const double start = from + t * scale;
        const double end = std::min(from + (t + 1) * scale, static_cast<double>(sourceLength));
        const auto first = static_cast<std::int32_t>(std::floor(start));
        const auto last = std::min(static_cast<std::int32_t>(std::ceil(end)), sourceLength) - 1;
        const auto at = static_cast<std::size_t>(t);
        spans.first[at] = first;
        spans.count[at] = last - first + 1;
        spans.offset[at] = spans.weights.size();
        for (std::int32_t s = first; s <= last; ++s) {
            const double covered = std::min(end, s + 1.0) - std::max(start, static_cast<double>(s));
            spans.weights.push_back(static_cast<float>(covered / (end - start)));
        }
    }
    return spans;
}

std::uint8_t ToByte(float value) {
    return static_cast<std::uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f));
}

// One axis of the mapping of DecodeByArea: target pixel t covers the source
// from starts[t] to ends[t], as SpansFor has it.
class AreaAxis {
  public:
    AreaAxis(std::int32_t sourceLength, std::int32_t targetLength)
        : starts_(static_cast<std::size_t>(targetLength)),
          ends_(static_cast<std::size_t>(targetLength)) {
        scale_ = static_cast<double>(sourceLength) / targetLength;
        for (std::int32_t t = 0; t < targetLength; ++t) {
            starts_[static_cast<std::size_t>(t)] = t * scale_;
            ends_[static_cast<std::size_t>(t)] =
                std::min((t + 1) * scale_, static_cast<double>(sourceLength));
        }
    }

    std::int32_t Targets() const { return static_cast<std::int32_t>(starts_.size()); }
    double Start(std::int32_t t) const { return starts_[static_cast<std::size_t>(t)]; }
    double End(std::int32_t t) const { return ends_[static_cast<std::size_t>(t)]; }

    // The first target pixel that source position p (a pixel's left or top
    // edge) lies in or before.
    std::int32_t FirstAt(double p) const {
        auto t = static_cast<std::int32_t>(
            std::clamp(std::floor(p / scale_), 0.0, static_cast<double>(Targets() - 1)));
        while (t > 0 && End(t - 1) > p) --t;
        while (t + 1 < Targets() && End(t) <= p) ++t;
        return t;
    }

    // The share of target pixel t that the source from `from` to `to`
    // covers.
    double Share(std::int32_t t, double from, double to) const {
        const double covered = std::min(End(t), to) - std::max(Start(t), from);
        return covered > 0 ? covered / (End(t) - Start(t)) : 0.0;
    }

  private:
    double scale_ = 1;
    std::vector<double> starts_;
    std::vector<double> ends_;
};

// Area averaging of a picture whose pixels come in any order, each once:
// every target pixel keeps the weighted sum of the differences of the given
// pixels from the background, so that a pixel never given counts as the
// background at no cost, and a run of one colour costs the target pixels it
// covers, not its length.
class AreaSink final : public picture::PixelSink {
  public:
    AreaSink(std::int32_t width, std::int32_t height) : width_(width), height_(height) {}

    void Begin(picture::PictureSize size, const std::uint8_t* background) override {
        columns_.emplace(size.width, width_);
        rows_.emplace(size.height, height_);
        source_ = size;
        for (std::size_t c = 0; c < 3; ++c) {
            backgroundBytes_[c] = background[c];
            background_[c] = background[c];
        }
        const std::size_t values =
            3 * static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
        memory_ = PictureMemory(values * sizeof(float));
        sums_.assign(values, 0.0f);
        line_.resize(3 * static_cast<std::size_t>(width_));
    }

    void Pixels(std::int32_t y, std::int32_t x, std::int32_t count,
                const std::uint8_t* bgr) override {
        Add(y, x, count, [&](std::int32_t t, std::int64_t from, std::int64_t to, double* sum) {
            // Whole pixels inside the target pixel count fully, the pixels
            // at its two edges by the part inside.
            const AreaAxis& axis = *columns_;
            std::int64_t whole[3] = {0, 0, 0};
            for (std::int64_t p = from; p < to; ++p) {
                const std::uint8_t* pixel = bgr + 3 * (p - x);
                const auto left = static_cast<double>(p);
                const double share =
                    std::min(axis.End(t), left + 1.0) - std::max(axis.Start(t), left);
                if (share >= 1.0) {
                    for (std::size_t c = 0; c < 3; ++c) whole[c] += pixel[c] - backgroundBytes_[c];
                } else {
                    for (std::size_t c = 0; c < 3; ++c)
                        sum[c] += share * (pixel[c] - backgroundBytes_[c]);
                }
            }
            for (std::size_t c = 0; c < 3; ++c) sum[c] += static_cast<double>(whole[c]);
        });
    }

    void Run(std::int32_t y, std::int32_t x, std::int32_t count, const std::uint8_t* bgr) override {
        Add(y, x, count, [&](std::int32_t t, std::int64_t from, std::int64_t to, double* sum) {
            const AreaAxis& axis = *columns_;
            const double covered = std::min(axis.End(t), static_cast<double>(to)) -
                                   std::max(axis.Start(t), static_cast<double>(from));
            for (std::size_t c = 0; c < 3; ++c) sum[c] += covered * (bgr[c] - backgroundBytes_[c]);
        });
    }

    PixelRows Finish() const {
        PixelRows target = AllocatePixelRows(width_, height_);
        const float* sum = sums_.data();
        for (std::int32_t t = 0; t < height_; ++t) {
            std::uint8_t* out = target.ScanLine(height_ - 1 - t);
            for (std::int32_t x = 0; x < width_; ++x) {
                for (std::size_t c = 0; c < 3; ++c) *out++ = ToByte(background_[c] + *sum++);
            }
        }
        return target;
    }

  private:
    // Adds pixels x to x + count - 1 of source line y: `reduce(t, from, to,
    // sum)` adds the source pixels from..to-1 that lie in target column t
    // to sum, each weighted by the part of it inside the column.
    template <typename Reduce>
    void Add(std::int32_t y, std::int32_t x, std::int32_t count, Reduce&& reduce) {
        if (count <= 0 || y < 0 || y >= source_.height || x >= source_.width) return;
        const std::int64_t from = std::max(x, 0);
        const std::int64_t to = std::min<std::int64_t>(std::int64_t{x} + count, source_.width);
        if (from >= to) return;
        const AreaAxis& columns = *columns_;
        const AreaAxis& rows = *rows_;
        // The columns reduced, each as a share of its target pixel.
        const std::int32_t first = columns.FirstAt(static_cast<double>(from));
        std::int32_t last = first;
        for (std::int32_t t = first; t < width_ && columns.Start(t) < static_cast<double>(to);
             ++t) {
            const std::int64_t lo =
                std::max(from, static_cast<std::int64_t>(std::floor(columns.Start(t))));
            const std::int64_t hi =
                std::min(to, static_cast<std::int64_t>(std::ceil(columns.End(t))));
            double sum[3] = {0, 0, 0};
            if (lo < hi) reduce(t, lo, hi, sum);
            const double length = columns.End(t) - columns.Start(t);
            for (std::size_t c = 0; c < 3; ++c) {
                line_[3 * static_cast<std::size_t>(t) + c] = static_cast<float>(sum[c] / length);
            }
            last = t + 1;
        }
        // Into each target line that source line y lies in, by its share.
        for (std::int32_t t = rows.FirstAt(y); t < height_ && rows.Start(t) < y + 1.0; ++t) {
            const auto share = static_cast<float>(rows.Share(t, y, y + 1.0));
            if (share <= 0) continue;
            float* into =
                sums_.data() + 3 * (static_cast<std::size_t>(t) * static_cast<std::size_t>(width_) +
                                    static_cast<std::size_t>(first));
            const float* reduced = line_.data() + 3 * static_cast<std::size_t>(first);
            for (std::size_t v = 0; v < 3 * static_cast<std::size_t>(last - first); ++v) {
                into[v] += share * reduced[v];
            }
        }
    }

    std::int32_t width_;
    std::int32_t height_;
    picture::PictureSize source_{0, 0};
    std::optional<AreaAxis> columns_;
    std::optional<AreaAxis> rows_;
    std::int32_t backgroundBytes_[3] = {0, 0, 0};
    float background_[3] = {0, 0, 0};
    PictureMemory memory_;
    std::vector<float> sums_;  // 3 a target pixel, the top line first
    std::vector<float> line_;  // one source line's part of each target column
};

// How ResizeByArea makes each target line of a source whose picture is
// `extentWidth` x `extentHeight` of its pixels from the top left, at most its
// size (the part of a pixel left over is at the picture's end: in memory
// order, the rows' start): target line t, counted in memory order, is made
// of source lines First(t) to First(t) + Count(t) - 1, in memory order too,
// which Average is given. The one arithmetic of the whole rows
// (ResizeExtentByArea) and of the lines as a decoder gives them (AreaLines):
// the same lines make the same bytes.
class AreaPlan {
  public:
    AreaPlan(std::int32_t sourceWidth, std::int32_t sourceHeight, double extentWidth,
             double extentHeight, std::int32_t width, std::int32_t height)
        : width_(width), values_(static_cast<std::size_t>(sourceWidth) * 3) {
        if (extentWidth == sourceWidth && extentHeight == sourceHeight &&
            sourceWidth % width == 0 && sourceHeight % height == 0) {
            kx_ = sourceWidth / width;
            ky_ = sourceHeight / height;
            whole_ = std::int64_t{kx_} * ky_ <= 257;
        }
        if (whole_ && kx_ == 2 && ky_ == 2) {
            pairs_.resize(values_);
        } else if (whole_) {
            sums_.resize(values_);
            const auto area = static_cast<std::uint32_t>(kx_ * ky_);
            // sum / area as (sum * reciprocal) >> 32, the reciprocal rounded
            // up: exact while the sum times the reciprocal's excess (below the
            // area) stays below 2^32, as it does for sums of at most 257 bytes.
            reciprocal_ = ((std::uint64_t{1} << 32) + area - 1) / area;
        } else {
            columns_ = SpansFor(sourceWidth, 0, extentWidth, width);
            rows_ = SpansFor(sourceHeight, sourceHeight - extentHeight, extentHeight, height);
            taps_ = *std::max_element(columns_.count.begin(), columns_.count.end());
            const auto taps = static_cast<std::size_t>(taps_);
            paddedShares_.assign(static_cast<std::size_t>(width) * taps, 0.0F);
            for (std::size_t c = 0; c < static_cast<std::size_t>(width); ++c) {
                std::copy_n(
                    columns_.weights.begin() + static_cast<std::ptrdiff_t>(columns_.offset[c]),
                    columns_.count[c],
                    paddedShares_.begin() + static_cast<std::ptrdiff_t>(c * taps));
            }
            // The pixels that padded shares reach past the end read zeros,
            // and the last pixel is read as four floats (Across).
            line_.assign(values_ + 3 * taps + 1, 0.0F);
        }
    }

    std::int32_t First(std::int32_t t) const {
        return whole_ ? t * ky_ : rows_.first[static_cast<std::size_t>(t)];
    }
    std::int32_t Count(std::int32_t t) const {
        return whole_ ? ky_ : rows_.count[static_cast<std::size_t>(t)];
    }
    std::int32_t MostCount() const {
        if (whole_) return ky_;
        return *std::max_element(rows_.count.begin(), rows_.count.end());
    }

    // Target line t into `out` from its Count(t) source lines.
    void Average(std::int32_t t, const std::uint8_t* const* lines, std::uint8_t* out) {
        if (whole_) {
            AverageWhole(lines, out);
        } else {
            AverageSpans(t, lines, out);
        }
    }

  private:
    // By whole factors kx x ky, kx * ky at most 257 (so that a target
    // pixel's sum of bytes fits 16 bits): every target pixel is the rounded
    // mean of its kx x ky source pixels (a half up), in integers, exactly;
    // the weighted sums in floating point may miss a half by their rounding,
    // and with it a level.
    void AverageWhole(const std::uint8_t* const* lines, std::uint8_t* out) {
        if (kx_ == 2 && ky_ == 2) {
            // The common 2:1 (a camera's photo to its tile, the 2x tile to
            // the 1x): the same means, divided by a shift, of every value of
            // the two lines and its neighbour three on (the same channel of
            // the next pixel), over the whole line in a loop the compiler
            // vectorises; the target's are those of every other pixel.
            const std::uint8_t* top = lines[0];
            const std::uint8_t* bottom = lines[1];
            // (The bounds are held in locals: a byte written may be any
            // object's, a member's too, as far as the compiler knows.)
            std::uint8_t* pairs = pairs_.data();
            const std::size_t values = values_ - 3;
            for (std::size_t v = 0; v < values; ++v) {
                pairs[v] = static_cast<std::uint8_t>(
                    (top[v] + top[v + 3] + bottom[v] + bottom[v + 3] + 2) >> 2);
            }
            // Four bytes at a time, the fourth overwritten by the next pixel.
            const std::int32_t last = width_ - 1;
            for (std::int32_t c = 0; c < last; ++c) {
                std::memcpy(out + 3 * c, pairs + 6 * c, 4);
            }
            std::memcpy(out + 3 * last, pairs + 6 * last, 3);
            return;
        }
        const auto area = static_cast<std::uint32_t>(kx_ * ky_);
        std::uint16_t* line = sums_.data();
        const std::uint8_t* row = lines[0];
        for (std::size_t v = 0; v < values_; ++v) line[v] = row[v];
        for (std::int32_t k = 1; k < ky_; ++k) {
            row = lines[k];
            for (std::size_t v = 0; v < values_; ++v) {
                line[v] = static_cast<std::uint16_t>(line[v] + row[v]);
            }
        }
        const std::uint16_t* pixel = line;
        for (std::int32_t c = 0; c < width_; ++c) {
            std::uint32_t b = area / 2, g = area / 2, r = area / 2;
            for (std::int32_t k = 0; k < kx_; ++k, pixel += 3) {
                b += pixel[0];
                g += pixel[1];
                r += pixel[2];
            }
            *out++ = static_cast<std::uint8_t>((b * reciprocal_) >> 32);
            *out++ = static_cast<std::uint8_t>((g * reciprocal_) >> 32);
            *out++ = static_cast<std::uint8_t>((r * reciprocal_) >> 32);
        }
    }

    // Each target line is first averaged down its source lines at the
    // source's width, over whole lines of bytes (a loop the compiler
    // vectorises), and then across, target pixel by target pixel: the
    // across work then follows the target's height, not the source's. The
    // usual counts of lines and of pixels a target pixel takes have loops of
    // their own, unrolled: the sums are those of the plain loops, term by
    // term in the same order (across, a column of fewer pixels adds zeros),
    // without a branch that a count varying from pixel to pixel mispredicts.
    void AverageSpans(std::int32_t t, const std::uint8_t* const* lines, std::uint8_t* out) {
        const auto at = static_cast<std::size_t>(t);
        const float* weight = rows_.weights.data() + rows_.offset[at];
        float* line = line_.data();
        // By count, the unrolled loops (0: any count, the plain loops).
        using DownLoop = void (AreaPlan::*)(const float*, const std::uint8_t* const*, float*) const;
        using AcrossLoop = void (AreaPlan::*)(const float*, std::uint8_t*) const;
        static constexpr std::array<DownLoop, 5> kDown = {&AreaPlan::Down<0>, &AreaPlan::Down<1>,
                                                          &AreaPlan::Down<2>, &AreaPlan::Down<3>,
                                                          &AreaPlan::Down<4>};
        static constexpr std::array<AcrossLoop, 6> kAcross = {
            &AreaPlan::Across<0>, &AreaPlan::Across<1>, &AreaPlan::Across<2>,
            &AreaPlan::Across<3>, &AreaPlan::Across<4>, &AreaPlan::Across<5>};
        const auto count = static_cast<std::size_t>(rows_.count[at]);
        const auto taps = static_cast<std::size_t>(taps_);
        if (count < kDown.size()) {
            (this->*kDown[count])(weight, lines, line);
        } else {
            (this->*kDown[0])(weight, lines, line);
            const std::size_t values = values_;
            for (std::size_t k = 1; k < count; ++k) {
                const float w = weight[k];
                const std::uint8_t* row = lines[k];
                for (std::size_t v = 0; v < values; ++v) line[v] += w * row[v];
            }
        }
        (this->*kAcross[taps < kAcross.size() ? taps : 0])(line, out);
    }

    // The first kLines source lines, weighed, into `line` (kLines 0: the
    // first line alone, to which the plain loops add the others).
    template <std::size_t kLines>
    void Down(const float* weight, const std::uint8_t* const* lines, float* line) const {
        constexpr std::size_t kCount = kLines == 0 ? 1 : kLines;
        std::array<const std::uint8_t*, kCount> rows{};
        std::array<float, kCount> weights{};
        for (std::size_t k = 0; k < kCount; ++k) {
            rows[k] = lines[k];
            weights[k] = weight[k];
        }
        const std::size_t values = values_;
        for (std::size_t v = 0; v < values; ++v) {
            float sum = weights[0] * rows[0][v];
            for (std::size_t k = 1; k < kCount; ++k) sum += weights[k] * rows[k][v];
            line[v] = sum;
        }
    }

    // The target line from the line of sums: kTaps pixels a target pixel
    // (its shares padded with zeros; kTaps 0: as many as the plan's most).
    // A pixel's three sums side by side in one vector: each lane does the
    // arithmetic of one channel in the same order, so the bytes are those
    // of a channel at a time.
    template <std::size_t kTaps>
    void Across(const float* line, std::uint8_t* out) const {
        using Four = float __attribute__((vector_size(16)));
        const Four half = {0.5F, 0.5F, 0.5F, 0.5F};
        const Four zero = {0, 0, 0, 0};
        const std::size_t taps = kTaps > 0 ? kTaps : static_cast<std::size_t>(taps_);
        // Target pixel c's bytes, the three channels and a fourth.
        const auto bytesOf = [&](std::size_t c) {
            const float* pixel = line + 3 * static_cast<std::size_t>(columns_.first[c]);
            Four sum = zero;
            const auto add = [&](float share, const float* at) {
                Four values;
                std::memcpy(&values, at, sizeof values);
                sum += share * values;
            };
            const float* shares = paddedShares_.data() + c * taps;
            for (std::size_t k = 0; k < taps; ++k) add(shares[k], pixel + 3 * k);
            sum += half;
#if defined(__SSE2__)
            // Truncated, then narrowed with saturation to 0..255: the same
            // bytes as clamping first, for sums far inside int32's range.
            const __m128i ints = _mm_cvttps_epi32(static_cast<__m128>(sum));
            const __m128i words = _mm_packs_epi32(ints, ints);
            return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
#else
            using FourInts = std::int32_t __attribute__((vector_size(16)));
            const Four most = {255.0F, 255.0F, 255.0F, 255.0F};
            sum = sum < zero ? zero : sum;
            sum = sum > most ? most : sum;
            const FourInts ints = __builtin_convertvector(sum, FourInts);
            return static_cast<std::uint32_t>(ints[0]) | static_cast<std::uint32_t>(ints[1]) << 8 |
                   static_cast<std::uint32_t>(ints[2]) << 16;
#endif
        };
        // Of a little-endian word, four bytes a pixel, the fourth overwritten
        // by the next one's; the last pixel's three.
        const auto put = [](std::uint8_t* at, std::uint32_t word) {
            at[0] = static_cast<std::uint8_t>(word);
            at[1] = static_cast<std::uint8_t>(word >> 8);
            at[2] = static_cast<std::uint8_t>(word >> 16);
        };
        const auto last = static_cast<std::size_t>(width_) - 1;
        for (std::size_t c = 0; c < last; ++c, out += 3) {
            const std::uint32_t word = bytesOf(c);
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(out, &word, 4);
            } else {
                put(out, word);
            }
        }
        put(out, bytesOf(last));
    }

    std::int32_t width_;
    std::size_t values_;  // bytes of a source line
    bool whole_ = false;
    std::int32_t kx_ = 0;
    std::int32_t ky_ = 0;
    std::uint64_t reciprocal_ = 0;
    std::vector<std::uint16_t> sums_;
    std::vector<std::uint8_t> pairs_;  // 2:1, the means of neighbouring pixels
    Spans columns_;
    Spans rows_;
    std::int32_t taps_ = 0;            // the most source pixels of a target pixel
    std::vector<float> paddedShares_;  // taps_ a target pixel, zeros after its own
    std::vector<float> line_;
};

// ResizeByArea into `target` (rows of the target's size) of a source whose
// picture is `extentWidth` x `extentHeight` of its pixels from the top left
// (AreaPlan).
PixelRows ResizeExtentByArea(const PixelRows& source, double extentWidth, double extentHeight,
                             PixelRows target) {
    if (!source.bits || source.width < 1 || source.height < 1 || !target.bits) {
        throw Fault::SubscriptOutOfRange();
    }
    AreaPlan plan(source.width, source.height, extentWidth, extentHeight, target.width,
                  target.height);
    std::vector<const std::uint8_t*> lines(static_cast<std::size_t>(plan.MostCount()));
    for (std::int32_t t = 0; t < target.height; ++t) {
        for (std::int32_t k = 0; k < plan.Count(t); ++k) {
            lines[static_cast<std::size_t>(k)] = source.ScanLine(plan.First(t) + k);
        }
        plan.Average(t, lines.data(), target.ScanLine(t));
    }
    return target;
}

// Area averaging of a JPEG's lines as libjpeg decodes them, top first: the
// lines of each target line are kept in a ring (of AreaPlan::MostCount
// lines) until the last of them in memory order, its top one, arrives, and
// then averaged by AreaPlan as the whole rows would be, into a target of
// the stored orientation. The picture's orientation is applied to the
// target once it is complete: the same pixels as averaging the turned rows,
// to within the rounding of sums taken in another order, at a fraction of
// the cost of turning the lines.
class AreaLines final : public picture::LineSink {
  public:
    AreaLines(std::int32_t width, std::int32_t height, picture::LineSink* also)
        : width_(width), height_(height), also_(also) {}

    void Begin(const picture::StreamedLines& lines) override {
        if (also_ != nullptr) also_->Begin(lines);
        lines_ = lines;
        // EXIF's orientations 5 to 8 turn by a quarter.
        const bool swapped = lines.orientation >= 5;
        const std::int32_t width = swapped ? height_ : width_;
        const std::int32_t height = swapped ? width_ : height_;
        if (!target_.bits) target_ = AllocatePixelRows(width, height);
        plan_.reset();
        memory_ = PictureMemory();
        ring_ = std::vector<std::uint8_t>();
        plan_.emplace(lines.size.width, lines.size.height, lines.extentWidth, lines.extentHeight,
                      width, height);
        ringLines_ = plan_->MostCount();
        const std::size_t values = 3 * static_cast<std::size_t>(lines.size.width);
        // The ring, the black line and the plan's line of sums.
        memory_ = PictureMemory((static_cast<std::size_t>(ringLines_) + 1) * values +
                                values * sizeof(float));
        ring_.assign(static_cast<std::size_t>(ringLines_) * values, 0);
        black_.assign(values, 0);
        blank_.assign(static_cast<std::size_t>(ringLines_), false);
        pointers_.resize(static_cast<std::size_t>(ringLines_));
        next_ = lines.size.height - 1;
        nextTarget_ = height - 1;
    }

    void Line(const std::uint8_t* bgr) override {
        if (also_ != nullptr) also_->Line(bgr);
        if (next_ < 0) return;
        blank_[Slot(next_)] = false;
        Arrived(bgr);
    }

    void Blank(std::int32_t count) override {
        if (also_ != nullptr) also_->Blank(count);
        for (std::int32_t n = 0; n < count && next_ >= 0; ++n) {
            blank_[Slot(next_)] = true;
            Arrived(nullptr);
        }
    }

    PixelRows Finish() {
        if (nextTarget_ >= 0) throw Fault::SubscriptOutOfRange();
        return picture::ApplyStreamedOrientation(std::move(target_), lines_);
    }

  private:
    std::size_t Slot(std::int32_t line) const {
        return static_cast<std::size_t>(line % ringLines_);
    }

    // Source line next_ (memory order) has arrived, `bgr` or blank (null):
    // every target line that starts there has all of its lines. The line is
    // read where the decoder left it for those, and kept in the ring only
    // when a target line still to come takes it too.
    void Arrived(const std::uint8_t* bgr) {
        const std::size_t values = black_.size();
        while (nextTarget_ >= 0 && plan_->First(nextTarget_) == next_) {
            const std::int32_t t = nextTarget_--;
            bool anyData = false;
            for (std::int32_t k = 0; k < plan_->Count(t); ++k) {
                const std::size_t slot = Slot(next_ + k);
                anyData = anyData || !blank_[slot];
                const std::uint8_t* kept = ring_.data() + slot * values;
                pointers_[static_cast<std::size_t>(k)] =
                    blank_[slot] ? black_.data() : (k == 0 ? bgr : kept);
            }
            std::uint8_t* out = target_.ScanLine(t);
            if (anyData) {
                plan_->Average(t, pointers_.data(), out);
            } else {
                // Black lines average to black, and nothing need be summed:
                // a file that claims a huge picture and ends early costs
                // the lines of its data.
                std::fill(out, out + 3 * static_cast<std::size_t>(target_.width), 0);
            }
        }
        // Spans grow with the target line (a line that the next target line
        // to come does not take, no later one takes either).
        if (bgr != nullptr && nextTarget_ >= 0 &&
            plan_->First(nextTarget_) + plan_->Count(nextTarget_) > next_) {
            std::copy(bgr, bgr + values, ring_.data() + Slot(next_) * values);
        }
        --next_;
    }

    std::int32_t width_;
    std::int32_t height_;
    picture::LineSink* also_;  // told every line too, or null
    picture::StreamedLines lines_;
    PixelRows target_;
    std::optional<AreaPlan> plan_;
    std::int32_t ringLines_ = 1;
    PictureMemory memory_;            // the ring's, the black line's, the sums'
    std::vector<std::uint8_t> ring_;  // source line s in slot s % ringLines_
    std::vector<std::uint8_t> black_;
    std::vector<bool> blank_;
    std::vector<const std::uint8_t*> pointers_;
    std::int32_t next_ = 0;        // the source line to come, memory order
    std::int32_t nextTarget_ = 0;  // the next target line to make, memory order
};

// A length of the target times kScaledDecodeMargin: what a scaled decode
// gives at least.
std::int32_t WithMargin(std::int32_t length) {
    return static_cast<std::int32_t>(std::min<std::int64_t>(
        std::int64_t{kScaledDecodeMargin} * length, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

PixelRows ResizeByArea(const PixelRows& source, std::int32_t width, std::int32_t height) {
    if (!source.bits || source.width < 1 || source.height < 1 || width < 1 || height < 1) {
        throw Fault::SubscriptOutOfRange();
    }
    return ResizeExtentByArea(source, source.width, source.height,
                              AllocatePixelRows(width, height));
}

PixelRows DecodeByArea(const std::string& path, std::int32_t width, std::int32_t height,
                       picture::LineSink* alsoTo) {
    if (width < 1 || height < 1) throw Fault::SubscriptOutOfRange();
    try {
        AreaSink area(width, height);
        if (picture::StreamPicture(path, area)) return area.Finish();
        // A JPEG's lines are averaged as they are decoded. A picture whose
        // decode at the margin is beyond the memory budget is decoded at the
        // smallest scale that still gives the target: coarser, but bounded.
        try {
            AreaLines lines(width, height, alsoTo);
            picture::StreamJpegAtLeast(path, WithMargin(width), WithMargin(height), lines);
            return lines.Finish();
        } catch (const Fault& fault) {
            if (fault.Message() != Fault::OutOfMemory().Message()) throw;
        }
        AreaLines lines(width, height, alsoTo);
        picture::StreamJpegAtLeast(path, width, height, lines);
        return lines.Finish();
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

PixelRows DecodeAlbumByArea(const std::string& path, std::int32_t width, std::int32_t height) {
    if (width < 1 || height < 1) throw Fault::SubscriptOutOfRange();
    try {
        AreaSink area(width, height);
        if (picture::StreamAlbumPicture(path, area)) return area.Finish();
        return ResizeByArea(
            picture::DecodeAlbumPictureAtLeast(path, WithMargin(width), WithMargin(height)), width,
            height);
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

}  // namespace fotolane::imaging
