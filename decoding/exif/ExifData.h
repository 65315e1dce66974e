#pragma once

// The EXIF block of a JPEG loaded by libexif, for the readers of its tags.

#include <libexif/exif-data.h>

#include <memory>

#include "decoding/ByteReading.h"

namespace fotolane::picture::detail {

struct ExifDataReleaser {
    void operator()(ExifData* data) const noexcept { exif_data_unref(data); }
};
using ExifDataPointer = std::unique_ptr<ExifData, ExifDataReleaser>;

// The EXIF data of the JPEG's first APP1 segment that holds some (see
// ExifTiffData), its entries as found; none when there is no such segment.
// A damaged block loads as far as it goes.
ExifDataPointer LoadExifData(Bytes jpeg);

}  // namespace fotolane::picture::detail
