#include "gallery/ModThumbnails.h"

#include <cstddef>

#include "platform/core/Paths.h"

namespace fotolane::gallery::ModThumbnails {

// Each function scans once from the last byte towards the first. Rather than
// putting every byte in front of a growing result, the scans remember where
// the pieces begin and end and cut them out once.

std::string SplitFileName(std::string& strPath, bool& bExtensionFound) {
    std::size_t nameEnd = strPath.size();  // the name is [pos, nameEnd)
    std::size_t pos = strPath.size();
    while (pos > 0 && strPath[pos - 1] != kPathSeparator) {
        --pos;
        // Only the last "." of the file-name part ends the name; what was
        // gathered behind it is the extension and goes, with the "." itself.
        if (strPath[pos] == '.' && !bExtensionFound) {
            nameEnd = pos;
            bExtensionFound = true;
        }
    }
    std::string name = strPath.substr(pos, nameEnd - pos);
    strPath.resize(pos);  // the folder part, its final separator included
    return name;
}

std::string FileExtension(const std::string& strName) {
    for (std::size_t pos = strName.size(); pos > 0; --pos) {
        const char c = strName[pos - 1];
        if (c == '.') return strName.substr(pos);
        if (c == kPathSeparator) return {};
    }
    return {};
}

std::string LastPathPart(const std::string& strPath) {
    std::size_t pos = strPath.size();
    while (pos > 0 && strPath[pos - 1] != kPathSeparator) --pos;
    return strPath.substr(pos);
}

}  // namespace fotolane::gallery::ModThumbnails
