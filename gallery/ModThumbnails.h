#pragma once

#include <string>

namespace fotolane::gallery::ModThumbnails {

// Path text uses kPathSeparator (platform/core/Paths.h) between folders and "."
// as the extension mark; each is recognised only as that single byte, so the
// functions work on UTF-8 text byte by byte. None of them touches the file
// system. A path's folder part is everything up to and including its last
// separator, its file-name part everything after it.

// Returns the file-name part of strPath without its last extension and
// leaves the folder part (with its final separator, or empty) in strPath.
// With bExtensionFound false on entry, the last "." of the file-name part and
// what follows it are dropped, and bExtensionFound tells whether there was
// one; with it true on entry, nothing is dropped.
std::string SplitFileName(std::string& strPath, bool& bExtensionFound);

// The text after the last "." of the file-name part of strName, in its own
// letter case; empty when the file-name part holds no ".".
std::string FileExtension(const std::string& strName);

// The text after the last separator: the whole text when there is none,
// empty when the text ends in one (a root folder).
std::string LastPathPart(const std::string& strPath);

}  // namespace fotolane::gallery::ModThumbnails
