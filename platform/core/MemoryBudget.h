#pragma once

#include <cstddef>

namespace fotolane {

// The memory that pictures may take at once, decoded rows and decoders'
// working memory together: the smaller of 2 GiB and a quarter of the
// machine's physical memory. A picture that would need more is an "Out of
// memory" fault at once, before anything of its size is allocated, rather
// than a swap storm. One budget for the whole process, shared by all threads.
std::size_t PictureMemoryBudget();

// Takes `bytes` from the budget; an "Out of memory" fault when it has not
// that much left. Each draw is given back with ReturnPictureMemory.
void DrawPictureMemory(std::size_t bytes);
void ReturnPictureMemory(std::size_t bytes) noexcept;

// Memory drawn from the budget for as long as the object lives.
class PictureMemory {
  public:
    PictureMemory() = default;
    explicit PictureMemory(std::size_t bytes) : bytes_(bytes) { DrawPictureMemory(bytes); }
    PictureMemory(PictureMemory&& other) noexcept : bytes_(other.bytes_) { other.bytes_ = 0; }
    PictureMemory& operator=(PictureMemory&& other) noexcept {
        if (this != &other) {
            ReturnPictureMemory(bytes_);
            bytes_ = other.bytes_;
            other.bytes_ = 0;
        }
        return *this;
    }
    PictureMemory(const PictureMemory&) = delete;
    PictureMemory& operator=(const PictureMemory&) = delete;
    ~PictureMemory() { ReturnPictureMemory(bytes_); }

    // Hands the drawn memory over to another owner, who gives it back.
    void Release() noexcept { bytes_ = 0; }

  private:
    std::size_t bytes_ = 0;
};

// For tests: the budget is `bytes` while the object lives.
class ScopedPictureMemoryBudget {
  public:
    explicit ScopedPictureMemoryBudget(std::size_t bytes);
    ScopedPictureMemoryBudget(const ScopedPictureMemoryBudget&) = delete;
    ScopedPictureMemoryBudget& operator=(const ScopedPictureMemoryBudget&) = delete;
    ~ScopedPictureMemoryBudget();

  private:
    std::size_t previous_;
};

}  // namespace fotolane
