#pragma once

// The run lengths of 4- and 8-bit bitmaps, walked once for the decode into
// rows (BitmapDecoder.cpp) and twice for the decode into a sink
// (BitmapStream.cpp).

#include <algorithm>
#include <array>
#include <cstdint>

#include "decoding/bmp/BitmapLayout.h"

namespace fotolane::picture::detail::bmp {

// The bytes of the run lengths, one at a time.
class ByteReader {
  public:
    ByteReader(Bytes bytes, std::size_t at) : bytes_(bytes), at_(std::min(at, bytes.size())) {}
    // False at the end, leaving `byte` as it was.
    bool Get(std::uint8_t& byte) {
        if (at_ >= bytes_.size()) return false;
        byte = bytes_[at_++];
        return true;
    }
    void Skip() { at_ = std::min(at_ + 1, bytes_.size()); }
    std::size_t Left() const { return bytes_.size() - at_; }
    const std::uint8_t* Take(std::size_t count) {
        const std::uint8_t* taken = bytes_.data() + at_;
        at_ += count;
        return taken;
    }

  private:
    Bytes bytes_;
    std::size_t at_;
};

// The bytes of a line of the block of run lengths.
inline std::int64_t RunLineBytes(std::int32_t width) {
    return (std::int64_t{width} + 3) / 4 * 4;
}

// Walks the run lengths once, handing each run to the writer (RunWriter and
// the writers of BitmapStream.cpp) with where the block line of the data's
// line ends: the part of a run past that end goes into lines given before.
// False when an absolute run of 8-bit values is cut short by the end of the
// file: such a file is refused. `stoppedAt`, when given, is where the walk
// ended in the file: the end of the run lengths.
template <typename Writer>
bool WalkRunLengths(Bytes bytes, const BitmapPixels& pixels, Writer& writer,
                    std::size_t* stoppedAt = nullptr) {
    const bool nibbles = pixels.layout->compression == kRle4;
    ByteReader in(bytes, pixels.start);
    const std::int64_t width = pixels.layout->size.width;
    const std::int64_t height = pixels.layout->size.height;
    const std::int64_t lineBytes = RunLineBytes(pixels.layout->size.width);
    // The line (from the bottom) and column reached, the place in the
    // block, and the end of the bottom line, beyond which no run goes.
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t at = (height - 1) * lineBytes;
    const std::int64_t end = at + width;
    std::uint8_t b = 0;
    while (y < height) {
        if (!in.Get(b)) break;
        if (b != 0) {
            // A run of one value (of two alternating 4-bit values).
            const auto count = static_cast<std::uint8_t>(std::min<std::int64_t>(b, end - at));
            std::uint8_t value = count;
            in.Get(value);
            if (nibbles) {
                writer.Put(at, count, (height - y) * lineBytes,
                           [&](std::int64_t i) { return i % 2 == 0 ? value >> 4 : value & 0x0F; });
            } else {
                writer.Put(at, count, (height - y) * lineBytes,
                           [&](std::int64_t) { return value; });
            }
            x += count;
            at += count;
            continue;
        }
        if (!in.Get(b) || b == 1) break;  // the end of the picture
        if (b == 0) {                     // the end of the line
            x = 0;
            ++y;
            at = (height - y - 1) * lineBytes;
        } else if (b == 2) {  // a move right and up
            std::uint8_t right = 0;
            std::uint8_t up = 0;
            in.Get(right);
            in.Get(up);
            x = std::min(x + right, width - 1);
            y = std::min(y + up, height - 1);
            at = (height - y - 1) * lineBytes + x;
        } else {  // b values as they are, padded to 2 bytes
            const auto count = static_cast<std::uint8_t>(std::min<std::int64_t>(b, end - at));
            if (nibbles) {
                std::array<std::uint8_t, 256> values{};
                std::uint8_t pair = count;
                for (int i = 0; i + 1 < count; i += 2) {
                    in.Get(pair);
                    values[static_cast<std::size_t>(i)] = pair >> 4;
                    values[static_cast<std::size_t>(i) + 1] = pair & 0x0F;
                }
                if (count % 2 == 1) {
                    std::uint8_t last = 0;
                    in.Get(last);
                    values[count - 1u] = last >> 4;
                }
                if ((count & 3) == 1 || (count & 3) == 2) in.Skip();
                writer.Put(at, count, (height - y) * lineBytes,
                           [&](std::int64_t i) { return values[static_cast<std::size_t>(i)]; });
            } else {
                if (in.Left() < count) return false;
                const std::uint8_t* values = in.Take(count);
                if (count % 2 == 1) in.Skip();
                writer.Put(at, count, (height - y) * lineBytes,
                           [&](std::int64_t i) { return values[i]; });
            }
            x += count;
            at += count;
        }
    }
    if (stoppedAt != nullptr) *stoppedAt = bytes.size() - in.Left();
    return true;
}

}  // namespace fotolane::picture::detail::bmp
