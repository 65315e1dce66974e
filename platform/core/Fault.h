#pragma once

#include <stdexcept>
#include <string>

namespace fotolane {

// The one kind of failure the program raises. A fault carries a plain
// English description that names the file where a file is involved; it
// travels up to the one place that reports it (the gallery run's error path,
// or a front end), which shows the description to the user as it stands.
class Fault : public std::runtime_error {
public:
    explicit Fault(const std::string& description) : std::runtime_error(description) {}

    const char* Description() const noexcept { return what(); }

    static Fault DivisionByZero() { return Fault("Division by zero"); }
    static Fault Overflow() { return Fault("Overflow"); }
    static Fault OutOfMemory() { return Fault("Out of memory"); }
    static Fault SubscriptOutOfRange() { return Fault("Subscript out of range"); }
    static Fault FileNotFound(const std::string& path) { return Fault("File not found: " + path); }
    static Fault PathNotFound(const std::string& path) { return Fault("Path not found: " + path); }
    static Fault PermissionDenied(const std::string& path) {
        return Fault("Permission denied: " + path);
    }
    static Fault InvalidPicture(const std::string& path) {
        return Fault("Invalid picture: " + path);
    }
    // A failure of a system call on a file, described from its errno value.
    static Fault FromErrno(int error, const std::string& path);
};

}  // namespace fotolane
