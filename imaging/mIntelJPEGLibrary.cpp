#include "imaging/mIntelJPEGLibrary.h"

#include <utility>

#include "platform/core/Fault.h"
#include "platform/files/WholeFile.h"
#include "platform/ui/UserInterface.h"

namespace fotolane::imaging::mIntelJPEGLibrary {
namespace {

constexpr const char* kNotWritten = "Failed to save to JPG";

// False, after telling the user, when the library has no compressor to give.
bool CompressorReady(const jpeg::Compressor& compressor) {
    if (compressor.InitCode() == 0) return true;
    ui::MessageBox("Failed to initialise the IJL library: " + std::to_string(compressor.InitCode()),
                   ui::Icon::Exclamation, ui::Buttons::OK);
    return false;
}

// Encodes the picture into memory first, so that a failing encoder leaves
// no file, then writes it beside the target (WholeFileWriter), so that a
// failing write leaves the old file (or none), never a truncated one. The
// file is left to be committed; a fault when it cannot be written.
std::unique_ptr<WholeFileWriter> WriteBeside(jpeg::Compressor& compressor, const cDIBSection& cDib,
                                             const std::string& strFileName,
                                             std::int32_t lQuality) {
    const std::uint8_t* const bits = cDib.DIBSectionBitsPtr();
    if (bits == nullptr) throw Fault("No picture to write", strFileName);
    const jpeg::JpegBytes jpeg = compressor.CompressBottomUpBgr(
        bits, cDib.Width(), cDib.BytesPerScanLine(), cDib.Height(), lQuality);
    auto file = std::make_unique<WholeFileWriter>(strFileName);
    file->Write(jpeg.Bytes());
    file->FinishWriting();
    return file;
}

}  // namespace

bool WriteJPEGFile(const cDIBSection& cDib, const std::string& strFileName, std::int32_t lQuality) {
    jpeg::Compressor compressor;
    if (!CompressorReady(compressor)) return false;
    try {
        WriteBeside(compressor, cDib, strFileName, lQuality)->Commit();
        return true;
    } catch (const Fault&) {
        // Told to the user in the writer's one message.
    }
    ui::Warn(kNotWritten, strFileName);
    return false;
}

JpegFileQueue::JpegFileQueue(std::size_t lag) : lag_(lag) {}

void JpegFileQueue::WriteJPEGFile(const cDIBSection& cDib, const std::string& strFileName,
                                  std::int32_t lQuality) {
    // One compressor for the run: setting one up costs more than a
    // thumbnail's encoding.
    if (!compressor_) compressor_ = std::make_unique<jpeg::Compressor>();
    if (!CompressorReady(*compressor_)) {
        compressor_.reset();
        return;
    }
    try {
        untold_.push_back(Given{
            strFileName, commits_.Hand(WriteBeside(*compressor_, cDib, strFileName, lQuality))});
    } catch (const Fault&) {
        // A file that cannot be made is told at once, as WriteJPEGFile tells
        // it, after the earlier files whose fate is still open.
        TellUntil(0);
        ui::Warn(kNotWritten, strFileName);
        return;
    }
    TellUntil(lag_);
}

void JpegFileQueue::Await(const std::string& strFileName) {
    for (auto given = untold_.rbegin(); given != untold_.rend(); ++given) {
        if (given->strFileName == strFileName) {
            commits_.Wait(given->handed);
            return;
        }
    }
}

void JpegFileQueue::Finish() {
    TellUntil(0);
}

void JpegFileQueue::TellUntil(std::size_t kept) {
    while (untold_.size() > kept) {
        const Given given = std::move(untold_.front());
        untold_.pop_front();
        if (commits_.TakeFault(given.handed)) {
            ui::Warn(kNotWritten, given.strFileName);
        }
    }
}

}  // namespace fotolane::imaging::mIntelJPEGLibrary
