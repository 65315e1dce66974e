#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string>

#include "platform/core/Fault.h"
#include "platform/core/PixelRows.h"

namespace fotolane::thumbnails::detail {

// Runs one step of the handling of the picture at `path`: a fault it raises
// names the picture, unless it names a file of its own already.
template <typename Step>
void AboutPicture(const std::string& path, Step&& step) {
    try {
        step();
    } catch (const Fault& fault) {
        throw fault.Naming(path);
    } catch (const std::bad_alloc&) {
        throw Fault::OutOfMemory().Naming(path);
    }
}

// Whether the fault is "Out of memory": memory that the budget or the
// system did not give, which another moment, with less memory held
// elsewhere, might give.
inline bool IsOutOfMemory(const Fault& fault) {
    return fault.Message() == Fault::OutOfMemory().Message();
}

// The whole pixel memory of `rows`, padding included.
inline std::span<std::uint8_t> BytesOf(const PixelRows& rows) {
    return {rows.bits.get(),
            static_cast<std::size_t>(rows.stride) * static_cast<std::size_t>(rows.height)};
}

}  // namespace fotolane::thumbnails::detail
