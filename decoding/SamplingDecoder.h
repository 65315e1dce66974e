#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decoding/PictureDecoder.h"
#include "platform/core/PixelRows.h"

namespace fotolane::picture {

// The pixels of a picture that a nearest-neighbour walk reads: the columns
// and the rows of the shown picture (EXIF orientation applied), each
// ascending, each once; the walk reads every column of every row listed.
struct SampledPixels {
    std::vector<std::int32_t> columns;
    std::vector<std::int32_t> rows;
};

// Takes the sampled pixels of a picture from the lines of its decode for
// other work (StreamJpegAtLeast, as the album's images are made), as they
// pass, into `rows` of the shown size. Complete() when the lines were the
// whole picture (at 8/8: the lines of DecodePicture, before the orientation)
// and all of them came: the sampled pixels are then those that
// SamplingDecoder::Decode would give. A decode that begins again counts from
// its new start.
class SampledLines final : public LineSink {
  public:
    SampledLines(const SampledPixels& sampled, PixelRows& rows) : sampled_(sampled), rows_(rows) {}

    void Begin(const StreamedLines& lines) override;
    void Line(const std::uint8_t* bgr) override;
    void Blank(std::int32_t count) override;
    bool Complete() const { return whole_ && next_ == lines_; }
    // Whether the decode begun last is the whole picture's.
    bool Whole() const { return whole_; }

  private:
    // One sampled pixel: the stored line it is on, where it stands in that
    // line (bytes) and in the rows.
    struct Pick {
        std::int32_t line;
        std::size_t from;
        std::size_t to;
    };
    // The picks of the next line, from `bgr`, or black.
    void Take(const std::uint8_t* bgr);

    const SampledPixels& sampled_;
    PixelRows& rows_;
    std::vector<Pick> picks_;  // by line
    std::size_t nextPick_ = 0;
    std::int32_t next_ = 0;  // the next line to come
    std::int32_t lines_ = 0;
    bool whole_ = false;
};

namespace detail {
class SparseJpegDecoder;
}

// Decodes pictures one after another for a thumbnailer, doing only the work
// that the sampled pixels need and keeping its memory from one picture to
// the next. One object serves one thread; several objects may work at once.
//
// A JPEG is entropy-decoded to its DCT coefficients, and only the sampled
// pixels are reconstructed (inverse DCT at that position, the chroma samples
// that libjpeg's smooth upsampling weighs, colour conversion), in the same
// integer arithmetic as libjpeg-turbo's default decode, when that is cheaper
// than decoding the picture whole; CMYK, unusual chroma layouts and files
// that make libjpeg warn are decoded whole. Of a bitmap or a GIF only the
// sampled pixels are written (the fill where the data does not reach too):
// an uncompressed bitmap's sampled rows are read from their places in the
// file, its run lengths walked once, a GIF's data only as far as the last
// sampled line, so that a file claiming a huge picture costs what its data and its
// samples cost.
class SamplingDecoder {
  public:
    // When a JPEG's sampled pixels are reconstructed alone: when that is
    // cheaper than a whole decode, or whenever the file allows it (to
    // compare the two ways).
    enum class Sparse { WhenCheaper, WheneverPossible };

    explicit SamplingDecoder(Sparse sparse = Sparse::WhenCheaper);
    SamplingDecoder(const SamplingDecoder&) = delete;
    SamplingDecoder& operator=(const SamplingDecoder&) = delete;
    ~SamplingDecoder();

    // Reads the picture file and its header: the size DecodePicture gives,
    // with the same faults, each naming the file.
    PictureSize Open(const std::string& path);

    // Decodes the picture last opened into `rows`, which take its size
    // (keeping their memory when it suffices): every sampled pixel as
    // DecodePicture gives it; other pixels may keep what they held. Faults
    // as DecodePicture's, each naming the file.
    void Decode(const SampledPixels& sampled, PixelRows& rows);

    // Whether the last Decode reconstructed the sampled pixels alone.
    bool DecodedSparsely() const { return decodedSparsely_; }

    // Gives back the JPEG decoder's memory kept from earlier pictures (its
    // coefficients and rows), keeping the picture last opened: for a
    // picture whose pixels come from elsewhere. Never faults.
    void ReleaseDecoderMemory() noexcept;

    // Gives back the memory kept for the next picture (the file's bytes, the
    // JPEG decoder's coefficients and rows); the next Open starts afresh.
    // Never faults.
    void ReleaseMemory() noexcept;

  private:
    void DecodeOpened(const SampledPixels& sampled, PixelRows& rows);

    std::string path_;
    std::vector<std::uint8_t> bytes_;
    int format_ = 0;
    PictureSize shown_{0, 0};
    bool sparseAlways_ = false;
    std::unique_ptr<detail::SparseJpegDecoder> sparse_;  // made at the first JPEG
    bool decodedSparsely_ = false;
};

}  // namespace fotolane::picture
