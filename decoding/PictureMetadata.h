#pragma once

// What a picture's metadata (EXIF, XMP, IPTC, read and written by exiv2)
// tells of the photo, and a copy of a picture file without its location.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fotolane::picture {

// Each field is empty unless the file has it, in a form fit to show as it
// stands: valid UTF-8 without control characters, whatever the field's own
// encoding; a field whose value cannot be true (a zero denominator, a
// negative exposure, a date that is no calendar date) is left empty.
struct PictureMetadata {
    // When the photo was taken (EXIF DateTimeOriginal), "2004-06-12T14:03:05",
    // a date of the years 1 to 9999 as the camera's clock showed it; and,
    // when the file gives it with the date, its offset from UTC (EXIF
    // OffsetTimeOriginal), "+02:00".
    std::string dateTaken;
    std::string dateOffset;
    // The photographer's title or description, at most 2,000 bytes (cut at a
    // character), line breaks and runs of blanks made single spaces; the
    // texts that cameras write by themselves ("OLYMPUS DIGITAL CAMERA", the
    // camera's name) are none. The first of XMP dc:title, XMP dc:description
    // (of a language alternative the default, else the first language), IPTC
    // Caption-Abstract, IPTC Headline, EXIF ImageDescription, then IPTC
    // Object Name and EXIF UserComment. IPTC text is UTF-8 when its
    // CodedCharacterSet says so; text of no declared encoding is UTF-8 when
    // it is valid UTF-8, else Windows-1252 or Latin-1.
    std::string caption;
    // "Canon PowerShot S40" (EXIF Make and Model, the make once), the lens
    // ("EF 24-70mm f/2.8L USM": EXIF LensModel, else the makers' lens fields
    // that exiv2 names), each at most 200 bytes.
    std::string camera;
    std::string lens;
    // "35 mm", "f/2.8", "1/250 s" (or "0.5 s", "2 s" from a quarter second
    // on), "ISO 400" (EXIF's sensitivity fields, else the maker note's).
    std::string focalLength;
    std::string aperture;
    std::string exposure;
    std::string iso;
};

// The metadata of a picture file: for a JPEG the EXIF segment that browsers
// read (the first one before the first scan, as decoding takes it), the XMP
// and IPTC segments before the first scan, from at most the file's first
// 256 KiB; any other file that exiv2 reads (PNG, WebP, ...) from at most its
// first 64 MiB; nothing for bitmaps and GIFs, which keep none that exiv2
// reads. Faults, naming the file: "File not found", "Permission denied";
// damaged or missing metadata is no fault, only empty fields.
// Safe to call from several threads at once.
PictureMetadata ReadPictureMetadata(const std::string& path);

// The same from the blocks a decoder found itself (a HEIF file's EXIF item,
// say), each empty when there is none: the EXIF block from its TIFF header
// on (behind "Exif\0\0" or not), an XMP packet, IPTC datasets (IIM).
struct MetadataBlocks {
    std::span<const std::uint8_t> exif;
    std::span<const std::uint8_t> xmp;
    std::span<const std::uint8_t> iptc;
};
PictureMetadata ReadPictureMetadata(const MetadataBlocks& blocks);

// The bytes of a copy of a picture file without its location: the EXIF GPS
// directory and its pointer, every XMP property of a place (exif:GPS*, any
// other *GPS*, photoshop:City/State/Country, Iptc4xmpCore:Location and
// CountryCode, Iptc4xmpExt:LocationCreated/LocationShown and all below them)
// and IPTC's place datasets (City, Sub-location, Province/State, Country
// code and name, Content location code and name). Everything else stays:
// orientation, date, camera and lens, captions.
//
// A JPEG keeps its frame and scans byte for byte; of its segments, only the
// EXIF, XMP and IPTC ones are written anew, and what could hold a location
// out of exiv2's sight goes: further EXIF segments (browsers read only the
// first), extended XMP, the multi-picture index and whatever follows the end
// of the picture (phones' second pictures and videos). An EXIF block that
// exiv2 cannot read is left out, its orientation written into a new one.
// A GIF keeps its frames, graphic controls, loop count and colour profile
// byte for byte; its comments, XMP and other applications' blocks go. A
// bitmap is copied as it is when it holds nothing but its picture (it has no
// place for metadata); one with further bytes (XMP appended, say) is
// refused. PNG and WebP are rewritten by exiv2. A HEIF file (HEIC, AVIF),
// which exiv2 reads but does not write, is copied as it is when it holds no
// location (by exiv2's reading and by libheif's list of its metadata items),
// and refused when it does.
//
// Faults, naming the file: those of reading it, "Invalid picture" for a file
// exiv2 does not know, "Cannot remove the location" for one it cannot
// rewrite (a damaged GIF, a bitmap with further bytes), or whose copy still
// shows a location when read back: the caller then leaves the picture out
// rather than publish it with its location. Safe to call from several
// threads at once.
std::vector<std::uint8_t> CopyWithoutLocation(const std::string& path);

// Whether the file holds any of the location that CopyWithoutLocation
// removes, or may hold one: metadata that cannot be read, data after a
// JPEG's end. The faults of reading the file.
bool CarriesLocation(const std::string& path);

}  // namespace fotolane::picture
