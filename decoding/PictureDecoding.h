#pragma once

// What the decoders of every format share, the files of this folder and of
// its format folders, and their tests. Nothing outside the library includes
// this header; the decoders of each format are declared in their folder's
// header. They raise faults that may not name the file yet; the public
// functions add the name.

#include <cstdint>
#include <string>
#include <vector>

#include "decoding/ByteReading.h"
#include "decoding/PictureDecoder.h"
#include "decoding/SamplingDecoder.h"
#include "platform/core/PixelRows.h"

namespace fotolane::picture::detail {

// Png, WebP and Heif (HEIC and AVIF) are the album's alone (AlbumDecoder.h):
// the gallery's decodes refuse them as "Invalid picture".
enum class PictureFormat { Unknown, Jpeg, Bitmap, Gif, Png, WebP, Heif };

// The format from the file's first bytes.
PictureFormat FormatOfContent(Bytes bytes);
// Whether the bytes start with the file-type box of a HEIF still picture
// (HEIC, AVIF or plain HEIF); see heif/HeifDecoder.cpp.
bool IsHeifFileType(Bytes bytes);

// The bytes of a picture file that decoding needs: as far as its header
// could need, never the rest of a file far longer than that. The faults of
// ReadPictureSize for a file whose header cannot be read.
std::vector<std::uint8_t> ReadPictureBytes(const std::string& path);

// ReadPictureSize and then ReadPictureBytes, with their faults, from one
// reading of the file's start (a file of up to 16 MB is read once), into
// the memory of `reused` (ReadFileStartInto).
struct OpenedPicture {
    std::vector<std::uint8_t> bytes;
    PictureSize shown{0, 0};
};
OpenedPicture OpenPicture(const std::string& path, std::vector<std::uint8_t> reused = {});

// Raises "Overflow" unless rows of this size pass the 32-bit limits of
// AllocatePixelRows (stride, and stride * height), "Invalid picture" for a
// size of zero or below. Called with a header's size before anything of the
// picture's size is allocated.
void CheckPictureSize(PictureSize size, const std::string& path);

// The pixels that a decode must give: every pixel of the picture (the whole
// decode), or those of the lines and columns that a walk samples (the
// thumbnailer's, SampledPixels, lines counted from the top). A decoder that
// is told the sampled pixels writes only those into the rows, and the rows
// then take memory only for the pages of the pixels written.
class WantedPixels {
  public:
    // Every pixel.
    WantedPixels() = default;
    // The sampled ones, which must outlive this object.
    explicit WantedPixels(const SampledPixels& sampled) : sampled_(&sampled) {}

    bool Every() const { return sampled_ == nullptr; }
    bool Line(std::int32_t y) const;
    // The first wanted line or column at `from` or after it, or `end` when
    // there is none before `end`.
    std::int32_t NextLine(std::int32_t from, std::int32_t end) const;
    std::int32_t NextColumn(std::int32_t from, std::int32_t end) const;

    // The rows for a width x height picture: a fresh zero-filled block for
    // every pixel, else reshaped rows that keep their memory (then only the
    // wanted pixels are the picture's).
    void ShapeRows(PixelRows& rows, std::int32_t width, std::int32_t height) const;
    // Gives every wanted pixel of the rows this B, G, R colour.
    void Fill(PixelRows& rows, const std::uint8_t* bgr) const;

  private:
    const SampledPixels* sampled_ = nullptr;
};

}  // namespace fotolane::picture::detail
