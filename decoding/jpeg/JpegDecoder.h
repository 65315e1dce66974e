#pragma once

// JPEG decoding: the whole decode through TurboJPEG (JpegDecoder.cpp), the
// same lines through libjpeg's own API for the album's averaging, and the
// reconstruction of only the sampled pixels from the DCT coefficients
// (SparseJpeg.cpp and the stages it is made of).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "decoding/PictureDecoding.h"
#include "decoding/SamplingDecoder.h"
#include "decoding/metadata/Exif.h"

namespace fotolane::picture::detail {

// The whole picture, and the same into `rows`, which take the shown size and
// keep their memory when it suffices. ReadJpegSize returns false when the
// header is not complete within `bytes` (the caller may retry with more of
// the file).
PixelRows DecodeJpeg(Bytes bytes, const std::string& path);
void DecodeJpegInto(Bytes bytes, const std::string& path, PixelRows& rows);
bool ReadJpegSize(Bytes bytes, PictureSize& stored);

// The picture decoded at a scale of N/8 (N of 1 to 8) by libjpeg's inverse
// DCT at that size: the smallest scale whose shown size is at least `least`
// in both directions, the whole picture when none below 8/8 reaches it or
// when libjpeg warns about the data (DecodePictureAtLeast). The
// orientation, the faults and the memory budget are DecodeJpeg's; the scale
// spares the upsampling, colour conversion and rows of the pixels left out,
// not the entropy decoding.
ScaledPicture DecodeJpegAtLeast(Bytes bytes, const std::string& path, PictureSize least);

// DecodeJpegAtLeast's lines, each the same bytes, given to `sink` as
// libjpeg decodes them (jpeg_read_scanlines), in the stored orientation
// (see StreamJpegAtLeast).
void StreamJpegAtLeast(Bytes bytes, const std::string& path, PictureSize least, LineSink& sink);

// The checks DecodeJpeg makes before it decodes, with their faults, and what
// they found: the bytes to decode (any garbage after the last sound scan cut
// off), the stored size, the orientation, and the coefficients' memory.
struct JpegCheck {
    Bytes bytes;
    PictureSize size{0, 0};
    Orientation orientation = Orientation::Upright;
    bool cmyk = false;
    bool buffered = false;  // progressive or several scans: all coefficients kept
    std::size_t coefficientBytes = 0;
    // The lines that the data can reach (the height, unless it ends early),
    // and where the height stands in the file.
    std::int32_t linesWithData = 0;
    std::size_t heightAt = 0;
};
JpegCheck CheckJpeg(Bytes bytes, const std::string& path);

// The whole decode's pixels at the shown positions of `sampled` into `rows`
// (the shown size; the other pixels as they were), for the files that the
// sampling decoder does not reconstruct itself. A turned or mirrored picture
// is decoded as stored and its samples read through the orientation, and of
// a file whose data ends early only the lines that the data reaches are
// decoded (those below are black): neither a turn nor a claimed area without
// data takes the memory or the time of the whole shown picture.
void DecodeJpegSampledInto(const JpegCheck& check, const std::string& path,
                           const SampledPixels& sampled, PixelRows& rows);

// Reconstructs only the sampled pixels of a JPEG from its DCT coefficients
// (see SamplingDecoder), holding libjpeg's decoder from one picture to the
// next.
class SparseJpegDecoder {
  public:
    // `always`: whenever the file allows it, however dense the samples.
    explicit SparseJpegDecoder(bool always);
    SparseJpegDecoder(const SparseJpegDecoder&) = delete;
    SparseJpegDecoder& operator=(const SparseJpegDecoder&) = delete;
    ~SparseJpegDecoder();

    // Writes the sampled pixels of the JPEG into `rows`, shaped to the
    // shown size, and returns true; returns false when a whole decode is
    // the better way: a colour space or chroma layout it does not
    // reconstruct, samples too dense to gain anything, or any warning or
    // error of libjpeg (the whole decode then gives the picture or the
    // fault, over any pixels written before the warning).
    // `check` is what CheckJpeg found of the file; the memory of the
    // coefficients it keeps is drawn from the picture memory budget while
    // they exist.
    bool Decode(const JpegCheck& check, const SampledPixels& sampled, PixelRows& rows);

    // What the decoder keeps from picture to picture.
    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace fotolane::picture::detail
