#include "decoding/jpeg/LibjpegSession.h"

#include <cstdlib>

namespace fotolane::picture::detail {

namespace {

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<LibjpegErrors*>(cinfo->err)->jump, 1);
}

extern "C" void OnJpegError(j_common_ptr cinfo) {
    JumpBack(cinfo);
}

extern "C" void OnJpegMessage(j_common_ptr cinfo, int level) {
    if (level < 0) ++cinfo->err->num_warnings;
}

// A progressive file of an absurd number of scans is refused, as the whole
// decode refuses it.
constexpr int kScanLimit = 500;

extern "C" void OnJpegProgress(j_common_ptr cinfo) {
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompress->progressive_mode && decompress->input_scan_number > kScanLimit) {
        JumpBack(cinfo);
    }
}

}  // namespace

void RefuseInLibjpeg(j_common_ptr cinfo) {
    (*cinfo->err->error_exit)(cinfo);
    std::abort();  // error_exit does not return
}

LibjpegSession::~LibjpegSession() {
    if (created_) jpeg_destroy_decompress(&cinfo_);
}

jpeg_decompress_struct& LibjpegSession::Begin() {
    if (!created_) {
        cinfo_.err = jpeg_std_error(&errors_.manager);
        errors_.manager.error_exit = OnJpegError;
        errors_.manager.emit_message = OnJpegMessage;
        jpeg_create_decompress(&cinfo_);
        created_ = true;
        progress_.progress_monitor = OnJpegProgress;
        cinfo_.progress = &progress_;
    }
    errors_.manager.num_warnings = 0;
    return cinfo_;
}

}  // namespace fotolane::picture::detail
