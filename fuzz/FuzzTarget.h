#pragma once

// What the fuzz targets share: the libFuzzer entry point, which the clang
// fuzz build drives and the replay program (ReplayMain.cpp) feeds with the
// stored corpus and regression files, a check that stops at the first
// broken property, and a reader that takes typed values from the input.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fotolane::fuzz {

// A broken property: says which and where, then aborts, which both the
// fuzzing engine and the replay take as a finding.
[[noreturn]] inline void Broken(const char* what, const std::string& detail, const char* file,
                                int line) {
    std::fprintf(stderr, "%s:%d: broken: %s\n", file, line, what);
    if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                                         \
    do {                                                                                      \
        if (!(condition)) ::fotolane::fuzz::Broken(#condition, (detail), __FILE__, __LINE__); \
    } while (false)

// Takes values from the front of the input; once it is used up, every value
// is 0 and every text empty, so any input is a valid one.
class InputReader {
  public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

    std::uint32_t Bits32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
        return value;
    }

    // A value in [low, high], spread over the range by the next four bytes.
    std::int64_t InRange(std::int64_t low, std::int64_t high) {
        const auto span = static_cast<std::uint64_t>(high - low) + 1;
        return low + static_cast<std::int64_t>(Bits32() % span);
    }

    // The bytes up to the next `end` byte (which is skipped) or the input's end.
    std::string Text(std::uint8_t end) {
        const std::uint8_t* from = data_ + std::min(at_, size_);
        const std::uint8_t* to = std::find(from, data_ + size_, end);
        at_ = static_cast<std::size_t>(to - data_) + 1;
        return {reinterpret_cast<const char*>(from), static_cast<std::size_t>(to - from)};
    }

    bool Empty() const { return at_ >= size_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace fotolane::fuzz
