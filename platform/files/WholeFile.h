#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Fault.h"

namespace fotolane {

// A file written whole or not at all. The bytes go into a temporary file
// beside the target (a hidden name in the same folder, ".name.PID-N.tmp", so
// that a folder listing never shows it and the rename stays on one file
// system), which Commit flushes to the disk and renames over the target. Until
// then the earlier file of that name stays as it was; an object that goes
// without being committed removes its temporary file. A killed program
// leaves at most the temporary file, which RemoveLeftoverTemporaries takes
// away later.
//
// The target is replaced, never written through: a symbolic link in its
// place is replaced by the new file, and anything else that is no plain file
// (a folder, a FIFO, a device) is a fault before anything is written. Every
// fault names the target.
class WholeFileWriter {
  public:
    explicit WholeFileWriter(const std::string& path);
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;
    ~WholeFileWriter();

    // Bytes are gathered and written out in large pieces.
    void Write(std::span<const std::uint8_t> bytes);
    void Write(std::string_view bytes);
    // Writes what is gathered, flushes, closes and renames over the target.
    // On a fault the temporary file is gone and the target untouched.
    void Commit();
    // Commit in steps, for a caller that commits files on another thread,
    // several at a time: FinishWriting writes out what is gathered (and
    // faults as Write does); FlushToDisk flushes the file; Commit then does
    // what is left. Each step faults as Commit does.
    void FinishWriting();
    void FlushToDisk();
    // FlushToDisk for several files at once, which the disk then serves
    // together: a file that fails is discarded and its fault put in its
    // place in the result; the others are flushed.
    static std::vector<std::optional<Fault>> FlushAllToDisk(
        std::span<WholeFileWriter* const> files);
    // Removes the temporary file; the target stays as it was.
    void Discard() noexcept;
    // Between construction and Commit or Discard.
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return target_; }

  private:
    void WriteOut(std::span<const std::uint8_t> bytes);
    void FlushBuffer();

    std::string target_;
    std::string temporary_;
    std::string buffer_;
    int fd_ = -1;
    bool flushed_ = false;
};

// Makes `bytes` the whole content of the file at `path` through a
// WholeFileWriter.
void ReplaceFileWhole(const std::string& path, std::span<const std::uint8_t> bytes);

// Removes from `folder` the temporary files that a killed program left
// behind while writing `name` (every name when `name` is empty): plain files
// named as WholeFileWriter names them whose process is gone. Best effort:
// what cannot be removed stays.
void RemoveLeftoverTemporaries(const std::string& folder, const std::string& name = {});

}  // namespace fotolane
