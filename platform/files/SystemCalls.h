#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <span>

// The system calls of the file layer that can fail on a healthy system, each
// behind the switch of FilesTesting.h. They behave exactly like the calls
// they are named after.
namespace fotolane::files::sys {

int Open(const char* path, int flags, mode_t mode);
int OpenToRead(const char* path, int flags);
::ssize_t Read(int fd, void* into, std::size_t size);
::ssize_t Write(int fd, const void* data, std::size_t size);
int Flush(int fd);  // fsync
// Flush for several files at once, on threads of their own, so that the
// disk serves them together rather than one after the other: `errors[i]`
// gets 0 when `fds[i]` was flushed, its errno otherwise. The failure switch
// is asked for the files in their order, before any of them is flushed.
void FlushAll(std::span<const int> fds, std::span<int> errors);
int Close(int fd);
int Rename(const char* from, const char* to);
int MakeFolder(const char* path, mode_t mode);
int Remove(const char* path);  // unlink
// readdir; at the end of the folder nullptr with errno unchanged, on a
// failure nullptr with errno set.
dirent* ReadFolder(DIR* dir);
// stat, for the entries of a folder listing.
int StatEntry(const char* path, struct stat* info);

}  // namespace fotolane::files::sys
