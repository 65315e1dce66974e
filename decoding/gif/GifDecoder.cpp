// GIF decoding of our own: the first frame, as browsers show it. Qt's reader
// (and giflib) refuse files that browsers show: a first frame larger than the
// logical screen or outside it, a screen of 0 x 0, an LZW code out of range,
// data that ends early, a frame of no size. Browsers show the picture as far
// as it decodes and leave the rest transparent; here it is white, like the
// transparent pixels. The rows are written directly, one pass over the data,
// so that the cost follows the data and the one picture in memory; the
// thumbnailer's decode writes only the sampled pixels, and stops at the last
// sampled line; the album's gives the frame's pixels to a sink (StreamGif),
// never the canvas around them.

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "decoding/gif/GifDecoder.h"
#include "platform/core/Fault.h"

namespace fotolane::picture::detail {

namespace {

// What the file says up to the first frame's pixel data.
struct GifLayout {
    PictureSize canvas{0, 0};
    // The first frame's rectangle; none when the file ends in its trailer
    // before any frame.
    bool hasFrame = false;
    std::int32_t left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    // The frame's colours (local, else global), 3 bytes each; empty when the
    // file has none.
    Bytes colours;
    int transparent = -1;
    // Where the frame's LZW code size byte stands (the data's start).
    std::size_t data = 0;
};

// Skips data sub-blocks from `at`; the position after the terminator, or
// the data's size when it ends first.
std::size_t SkipSubBlocks(Bytes bytes, std::size_t at) {
    while (at < bytes.size()) {
        const std::size_t length = bytes[at];
        at += 1 + length;
        if (length == 0) return at;
    }
    return bytes.size();
}

// False when the data ends before the first frame's descriptor is whole and
// before the trailer, or when the picture would have no pixels: browsers show
// no picture then.
bool ReadLayout(Bytes bytes, GifLayout& layout) {
    constexpr std::size_t kScreen = 13;
    if (bytes.size() < kScreen) return false;
    std::int32_t width = LittleEndian16(bytes, 6);
    std::int32_t height = LittleEndian16(bytes, 8);
    const std::uint8_t flags = bytes[10];
    std::size_t at = kScreen;
    Bytes global;
    if ((flags & 0x80) != 0) {
        const std::size_t size = 3 * (std::size_t{2} << (flags & 0x07));
        global = bytes.subspan(at, std::min(size, bytes.size() - at));
        at += size;
    }
    for (;;) {
        if (at >= bytes.size()) return false;
        const std::uint8_t kind = bytes[at];
        if (kind == ';') break;  // the trailer, before any frame
        if (kind == '!') {
            // An extension; a graphic control extension (0xF9) before the
            // frame tells its transparent colour.
            if (at + 2 > bytes.size()) return false;
            if (bytes[at + 1] == 0xF9 && at + 7 <= bytes.size() && bytes[at + 2] >= 4) {
                layout.transparent = (bytes[at + 3] & 0x01) != 0 ? bytes[at + 6] : -1;
            }
            at = SkipSubBlocks(bytes, at + 2);
            if (at >= bytes.size()) return false;
            continue;
        }
        if (kind != ',') return false;
        if (bytes.size() - at < 10) return false;
        layout.hasFrame = true;
        layout.left = LittleEndian16(bytes, at + 1);
        layout.top = LittleEndian16(bytes, at + 3);
        layout.width = LittleEndian16(bytes, at + 5);
        layout.height = LittleEndian16(bytes, at + 7);
        const std::uint8_t frameFlags = bytes[at + 9];
        layout.interlaced = (frameFlags & 0x40) != 0;
        at += 10;
        layout.colours = global;
        if ((frameFlags & 0x80) != 0) {
            const std::size_t size = 3 * (std::size_t{2} << (frameFlags & 0x07));
            layout.colours =
                bytes.subspan(std::min(at, bytes.size()),
                              std::min(size, bytes.size() - std::min(at, bytes.size())));
            at += size;
        }
        layout.data = at;
        // The first frame widens the screen to hold it.
        width = std::max(width, layout.left + layout.width);
        height = std::max(height, layout.top + layout.height);
        // A frame of no size covers the whole screen.
        if (layout.width == 0 || layout.height == 0) {
            layout.width = width;
            layout.height = height;
        }
        break;
    }
    layout.canvas = {width, height};
    return width > 0 && height > 0;
}

// Reads the LZW codes of the frame's sub-blocks, least significant bit first.
class CodeReader {
  public:
    CodeReader(Bytes bytes, std::size_t at) : bytes_(bytes), at_(at) {}

    // False when the data ends (its terminator, or the file).
    bool Next(int width, int& code) {
        while (bits_ < width) {
            if (left_ == 0) {
                if (at_ >= bytes_.size() || bytes_[at_] == 0) return false;
                left_ = bytes_[at_++];
            }
            if (at_ >= bytes_.size()) return false;
            buffer_ |= static_cast<std::uint32_t>(bytes_[at_++]) << bits_;
            bits_ += 8;
            --left_;
        }
        code = static_cast<int>(buffer_ & ((1u << width) - 1));
        buffer_ >>= width;
        bits_ -= width;
        return true;
    }

  private:
    Bytes bytes_;
    std::size_t at_;
    std::size_t left_ = 0;  // bytes left in the current sub-block
    std::uint32_t buffer_ = 0;
    int bits_ = 0;
};

// The frame's colours by index, B, G, R, and which indices are opaque.
struct FrameColours {
    explicit FrameColours(const GifLayout& layout) {
        for (std::size_t i = 0; i < 256; ++i) {
            std::uint8_t* bgr = palette[i].data();
            if (static_cast<int>(i) == layout.transparent) {
                opaque[i] = false;
            } else if (3 * i + 2 < layout.colours.size()) {
                bgr[0] = layout.colours[3 * i + 2];
                bgr[1] = layout.colours[3 * i + 1];
                bgr[2] = layout.colours[3 * i];
            }
        }
        // A file without colours shows nothing of its frame.
        if (layout.colours.empty()) opaque.fill(false);
    }

    std::array<std::array<std::uint8_t, 3>, 256> palette{};
    std::array<bool, 256> opaque = [] {
        std::array<bool, 256> all{};
        all.fill(true);
        return all;
    }();
};

// The frame line of the `row`th line of data: interlaced frames give
// every 8th line from 0, every 8th from 4, every 4th from 2, then every
// 2nd from 1.
std::int32_t LineOfRow(const GifLayout& layout, std::int32_t row) {
    if (!layout.interlaced) return row;
    const std::int32_t h = layout.height;
    const std::int32_t pass1 = (h + 7) / 8;
    const std::int32_t pass2 = (h + 3) / 8;
    const std::int32_t pass3 = (h + 1) / 4;
    if (row < pass1) return 8 * row;
    row -= pass1;
    if (row < pass2) return 8 * row + 4;
    row -= pass2;
    if (row < pass3) return 4 * row + 2;
    return 2 * (row - pass3) + 1;
}

// Puts the frame's pixels, in the order of the data, onto the rows: the
// wanted ones only.
class FrameWriter {
  public:
    FrameWriter(PixelRows& rows, const GifLayout& layout, const WantedPixels& wanted)
        : rows_(rows), layout_(layout), wanted_(wanted), colours_(layout) {}

    // Takes the next `count` pixels of the frame, whose indices `string()`
    // gives when a wanted pixel is among them (so that the strings of
    // pixels nobody wants are never spelled out). False once every pixel
    // of the frame has been taken, or no wanted one is left.
    template <typename String>
    bool Put(std::size_t count, String&& string) {
        const std::uint8_t* indices = nullptr;
        std::size_t taken = 0;
        while (taken < count) {
            if (row_ >= layout_.height) return false;
            const std::size_t inRow =
                std::min(count - taken, static_cast<std::size_t>(layout_.width - column_));
            const std::int64_t y = std::int64_t{layout_.top} + LineOfRow(layout_, row_);
            if (y < rows_.height && wanted_.Line(static_cast<std::int32_t>(y))) {
                std::uint8_t* line =
                    rows_.ScanLine(rows_.height - 1 - static_cast<std::int32_t>(y));
                const std::int32_t from = layout_.left + column_;
                const std::int32_t end = static_cast<std::int32_t>(
                    std::min<std::int64_t>(from + static_cast<std::int64_t>(inRow), rows_.width));
                for (std::int32_t x = wanted_.NextColumn(from, end); x < end;
                     x = wanted_.NextColumn(x + 1, end)) {
                    if (indices == nullptr) indices = string();
                    const std::uint8_t index = indices[taken + static_cast<std::size_t>(x - from)];
                    if (colours_.opaque[index]) {
                        std::memcpy(line + 3 * static_cast<std::ptrdiff_t>(x),
                                    colours_.palette[index].data(), 3);
                    }
                }
            }
            taken += inRow;
            column_ += static_cast<std::int32_t>(inRow);
            if (column_ == layout_.width) {
                column_ = 0;
                ++row_;
                // Lines come in order unless interlaced: past the last
                // wanted one, the rest of the data changes nothing.
                if (!layout_.interlaced && row_ < layout_.height &&
                    wanted_.NextLine(layout_.top + row_, rows_.height) == rows_.height) {
                    return false;
                }
            }
        }
        return row_ < layout_.height;
    }

  private:
    PixelRows& rows_;
    const GifLayout& layout_;
    const WantedPixels& wanted_;
    const FrameColours colours_;
    std::int32_t row_ = 0;
    std::int32_t column_ = 0;
};

// Gives the frame's opaque pixels to a sink, gathered into stretches of
// one line; the transparent ones, like the rest of the canvas, are the
// background.
class SinkWriter {
  public:
    SinkWriter(PixelSink& sink, const GifLayout& layout)
        : sink_(sink), layout_(layout), colours_(layout) {}
    SinkWriter(const SinkWriter&) = delete;
    SinkWriter& operator=(const SinkWriter&) = delete;
    ~SinkWriter() = default;

    // As FrameWriter::Put, for every pixel of the frame.
    template <typename String>
    bool Put(std::size_t count, String&& string) {
        const std::uint8_t* indices = string();
        std::size_t taken = 0;
        while (taken < count) {
            if (row_ >= layout_.height) return false;
            const std::size_t inRow =
                std::min(count - taken, static_cast<std::size_t>(layout_.width - column_));
            const std::int64_t y = std::int64_t{layout_.top} + LineOfRow(layout_, row_);
            if (y < layout_.canvas.height) {
                const std::int32_t from = layout_.left + column_;
                const auto end = static_cast<std::int32_t>(std::min<std::int64_t>(
                    from + static_cast<std::int64_t>(inRow), layout_.canvas.width));
                for (std::int32_t x = from; x < end; ++x) {
                    const std::uint8_t index = indices[taken + static_cast<std::size_t>(x - from)];
                    if (!colours_.opaque[index]) continue;
                    if (count_ == kStretch || y != y_ || x != x_ + count_) Flush();
                    if (count_ == 0) {
                        y_ = static_cast<std::int32_t>(y);
                        x_ = x;
                    }
                    std::memcpy(stretch_.data() + 3 * static_cast<std::size_t>(count_),
                                colours_.palette[index].data(), 3);
                    ++count_;
                }
            }
            taken += inRow;
            column_ += static_cast<std::int32_t>(inRow);
            if (column_ == layout_.width) {
                column_ = 0;
                ++row_;
            }
        }
        return row_ < layout_.height;
    }

    // Gives the pixels gathered so far.
    void Flush() {
        if (count_ > 0) sink_.Pixels(y_, x_, count_, stretch_.data());
        count_ = 0;
    }

  private:
    static constexpr std::int32_t kStretch = 4096;

    PixelSink& sink_;
    const GifLayout& layout_;
    const FrameColours colours_;
    std::int32_t row_ = 0;
    std::int32_t column_ = 0;
    // Consecutive opaque pixels of line y_ from column x_, not yet given.
    std::array<std::uint8_t, 3 * std::size_t{kStretch}> stretch_{};
    std::int32_t count_ = 0;
    std::int32_t y_ = 0;
    std::int32_t x_ = 0;
};

// Decodes the frame's LZW data as far as it is sound: a code beyond the
// table or the end of the data ends it, and the pixels not reached keep
// the white of the rows. The writer (FrameWriter, SinkWriter) takes the
// pixels.
template <typename Writer>
void DecodeFrame(Bytes bytes, const GifLayout& layout, Writer& writer) {
    if (layout.data >= bytes.size()) return;
    const int minimum = bytes[layout.data];
    if (minimum < 1 || minimum > 11) return;
    constexpr int kMostCodes = 4096;
    const int clear = 1 << minimum;
    const int end = clear + 1;
    // Each code's string: the code of its prefix, its last index, its first
    // index and its length.
    std::array<std::uint16_t, kMostCodes> prefix{};
    std::array<std::uint8_t, kMostCodes> suffix{};
    std::array<std::uint8_t, kMostCodes> first{};
    std::array<std::uint16_t, kMostCodes> length{};
    for (int code = 0; code < clear; ++code) {
        suffix[static_cast<std::size_t>(code)] = static_cast<std::uint8_t>(code);
        first[static_cast<std::size_t>(code)] = static_cast<std::uint8_t>(code);
        length[static_cast<std::size_t>(code)] = 1;
    }
    std::array<std::uint8_t, kMostCodes> string{};

    CodeReader reader(bytes, layout.data + 1);
    int width = minimum + 1;
    int next = end + 1;
    int previous = -1;
    for (int code = 0; reader.Next(width, code);) {
        if (code == clear) {
            width = minimum + 1;
            next = end + 1;
            previous = -1;
            continue;
        }
        if (code == end) return;
        if (previous < 0) {
            if (code >= clear) return;
        } else if (code > next || (code == next && next >= kMostCodes)) {
            return;  // out of range: the picture ends here
        }
        // A new string: the previous one and the first index of this one
        // (of the previous one when this code is the one being made).
        if (previous >= 0 && next < kMostCodes) {
            const auto n = static_cast<std::size_t>(next);
            const auto p = static_cast<std::size_t>(previous);
            prefix[n] = static_cast<std::uint16_t>(previous);
            first[n] = first[p];
            suffix[n] = code == next ? first[p] : first[static_cast<std::size_t>(code)];
            length[n] = static_cast<std::uint16_t>(length[p] + 1);
            ++next;
            if (next == (1 << width) && width < 12) ++width;
        }
        // The string of `code`, spelled from its end back to its start.
        const std::size_t size = length[static_cast<std::size_t>(code)];
        const auto spell = [&] {
            for (std::size_t i = size, c = static_cast<std::size_t>(code); i > 0;
                 --i, c = prefix[c]) {
                string[i - 1] = suffix[c];
            }
            return string.data();
        };
        if (!writer.Put(size, spell)) return;
        previous = code;
    }
}

// The application extensions a copy keeps: how often an animation loops
// (Netscape's and its older twin), and the colour profile.
bool KeepsApplication(Bytes identifier) {
    static constexpr std::array<std::string_view, 3> kKept = {"NETSCAPE2.0", "ANIMEXTS1.0",
                                                              "ICCRGBG1012"};
    const std::string_view name(reinterpret_cast<const char*>(identifier.data()),
                                identifier.size());
    return std::find(kKept.begin(), kKept.end(), name) != kKept.end();
}

}  // namespace

std::vector<std::uint8_t> GifWithoutMetadata(Bytes bytes, const std::string& path) {
    const Fault unknown("Cannot remove the location", path);
    constexpr std::size_t kScreen = 13;
    if (bytes.size() < kScreen) throw unknown;
    std::size_t at = kScreen;
    if ((bytes[10] & 0x80) != 0) at += 3 * (std::size_t{2} << (bytes[10] & 0x07));
    std::vector<std::uint8_t> out(
        bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at, bytes.size())));
    // Each block whole, or the fault: a block that the file ends within.
    const auto blockEnd = [&](std::size_t subBlocks) {
        const std::size_t end = SkipSubBlocks(bytes, subBlocks);
        if (end > bytes.size() || bytes[end - 1] != 0) throw unknown;
        return end;
    };
    const auto keep = [&](std::size_t from, std::size_t to) {
        out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from),
                   bytes.begin() + static_cast<std::ptrdiff_t>(to));
    };
    for (;;) {
        if (at >= bytes.size()) throw unknown;
        const std::uint8_t kind = bytes[at];
        if (kind == ';') {
            out.push_back(kind);
            return out;
        }
        if (kind == ',') {
            // The descriptor, its colour table, the code size, the data.
            if (bytes.size() - at < 11) throw unknown;
            std::size_t data = at + 10;
            if ((bytes[at + 9] & 0x80) != 0) data += 3 * (std::size_t{2} << (bytes[at + 9] & 0x07));
            if (data >= bytes.size()) throw unknown;
            const std::size_t end = blockEnd(data + 1);
            keep(at, end);
            at = end;
            continue;
        }
        if (kind != '!' || at + 2 >= bytes.size()) throw unknown;
        const std::uint8_t label = bytes[at + 1];
        const std::size_t end = blockEnd(at + 2);
        constexpr std::uint8_t kPlainText = 0x01, kGraphicControl = 0xF9, kApplication = 0xFF;
        constexpr std::size_t kIdentifier = 11;
        // Comments, other applications' blocks and extensions of no known
        // kind (which may hold anything) go.
        bool kept = label == kPlainText || label == kGraphicControl;
        if (label == kApplication && bytes[at + 2] == kIdentifier && at + 3 + kIdentifier <= end) {
            kept = KeepsApplication(bytes.subspan(at + 3, kIdentifier));
        }
        if (kept) keep(at, end);
        at = end;
    }
}

bool ReadGifSize(Bytes bytes, PictureSize& size) {
    GifLayout layout;
    if (!ReadLayout(bytes, layout)) return false;
    size = layout.canvas;
    return true;
}

PixelRows DecodeGif(Bytes bytes, const std::string& path) {
    PixelRows rows;
    DecodeGifInto(bytes, path, WantedPixels(), rows);
    return rows;
}

void DecodeGifInto(Bytes bytes, const std::string& path, const WantedPixels& wanted,
                   PixelRows& rows) {
    GifLayout layout;
    if (!ReadLayout(bytes, layout)) throw Fault::InvalidPicture(path);
    CheckPictureSize(layout.canvas, path);
    wanted.ShapeRows(rows, layout.canvas.width, layout.canvas.height);
    // White where the frame does not reach; only the wanted pixels, so that
    // a small file claiming a huge screen costs no more than its samples.
    constexpr std::uint8_t kWhite[3] = {0xFF, 0xFF, 0xFF};
    wanted.Fill(rows, kWhite);
    if (layout.hasFrame) {
        FrameWriter writer(rows, layout, wanted);
        DecodeFrame(bytes, layout, writer);
    }
}

void StreamGif(Bytes bytes, const std::string& path, PixelSink& sink) {
    GifLayout layout;
    if (!ReadLayout(bytes, layout)) throw Fault::InvalidPicture(path);
    CheckPictureSize(layout.canvas, path);
    constexpr std::uint8_t kWhite[3] = {0xFF, 0xFF, 0xFF};
    sink.Begin(layout.canvas, kWhite);
    if (layout.hasFrame) {
        SinkWriter writer(sink, layout);
        DecodeFrame(bytes, layout, writer);
        writer.Flush();
    }
}

}  // namespace fotolane::picture::detail
