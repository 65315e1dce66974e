#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fotolane {

// The plain files of a folder, one name at a time: First() begins the
// listing and gives its first name, Next() each further name, and both give
// an empty name once the listing is exhausted. Plain files are regular files
// (a symbolic link to one counts) that are not hidden; folders never appear.
//
// Names come in the order in which the Windows file system lists a folder:
// compared case-insensitively by their upper-cased characters, ties broken by
// the bytes. The raw directory order of Linux is arbitrary, and a gallery
// takes its order from this listing.
class FolderListing {
public:
    // Reads the folder's names; a folder that cannot be read is a fault.
    std::string First(const std::string& folderPath);
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

// A text file written line by line: Open creates or empties it, WriteLine
// writes the bytes as given followed by CR LF, Close flushes and closes it.
// Every failure is a fault that names the file. Destruction closes a file
// still open and ignores what that reports (the error path has its own fault).
class TextFileWriter {
public:
    TextFileWriter() = default;
    TextFileWriter(const TextFileWriter&) = delete;
    TextFileWriter& operator=(const TextFileWriter&) = delete;
    ~TextFileWriter();

    void Open(const std::string& path);
    void WriteLine(std::string_view bytes);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Path() const { return path_; }

private:
    struct Closer {
        void operator()(std::FILE* file) const noexcept { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    std::string path_;
};

}  // namespace fotolane
