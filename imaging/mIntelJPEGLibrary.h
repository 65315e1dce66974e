#pragma once

#include <cstdint>
#include <string>

#include "imaging/cDIBSection.h"

namespace fotolane::imaging::mIntelJPEGLibrary {

// Writes the picture of `cDib` (Width x Height pixels, read in place from
// DIBSectionBitsPtr, BytesPerScanLine bytes per bottom-up scan line) to the
// JPEG file `strFileName` (UTF-8), upright, 4:2:0, at `lQuality`, replacing
// a file of that name. The file is written whole or not at all. True when it
// was written; otherwise the user has been warned and the result is false.
// Faults of the buffer's own operations pass to the caller.
bool WriteJPEGFile(const cDIBSection& cDib, const std::string& strFileName, std::int32_t lQuality);

}  // namespace fotolane::imaging::mIntelJPEGLibrary
