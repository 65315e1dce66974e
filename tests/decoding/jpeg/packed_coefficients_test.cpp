// libjpeg's decode of files of several scans with their coefficients packed
// between its visits: the very lines of TurboJPEG's own decode, whatever
// the values (small, or beyond a byte) and for a file cut short, in a
// fraction of the memory when they are small.

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>
#include <turbojpeg.h>

#include <cstddef>
#include <string>
#include <vector>

#include "decoding/jpeg/LibjpegSession.h"
#include "decoding/jpeg/PackedCoefficients.h"
#include "platform/core/MemoryBudget.h"

namespace fotolane::picture::detail {
namespace {

using Bytes = std::vector<unsigned char>;

// The lines of `jpeg` by libjpeg, B, G, R, one after another, its arrays in
// `packed`; false on an error. Nothing here owns anything: an error jumps
// back past this frame.
bool DecodePacked(LibjpegSession& session, PackedCoefficients& packed, const Bytes& jpeg,
                  unsigned char* out) {
    if (setjmp(session.Jump()) != 0) return false;
    jpeg_decompress_struct& cinfo = session.Begin();
    packed.TakeOver(cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
    cinfo.out_color_space = JCS_EXT_BGR;
    if (jpeg_start_decompress(&cinfo) == FALSE) return false;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out + std::size_t{cinfo.output_scanline} * cinfo.output_width * 3;
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
    }
    return jpeg_finish_decompress(&cinfo) != FALSE;
}

TEST(PackedCoefficients, GiveLibjpegsLinesInAFractionOfTheMemory) {
    constexpr int kWidth = 203;
    constexpr int kHeight = 117;
    tjhandle encoder = tjInitCompress();
    tjhandle decoder = tjInitDecompress();
    ASSERT_NE(encoder, nullptr);
    ASSERT_NE(decoder, nullptr);
    for (const int subsampling : {TJSAMP_444, TJSAMP_420, TJSAMP_GRAY}) {
        // Smooth ramps at an ordinary quality; noise at the highest, whose
        // coefficients are large.
        for (const bool noisy : {false, true}) {
            SCOPED_TRACE(std::to_string(subsampling) + (noisy ? " noisy" : " smooth"));
            Bytes pixels(std::size_t{kWidth} * kHeight * 3);
            unsigned seed = 11;
            for (std::size_t i = 0; i < pixels.size(); ++i) {
                seed = seed * 1103515245u + 12345u;
                const std::size_t x = i / 3 % kWidth;
                const std::size_t y = i / 3 / kWidth;
                pixels[i] =
                    static_cast<unsigned char>(noisy ? seed >> 24 : (x + 2 * y + i % 3) / 2);
            }
            unsigned char* written = nullptr;
            unsigned long size = 0;
            ASSERT_EQ(tjCompress2(encoder, pixels.data(), kWidth, 0, kHeight, TJPF_RGB, &written,
                                  &size, subsampling, noisy ? 100 : 75, TJFLAG_PROGRESSIVE),
                      0);
            const Bytes jpeg(written, written + size);
            tjFree(written);
            // Whole, and cut short: libjpeg then smooths the blocks whose
            // coefficients are not all there, reading their neighbours.
            Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 2));
            cut.insert(cut.end(), {0xFF, 0xD9});
            for (const Bytes& file : {jpeg, cut}) {
                Bytes whole(pixels.size());
                tjDecompress2(decoder, file.data(), static_cast<unsigned long>(file.size()),
                              whole.data(), kWidth, 0, kHeight, TJPF_BGR, 0);
                LibjpegSession session;
                PackedCoefficients packed;
                PictureMemory working;
                Bytes lines(pixels.size());
                {
                    const SessionPicture picture(session, working);
                    ASSERT_TRUE(DecodePacked(session, packed, file, lines.data()));
                }
                EXPECT_EQ(lines, whole);
                const std::size_t blocks =
                    (kWidth + 7) / 8 * ((kHeight + 7) / 8) * (subsampling == TJSAMP_GRAY ? 1 : 3);
                if (!noisy) {
                    EXPECT_LT(packed.PackedBytes(), blocks * 128 / 4);
                }
            }
        }
    }
    tjDestroy(decoder);
    tjDestroy(encoder);
}

}  // namespace
}  // namespace fotolane::picture::detail
