#include "platform/files/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <system_error>

#include "platform/core/Fault.h"
#include "platform/core/Paths.h"
#include "platform/files/SystemCalls.h"

namespace fotolane {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const noexcept { closedir(dir); }
};

// Hands every entry of the folder to `take`, "." and ".." included. A folder
// that cannot be opened, or whose reading fails before its end, is a fault
// naming it: a listing cut short would leave pictures out without a word.
template <typename Take>
void ForEachEntry(const std::string& folderPath, Take take) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folderPath.c_str()));
    if (!dir) throw Fault::FromErrno(errno, folderPath);
    for (;;) {
        errno = 0;
        const dirent* entry = files::sys::ReadFolder(dir.get());
        if (entry == nullptr) {
            if (errno != 0) throw Fault::FromErrno(errno, folderPath);
            return;
        }
        take(*entry);
    }
}

bool IsHiddenName(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
    path += name;
    return path;
}

// Owns a file descriptor open for reading.
class ReadDescriptor {
  public:
    explicit ReadDescriptor(int fd) : fd_(fd) {}
    ReadDescriptor(const ReadDescriptor&) = delete;
    ReadDescriptor& operator=(const ReadDescriptor&) = delete;
    ~ReadDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

Fault OpenToReadFault(int error, const std::string& path) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return Fault::FileNotFound(path);
        case EACCES:
        case EPERM:
            return Fault::PermissionDenied(path);
        default:
            return Fault::FromErrno(error, path);
    }
}

std::u16string UpperKey(std::string_view name) {
    const QString upper =
        QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toUpper();
    return std::u16string(reinterpret_cast<const char16_t*>(upper.utf16()),
                          static_cast<std::size_t>(upper.size()));
}

// What a folder entry of kind `type` (readdir's d_type) is, a link not
// followed; the file system tells on Linux, else lstat does.
EntryKind KindOfEntry(unsigned char type, const std::string& path) {
    switch (type) {
        case DT_DIR:
            return EntryKind::Folder;
        case DT_REG:
            return EntryKind::PlainFile;
        case DT_LNK:
            return EntryKind::Link;
        case DT_UNKNOWN:
            break;
        default:
            return EntryKind::Other;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return EntryKind::None;
    if (S_ISDIR(info.st_mode)) return EntryKind::Folder;
    if (S_ISREG(info.st_mode)) return EntryKind::PlainFile;
    if (S_ISLNK(info.st_mode)) return EntryKind::Link;
    return EntryKind::Other;
}

// What the link at `path` leads to; None when it leads nowhere or cannot be
// looked at.
EntryKind TargetOfLink(const std::string& path) {
    struct stat info {};
    if (files::sys::StatEntry(path.c_str(), &info) != 0) return EntryKind::None;
    if (S_ISDIR(info.st_mode)) return EntryKind::Folder;
    if (S_ISREG(info.st_mode)) return EntryKind::PlainFile;
    return EntryKind::Other;
}

// Sorts `items` by the names `nameOf` gives, with the keys computed once: a
// camera folder holds thousands of names.
template <typename Item, typename NameOf>
void SortItemsByName(std::vector<Item>& items, NameOf nameOf) {
    std::vector<std::pair<std::u16string, std::size_t>> keyed;
    keyed.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        keyed.emplace_back(UpperKey(nameOf(items[i])), i);
    std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        return nameOf(items[a.second]) < nameOf(items[b.second]);
    });
    std::vector<Item> sorted;
    sorted.reserve(items.size());
    for (const auto& [key, index] : keyed) sorted.push_back(std::move(items[index]));
    items = std::move(sorted);
}

}  // namespace

bool NameComesBefore(std::string_view a, std::string_view b) {
    return std::pair(UpperKey(a), a) < std::pair(UpperKey(b), b);
}

void SortByName(std::vector<std::string>& names) {
    SortItemsByName(names, [](const std::string& name) -> std::string_view { return name; });
}

std::vector<FolderEntry> WalkFolder(const std::string& folderPath) {
    std::vector<FolderEntry> entries;
    ForEachEntry(folderPath, [&](const dirent& entry) {
        std::string name = entry.d_name;
        if (IsHiddenName(name)) return;  // "." and ".." too
        const std::string path = JoinPath(folderPath, name);
        const EntryKind kind = KindOfEntry(entry.d_type, path);
        const EntryKind target = kind == EntryKind::Link ? TargetOfLink(path) : kind;
        entries.push_back({std::move(name), kind, target});
    });
    SortItemsByName(entries,
                    [](const FolderEntry& entry) -> std::string_view { return entry.name; });
    return entries;
}

std::string FolderListing::First(const std::string& folderPath,
                                 bool (*wanted)(const std::string& name)) {
    names_.clear();
    next_ = 0;
    // Entries whose kind could not be looked at, with the error.
    std::vector<std::pair<std::string, int>> unknown;
    ForEachEntry(folderPath, [&](const dirent& entry) {
        std::string name = entry.d_name;
        if (IsHiddenName(name) || (wanted != nullptr && !wanted(name))) return;
        // stat() follows symbolic links, so a link to a regular file counts
        // as one.
        struct stat info {};
        if (files::sys::StatEntry(JoinPath(folderPath, name).c_str(), &info) == 0) {
            if (S_ISREG(info.st_mode)) names_.push_back(std::move(name));
        } else if (errno != ENOENT && errno != ELOOP) {
            // Without search permission on the folder every entry fails so:
            // leaving them out would make the folder look empty.
            unknown.emplace_back(std::move(name), errno);
        }
    });
    if (!unknown.empty()) {
        const auto first = std::min_element(
            unknown.begin(), unknown.end(),
            [](const auto& a, const auto& b) { return NameComesBefore(a.first, b.first); });
        names_.clear();
        throw Fault::FromErrno(first->second, JoinPath(folderPath, first->first));
    }
    SortByName(names_);
    return Next();
}

std::string FolderListing::Next() {
    if (next_ >= names_.size()) return {};
    return names_[next_++];
}

std::string LookUpPlainFile(const std::string& path) {
    const std::size_t slash = path.find_last_of(kPathSeparator);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || IsHiddenName(name)) return {};
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {};
        throw Fault::FromErrno(errno, path);
    }
    return S_ISREG(info.st_mode) ? name : std::string();
}

EntryKind KindAt(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return EntryKind::None;
        throw Fault::FromErrno(errno, path);
    }
    if (S_ISDIR(info.st_mode)) return EntryKind::Folder;
    if (S_ISREG(info.st_mode)) return EntryKind::PlainFile;
    if (S_ISLNK(info.st_mode)) return EntryKind::Link;
    return EntryKind::Other;
}

std::string ResolvedFolderPath(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path path = fs::absolute(folder, error);
    if (error) path = folder;
    std::string text = path.string();
    while (text.size() > 1 && text.back() == fs::path::preferred_separator) text.pop_back();
    path = text;
    // The folder the file system means: "LDeep/.." is the parent of what
    // the link LDeep points to, not the folder that holds LDeep. The last
    // part stays as given (unless it is "." or ".."), so that the page keeps
    // the folder's own name even where the folder is reached by a link.
    const fs::path name = path.filename();
    fs::path resolved;
    if (name == "." || name == "..") {
        resolved = fs::canonical(path, error);
    } else {
        resolved = fs::canonical(path.parent_path(), error) / name;
    }
    if (!error) {
        path = resolved;
    } else {
        path = path.lexically_normal();
    }
    text = path.string();
    while (text.size() > 1 && text.back() == fs::path::preferred_separator) text.pop_back();
    return text;
}

std::optional<std::string> RealPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    if (error) return std::nullopt;
    return real.string();
}

std::optional<std::string> RealPathOfNew(const std::string& path) {
    std::error_code error;
    const std::filesystem::path real =
        std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
    if (error) return std::nullopt;
    return real.string();
}

std::optional<bool> IsEmptyFolder(const std::string& path) {
    std::error_code error;
    const bool empty = std::filesystem::is_empty(path, error);
    if (error) return std::nullopt;
    return empty;
}

std::string CurrentFolderPath() {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    return error ? std::string() : current.native();
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsPlainFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::uintmax_t FileBytes(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || info.st_size < 0) return 0;
    return static_cast<std::uintmax_t>(info.st_size);
}

std::vector<std::uint8_t> ReadFileStart(const std::string& path, std::size_t limit) {
    std::vector<std::uint8_t> bytes;
    ReadFileStartInto(path, limit, bytes);
    return bytes;
}

void ReadFileStartInto(const std::string& path, std::size_t limit,
                       std::vector<std::uint8_t>& bytes) {
    // O_NONBLOCK: a FIFO of that name must not hang the open; it is refused
    // below as no plain file.
    ReadDescriptor file(files::sys::OpenToRead(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) throw OpenToReadFault(errno, path);
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) throw Fault::FromErrno(errno, path);
    if (!S_ISREG(status.st_mode)) throw Fault::FileNotFound(path);

    std::size_t expected = limit;
    if (status.st_size >= 0 && static_cast<std::uintmax_t>(status.st_size) < limit) {
        expected = static_cast<std::size_t>(status.st_size);
    }
    bytes.resize(expected);
    std::size_t filled = 0;
    const auto readInto = [&](std::uint8_t* into, std::size_t count) {
        for (;;) {
            const ssize_t got = files::sys::Read(file.get(), into, count);
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throw Fault::FromErrno(errno, path);
        }
    };
    while (filled < expected) {
        const std::size_t got = readInto(bytes.data() + filled, expected - filled);
        if (got == 0) break;
        filled += got;
    }
    // A file that grew since fstat: take the rest as well, up to the limit.
    std::uint8_t chunk[16384];
    while (filled == bytes.size() && filled < limit) {
        const std::size_t got = readInto(chunk, std::min(sizeof chunk, limit - filled));
        if (got == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
        filled += got;
    }
    bytes.resize(filled);
}

bool IsUpToDate(const std::string& made, const std::string& source) {
    struct stat madeInfo {};
    struct stat sourceInfo {};
    if (::stat(made.c_str(), &madeInfo) != 0 || !S_ISREG(madeInfo.st_mode)) return false;
    if (::stat(source.c_str(), &sourceInfo) != 0) return false;
    const auto& a = madeInfo.st_mtim;
    const auto& b = sourceInfo.st_mtim;
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec >= b.tv_nsec);
}

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat info {};
    if (files::sys::StatEntry(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return std::nullopt;
        throw Fault::FromErrno(errno, path);
    }
    if (!S_ISREG(info.st_mode) || info.st_size < 0) return std::nullopt;
    return FileStamp{
        static_cast<std::uint64_t>(info.st_size),
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

std::string ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Fault::FromErrno(errno, path);
    std::string text;
    char buffer[65536];
    for (;;) {
        const ::ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            throw Fault::FromErrno(error, path);
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

bool RemoveEmptyFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

void FailWritesPastTheSizeLimit() {
    std::signal(SIGXFSZ, SIG_IGN);
}

void CreateFolder(const std::string& path) {
    if (files::sys::MakeFolder(path.c_str(), 0777) != 0) {
        if (errno == EEXIST) throw Fault("Path/File access error (it exists already)", path);
        throw Fault::FromErrno(errno, path);
    }
}

void RemoveFile(const std::string& path) {
    if (files::sys::Remove(path.c_str()) != 0) throw Fault::FromErrno(errno, path);
}

TextFileWriter::~TextFileWriter() = default;

void TextFileWriter::Open(const std::string& path) {
    file_.reset();
    path_ = path;
    file_ = std::make_unique<WholeFileWriter>(path);
}

void TextFileWriter::WriteLine(std::string_view bytes) {
    if (!IsOpen()) throw Fault("Bad file name or number", path_);
    file_->Write(bytes);
    file_->Write(std::string_view("\r\n"));
}

void TextFileWriter::Close() {
    if (!IsOpen()) return;
    const std::unique_ptr<WholeFileWriter> file = std::move(file_);
    file->Commit();
}

}  // namespace fotolane
