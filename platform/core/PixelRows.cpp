#include "platform/core/PixelRows.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"
#include "platform/core/Numbers.h"

namespace fotolane {
namespace {

// A gallery run decodes one photograph after another, each tens of megabytes
// that are written once and freed at the next picture. In 4 KB pages every
// such block costs the kernel some ten thousand page faults to hand out and
// as much work to take back, more time than copying the pixels. So large
// blocks are mapped on their own, aligned to 2 MB and marked for transparent
// huge pages: a few dozen faults each. Smaller blocks stay on the heap, and
// so does everything under AddressSanitizer, which guards heap blocks only.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kOwnBlockFrom = SIZE_MAX;
#else
constexpr std::size_t kOwnBlockFrom = std::size_t{8} << 20;
#endif

std::size_t RoundUpToHugePage(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

// Fresh anonymous memory reads as zeros. Null when the system refuses it.
// Without huge pages, only the pages written take memory.
std::uint8_t* MapZeroedBlock(std::size_t bytes, std::size_t& mappedBytes, bool hugePages) {
    const std::size_t length = RoundUpToHugePage(bytes);
    // One huge page more than needed, so that an aligned start lies inside.
    void* mapping = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return nullptr;
    auto* const first = static_cast<std::uint8_t*>(mapping);
    const auto address = reinterpret_cast<std::uintptr_t>(first);
    const std::size_t head = (kHugePage - address % kHugePage) % kHugePage;
    std::uint8_t* const start = first + head;
    if (head > 0) ::munmap(first, head);
    if (kHugePage - head > 0) ::munmap(start + length, kHugePage - head);
    // Only a hint: without huge pages the block works all the same.
    if (hugePages) ::madvise(start, length, MADV_HUGEPAGE);
    mappedBytes = length;
    return start;
}

}  // namespace

void PixelRowsDeleter::operator()(std::uint8_t* bits) const noexcept {
    if (capacity > 0) {
        ::munmap(bits, capacity);
    } else {
        std::free(bits);
    }
    ReturnPictureMemory(budgeted);
}

std::int32_t StrideOf24BitRow(std::int32_t width) {
    return CheckedAdd(CheckedMul(width, 3), 3) & ~3;
}

namespace {

PixelRows Allocate(std::int32_t width, std::int32_t height, bool hugePages) {
    PixelRows rows;
    if (width <= 0 || height <= 0) return rows;
    const std::int32_t stride = StrideOf24BitRow(width);
    const auto size = static_cast<std::size_t>(CheckedMul(stride, height));
    PictureMemory drawn(size);
    if (size >= kOwnBlockFrom) {
        std::size_t mappedBytes = 0;
        std::uint8_t* const bits = MapZeroedBlock(size, mappedBytes, hugePages);
        if (bits == nullptr) throw Fault::OutOfMemory();
        rows.bits = std::unique_ptr<std::uint8_t[], PixelRowsDeleter>(
            bits, PixelRowsDeleter{mappedBytes, 0});
    } else {
        // calloc: the zero fill of a fresh block costs nothing up front.
        rows.bits.reset(static_cast<std::uint8_t*>(std::calloc(size, 1)));
        if (!rows.bits) throw Fault::OutOfMemory();
    }
    // From here on the rows give the memory back.
    rows.bits.get_deleter().budgeted = size;
    drawn.Release();
    rows.width = width;
    rows.height = height;
    rows.stride = stride;
    rows.capacity = size;
    return rows;
}

}  // namespace

PixelRows AllocatePixelRows(std::int32_t width, std::int32_t height) {
    return Allocate(width, height, true);
}

void ReshapePixelRows(PixelRows& rows, std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) {
        rows = PixelRows();
        return;
    }
    const std::int32_t stride = StrideOf24BitRow(width);
    const auto size = static_cast<std::size_t>(CheckedMul(stride, height));
    if (!rows.bits || size > rows.capacity) {
        // The old block goes first, so that both never take memory at once.
        rows = PixelRows();
        // Reused rows pay their page faults once; in small pages, rows of
        // which only the sampled pixels are written take only those pages.
        rows = Allocate(width, height, false);
        return;
    }
    rows.width = width;
    rows.height = height;
    rows.stride = stride;
}

}  // namespace fotolane
