#include "imaging/mIntelJPEGLibrary.h"

#include "platform/codecs/JpegEncoder.h"
#include "platform/core/Fault.h"
#include "platform/files/WholeFile.h"
#include "platform/ui/UserInterface.h"

namespace fotolane::imaging::mIntelJPEGLibrary {

bool WriteJPEGFile(const cDIBSection& cDib, const std::string& strFileName, std::int32_t lQuality) {
    jpeg::Compressor compressor;
    if (compressor.InitCode() != 0) {
        ui::MessageBox(
            "Failed to initialise the IJL library: " + std::to_string(compressor.InitCode()),
            ui::Icon::Exclamation, ui::Buttons::OK);
        return false;
    }

    const std::int32_t lWidth = cDib.Width();
    const std::int32_t lHeight = cDib.Height();
    const std::uint8_t* const bits = cDib.DIBSectionBitsPtr();
    const std::int32_t lPitch = cDib.BytesPerScanLine();

    // Encoded into memory first, so that a failing encoder leaves no file;
    // then written beside the target and renamed over it, so that a failing
    // write leaves the old file (or none), never a truncated one.
    bool bWritten = false;
    if (bits != nullptr) {
        try {
            const jpeg::JpegBytes jpeg =
                compressor.CompressBottomUpBgr(bits, lWidth, lPitch, lHeight, lQuality);
            ReplaceFileWhole(strFileName, jpeg.Bytes());
            bWritten = true;
        } catch (const Fault&) {
            // Told to the user below in the writer's one message.
        }
    }
    if (!bWritten) {
        ui::Warn("Failed to save to JPG", strFileName);
        return false;
    }
    return true;
}

}  // namespace fotolane::imaging::mIntelJPEGLibrary
