#pragma once

#include <cstdint>
#include <string>

#include "platform/core/PixelRows.h"

namespace fotolane::picture {

struct PictureSize {
    std::int32_t width;
    std::int32_t height;
};

// Decodes a JPEG, Windows bitmap or GIF file (told by its content, never by
// its name) into 24-bit bottom-up B, G, R rows (platform/core/PixelRows.h), the
// picture as browsers show it: a JPEG's EXIF orientation applied, a GIF's
// first frame with its transparent pixels on white.
//
// Faults, each naming the file: "File not found", "Permission denied",
// "Invalid picture" (none of the three formats, or a decoder error), and
// "Overflow" when the size from the header breaks the 32-bit row limits
// (checked before anything is allocated), "Out of memory". A truncated JPEG
// whose decoder only warns gives the picture as far as it goes.
//
// A function of the file alone: safe to call from several threads at once.
PixelRows DecodePicture(const std::string& path);

// A picture decoded at a scale of N/8: `rows` of ceil(shown * N / 8), so
// that the last column and line of a scaled picture may stand for only part
// of a pixel (the picture is shown.width * N / 8 of its pixels wide).
struct ScaledPicture {
    PixelRows rows;
    PictureSize shown{0, 0};  // as DecodePicture gives it
    std::int32_t eighths = 8;
};

// The picture at least minWidth x minHeight where that costs less than
// DecodePicture: a JPEG decoded at the smallest scale N/8 (N of 1 to 8,
// libjpeg's scaled inverse DCT) whose size is at least that in both
// directions, the whole picture when none smaller is, or when libjpeg warns
// about its data (a damaged file, whose scaled decode may stray far from
// the whole one) and the whole picture fits the memory budget; a bitmap or
// a GIF as DecodePicture gives it. Its orientation applied, the faults
// and the memory budget as DecodePicture's; the lines of a JPEG whose data ends early as far as
// they go. Made to be shrunk further (by area averaging): a scaled picture is close to, not the
// same as, the whole one shrunk to its size. The album streams the same
// lines rather than hold them (StreamJpegAtLeast).
ScaledPicture DecodePictureAtLeast(const std::string& path, std::int32_t minWidth,
                                   std::int32_t minHeight);

// The size DecodePicture would give, orientation applied, read from the
// header alone; the same faults for a file whose header cannot be read.
PictureSize ReadPictureSize(const std::string& path);

// Receives a picture's pixels as its decoder finds them, for work that does
// not need the whole picture in memory (the album's area averaging): each
// pixel at most once, in any order; a pixel never given has the background
// colour. Lines are counted from the top; colours are B, G, R.
class PixelSink {
  public:
    virtual ~PixelSink() = default;
    // Once, before any pixel: the picture's size (as DecodePicture gives
    // it) and its background colour.
    virtual void Begin(PictureSize size, const std::uint8_t* background) = 0;
    // `count` pixels of line `y` from column `x` on, 3 bytes each.
    virtual void Pixels(std::int32_t y, std::int32_t x, std::int32_t count,
                        const std::uint8_t* bgr) = 0;
    // `count` pixels of line `y` from column `x` on, all of one colour.
    virtual void Run(std::int32_t y, std::int32_t x, std::int32_t count,
                     const std::uint8_t* bgr) = 0;
};

// Decodes a bitmap or a GIF into `sink`, the pixels DecodePicture gives, at
// a cost that follows the file's data and never the size that its header
// claims: what the data does not reach (a GIF's screen outside its frame, a
// bitmap's lines after its data ends) is the background, given by no call.
// A bitmap's run lengths that overwrite pixels given before (a run past the
// end of its line) are gathered first, so that only their final values are
// given; what that takes follows those runs. False, and nothing given, for
// a JPEG. Faults as DecodePicture's, each naming the file.
bool StreamPicture(const std::string& path, PixelSink& sink);

// Receives a JPEG's lines as libjpeg decodes them (StreamJpegAtLeast), top
// first, B, G, R, in the orientation they are stored in: for work that needs
// only a few lines at a time (the album's area averaging).
struct StreamedLines {
    PictureSize size{0, 0};  // the lines' width and number, at the scale, as stored
    // How far the picture reaches into them: the stored size times the
    // scale, so that a scaled decode's last column and line may stand for
    // only part of a pixel.
    double extentWidth = 0;
    double extentHeight = 0;
    std::int32_t orientation = 1;  // EXIF's, to be applied (ApplyStreamedOrientation)
};
class LineSink {
  public:
    virtual ~LineSink() = default;
    // Before the first line of each decode: a decode started over (at
    // another scale) begins again, and the lines given before count no more.
    virtual void Begin(const StreamedLines& lines) = 0;
    // The next line: size.width pixels, 3 bytes each.
    virtual void Line(const std::uint8_t* bgr) = 0;
    // The next `count` lines, black (below where the data of a file that
    // ends early can reach).
    virtual void Blank(std::int32_t count) = 0;
};

// The lines that DecodePictureAtLeast would decode from a JPEG, at the same
// scale and each the same bytes, given to `sink` as they are decoded, never
// all held: the memory is libjpeg's (its coefficients of a file of several
// scans drawn from the budget, as DecodePicture draws them) and the
// sink's. The retry of a damaged file as a whole decode, the faults and
// the lines of a file whose data ends early as DecodePictureAtLeast's;
// "Invalid picture" for a file that is no JPEG. Each fault names the file.
void StreamJpegAtLeast(const std::string& path, std::int32_t minWidth, std::int32_t minHeight,
                       LineSink& sink);
// Rows averaged from the streamed lines, in their stored orientation, turned
// and mirrored as StreamedLines::orientation says.
PixelRows ApplyStreamedOrientation(PixelRows stored, const StreamedLines& lines);

// When a JPEG was taken, from its EXIF DateTimeOriginal, as
// "YYYY-MM-DDTHH:MM:SS" (a local time without zone, as cameras keep it);
// empty when the file is no JPEG or holds no such date. The same faults as
// ReadPictureSize for a file that cannot be read.
std::string ReadDateTaken(const std::string& path);

}  // namespace fotolane::picture
