// The album's decode of a bitmap (StreamBitmap): its pixels given to a sink
// as the data reaches them, each once, without the picture in memory. Where
// runs of a compressed bitmap overwrite pixels given before, a first walk
// finds those stretches and a second keeps only their final values.

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "decoding/bmp/BitmapDecoder.h"
#include "decoding/bmp/BitmapLayout.h"
#include "decoding/bmp/RunLengths.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"

namespace fotolane::picture::detail {
namespace bmp {
namespace {

// Gives pixel values to a sink as colours, a stretch of one colour as a run.
class ColourGiver {
  public:
    ColourGiver(const BitmapPixels& pixels, PixelSink& sink) : pixels_(pixels), sink_(sink) {}

    // Pixels x to x + count - 1 of line y, pixel i of value `valueAt(i)`.
    template <typename ValueAt>
    void Give(std::int32_t y, std::int32_t x, std::int32_t count, ValueAt&& valueAt) {
        for (std::int32_t done = 0; done < count;) {
            const std::int32_t chunk = std::min(count - done, kChunk);
            bool one = true;
            for (std::int32_t i = 0; i < chunk; ++i) {
                const Bgr colour = pixels_.ColourOf(static_cast<std::uint32_t>(valueAt(done + i)));
                std::memcpy(colours_.data() + 3 * i, colour.data(), 3);
                one = one && std::memcmp(colours_.data(), colour.data(), 3) == 0;
            }
            if (one) {
                sink_.Run(y, x + done, chunk, colours_.data());
            } else {
                sink_.Pixels(y, x + done, chunk, colours_.data());
            }
            done += chunk;
        }
    }

  private:
    static constexpr std::int32_t kChunk = 4096;

    const BitmapPixels& pixels_;
    PixelSink& sink_;
    std::array<std::uint8_t, 3 * kChunk> colours_{};
};

// Uncompressed rows to a sink: the lines that the data reaches, each once,
// as DecodeRows takes them; pixels past a row's bytes are of the value 0,
// the background, and are not given.
void StreamRows(Bytes bytes, const BitmapPixels& pixels, PixelSink& sink) {
    const BitmapLayout& layout = *pixels.layout;
    const std::int32_t width = layout.size.width;
    const bool partial = layout.bitsAPixel == 1 || layout.bitsAPixel == 8;
    const auto [first, last] = pixels.LinesReached(bytes);
    ColourGiver give(pixels, sink);
    for (std::int32_t y = first; y < last; ++y) {
        const Bytes row = pixels.RowOf(bytes, y);
        const bool whole = row.size() == pixels.rowBytes;
        if (!whole && !partial) continue;
        if (whole && layout.bitsAPixel == 24) {
            sink.Pixels(y, 0, width, row.data());
            continue;
        }
        const auto count = whole
                               ? width
                               : static_cast<std::int32_t>(std::min<std::size_t>(
                                     static_cast<std::size_t>(width),
                                     row.size() * 8 / static_cast<std::size_t>(layout.bitsAPixel)));
        give.Give(y, 0, count, [&](std::int32_t x) { return ValueAt(row, layout.bitsAPixel, x); });
    }
}

// A stretch of the block of run lengths: positions start to end - 1.
struct Stretch {
    std::int64_t start = 0;
    std::int64_t end = 0;
};

// The first walk over the run lengths of StreamBitmap: where a run may
// give a pixel a second time. Within the line of the data a run goes
// forward, so only a run that starts before the end of an earlier one of
// that line (after a move that the top or the right edge cut short) may
// overwrite; a run past the end of the line goes into lines given before.
class OverwriteFinder {
  public:
    explicit OverwriteFinder(std::int64_t lineBytes) : lineBytes_(lineBytes) {}

    template <typename ValueAt>
    void Put(std::int64_t at, std::int64_t count, std::int64_t lineEnd, ValueAt&&) {
        if (lineEnd < lineEnd_) {
            // A line further up the block, where nothing was given yet.
            lineEnd_ = lineEnd;
            reached_ = lineEnd - lineBytes_;
        }
        const std::int64_t end = at + count;
        const std::int64_t inLine = std::min(end, lineEnd_);
        if (at < inLine) {
            if (at < reached_) Add(at, inLine);
            reached_ = std::max(reached_, inLine);
        }
        if (end > lineEnd_) Add(std::max(at, lineEnd_), end);
    }

    // The stretches found, in order, joined where they overlap or meet.
    std::vector<Stretch> Stretches() {
        std::sort(found_.begin(), found_.end(),
                  [](const Stretch& a, const Stretch& b) { return a.start < b.start; });
        std::vector<Stretch> joined;
        for (const Stretch& stretch : found_) {
            if (!joined.empty() && stretch.start <= joined.back().end) {
                joined.back().end = std::max(joined.back().end, stretch.end);
            } else {
                joined.push_back(stretch);
            }
        }
        return joined;
    }

  private:
    void Add(std::int64_t start, std::int64_t end) {
        // A run that goes on where the last one ended extends it.
        if (!found_.empty() && found_.back().end == start) {
            found_.back().end = end;
        } else {
            found_.push_back({start, end});
        }
    }

    std::int64_t lineBytes_;
    std::int64_t lineEnd_ = INT64_MAX;
    std::int64_t reached_ = 0;  // the end of what this line's runs gave
    std::vector<Stretch> found_;
};

// The second walk: runs outside the stretches that may be overwritten are
// final and go to the sink at once; inside them, every run is written into
// `values` in the order of the data, so that they hold the final values.
class CoveredWriter {
  public:
    CoveredWriter(const BitmapPixels& pixels, PixelSink& sink, const std::vector<Stretch>& covered)
        : layout_(*pixels.layout), give_(pixels, sink), covered_(covered) {
        std::int64_t total = 0;
        for (const Stretch& stretch : covered_) {
            offsets_.push_back(total);
            total += stretch.end - stretch.start;
        }
        memory_ = PictureMemory(static_cast<std::size_t>(total));
        values_.resize(static_cast<std::size_t>(total));
    }

    template <typename ValueAt>
    void Put(std::int64_t at, std::int64_t count, std::int64_t, ValueAt&& valueAt) {
        // The first stretch that ends after `at`.
        auto next = std::upper_bound(
            covered_.begin(), covered_.end(), at,
            [](std::int64_t position, const Stretch& stretch) { return position < stretch.end; });
        for (std::int64_t done = 0; done < count;) {
            const std::int64_t position = at + done;
            while (next != covered_.end() && next->end <= position) ++next;
            if (next != covered_.end() && next->start <= position) {
                const std::int64_t length = std::min(count - done, next->end - position);
                const auto stretch = static_cast<std::size_t>(next - covered_.begin());
                std::uint8_t* into = values_.data() + offsets_[stretch] + (position - next->start);
                for (std::int64_t i = 0; i < length; ++i) {
                    into[i] = static_cast<std::uint8_t>(valueAt(done + i));
                }
                done += length;
            } else {
                const std::int64_t until = next != covered_.end() ? next->start : INT64_MAX;
                const std::int64_t length = std::min(count - done, until - position);
                GiveBlock(position, length, [&](std::int64_t i) { return valueAt(done + i); });
                done += length;
            }
        }
    }

    // The final values of the stretches.
    void Finish() {
        for (std::size_t i = 0; i < covered_.size(); ++i) {
            const std::uint8_t* values = values_.data() + offsets_[i];
            GiveBlock(covered_[i].start, covered_[i].end - covered_[i].start,
                      [&](std::int64_t at) { return values[at]; });
        }
    }

  private:
    // Positions `at` to `at + count - 1` of the block, line by line; the
    // padding at the end of each line is no pixel.
    template <typename ValueAt>
    void GiveBlock(std::int64_t at, std::int64_t count, ValueAt&& valueAt) {
        const std::int64_t lineBytes = RunLineBytes(layout_.size.width);
        for (std::int64_t done = 0; done < count;) {
            const std::int64_t inLine = (at + done) / lineBytes;
            const std::int64_t column = (at + done) % lineBytes;
            const std::int64_t length = std::min(count - done, lineBytes - column);
            if (column < layout_.size.width) {
                const auto y = static_cast<std::int32_t>(
                    layout_.topDown ? layout_.size.height - 1 - inLine : inLine);
                const auto pixels = static_cast<std::int32_t>(
                    std::min<std::int64_t>(length, layout_.size.width - column));
                const std::int64_t from = done;
                give_.Give(y, static_cast<std::int32_t>(column), pixels,
                           [&](std::int32_t i) { return valueAt(from + i); });
            }
            done += length;
        }
    }

    const BitmapLayout& layout_;
    ColourGiver give_;
    const std::vector<Stretch>& covered_;
    std::vector<std::int64_t> offsets_;
    PictureMemory memory_;
    std::vector<std::uint8_t> values_;
};

}  // namespace
}  // namespace bmp

void StreamBitmap(Bytes bytes, const std::string& path, PixelSink& sink) {
    using namespace bmp;
    const BitmapLayout layout = ReadLayout(bytes, path);
    if (layout.pixelsOffset >= bytes.size()) {
        constexpr std::uint8_t kWhite[3] = {0xFF, 0xFF, 0xFF};
        sink.Begin(layout.size, kWhite);
        return;
    }
    BitmapPixels pixels;
    if (!ReadPixelFormat(bytes, layout, pixels)) throw Fault::InvalidPicture(path);
    const Bgr background = pixels.ColourOf(0);
    if (IsRunLengths(layout)) {
        // Two walks: the first finds where runs overwrite pixels (and
        // refuses a file before anything is given), the second gives the
        // pixels, each once.
        OverwriteFinder finder(RunLineBytes(layout.size.width));
        if (!WalkRunLengths(bytes, pixels, finder)) throw Fault::InvalidPicture(path);
        const std::vector<Stretch> covered = finder.Stretches();
        sink.Begin(layout.size, background.data());
        CoveredWriter writer(pixels, sink, covered);
        WalkRunLengths(bytes, pixels, writer);
        writer.Finish();
    } else {
        sink.Begin(layout.size, background.data());
        StreamRows(bytes, pixels, sink);
    }
}

}  // namespace fotolane::picture::detail
