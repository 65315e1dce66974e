#pragma once

// The one way into exiv2, the metadata library, for the files of this
// folder; nothing outside decoding/ includes this header.

#include <exiv2/exiv2.hpp>
// The image classes OpenExiv2Image picks from, after exiv2.hpp's settings.
#include <exiv2/bmffimage.hpp>
#include <exiv2/bmpimage.hpp>
#include <exiv2/gifimage.hpp>
#include <exiv2/jpgimage.hpp>
#include <exiv2/pngimage.hpp>
#include <exiv2/webpimage.hpp>

#include <cstdint>
#include <mutex>
#include <span>

namespace fotolane::picture::detail {

// Every call into exiv2 is made while one of these is alive. The first one
// sets exiv2 up: its log silenced (a damaged file must not print anything)
// the XMP toolkit initialised, which exiv2 asks to be done once before
// threads use it, and its reading of HEIF and AVIF (BMFF) switched on. It then serialises the
// calls: exiv2's EXIF and IPTC code is reentrant, but its XMP code keeps process-wide state (the
// namespace registry, the toolkit itself), and an EXIF block may hold an XMP packet that its
// decoding hands on to the toolkit. The thumbnail workers hold it for some microseconds per picture
// (the orientation), so it costs them nothing measurable. Not reentrant: nothing called while one
// is alive may make another (ReadExifOrientation, ReadDateTaken, the public functions).
class Exiv2Session {
  public:
    Exiv2Session();
    Exiv2Session(const Exiv2Session&) = delete;
    Exiv2Session& operator=(const Exiv2Session&) = delete;

    // While listening, exiv2's errors are noted (still not printed):
    // whether it gave up on reading the first directory of an EXIF block
    // (IFD0, exiv2's group "Image") because the data ended within it.
    void ListenForCutFirstDirectory();
    bool StopListening();

  private:
    std::unique_lock<std::mutex> lock_;
};

// Decodes an EXIF block (a TIFF header and its directories) into `data`;
// false, with `data` as far as it came or empty, for a block exiv2 refuses.
// A bad block is never a fault: exiv2's exceptions end here.
bool DecodeExif(std::span<const std::uint8_t> tiff, Exiv2::ExifData& data, Exiv2::ByteOrder& order);

// exiv2's image of a picture in memory, of the class for the format that our
// own first-bytes rule gives (FormatOfContent), never of exiv2's guess: the
// guess tries its type checks in turn, so that a small PNG whose bytes 4 to
// 7 read "ftyp" goes to its QuickTime parser, which then works for minutes.
// Null for a file of no format we know. exiv2's exceptions pass on.
Exiv2::Image::AutoPtr OpenExiv2Image(std::span<const std::uint8_t> bytes);

}  // namespace fotolane::picture::detail
