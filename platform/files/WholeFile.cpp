#include "platform/files/WholeFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/core/Fault.h"
#include "platform/core/Paths.h"
#include "platform/files/SystemCalls.h"

namespace fotolane {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
// A long name would make the temporary name too long for the folder.
constexpr std::size_t kLongestStem = 100;

std::string FolderOf(const std::string& path) {
    const std::size_t separator = path.rfind(kPathSeparator);
    return separator == std::string::npos ? "" : path.substr(0, separator + 1);
}

std::string NameOf(const std::string& path) {
    const std::size_t separator = path.rfind(kPathSeparator);
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string TemporaryStem(const std::string& name) {
    return "." + name.substr(0, std::min(name.size(), kLongestStem)) + ".";
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The process id in a temporary name ".stem.PID-N.tmp" after `stem`, or 0
// when the name is not one.
::pid_t TemporaryOwner(std::string_view name, std::string_view stem) {
    constexpr std::string_view kSuffix = ".tmp";
    if (name.size() <= stem.size() + kSuffix.size() || !name.starts_with(stem) ||
        !name.ends_with(kSuffix)) {
        return 0;
    }
    const std::string_view rest =
        name.substr(stem.size(), name.size() - stem.size() - kSuffix.size());
    const std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos || !AllDigits(rest.substr(0, dash)) ||
        !AllDigits(rest.substr(dash + 1)) || dash > 9) {
        return 0;
    }
    return static_cast<::pid_t>(std::stol(std::string(rest.substr(0, dash))));
}

// The stem of any temporary name: "." up to the last "." before "PID-N.tmp".
std::string AnyStem(std::string_view name) {
    if (name.size() < 2 || name.front() != '.' || !name.ends_with(".tmp")) return {};
    const std::string_view inner = name.substr(0, name.size() - 4);
    const std::size_t dot = inner.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return std::string(inner.substr(0, dot + 1));
}

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

}  // namespace

WholeFileWriter::WholeFileWriter(const std::string& path) : target_(path) {
    const std::string name = NameOf(path);
    if (name.empty()) throw Fault::FromErrno(path.empty() ? ENOENT : EISDIR, path);
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) throw Fault::FromErrno(EISDIR, path);
        // A link is replaced by the new file; a FIFO would hang the writer,
        // and renaming over a device would destroy something not ours.
        if (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) {
            throw Fault("Not a plain file", path);
        }
    } else if (errno != ENOENT) {
        throw Fault::FromErrno(errno, path);
    }

    static unsigned counter = 0;
    const std::string stem = FolderOf(path) + TemporaryStem(name);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = stem + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".tmp";
        fd_ = files::sys::Open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) return;
        if (errno != EEXIST) break;
    }
    const int error = errno;
    temporary_.clear();
    throw Fault::FromErrno(error, path);
}

WholeFileWriter::~WholeFileWriter() {
    Discard();
}

void WholeFileWriter::Write(std::span<const std::uint8_t> bytes) {
    Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void WholeFileWriter::Write(std::string_view bytes) {
    if (!IsOpen()) throw Fault("Bad file name or number", target_);
    flushed_ = false;
    if (buffer_.size() + bytes.size() > kBufferSize) FlushBuffer();
    if (bytes.size() >= kBufferSize) {
        WriteOut({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    } else {
        buffer_.append(bytes);
    }
}

void WholeFileWriter::FlushBuffer() {
    if (buffer_.empty()) return;
    WriteOut({reinterpret_cast<const std::uint8_t*>(buffer_.data()), buffer_.size()});
    buffer_.clear();
}

void WholeFileWriter::WriteOut(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ::ssize_t written = files::sys::Write(fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            Discard();
            throw Fault::FromErrno(error, target_);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
}

void WholeFileWriter::FinishWriting() {
    if (!IsOpen()) throw Fault("Bad file name or number", target_);
    FlushBuffer();
}

void WholeFileWriter::FlushToDisk() {
    FinishWriting();
    if (files::sys::Flush(fd_) != 0) {
        const int error = errno;
        Discard();
        throw Fault::FromErrno(error, target_);
    }
    flushed_ = true;
}

std::vector<std::optional<Fault>> WholeFileWriter::FlushAllToDisk(
    std::span<WholeFileWriter* const> files) {
    std::vector<std::optional<Fault>> faults(files.size());
    std::vector<int> fds;
    std::vector<std::size_t> flushed;  // the files of `fds`
    for (std::size_t i = 0; i < files.size(); ++i) {
        try {
            files[i]->FinishWriting();
            fds.push_back(files[i]->fd_);
            flushed.push_back(i);
        } catch (const Fault& fault) {
            faults[i] = fault;
        }
    }
    std::vector<int> errors(fds.size());
    files::sys::FlushAll(fds, errors);
    for (std::size_t k = 0; k < flushed.size(); ++k) {
        WholeFileWriter& file = *files[flushed[k]];
        if (errors[k] == 0) {
            file.flushed_ = true;
        } else {
            file.Discard();
            faults[flushed[k]] = Fault::FromErrno(errors[k], file.target_);
        }
    }
    return faults;
}

void WholeFileWriter::Commit() {
    // On the disk before it takes the target's name: after a power cut the
    // name holds the old file or the new one, never an empty one.
    if (!flushed_) FlushToDisk();
    const int fd = fd_;
    fd_ = -1;
    if (files::sys::Close(fd) != 0) {
        const int error = errno;
        Discard();
        throw Fault::FromErrno(error, target_);
    }
    if (files::sys::Rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        Discard();
        throw Fault::FromErrno(error, target_);
    }
    temporary_.clear();
}

void WholeFileWriter::Discard() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    flushed_ = false;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    buffer_.clear();
}

void ReplaceFileWhole(const std::string& path, std::span<const std::uint8_t> bytes) {
    WholeFileWriter file(path);
    file.Write(bytes);
    file.Commit();
}

void RemoveLeftoverTemporaries(const std::string& folder, const std::string& name) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return;
    const std::string prefix =
        folder.empty() || folder.back() == kPathSeparator ? folder : folder + kPathSeparator;
    const std::string wanted = name.empty() ? std::string() : TemporaryStem(name);
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view entryName = entry->d_name;
        const std::string stem = wanted.empty() ? AnyStem(entryName) : wanted;
        const ::pid_t owner = stem.empty() ? 0 : TemporaryOwner(entryName, stem);
        // A temporary file of a process still running is its work in hand.
        if (owner <= 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) {
            continue;
        }
        const std::string path = prefix + std::string(entryName);
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
    }
}

}  // namespace fotolane
