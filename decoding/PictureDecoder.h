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

// The size DecodePicture would give, orientation applied, read from the
// header alone; the same faults for a file whose header cannot be read.
PictureSize ReadPictureSize(const std::string& path);

// When a JPEG was taken, from its EXIF DateTimeOriginal, as
// "YYYY-MM-DDTHH:MM:SS" (a local time without zone, as cameras keep it);
// empty when the file is no JPEG or holds no such date. The same faults as
// ReadPictureSize for a file that cannot be read.
std::string ReadDateTaken(const std::string& path);

}  // namespace fotolane::picture
