#include "platform/core/Fault.h"

#include <cerrno>
#include <exception>
#include <new>

namespace fotolane {

Fault Fault::FromErrno(int error, const std::string& path) {
    // Our own words rather than strerror(): they must not depend on the
    // user's locale, and they read like the rest of the program's messages.
    switch (error) {
        case ENOENT:
            return PathNotFound(path);
        case EACCES:
        case EPERM:
        case EROFS:
            return PermissionDenied(path);
        case EISDIR:
            return Fault("Is a folder, not a file", path);
        case ENOTDIR:
            return Fault("Path not found (a part of it is a file)", path);
        case ENOSPC:
        case EDQUOT:
            return Fault("Disk full", path);
        case EFBIG:
            // Past the file-size limit (ulimit -f) or the file system's.
            return Fault("File too large", path);
        case ENAMETOOLONG:
            return Fault("File name too long", path);
        case ENOMEM:
            return OutOfMemory();
        case EMFILE:
        case ENFILE:
            return Fault("Too many files open", path);
        case EIO:
            return Fault("Device I/O error", path);
        default:
            return Fault("File access error (code " + std::to_string(error) + ")", path);
    }
}

Fault Fault::OfCurrentException() {
    try {
        throw;
    } catch (const Fault& fault) {
        return fault;
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    } catch (const std::exception& error) {
        return Fault(error.what());
    }
}

}  // namespace fotolane
