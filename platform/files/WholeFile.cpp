#include "platform/files/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/core/Fault.h"
#include "platform/core/Paths.h"

namespace fotolane {
namespace {

// A file being written under a temporary name. Closed and removed when it
// goes, unless it was renamed into place.
class TemporaryFile {
  public:
    // Creates a new, empty file with a name that no other file has, in
    // `folder` (empty for the current folder, else ending in a separator).
    // Faults name `target`, the file the caller means.
    TemporaryFile(const std::string& folder, const std::string& name, const std::string& target)
        : target_(target) {
        static unsigned counter = 0;
        // A long name would make the temporary name too long for the folder.
        const std::string stem = "." + name.substr(0, std::min<std::size_t>(name.size(), 100));
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = folder + stem + "." + std::to_string(::getpid()) + "-" +
                    std::to_string(++counter) + ".tmp";
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) return;
            if (errno != EEXIST) break;
        }
        const int error = errno;
        path_.clear();
        throw Fault::FromErrno(error, target_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    void WriteAll(std::span<const std::uint8_t> bytes) {
        while (!bytes.empty()) {
            const ::ssize_t written = ::write(fd_, bytes.data(), bytes.size());
            if (written < 0) {
                if (errno == EINTR) continue;
                throw Fault::FromErrno(errno, target_);
            }
            bytes = bytes.subspan(static_cast<std::size_t>(written));
        }
    }

    // Closes the file (where a delayed write error shows) and renames it over
    // the target.
    void Commit() {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) throw Fault::FromErrno(errno, target_);
        if (::rename(path_.c_str(), target_.c_str()) != 0) throw Fault::FromErrno(errno, target_);
        path_.clear();
    }

  private:
    std::string target_;
    std::string path_;
    int fd_ = -1;
};

}  // namespace

void ReplaceFileWhole(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::size_t separator = path.rfind(kPathSeparator);
    const std::string folder = separator == std::string::npos ? "" : path.substr(0, separator + 1);
    const std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    if (name.empty()) throw Fault::FromErrno(path.empty() ? ENOENT : EISDIR, path);
    // Only a regular file is ever replaced: renaming over a device or a
    // folder's name would destroy something that is not ours.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        throw Fault::FromErrno(S_ISDIR(existing.st_mode) ? EISDIR : EPERM, path);
    }
    TemporaryFile file(folder, name, path);
    file.WriteAll(bytes);
    file.Commit();
}

}  // namespace fotolane
