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
#include <vector>

namespace fotolane::picture::detail {

// exiv2's reading and writing of a picture's metadata (an image's
// readMetadata and writeMetadata, XmpParser) is made while one of these is
// alive. The first one sets exiv2 up: its log silenced for good (a damaged
// file must not print anything; the level is never changed again, so that
// the threads that decode at once only ever read it), the XMP toolkit
// initialised, which exiv2 asks to be done once before threads use it, with
// the session's lock for its namespace registry, and its reading of HEIF and
// AVIF (BMFF) switched on. It then serialises those calls: exiv2's XMP code
// keeps process-wide state (the namespace registry, the toolkit itself).
// Reentrant: a thread that holds one may make another.
//
// DecodeExif needs none: exiv2's EXIF and IPTC code is reentrant, so that
// EXIF blocks are decoded on several threads at once (the album's
// metadata, the thumbnails' orientation), and a block whose first directory
// holds an XMP packet, which exiv2 hands on to the toolkit, is decoded
// under a session of its own.
class Exiv2Session {
  public:
    Exiv2Session();
    Exiv2Session(const Exiv2Session&) = delete;
    Exiv2Session& operator=(const Exiv2Session&) = delete;

  private:
    std::unique_lock<std::recursive_mutex> lock_;
};

// What the first directory of an EXIF block (IFD0, exiv2's group "Image")
// shows of itself before exiv2 decodes it: whether the data ends within it
// (its entry count or an entry beyond the block's end, where exiv2 gives up
// on it), whether one of the entries it has holds an XMP packet (tag
// 0x02BC), and whether one points to a GPS directory (tag 0x8825). None
// for a block whose TIFF header is not sound.
struct FirstDirectory {
    bool cut = false;
    bool holdsXmp = false;
    bool pointsToGps = false;
};
FirstDirectory ReadFirstDirectory(std::span<const std::uint8_t> tiff);

// A copy of an EXIF block whose maker note exiv2 leaves undecoded, its entry
// in the EXIF directory given a tag that exiv2 keeps as plain data; empty
// when the block holds no maker note there, or when the directory lacks
// the lens model or every ISO field, which are then read from the maker
// note. Decoding a maker note costs exiv2 many times the rest of the block
// (tens of milliseconds for some makers'), for fields that files of today
// also hold in EXIF's own.
std::vector<std::uint8_t> WithMakerNoteHidden(std::span<const std::uint8_t> tiff);

// A copy of an EXIF block whose maker note exiv2 decodes without the large
// enciphered arrays that give none of the fields read of it (Sony's), their
// entries given a tag that exiv2 keeps as plain data; empty when the block
// holds none. Of a Sony camera's note they are nearly all of exiv2's work.
std::vector<std::uint8_t> WithMakerNoteArraysHidden(std::span<const std::uint8_t> tiff);

// Decodes an EXIF block (a TIFF header and its directories) into `data`;
// false, with `data` as far as it came or empty, for a block exiv2 refuses.
// A bad block is never a fault: exiv2's exceptions end here.
bool DecodeExif(std::span<const std::uint8_t> tiff, Exiv2::ExifData& data, Exiv2::ByteOrder& order);

// exiv2's image of a picture in memory, of the class for the format that our
// own first-bytes rule gives (FormatOfContent), never of exiv2's guess: the
// guess tries its type checks in turn, so that a small PNG whose bytes 4 to
// 7 read "ftyp" goes to its QuickTime parser, which then works for minutes.
// Null for a file of no format we know. exiv2's exceptions pass on.
// (exiv2 0.27's images are std::auto_ptr, which clang warns of at each use.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
Exiv2::Image::AutoPtr OpenExiv2Image(std::span<const std::uint8_t> bytes);
#pragma GCC diagnostic pop

}  // namespace fotolane::picture::detail
