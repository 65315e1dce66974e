// The thumbnailer's decoder against the whole decode: the sampled pixels of
// every test picture, and of pictures of every chroma layout made here, come
// out as DecodePicture gives them.

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "decoding/PictureDecoder.h"
#include "decoding/SamplingDecoder.h"
#include "platform/core/Fault.h"
#include "tests/TempFolder.h"
#include "tests/decoding/decoder_support.h"

namespace fotolane::picture {
namespace {

using fotolane::testing::TestData;

// Pairs of neighbours (both parities) every `step` pixels, at most about 40
// pairs, and the last pixel: both edges.
std::vector<std::int32_t> Positions(std::int32_t length, std::int32_t step) {
    step = std::max(step, length / 40 | 1);
    std::vector<std::int32_t> positions;
    for (std::int32_t at = 0; at < length; at += step) {
        positions.push_back(at);
        if (at + 1 < length) positions.push_back(at + 1);
    }
    if (positions.back() != length - 1) positions.push_back(length - 1);
    return positions;
}

struct Difference {
    int largest = 0;
    long differing = 0;
    long compared = 0;
};

// Decodes the file both ways; false when DecodePicture refuses it.
// Rows every `rowStep` pixels: a large step leaves block rows unsampled.
bool Compare(const std::string& path, SamplingDecoder& decoder, Difference& difference,
             bool& sparse, std::int32_t rowStep = 5) {
    PixelRows whole;
    try {
        // Both decodes at once: the memory budget would refuse the second of
        // a huge picture.
        const PictureSize header = ReadPictureSize(path);
        if (static_cast<double>(header.width) * header.height > 40e6) return false;
        whole = DecodePicture(path);
    } catch (const Fault&) {
        return false;
    }
    const PictureSize size = decoder.Open(path);
    EXPECT_EQ(size.width, whole.width);
    EXPECT_EQ(size.height, whole.height);
    const SampledPixels sampled{Positions(size.width, 7), Positions(size.height, rowStep)};
    PixelRows rows;
    decoder.Decode(sampled, rows);
    sparse = decoder.DecodedSparsely();
    for (const std::int32_t y : sampled.rows) {
        const std::uint8_t* a = whole.ScanLine(whole.height - 1 - y);
        const std::uint8_t* b = rows.ScanLine(rows.height - 1 - y);
        for (const std::int32_t x : sampled.columns) {
            int largest = 0;
            for (int i = 0; i < 3; ++i)
                largest = std::max(largest, std::abs(a[3 * x + i] - b[3 * x + i]));
            difference.largest = std::max(difference.largest, largest);
            difference.differing += largest > 0 ? 1 : 0;
            ++difference.compared;
        }
    }
    return true;
}

bool IsPictureFile(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".jpg" || extension == ".jpeg" || extension == ".bmp" ||
           extension == ".gif";
}

// Sparse reconstruction (wherever a file allows it) gives the whole
// decode's pixels exactly: libjpeg-turbo's integer inverse DCT, smooth
// upsampling and colour conversion, with orientation, progressive and
// arithmetic coding, restart markers, greyscale of any sampling. Bitmaps and
// GIFs are the whole decode's too, whether or not the decoder gave back its
// memory after the last picture.
TEST(SamplingDecoder, SampledPixelsAreTheWholeDecodesForEveryTestPicture) {
    SamplingDecoder decoder(SamplingDecoder::Sparse::WheneverPossible);
    Difference difference;
    int pictures = 0;
    int sparse = 0;
    for (const char* set : {"libjpeg-turbo-testimages", "exif-orientation-examples", "jpeg-decoder",
                            "image-rs", "bmpsuite", "image-gif", "pillow"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(TestData(set))) {
            if (!entry.is_regular_file() || !IsPictureFile(entry.path())) continue;
            SCOPED_TRACE(entry.path().string());
            bool wasSparse = false;
            if (!Compare(entry.path().string(), decoder, difference, wasSparse)) continue;
            ++pictures;
            sparse += wasSparse ? 1 : 0;
            // Memory given back between pictures is made again at the next.
            if (pictures % 3 == 0) decoder.ReleaseMemory();
        }
    }
    EXPECT_EQ(difference.largest, 0) << difference.differing << " of " << difference.compared;
    EXPECT_GT(pictures, 200);
    EXPECT_GT(sparse, 60);
}

// `jpeg` with its frame header claiming `height` lines.
std::string ClaimingHeight(std::string jpeg, int height) {
    std::size_t at = 2;
    while (at + 7 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
        const auto marker = static_cast<unsigned char>(jpeg[at + 1]);
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            jpeg[at + 5] = static_cast<char>(height >> 8);
            jpeg[at + 6] = static_cast<char>(height & 0xFF);
            return jpeg;
        }
        at += 2 + (static_cast<std::size_t>(static_cast<unsigned char>(jpeg[at + 2])) << 8 |
                   static_cast<unsigned char>(jpeg[at + 3]));
    }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

// Files that libjpeg warns about, so that they are decoded whole, in each
// of the eight orientations: data cut short, and a frame claiming far more
// lines than the data reaches. Decoded as stored and sampled through the
// orientation, they give the whole decode's pixels (black below the data).
TEST(SamplingDecoder, DamagedFilesAreSampledThroughTheirOrientation) {
    testing::TempFolder folder;
    SamplingDecoder decoder(SamplingDecoder::Sparse::WheneverPossible);
    Difference difference;
    int pictures = 0;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const std::string source =
            TestData("exif-orientation-examples/Landscape_" + std::to_string(orientation) + ".jpg");
        const std::string bytes = testing::ReadFile(source);
        for (const std::string& damaged :
             {bytes.substr(0, bytes.size() * 2 / 5) + "\xFF\xD9",
              ClaimingHeight(bytes.substr(0, bytes.size() / 10) + "\xFF\xD9", 12000)}) {
            SCOPED_TRACE(source + " of " + std::to_string(damaged.size()) + " bytes");
            const std::string path = folder / "damaged.jpg";
            folder.Write("damaged.jpg", damaged);
            bool sparse = true;
            ASSERT_TRUE(Compare(path, decoder, difference, sparse, 97));
            EXPECT_FALSE(sparse);
            ++pictures;
        }
    }
    EXPECT_EQ(pictures, 16);
    EXPECT_EQ(difference.largest, 0) << difference.differing << " of " << difference.compared;
}

// A progressive file in arithmetic coding, which TurboJPEG 2.1 does not
// write, through libjpeg, in TurboJPEG's chroma layout `subsampling`.
std::vector<unsigned char> ArithmeticProgressive(const std::vector<unsigned char>& rgb, int width,
                                                 int height, int subsampling) {
    testing::MemoryJpegWriter writer;
    jpeg_compress_struct& cinfo = writer.cinfo;
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    if (subsampling == TJSAMP_GRAY) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    cinfo.comp_info[0].h_samp_factor = tjMCUWidth[subsampling] / 8;
    cinfo.comp_info[0].v_samp_factor = tjMCUHeight[subsampling] / 8;
    cinfo.arith_code = TRUE;
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(rgb.data()) +
                       std::size_t{cinfo.next_scanline} * static_cast<std::size_t>(width) * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return writer.Bytes();
}

constexpr int kArithmeticProgressive = -1;

// Pictures of every chroma layout TurboJPEG writes, odd sizes, noisy
// content, baseline, progressive and arithmetic progressive, sampled densely
// and sparsely (whole block rows left out), decoded sparsely: exactly the
// whole decode.
TEST(SamplingDecoder, EveryChromaLayoutIsReconstructedExactly) {
    testing::TempFolder folder;
    tjhandle encoder = tjInitCompress();
    ASSERT_NE(encoder, nullptr);
    SamplingDecoder decoder(SamplingDecoder::Sparse::WheneverPossible);
    Difference difference;
    unsigned seed = 7;
    // Baseline first: TurboJPEG 2.1 writes broken baseline files with a
    // handle that has written a progressive one.
    for (const int flags : {0, TJFLAG_PROGRESSIVE, kArithmeticProgressive}) {
        for (const int subsampling :
             {TJSAMP_444, TJSAMP_422, TJSAMP_420, TJSAMP_440, TJSAMP_411, TJSAMP_GRAY}) {
            for (const auto& [width, height, rowStep] :
                 {std::tuple{203, 117, 5}, std::tuple{4, 9, 5}, std::tuple{61, 3, 5},
                  std::tuple{45, 611, 37}}) {
                std::vector<unsigned char> pixels(static_cast<std::size_t>(width * height * 3));
                for (std::size_t i = 0; i < pixels.size(); ++i) {
                    seed = seed * 1103515245u + 12345u;
                    // Smooth ramps with noise: large and small coefficients.
                    pixels[i] = static_cast<unsigned char>((i * 7 / 3 + (seed >> 24) / 4) & 0xFF);
                }
                std::vector<unsigned char> jpeg;
                if (flags == kArithmeticProgressive) {
                    jpeg = ArithmeticProgressive(pixels, width, height, subsampling);
                } else {
                    unsigned char* written = nullptr;
                    unsigned long size = 0;
                    ASSERT_EQ(tjCompress2(encoder, pixels.data(), width, 0, height, TJPF_RGB,
                                          &written, &size, subsampling, 90, flags),
                              0);
                    jpeg.assign(written, written + size);
                    tjFree(written);
                }
                const std::string path =
                    folder / ("layout" + std::to_string(subsampling) + "_" + std::to_string(width) +
                              "_" + std::to_string(flags + 1) + ".jpg");
                {
                    std::FILE* file = std::fopen(path.c_str(), "wb");
                    ASSERT_NE(file, nullptr);
                    std::fwrite(jpeg.data(), 1, jpeg.size(), file);
                    std::fclose(file);
                }
                SCOPED_TRACE(path);
                bool sparse = false;
                ASSERT_TRUE(Compare(path, decoder, difference, sparse, rowStep));
                EXPECT_TRUE(sparse);
            }
        }
    }
    tjDestroy(encoder);
    EXPECT_EQ(difference.largest, 0) << difference.differing << " of " << difference.compared;
}

// A sound file whose coefficients are far beyond what a picture gives (a
// damaged one, in effect: 16-bit sums in the inverse DCT wrap around, its
// results saturate, blocks of a first coefficient row only take its
// shortcut) is reconstructed as the whole decode has it.
TEST(SamplingDecoder, OverflowingCoefficientsGiveTheWholeDecodesPixels) {
    constexpr JDIMENSION kBlocks = 8;  // across and down
    testing::MemoryJpegWriter writer;
    jpeg_compress_struct& cinfo = writer.cinfo;
    cinfo.image_width = cinfo.image_height = 8 * kBlocks;
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    const std::vector<unsigned int> steps(64, 100);
    jpeg_add_quant_table(&cinfo, 0, steps.data(), 100, FALSE);
    cinfo.optimize_coding = TRUE;
    jvirt_barray_ptr blocks = (*cinfo.mem->request_virt_barray)(
        reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, TRUE, kBlocks, kBlocks, kBlocks);
    jpeg_write_coefficients(&cinfo, &blocks);
    JBLOCKARRAY rows = (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                        blocks, 0, kBlocks, TRUE);
    unsigned seed = 3;
    for (JDIMENSION y = 0; y < kBlocks; ++y) {
        for (JDIMENSION x = 0; x < kBlocks; ++x) {
            // Every kind of block: small and large values, a first row only.
            const int most = 20 + 60 * static_cast<int>((x + y) % 5);
            const int coefficients = (x + 2 * y) % 7 == 0 ? 8 : 64;
            for (int k = 0; k < coefficients; ++k) {
                seed = seed * 1103515245u + 12345u;
                rows[y][x][k] =
                    static_cast<JCOEF>(static_cast<int>(seed >> 16) % (2 * most + 1) - most);
            }
        }
    }
    jpeg_finish_compress(&cinfo);
    const std::vector<unsigned char> jpeg = writer.Bytes();
    testing::TempFolder folder;
    folder.Write("overflowing.jpg", std::string(jpeg.begin(), jpeg.end()));
    const std::string path = folder / "overflowing.jpg";

    SamplingDecoder decoder(SamplingDecoder::Sparse::WheneverPossible);
    Difference difference;
    bool sparse = false;
    ASSERT_TRUE(Compare(path, decoder, difference, sparse, 1));
    EXPECT_TRUE(sparse);
    EXPECT_EQ(difference.largest, 0) << difference.differing << " of " << difference.compared;
}

// A CMYK file is decoded whole, and a damaged one gives the whole decode's
// picture or fault.
TEST(SamplingDecoder, FilesItDoesNotReconstructAreDecodedWhole) {
    SamplingDecoder decoder(SamplingDecoder::Sparse::WheneverPossible);
    Difference difference;
    bool sparse = true;
    ASSERT_TRUE(Compare(TestData("pillow/jpeg/pil_sample_cmyk.jpg"), decoder, difference, sparse));
    EXPECT_FALSE(sparse);
    EXPECT_EQ(difference.largest, 0);
    EXPECT_THROW(decoder.Open(TestData("jpeg-decoder/crashtest/empty.jpg")), Fault);
}

}  // namespace
}  // namespace fotolane::picture
