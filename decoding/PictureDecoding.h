#pragma once

// The pieces of picture decoding, shared by the files of platform/ that
// make up DecodePicture and ReadPictureSize, and by their tests. Nothing
// outside platform/ includes this header.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decoding/PictureDecoder.h"
#include "decoding/SamplingDecoder.h"
#include "platform/core/PixelRows.h"

namespace fotolane::picture::detail {

using Bytes = std::span<const std::uint8_t>;

// Png, WebP and Heif (HEIC and AVIF) are the album's alone (AlbumDecoder.h):
// the gallery's decodes refuse them as "Invalid picture".
enum class PictureFormat { Unknown, Jpeg, Bitmap, Gif, Png, WebP, Heif };

// The format from the file's first bytes.
PictureFormat FormatOfContent(Bytes bytes);
// Whether the bytes start with the file-type box of a HEIF still picture
// (HEIC, AVIF or plain HEIF); see heif/HeifDecoder.cpp.
bool IsHeifFileType(Bytes bytes);

// The file's bytes, at most `limit` of them from its start. "File not found"
// for a missing file or one that is not a plain file, "Permission denied" for
// one that cannot be opened.
std::vector<std::uint8_t> ReadPictureFile(const std::string& path, std::size_t limit);

// The bytes of a picture file that decoding needs: as far as its header
// could need, never the rest of a file far longer than that. The faults of
// ReadPictureSize for a file whose header cannot be read.
std::vector<std::uint8_t> ReadPictureBytes(const std::string& path);

// ReadPictureSize and then ReadPictureBytes, with their faults, from one
// reading of the file's start (a file shorter than the header's share is
// read once).
struct OpenedPicture {
    std::vector<std::uint8_t> bytes;
    PictureSize shown{0, 0};
};
OpenedPicture OpenPicture(const std::string& path);

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

// The decoders below raise faults that may not name the file yet; the two
// public functions add the name.

// JPEG through TurboJPEG. ReadJpegSize returns false when the header is not
// complete within `bytes` (the caller may retry with more of the file).
PixelRows DecodeJpeg(Bytes bytes, const std::string& path);
// The same into `rows`, which take the shown size and keep their memory
// when it suffices.
void DecodeJpegInto(Bytes bytes, const std::string& path, PixelRows& rows);
bool ReadJpegSize(Bytes bytes, PictureSize& stored);

// GIF: the first frame on a canvas of the logical screen widened to hold it,
// white where the frame does not reach, is transparent, or its data ends.
// ReadGifSize returns false when the file ends before the first frame's
// descriptor (and before its trailer) or the canvas has no pixels.
PixelRows DecodeGif(Bytes bytes, const std::string& path);
// The same into `rows`, the wanted pixels only: the cost follows the data
// and the wanted pixels, whatever the size the file claims.
void DecodeGifInto(Bytes bytes, const std::string& path, const WantedPixels& wanted,
                   PixelRows& rows);
bool ReadGifSize(Bytes bytes, PictureSize& size);

// Windows bitmaps, the wanted pixels only into `rows` (see BitmapDecoder.cpp).
PixelRows DecodeBitmap(Bytes bytes, const std::string& path);
void DecodeBitmapInto(Bytes bytes, const std::string& path, const WantedPixels& wanted,
                      PixelRows& rows);
PictureSize ReadBitmapSize(Bytes bytes, const std::string& path);

// EXIF orientation: how the stored pixels are to be turned or mirrored to
// stand as meant, by the values 1 to 8 of the Orientation tag.
enum class Orientation : int {
    Upright = 1,
    MirroredLeftToRight = 2,
    HalfTurn = 3,
    MirroredTopToBottom = 4,
    MirroredAboutMainDiagonal = 5,
    QuarterTurnClockwise = 6,
    MirroredAboutOtherDiagonal = 7,
    QuarterTurnCounterClockwise = 8,
};
// The orientation a tag value means; 0 and values beyond 8 mean nothing, and
// the picture is shown as stored.
Orientation OrientationOfTag(int value);
// Whether the orientation turns the picture by a quarter (width and height swap).
bool SwapsWidthAndHeight(Orientation orientation);

// A JPEG's orientation (Upright when it has none or it is not valid), the
// size once it is applied, and the pixels turned and mirrored so that the
// picture stands as it is meant to.
Orientation ReadExifOrientation(Bytes jpeg);
PictureSize OrientedSize(PictureSize stored, Orientation orientation);
PixelRows ApplyOrientation(PixelRows stored, Orientation orientation);

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

// The EXIF DateTimeOriginal of a JPEG's first segments, and the check and
// reshaping of its text ("2004:06:12 14:03:05" to "2004-06-12T14:03:05";
// empty for anything else, an all-zero date included).
std::string ReadDateTaken(Bytes jpeg);
std::string DateTakenFromExif(std::string_view value);

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

    // What the decoder keeps from picture to picture (named here for
    // libjpeg's callbacks).
    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace fotolane::picture::detail
