#include "platform/codecs/JpegSegments.h"

#include <algorithm>

namespace fotolane::picture::detail {

namespace {

// Markers that stand alone, without a length: TEM, RST0 to RST7, SOI, EOI.
bool StandsAlone(std::uint8_t marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9);
}

}  // namespace

bool NextJpegSegment(std::span<const std::uint8_t> jpeg, std::size_t at, JpegSegment& segment) {
    for (;;) {
        while (at < jpeg.size() && jpeg[at] != 0xFF) ++at;
        while (at < jpeg.size() && jpeg[at] == 0xFF) ++at;
        if (at >= jpeg.size()) return false;
        const std::uint8_t marker = jpeg[at++];
        if (marker == 0x00) continue;  // 0xFF 0x00: a data byte, no marker
        segment.marker = marker;
        if (StandsAlone(marker)) {
            segment.payload = {};
            segment.end = at;
            return true;
        }
        if (jpeg.size() - at < 2) return false;
        const std::size_t length = static_cast<std::size_t>(jpeg[at]) << 8 | jpeg[at + 1];
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

int CountJpegScans(std::span<const std::uint8_t> jpeg, int limit) {
    int scans = 0;
    JpegSegment segment;
    for (std::size_t at = 2; scans <= limit && NextJpegSegment(jpeg, at, segment);
         at = segment.end) {
        if (segment.marker == kEndOfImage) break;
        if (segment.marker == kStartOfScan) ++scans;
    }
    return scans;
}

}  // namespace fotolane::picture::detail
