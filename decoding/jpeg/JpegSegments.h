#pragma once

// A walk over the segments of a JPEG file, as libjpeg reads them, for what
// the decoder wants to know before it decodes: where the EXIF data stands
// and how many scans the file has.

#include <cstddef>
#include <cstdint>
#include <span>

namespace fotolane::picture::detail {

// One marker segment: the byte after 0xFF, and what follows the two length
// bytes (empty for the markers that carry no length).
struct JpegSegment {
    std::uint8_t marker = 0;
    std::span<const std::uint8_t> payload;
    // Where its marker starts (set even when the segment is not whole), and
    // where the next marker may start.
    std::size_t start = 0;
    std::size_t end = 0;
};

inline constexpr std::uint8_t kStartOfScan = 0xDA;
inline constexpr std::uint8_t kEndOfImage = 0xD9;
inline constexpr std::uint8_t kApp1 = 0xE1;

// The segment whose marker is searched from `at` on. As libjpeg does, bytes
// before the marker that are not 0xFF are passed over, and so are fill bytes
// 0xFF and the pairs 0xFF 0x00 of entropy-coded data. False when the data
// ends before a whole segment (a length that runs past the end, or one
// below 2).
bool NextJpegSegment(std::span<const std::uint8_t> jpeg, std::size_t at, JpegSegment& segment);

// The payload of the first APP1 segment before the first scan that holds EXIF
// data ("Exif", a null byte and a fill byte, then a TIFF header), from its
// TIFF header on; empty when there is none. Browsers read the orientation
// from that segment only, wherever it stands among the others (JFIF, a
// comment, an XMP packet in an APP1 of its own, an ICC profile, Adobe's).
std::span<const std::uint8_t> ExifTiffData(std::span<const std::uint8_t> jpeg);

// What the frame header (the first SOFn segment before the first scan) says
// that decoding will need.
struct JpegFrame {
    bool progressive = false;
    std::int32_t width = 0;
    std::int32_t height = 0;
    // Each component's 8 x 8 blocks, counted over the whole picture.
    std::size_t blocks = 0;
    // Sequential Huffman coding (SOF0, SOF1), where every block takes at
    // least two bits of data (a DC code and an end of block).
    bool sequentialHuffman = false;
    // Lines of one row of MCUs, and the blocks of such a row.
    std::int32_t mcuLines = 8;
    std::size_t mcuRowBlocks = 0;
    // Where the two bytes of the height stand in the file.
    std::size_t heightAt = 0;
};
bool ReadJpegFrame(std::span<const std::uint8_t> jpeg, JpegFrame& frame);

// A pass over the markers of the whole file that skips entropy-coded data,
// far cheaper than decoding a scan: the number of start-of-scan markers,
// counted up to `limit` + 1 at most, and the length of the file up to a
// marker segment that the file ends within (all of it when there is none).
// Cut there, a file that ends within the tables between two scans of a
// progressive picture decodes as far as its scans go, as browsers show it,
// instead of failing on half a table.
struct JpegScans {
    int count = 0;
    std::size_t soundLength = 0;
    // Where the first scan's data starts.
    std::size_t firstData = 0;
};
JpegScans WalkJpegScans(std::span<const std::uint8_t> jpeg, int limit);

}  // namespace fotolane::picture::detail
