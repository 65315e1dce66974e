#pragma once

namespace fotolane {

// The platform's path separator. Folder paths are handled without a trailing
// separator, except the file system's root, which is the separator alone.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

}  // namespace fotolane
