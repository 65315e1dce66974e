#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace fotolane {

// Makes `bytes` the whole content of the file at `path`, replacing a file of
// that name, or leaves everything as it was: the bytes go into a temporary
// file beside the target (a hidden name in the same folder, so that a folder
// listing never shows it and the rename stays on one file system), which is
// renamed over the target only once it is complete. On every failure the
// temporary file is removed and a fault naming `path` is raised, so that a
// full disk or a killed program never leaves a truncated file under the
// target's name.
void ReplaceFileWhole(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace fotolane
