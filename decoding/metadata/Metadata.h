#pragma once

// What the files of this folder share: a picture's metadata as exiv2 holds
// it, how it is read from a JPEG's segments, and which of it is a location.

#include <exiv2/exiv2.hpp>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "decoding/PictureMetadata.h"
#include "decoding/jpeg/JpegSegments.h"

namespace fotolane::picture::detail {

struct Exiv2Metadata {
    Exiv2::ExifData exif;
    Exiv2::ByteOrder order = Exiv2::invalidByteOrder;  // the EXIF block's
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    // Whether an XMP packet or IPTC block was there but could not be read.
    bool unreadable = false;
    // Whether the EXIF block's maker note was left undecoded (ReadJpegExif).
    bool makerNoteHidden = false;
};

// A JPEG as its metadata is concerned: the segments before the first scan,
// where the scans start and where the picture ends (after its end-of-image
// marker, else at the end of the data). False when the data ends within a
// segment before the first scan.
struct JpegLayout {
    std::vector<JpegSegment> head;
    std::size_t scans = 0;
    std::size_t end = 0;
};
bool LayOutJpeg(std::span<const std::uint8_t> jpeg, JpegLayout& layout);

// Segments that hold EXIF ("Exif" and a null byte), and those that may hold
// metadata exiv2 does not read: extended XMP and the multi-picture index.
bool IsExifSegment(const JpegSegment& segment);
bool IsHiddenMetadataSegment(const JpegSegment& segment);

// These take an Exiv2Session where exiv2 needs one; the location's
// functions below are called with one alive.

// A JPEG's metadata from its segments before the first scan: EXIF from the
// segment that decoding reads (ExifTiffData), XMP and IPTC by exiv2's JPEG
// reader. Damaged metadata is left out.
// Without `makerNote`, the EXIF block's maker note is left undecoded
// (WithMakerNoteHidden) where exiv2 reads the copy, and `makerNoteHidden`
// says so; with it, the note's arrays that no field reads are left
// undecoded (WithMakerNoteArraysHidden).
void ReadJpegMetadata(std::span<const std::uint8_t> jpeg, Exiv2Metadata& metadata,
                      bool makerNote = true);

// The EXIF of ReadJpegMetadata alone, and its XMP and IPTC alone, into
// `metadata`.
void ReadJpegExif(std::span<const std::uint8_t> jpeg, Exiv2Metadata& metadata, bool makerNote);
void ReadJpegXmpAndIptc(std::span<const std::uint8_t> jpeg, Exiv2Metadata& metadata);

// Whether FieldsOf would look into the maker note for what EXIF's own
// fields do not give: the lens or the ISO.
bool FieldsWantMakerNote(const Exiv2::ExifData& exif);

// A HEIF file's EXIF and XMP items as libheif finds them, for what exiv2's
// own reading of the file did not give (it misses the items of some files).
void AddHeifItems(std::span<const std::uint8_t> bytes, Exiv2Metadata& metadata);

// What ReadPictureMetadata gives of the metadata.
PictureMetadata FieldsOf(const Exiv2Metadata& metadata);

// Whether a key names a location, and the erasure of all of those.
bool IsLocation(const Exiv2::Exifdatum& datum);
bool IsLocation(const Exiv2::Iptcdatum& datum);
bool IsLocation(const Exiv2::Xmpdatum& datum);
bool HasLocation(const Exiv2Metadata& metadata);
void EraseLocation(Exiv2::ExifData& exif, Exiv2::IptcData& iptc, Exiv2::XmpData& xmp);

// CopyWithoutLocation and CarriesLocation of a file's bytes (each takes
// the session itself); faults name `path`.
std::vector<std::uint8_t> CopyWithoutLocation(std::span<const std::uint8_t> bytes,
                                              const std::string& path);
bool CarriesLocation(std::span<const std::uint8_t> bytes);

}  // namespace fotolane::picture::detail
