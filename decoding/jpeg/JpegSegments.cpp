#include "decoding/jpeg/JpegSegments.h"

#include <algorithm>
#include <cstring>

#include "decoding/ByteReading.h"

namespace fotolane::picture::detail {

namespace {

// Markers that stand alone, without a length: TEM, RST0 to RST7, SOI, EOI.
bool StandsAlone(std::uint8_t marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9);
}

}  // namespace

bool NextJpegSegment(std::span<const std::uint8_t> jpeg, std::size_t at, JpegSegment& segment) {
    for (;;) {
        // Through the entropy-coded data at memchr's speed.
        if (at < jpeg.size() && jpeg[at] != 0xFF) {
            const void* found = std::memchr(jpeg.data() + at, 0xFF, jpeg.size() - at);
            at = found == nullptr ? jpeg.size()
                                  : static_cast<std::size_t>(
                                        static_cast<const std::uint8_t*>(found) - jpeg.data());
        }
        while (at < jpeg.size() && jpeg[at] == 0xFF) ++at;
        if (at >= jpeg.size()) return false;
        const std::uint8_t marker = jpeg[at++];
        if (marker == 0x00) continue;  // 0xFF 0x00: a data byte, no marker
        segment.marker = marker;
        segment.start = at - 2;
        if (StandsAlone(marker)) {
            segment.payload = {};
            segment.end = at;
            return true;
        }
        if (jpeg.size() - at < 2) return false;
        const std::size_t length = BigEndian16(jpeg, at);
        if (length < 2 || jpeg.size() - at < length) return false;
        segment.payload = jpeg.subspan(at + 2, length - 2);
        segment.end = at + length;
        return true;
    }
}

std::span<const std::uint8_t> ExifTiffData(std::span<const std::uint8_t> jpeg) {
    if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return {};
    JpegSegment segment;
    for (std::size_t at = 2; NextJpegSegment(jpeg, at, segment); at = segment.end) {
        if (segment.marker == kStartOfScan || segment.marker == kEndOfImage) break;
        const std::span<const std::uint8_t> data = segment.payload;
        // "Exif", a null byte, a fill byte (any), then "II*\0" or "MM\0*"
        // and the offset of the first directory.
        if (segment.marker != kApp1 || data.size() < 14 ||
            !std::equal(data.begin(), data.begin() + 5, "Exif")) {
            continue;
        }
        const bool little = data[6] == 'I' && data[7] == 'I' && data[8] == 42 && data[9] == 0;
        const bool big = data[6] == 'M' && data[7] == 'M' && data[8] == 0 && data[9] == 42;
        if (little || big) return data.subspan(6);
    }
    return {};
}

bool ReadJpegFrame(std::span<const std::uint8_t> jpeg, JpegFrame& frame) {
    if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    JpegSegment segment;
    for (std::size_t at = 2; NextJpegSegment(jpeg, at, segment); at = segment.end) {
        const std::uint8_t m = segment.marker;
        if (m == kStartOfScan || m == kEndOfImage) return false;
        // SOF0 to SOF15 but DHT (C4), JPG (C8) and DAC (CC).
        if (m < 0xC0 || m > 0xCF || m == 0xC4 || m == 0xC8 || m == 0xCC) continue;
        const std::span<const std::uint8_t> data = segment.payload;
        if (data.size() < 6) return false;
        const std::size_t components = data[5];
        if (components == 0 || data.size() < 6 + 3 * components) return false;
        frame.progressive = m == 0xC2 || m == 0xC6 || m == 0xCA || m == 0xCE;
        frame.height = BigEndian16(data, 1);
        frame.width = BigEndian16(data, 3);
        int mostH = 1;
        int mostV = 1;
        for (std::size_t c = 0; c < components; ++c) {
            mostH = std::max(mostH, data[7 + 3 * c] >> 4);
            mostV = std::max(mostV, data[7 + 3 * c] & 0x0F);
        }
        // A component sampled h of mostH covers width * h / mostH samples,
        // in whole blocks, the picture padded to whole units of mostH
        // blocks (as libjpeg lays out its coefficient arrays).
        const auto units = [](std::size_t length, int most) {
            return (length + 8 * static_cast<std::size_t>(most) - 1) /
                   (8 * static_cast<std::size_t>(most));
        };
        frame.blocks = 0;
        for (std::size_t c = 0; c < components; ++c) {
            const auto h = static_cast<std::size_t>(std::max(1, data[7 + 3 * c] >> 4));
            const auto v = static_cast<std::size_t>(std::max(1, data[7 + 3 * c] & 0x0F));
            frame.blocks += units(static_cast<std::size_t>(frame.width), mostH) * h *
                            units(static_cast<std::size_t>(frame.height), mostV) * v;
        }
        frame.sequentialHuffman = m == 0xC0 || m == 0xC1;
        frame.heightAt = static_cast<std::size_t>(data.data() - jpeg.data()) + 1;
        if (components == 1) {
            frame.mcuLines = 8;
            frame.mcuRowBlocks = units(static_cast<std::size_t>(frame.width), 1);
        } else {
            frame.mcuLines = 8 * mostV;
            std::size_t unit = 0;
            for (std::size_t c = 0; c < components; ++c) {
                unit += static_cast<std::size_t>(std::max(1, data[7 + 3 * c] >> 4)) *
                        static_cast<std::size_t>(std::max(1, data[7 + 3 * c] & 0x0F));
            }
            frame.mcuRowBlocks = units(static_cast<std::size_t>(frame.width), mostH) * unit;
        }
        return true;
    }
    return false;
}

JpegScans WalkJpegScans(std::span<const std::uint8_t> jpeg, int limit) {
    JpegScans scans{0, jpeg.size()};
    JpegSegment segment;
    std::size_t at = 2;
    for (; scans.count <= limit; at = segment.end) {
        segment.start = jpeg.size();
        if (!NextJpegSegment(jpeg, at, segment)) {
            // A marker whose segment the file ends within.
            if (segment.start < jpeg.size()) scans.soundLength = segment.start;
            break;
        }
        if (segment.marker == kEndOfImage) break;
        if (segment.marker == kStartOfScan && ++scans.count == 1) scans.firstData = segment.end;
    }
    return scans;
}

}  // namespace fotolane::picture::detail
