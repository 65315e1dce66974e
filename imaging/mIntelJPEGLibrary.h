#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "imaging/JpegEncoder.h"
#include "imaging/cDIBSection.h"
#include "platform/files/BackgroundCommits.h"

namespace fotolane::imaging::mIntelJPEGLibrary {

// Writes the picture of `cDib` (Width x Height pixels, read in place from
// DIBSectionBitsPtr, BytesPerScanLine bytes per bottom-up scan line) to the
// JPEG file `strFileName` (UTF-8), upright, 4:2:0, at `lQuality`, replacing
// a file of that name. The file is written whole or not at all. True when it
// was written; otherwise the user has been warned and the result is false.
// Faults of the buffer's own operations pass to the caller.
bool WriteJPEGFile(const cDIBSection& cDib, const std::string& strFileName, std::int32_t lQuality);

// The JPEG files of a run of thumbnails, each written as WriteJPEGFile
// writes it, except that its flush to the disk and its rename into place
// are left to a thread of their own, so that the next thumbnail need not
// wait for the disk. Files take their names in the order they are given.
//
// A file that could not be written is warned about as WriteJPEGFile does,
// once, in the order the files were given. One that cannot be made (its
// encoding, open or writes fail) is told at once, as WriteJPEGFile tells it;
// one whose flush, close or rename fails on the other thread is told when
// the file `lag` places after it is given, or at Finish, whichever comes
// first: a count of files rather than the moment the disk answers, so that
// what the user is shown, and when, depends on the files alone.
class JpegFileQueue {
  public:
    explicit JpegFileQueue(std::size_t lag = 16);
    JpegFileQueue(const JpegFileQueue&) = delete;
    JpegFileQueue& operator=(const JpegFileQueue&) = delete;
    // Puts the files given in place; warns about nothing more.
    ~JpegFileQueue() = default;

    void WriteJPEGFile(const cDIBSection& cDib, const std::string& strFileName,
                       std::int32_t lQuality);
    // Waits until the files given earlier under this name are in place or
    // have failed, so that the file system shows them; warns about nothing.
    void Await(const std::string& strFileName);
    // Waits until every file given is in place or has failed, and warns
    // about each one not yet warned about that failed.
    void Finish();

  private:
    struct Given {
        std::string strFileName;
        std::size_t handed;  // its number in commits_
    };

    // Warns about the files given while more than `kept` are untold.
    void TellUntil(std::size_t kept);

    std::size_t lag_;
    std::deque<Given> untold_;  // given and not yet told, oldest first
    std::unique_ptr<jpeg::Compressor> compressor_;
    BackgroundCommits commits_;
};

}  // namespace fotolane::imaging::mIntelJPEGLibrary
