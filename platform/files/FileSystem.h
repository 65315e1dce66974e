#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/WholeFile.h"

namespace fotolane {

// The one order of names in the product: the pictures of a gallery, the
// folders of a recursive run, the albums a page links, the window's lists.
// It is the order in which the Windows file system lists a folder: names
// compared case-insensitively by their upper-cased characters, ties broken
// by the bytes. (The raw directory order of Linux is arbitrary.)
bool NameComesBefore(std::string_view a, std::string_view b);
void SortByName(std::vector<std::string>& names);

// What lies at a path, the path's last part not followed when it is a link.
enum class EntryKind { None, Folder, PlainFile, Link, Other };

// One entry of a folder as WalkFolder gives it.
struct FolderEntry {
    std::string name;
    EntryKind kind = EntryKind::None;  // the entry itself: a link is a Link
    // What the entry leads to: a link's target (None for a link to nothing,
    // or one whose target cannot be looked at), else the entry's own kind.
    EntryKind target = EntryKind::None;
    bool operator==(const FolderEntry&) const = default;
};

// The entries of a folder that are not hidden (".name"), in name order. A
// folder that cannot be opened, or whose listing breaks off part-way, is a
// fault naming it.
std::vector<FolderEntry> WalkFolder(const std::string& folderPath);

// The plain files of a folder, one name at a time: First() begins the
// listing and gives its first name, Next() each further name, and both give
// an empty name once the listing is exhausted. Plain files are regular files
// (a symbolic link to one counts) that are not hidden; folders never appear.
//
// Names come in name order (NameComesBefore), and a gallery takes its order
// from this listing.
class FolderListing {
  public:
    // Reads the folder's names, only those that `wanted` accepts when it is
    // given (the others are not looked at). A folder that cannot be read, or
    // whose listing breaks off part-way, is a fault; so is a wanted name
    // whose kind cannot be looked at (a folder that can be read but not
    // searched), naming the first such entry in the listing's order. A name
    // that is gone by then, or a link to nothing, is simply not listed.
    std::string First(const std::string& folderPath,
                      bool (*wanted)(const std::string& name) = nullptr);
    std::string Next();

  private:
    std::vector<std::string> names_;
    std::size_t next_ = 0;
};

// The name of the plain file at `path`, or an empty name when there is none
// (missing, a folder, hidden). A lookup that fails for another reason (no
// permission to search the folder) is a fault.
std::string LookUpPlainFile(const std::string& path);

// Creates one folder level. A trailing separator is allowed. Fails with a
// fault, among others when the folder exists already.
void CreateFolder(const std::string& path);

// Removes the file at `path`; a link there is removed itself, never
// followed. A failure is a fault that names the file.
void RemoveFile(const std::string& path);

// A lookup that fails for another reason than a missing entry is a fault.
EntryKind KindAt(const std::string& path);

// Whether a plain file, or a folder, is at `path` (a link followed); false
// also when nothing can be looked at there.
bool IsPlainFile(const std::string& path);
bool IsFolder(const std::string& path);

// A folder as a program given it on the command line means it: absolute,
// with "." and ".." resolved as the file system resolves them (through
// links), no trailing separator but for the root; the last part is kept as
// given, so that a gallery keeps the folder's own name.
std::string ResolvedFolderPath(const std::string& folder);

// The absolute path of `path` with links, "." and ".." resolved; none when
// a part of it is missing or cannot be looked at. RealPathOfNew takes the
// parts from the first missing one on as given (a folder about to be made).
std::optional<std::string> RealPath(const std::string& path);
std::optional<std::string> RealPathOfNew(const std::string& path);

// Whether the folder at `path` holds no entry at all, hidden ones included;
// none when it cannot be read.
std::optional<bool> IsEmptyFolder(const std::string& path);

// The process's current folder, its name's bytes as they are; empty when
// the system cannot tell.
std::string CurrentFolderPath();

// The size in bytes of the file at `path`, or 0 when it cannot be looked at.
std::uintmax_t FileBytes(const std::string& path);

// The bytes of the plain file at `path` from its start, at most `limit` of
// them (of a file that grows while it is read, as many as there are then, up
// to the limit). "File not found" for a missing file or one that is no plain
// file (a folder, a FIFO, a device, none of which can make the call wait),
// "Permission denied" for one that may not be read, another failure a fault
// from its errno; each names the file.
std::vector<std::uint8_t> ReadFileStart(const std::string& path, std::size_t limit);
// The same into `bytes`, whose memory serves again (what it held is
// overwritten, and only its growth beyond the size it had is zeroed first).
void ReadFileStartInto(const std::string& path, std::size_t limit,
                       std::vector<std::uint8_t>& bytes);

// A plain file's size and the time it was last written, to the nanosecond.
struct FileStamp {
    std::uint64_t bytes = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
// The stamp of the plain file at `path` (a link followed), or none when no
// plain file is there. A look that fails for another reason (a folder that
// cannot be searched) is a fault naming the file.
std::optional<FileStamp> StampOf(const std::string& path);

// The whole content of the file at `path`; a failure is a fault naming it.
std::string ReadWholeFile(const std::string& path);

// Removes the folder at `path` when it is empty; false when it is not, or
// cannot be removed.
bool RemoveEmptyFolder(const std::string& path);

// Whether the file at `made` is a plain file last written no earlier than
// the file at `source` was: false when either cannot be looked at.
bool IsUpToDate(const std::string& made, const std::string& source);

// Makes a write past the file-size limit (`ulimit -f`) fail with EFBIG, so
// that the writers report "File too large" naming the file, instead of the
// signal SIGXFSZ ending the program without a word. Each program calls it
// once at its start.
void FailWritesPastTheSizeLimit();

// A text file written line by line and put in place whole (WholeFileWriter):
// Open checks the target and creates the temporary file, WriteLine adds the
// bytes as given followed by CR LF, Close puts the file in place. Until
// Close the earlier file of that name stays as it was; a link in its place
// is replaced, anything else that is no plain file is a fault at Open. Every
// failure is a fault that names the file, after which the writer is closed
// and the earlier file untouched. Destruction of a writer still open throws
// away what it holds.
class TextFileWriter {
  public:
    TextFileWriter() = default;
    TextFileWriter(const TextFileWriter&) = delete;
    TextFileWriter& operator=(const TextFileWriter&) = delete;
    ~TextFileWriter();

    void Open(const std::string& path);
    void WriteLine(std::string_view bytes);
    void Close();
    // Throws away what was written; the earlier file stays as it was.
    void Discard() noexcept { file_.reset(); }
    bool IsOpen() const { return file_ && file_->IsOpen(); }
    const std::string& Path() const { return path_; }

  private:
    std::unique_ptr<WholeFileWriter> file_;
    std::string path_;
};

}  // namespace fotolane
