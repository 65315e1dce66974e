#pragma once

#include <stdexcept>
#include <string>

namespace fotolane {

// The one kind of failure the program raises. A fault carries a plain
// English message and, where a file is involved, the path of that file as a
// field of its own; the description shown to the user is formed from the two
// here, in one place, so that it names the file exactly once. A fault travels
// up to the one place that reports it (the gallery run's error path, or a
// front end), which shows the description as it stands.
class Fault : public std::runtime_error {
  public:
    explicit Fault(const std::string& message, const std::string& path = {})
        : std::runtime_error(Describe(message, path)), message_(message), path_(path) {}

    // The message followed by ": " and the path when there is one.
    const char* Description() const noexcept { return what(); }
    const std::string& Message() const noexcept { return message_; }
    // The file or folder the fault concerns; empty when none.
    const std::string& Path() const noexcept { return path_; }

    // This fault about `path`, unless it names a file already.
    Fault Naming(const std::string& path) const {
        return path_.empty() ? Fault(message_, path) : *this;
    }

    static Fault DivisionByZero() { return Fault("Division by zero"); }
    static Fault Overflow() { return Fault("Overflow"); }
    static Fault OutOfMemory() { return Fault("Out of memory"); }
    static Fault SubscriptOutOfRange() { return Fault("Subscript out of range"); }
    static Fault FileNotFound(const std::string& path) { return Fault("File not found", path); }
    static Fault PathNotFound(const std::string& path) { return Fault("Path not found", path); }
    static Fault PermissionDenied(const std::string& path) {
        return Fault("Permission denied", path);
    }
    static Fault InvalidPicture(const std::string& path) { return Fault("Invalid picture", path); }
    // A failure of a system call on a file, described from its errno value.
    static Fault FromErrno(int error, const std::string& path);
    // The fault that the exception being handled stands for: the fault
    // itself, "Out of memory" for a failed allocation, the text of another
    // standard exception. Only inside a handler of std::exception.
    static Fault OfCurrentException();

  private:
    static std::string Describe(const std::string& message, const std::string& path) {
        return path.empty() ? message : message + ": " + path;
    }

    std::string message_;
    std::string path_;
};

}  // namespace fotolane
