#pragma once

// libjpeg's decompressor for the sampled JPEG path (kept from one picture to
// the next) and for the album's streamed lines, with its error handling led
// back here: an error jumps to the caller's setjmp, a warning is counted,
// and a progressive file of an absurd number of scans is refused as the
// whole decode refuses it.

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include "platform/core/MemoryBudget.h"

namespace fotolane::picture::detail {

// libjpeg's error manager and where its errors jump to: libjpeg's callbacks
// find the jump through the error manager they are given, which stands
// first.
struct LibjpegErrors {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
};

// An error of libjpeg's raised from a callback of ours (its memory
// manager's): error_exit jumps out of the library, as libjpeg's own errors do.
[[noreturn]] void RefuseInLibjpeg(j_common_ptr cinfo);

class LibjpegSession {
  public:
    LibjpegSession() = default;
    LibjpegSession(const LibjpegSession&) = delete;
    LibjpegSession& operator=(const LibjpegSession&) = delete;
    ~LibjpegSession();

    // Where an error of libjpeg's jumps to: the caller's setjmp, in the
    // frame that calls libjpeg (a jump passes no destructor of the frames it
    // leaves, so those may own nothing).
    std::jmp_buf& Jump() { return errors_.jump; }

    // The decompressor, created the first time (after the setjmp: creating
    // it may fail too), its warnings counted from 0 again.
    jpeg_decompress_struct& Begin();
    bool Created() const { return created_; }
    jpeg_decompress_struct& Decompressor() { return cinfo_; }
    const jpeg_decompress_struct& Decompressor() const { return cinfo_; }
    long Warnings() const { return errors_.manager.num_warnings; }

  private:
    jpeg_decompress_struct cinfo_{};
    LibjpegErrors errors_;
    jpeg_progress_mgr progress_{};
    bool created_ = false;
};

// One picture's work in a session, ended at whichever exit of its decoding:
// libjpeg's work on the picture is aborted, and the working memory drawn for
// it given back to the budget. Made before the decoding's setjmp, so that it
// lives through a jump out of libjpeg.
class SessionPicture {
  public:
    SessionPicture(LibjpegSession& session, PictureMemory& working)
        : session_(session), working_(working) {}
    SessionPicture(const SessionPicture&) = delete;
    SessionPicture& operator=(const SessionPicture&) = delete;
    ~SessionPicture() {
        if (session_.Created()) jpeg_abort_decompress(&session_.Decompressor());
        working_ = PictureMemory();
    }

  private:
    LibjpegSession& session_;
    PictureMemory& working_;
};

}  // namespace fotolane::picture::detail
