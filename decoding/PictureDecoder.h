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
// same as, the whole one shrunk to its size.
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

// When a JPEG was taken, from its EXIF DateTimeOriginal, as
// "YYYY-MM-DDTHH:MM:SS" (a local time without zone, as cameras keep it);
// empty when the file is no JPEG or holds no such date. The same faults as
// ReadPictureSize for a file that cannot be read.
std::string ReadDateTaken(const std::string& path);

}  // namespace fotolane::picture
