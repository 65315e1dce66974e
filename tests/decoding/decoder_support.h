#pragma once

// Helpers of the decoder tests: the test pictures' manifests, reference
// decodes made by other programs, and picture comparisons.

#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/PixelRows.h"

namespace fotolane::testing {

// libjpeg's compressor, writing into memory: for files of settings that
// TurboJPEG does not offer. Set `cinfo` up, compress, then take Bytes().
class MemoryJpegWriter {
  public:
    MemoryJpegWriter();
    ~MemoryJpegWriter();
    MemoryJpegWriter(const MemoryJpegWriter&) = delete;
    MemoryJpegWriter& operator=(const MemoryJpegWriter&) = delete;

    // The file, once jpeg_finish_compress has run.
    std::vector<unsigned char> Bytes() const { return {out_, out_ + size_}; }

    jpeg_compress_struct cinfo{};

  private:
    jpeg_error_mgr errors_{};
    unsigned char* out_ = nullptr;
    unsigned long size_ = 0;
};

// A path below the shared test pictures.
std::string TestData(const std::string& relative);

// One file line of a set's MANIFEST.md.
struct ManifestEntry {
    std::string file;     // relative to the set's folder
    std::string variant;  // what the file's headers say
    std::string note;
};
std::vector<ManifestEntry> ReadManifest(const std::string& set);

// The picture's shown size as the manifest's variant column tells it: a
// GIF's logical screen, else the first "W x H", turned for EXIF
// orientations 5 to 8. Nothing when the column gives no size, or a GIF's
// first frame passes the screen (browsers widen the picture to hold it).
struct ExpectedSize {
    std::int32_t width;
    std::int32_t height;
};
std::optional<ExpectedSize> SizeFromVariant(const std::string& variant);

// A picture as top-down R, G, B bytes, for comparisons.
struct Rgb {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> bytes;  // 3 a pixel, the top row first

    const std::uint8_t* At(std::int32_t x, std::int32_t y) const {
        return bytes.data() + 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                   static_cast<std::size_t>(x));
    }
};

// The decoder's rows as top-down R, G, B.
Rgb FromRows(const PixelRows& rows);

// True when every row's padding bytes are 0, as the layout requires.
bool PaddingIsZero(const PixelRows& rows);

// A picture file that Qt reads (PNG, PPM), pixels that are not opaque laid
// over white; nothing when Qt cannot read it.
std::optional<Rgb> LoadWithQt(const std::string& path);

// libjpeg-turbo's own djpeg, run as a separate program, decodes the JPEG to
// RGB (no EXIF orientation); nothing when it refuses the file.
std::optional<Rgb> DecodeWithDjpeg(const std::string& path);

// The picture turned and mirrored as EXIF orientation `orientation` asks,
// done with Qt's image transformations (independent of the decoder's own).
Rgb Oriented(const Rgb& picture, int orientation);

// The largest and the mean difference of any channel; both pictures must
// have the same size.
int MaxDifference(const Rgb& a, const Rgb& b);
double MeanDifference(const Rgb& a, const Rgb& b);

}  // namespace fotolane::testing
