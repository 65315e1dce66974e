#include "decoding/exif/ExifData.h"

#include <cstdint>
#include <vector>

#include "decoding/jpeg/JpegSegments.h"

namespace fotolane::picture::detail {

ExifDataPointer LoadExifData(Bytes jpeg) {
    // libexif's own search for the EXIF segment gives up at the first
    // segment it does not expect (a comment, say): it is handed the EXIF
    // data alone, behind the header it wants ("Exif" and two null bytes;
    // files may carry another fill byte).
    const Bytes tiff = ExifTiffData(jpeg);
    if (tiff.empty()) return nullptr;
    std::vector<std::uint8_t> exif = {'E', 'x', 'i', 'f', 0, 0};
    exif.insert(exif.end(), tiff.begin(), tiff.end());
    ExifDataPointer data(exif_data_new());
    if (!data) return nullptr;
    // As found, not "fixed" to the standard: libexif would otherwise add
    // missing entries with default values.
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), exif.data(), static_cast<unsigned int>(exif.size()));
    return data;
}

}  // namespace fotolane::picture::detail
