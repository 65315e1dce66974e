#pragma once

#include <cerrno>
#include <cstdint>

// Test-only switches of the file layer: they make one kind of its system
// calls fail on purpose, so that tests can walk every failure path of the
// writers without depending on permissions (which root ignores) or a full
// disk.
namespace fotolane::files {

// The operations of the layer that can be made to fail. Open is the creation
// of a file for writing; Write each write call; Flush the flush to the disk
// before a file is renamed into place; ListFolder each entry read from a
// folder listing (the listing ends there with the error); StatEntry the look
// at a listed entry's kind (EACCES there is a folder that can be read but not
// searched); Remove the removal of a file; Read the opening of a file for
// reading and each read from it.
// Read stays last: the switches are counted by it.
enum class Step {
    Open,
    Write,
    Flush,
    Close,
    Rename,
    CreateFolder,
    ListFolder,
    StatEntry,
    Remove,
    Read
};

// While an object of this type lives, the first `allowed` calls of `step`
// succeed, the next one fails with `error`, and the ones after it succeed
// again: one single operation fails. The switch in force before is restored
// at the end.
class ScopedFailure {
  public:
    explicit ScopedFailure(Step step, std::int32_t allowed = 0, int error = EIO);
    ScopedFailure(const ScopedFailure&) = delete;
    ScopedFailure& operator=(const ScopedFailure&) = delete;
    ~ScopedFailure();

  private:
    Step step_;
    std::int32_t previousAllowed_;
    int previousError_;
};

}  // namespace fotolane::files
