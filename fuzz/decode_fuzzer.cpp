// Picture decoding of any bytes through the one entry the program uses,
// picture::DecodePicture, together with the header-only size read,
// picture::ReadPictureSize. Both take a path, so the bytes go into a file.
//
// Properties: the only exception either call raises is a Fault, and it names
// the file; decoded rows are well formed (positive size, the 24-bit stride,
// all of their memory there); when both calls succeed they give the same
// size; once the rows are gone, all memory drawn from the picture memory
// budget has been given back. Memory and time are held by the fuzzing
// engine's limits, set by scripts/fuzz.sh to the program's own budget.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "fuzz/FuzzTarget.h"
#include "platform/codecs/PictureDecoder.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"
#include "platform/core/PixelRows.h"

namespace fotolane::fuzz {
namespace {

// One file for the whole process, rewritten for every input.
const std::string& PicturePath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                             "/fotolane-decode-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(folder.data()) != nullptr, folder);
        return folder + "/picture.jpg";
    }();
    return path;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0, path);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t got = ::write(fd, data + written, size - written);
        FUZZ_CHECK(got > 0, path);
        written += static_cast<std::size_t>(got);
    }
    FUZZ_CHECK(::close(fd) == 0, path);
}

void CheckNamed(const Fault& fault, const std::string& path, const char* call) {
    FUZZ_CHECK(fault.Path() == path,
               std::string(call) + ": a fault that does not name the file: " + fault.Description());
}

}  // namespace
}  // namespace fotolane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fotolane;
    using namespace fotolane::fuzz;
    const std::string& path = PicturePath();
    WriteFile(path, data, size);

    bool decoded = false;
    picture::PictureSize decodedSize{};
    try {
        const PixelRows rows = picture::DecodePicture(path);
        FUZZ_CHECK(rows.width > 0 && rows.height > 0 && rows.bits != nullptr,
                   std::to_string(rows.width) + " x " + std::to_string(rows.height));
        FUZZ_CHECK(rows.stride == StrideOf24BitRow(rows.width), std::to_string(rows.stride));
        // Touch the first and the last byte: the sanitizers (or the page
        // protection of a mapping) catch rows shorter than they claim.
        volatile std::uint8_t sink = rows.ScanLine(0)[0];
        sink = rows.ScanLine(rows.height - 1)[rows.stride - 1];
        (void)sink;
        decoded = true;
        decodedSize = {rows.width, rows.height};
    } catch (const Fault& fault) {
        CheckNamed(fault, path, "DecodePicture");
    }

    try {
        const picture::PictureSize header = picture::ReadPictureSize(path);
        if (decoded) {
            FUZZ_CHECK(header.width == decodedSize.width && header.height == decodedSize.height,
                       "header " + std::to_string(header.width) + " x " +
                           std::to_string(header.height) + ", decoded " +
                           std::to_string(decodedSize.width) + " x " +
                           std::to_string(decodedSize.height));
        }
    } catch (const Fault& fault) {
        CheckNamed(fault, path, "ReadPictureSize");
    }

    // The whole budget can be drawn again: nothing of this picture kept any.
    try {
        const PictureMemory whole(PictureMemoryBudget());
    } catch (const Fault&) {
        Broken("picture memory not given back to the budget", {}, __FILE__, __LINE__);
    }
    return 0;
}
