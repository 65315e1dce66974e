// Our own entropy decoding of baseline scans and of progressive files
// against libjpeg's jpeg_read_coefficients: whenever it takes a file,
// libjpeg decodes that file without a warning to the very same
// coefficients, also when only some blocks are read (the others passed
// over). Over the test pictures, files of every chroma layout and restart
// interval made here, and damaged copies of two of them.

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "decoding/jpeg/HuffmanScan.h"
#include "tests/decoding/decoder_support.h"

namespace fotolane::picture::detail {
namespace {

using Bytes = std::vector<unsigned char>;
using Blocks = std::vector<std::vector<JCOEF>>;  // every component's blocks, row by row

struct Decompressor {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump{};

    Decompressor() {
        cinfo.err = jpeg_std_error(&errors);
        errors.error_exit = [](j_common_ptr common) {
            std::longjmp(reinterpret_cast<Decompressor*>(common->client_data)->jump, 1);
        };
        errors.emit_message = [](j_common_ptr common, int level) {
            if (level < 0) ++common->err->num_warnings;
        };
        jpeg_create_decompress(&cinfo);
        cinfo.client_data = this;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

// A component's block array as libjpeg shapes it: padded to whole MCUs.
JDIMENSION BlocksAcross(const jpeg_component_info& info) {
    const auto h = static_cast<JDIMENSION>(info.h_samp_factor);
    return (info.width_in_blocks + h - 1) / h * h;
}
JDIMENSION BlockRows(const jpeg_component_info& info) {
    const auto v = static_cast<JDIMENSION>(info.v_samp_factor);
    return (info.height_in_blocks + v - 1) / v * v;
}

// Whether a block is read when only some are (`masked`): every third block
// column of every other block row.
bool Read(JDIMENSION x, JDIMENSION y) {
    return x % 3 == 1 && y % 2 == 0;
}

class AllRows final : public ScanBlockRows, public ScanBlockArrays {
  public:
    AllRows(const jpeg_decompress_struct& cinfo, bool masked) : cinfo_(cinfo) {
        for (int c = 0; c < cinfo.num_components; ++c) {
            const jpeg_component_info& info = cinfo.comp_info[c];
            blocks.emplace_back(std::size_t{BlocksAcross(info)} * BlockRows(info) * 64, JCOEF{0});
            auto& [columns, rows] = masks_[static_cast<std::size_t>(c)];
            if (!masked) continue;
            for (JDIMENSION x = 0; x < BlocksAcross(info); ++x) columns.push_back(Read(x, 0));
            for (JDIMENSION y = 0; y < BlockRows(info); ++y) rows.push_back(Read(1, y));
        }
    }
    BlockMask WantedBlocks(int component) const override {
        const auto& [columns, rows] = masks_[static_cast<std::size_t>(component)];
        return {columns, rows};
    }
    JBLOCKROW* RowsOf(int component, JDIMENSION mcuRow, bool) override {
        const jpeg_component_info& info = cinfo_.comp_info[component];
        std::vector<JBLOCKROW>& handed = handed_[static_cast<std::size_t>(component)];
        handed.clear();
        for (int r = 0; r < info.v_samp_factor; ++r) {
            const std::size_t row =
                std::size_t{mcuRow} * static_cast<std::size_t>(info.v_samp_factor) +
                static_cast<std::size_t>(r);
            handed.push_back(
                reinterpret_cast<JBLOCKROW>(blocks[static_cast<std::size_t>(component)].data() +
                                            row * BlocksAcross(info) * 64));
        }
        return handed.data();
    }
    const ScanRow* RowsOf(int component, JDIMENSION first, JDIMENSION count) override {
        const jpeg_component_info& info = cinfo_.comp_info[component];
        if (count != static_cast<JDIMENSION>(info.v_samp_factor) || first % count != 0) {
            return nullptr;
        }
        JBLOCKROW* rows = RowsOf(component, first / count, false);
        std::vector<ScanRow>& handed = scanRows_[static_cast<std::size_t>(component)];
        handed.clear();
        for (JDIMENSION r = 0; r < count; ++r) handed.push_back({rows[r], nullptr});
        return handed.data();
    }
    Blocks blocks;

  private:
    const jpeg_decompress_struct& cinfo_;
    std::array<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>, 4> masks_;
    std::array<std::vector<JBLOCKROW>, 4> handed_;  // each component's rows last handed out
    std::array<std::vector<ScanRow>, 4> scanRows_;
};

// Our decoding (`masked`: some blocks only read, the others passed over);
// false when it does not take the file.
bool DecodeOurs(const Bytes& jpeg, Blocks& blocks, bool masked = false) {
    Decompressor d;
    if (setjmp(d.jump) != 0) return false;
    jpeg_mem_src(&d.cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    if (jpeg_read_header(&d.cinfo, TRUE) != JPEG_HEADER_OK || d.errors.num_warnings != 0) {
        return false;
    }
    AllRows rows(d.cinfo, masked);
    HuffmanScanMemory memory;
    const std::span<const std::uint8_t> data{d.cinfo.src->next_input_byte,
                                             d.cinfo.src->bytes_in_buffer};
    if (ProgressiveScansFit(d.cinfo)) {
        if (!DecodeProgressiveScans(d.cinfo, data, rows, memory)) return false;
    } else if (!HuffmanScanFits(d.cinfo) || !DecodeHuffmanScan(d.cinfo, data, rows, memory)) {
        return false;
    }
    blocks = std::move(rows.blocks);
    return true;
}

// libjpeg's decoding; false when it fails or warns.
bool DecodeLibjpeg(const Bytes& jpeg, Blocks& blocks) {
    Decompressor d;
    if (setjmp(d.jump) != 0) return false;
    jpeg_mem_src(&d.cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d.cinfo, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&d.cinfo);
    if (arrays == nullptr || d.errors.num_warnings != 0) return false;
    blocks.clear();
    for (int c = 0; c < d.cinfo.num_components; ++c) {
        const jpeg_component_info& info = d.cinfo.comp_info[c];
        std::vector<JCOEF>& out = blocks.emplace_back();
        for (JDIMENSION row = 0; row < BlockRows(info); ++row) {
            JBLOCKARRAY got = (*d.cinfo.mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(&d.cinfo), arrays[c], row, 1, FALSE);
            const JCOEF* first = got[0][0];
            out.insert(out.end(), first, first + std::size_t{BlocksAcross(info)} * 64);
        }
    }
    jpeg_finish_decompress(&d.cinfo);
    return d.errors.num_warnings == 0;
}

// Whether our decoding took the file; fails the test when it took it and
// libjpeg warns or differs.
// A baseline file is taken alike when only some blocks are read, those the
// same and the others left as they were.
bool TakenAndSame(const Bytes& jpeg) {
    Blocks ours;
    const bool taken = DecodeOurs(jpeg, ours);
    Blocks masked;
    const bool maskedTaken = DecodeOurs(jpeg, masked, true);
    if (!taken) {
        EXPECT_FALSE(maskedTaken) << "taken when only some blocks are read";
        return false;
    }
    Blocks theirs;
    EXPECT_TRUE(DecodeLibjpeg(jpeg, theirs)) << "taken, but libjpeg fails or warns";
    EXPECT_TRUE(ours == theirs) << "coefficients differ";
    EXPECT_TRUE(maskedTaken) << "not taken when only some blocks are read";
    if (!maskedTaken || masked.size() != ours.size()) return true;
    Decompressor d;
    jpeg_mem_src(&d.cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d.cinfo, TRUE);
    if (d.cinfo.progressive_mode) return true;
    for (std::size_t c = 0; c < ours.size(); ++c) {
        const JDIMENSION across = BlocksAcross(d.cinfo.comp_info[c]);
        for (std::size_t b = 0; b < ours[c].size() / 64; ++b) {
            const bool read =
                Read(static_cast<JDIMENSION>(b % across), static_cast<JDIMENSION>(b / across));
            const auto first = static_cast<std::ptrdiff_t>(b * 64);
            const bool same = std::equal(masked[c].begin() + first, masked[c].begin() + first + 64,
                                         ours[c].begin() + first);
            const bool zero = std::all_of(masked[c].begin() + first, masked[c].begin() + first + 64,
                                          [](JCOEF v) { return v == 0; });
            if (read ? !same : !zero) {
                ADD_FAILURE() << "block " << b << " of component " << c << " when some are read";
                return true;
            }
        }
    }
    return true;
}

Bytes ReadFile(const std::filesystem::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    Bytes bytes;
    if (file == nullptr) return bytes;
    unsigned char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(file);
    return bytes;
}

TEST(HuffmanScan, TakesTheTestPicturesAsLibjpegDecodesThem) {
    int taken = 0;
    for (const char* set : {"libjpeg-turbo-testimages", "exif-orientation-examples", "jpeg-decoder",
                            "image-rs", "pillow"}) {
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(fotolane::testing::TestData(set))) {
            std::string extension = entry.path().extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (!entry.is_regular_file() || (extension != ".jpg" && extension != ".jpeg")) continue;
            SCOPED_TRACE(entry.path().string());
            taken += TakenAndSame(ReadFile(entry.path())) ? 1 : 0;
        }
    }
    EXPECT_GT(taken, 50);
}

struct Layout {
    int components;  // 1: grey
    int h;           // the first component's sampling factors
    int v;
};

// Noisy ramps through libjpeg: large and small coefficients, long codes
// with optimised tables.
Bytes Compress(const Layout& layout, int width, int height, int quality, unsigned restartInterval,
               bool restartEveryRow, bool optimise, bool progressive = false) {
    fotolane::testing::MemoryJpegWriter writer;
    jpeg_compress_struct& cinfo = writer.cinfo;
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = layout.components;
    cinfo.in_color_space = layout.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.comp_info[0].h_samp_factor = layout.h;
    cinfo.comp_info[0].v_samp_factor = layout.v;
    cinfo.restart_interval = restartInterval;
    if (restartEveryRow) cinfo.restart_in_rows = 1;
    cinfo.optimize_coding = optimise ? TRUE : FALSE;
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    const auto rowBytes = static_cast<std::size_t>(width * layout.components);
    std::vector<unsigned char> row(rowBytes);
    unsigned seed = 11;
    while (cinfo.next_scanline < cinfo.image_height) {
        for (std::size_t i = 0; i < rowBytes; ++i) {
            seed = seed * 1103515245u + 12345u;
            row[i] =
                static_cast<unsigned char>((i * 5 + cinfo.next_scanline * 3 + (seed >> 25)) & 0xFF);
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    return writer.Bytes();
}

TEST(HuffmanScan, TakesEveryLayoutAndRestartInterval) {
    for (const Layout layout : {Layout{3, 1, 1}, Layout{3, 2, 1}, Layout{3, 2, 2}, Layout{3, 1, 2},
                                Layout{3, 4, 1}, Layout{1, 1, 1}, Layout{1, 2, 2}}) {
        for (const auto& [width, height] : {std::pair{203, 117}, std::pair{17, 9}}) {
            for (const auto& [restart, everyRow] : {std::pair{0u, false}, std::pair{1u, false},
                                                    std::pair{5u, false}, std::pair{0u, true}}) {
                for (const auto& [quality, progressive] :
                     {std::pair{50, false}, std::pair{100, false}, std::pair{50, true},
                      std::pair{100, true}}) {
                    SCOPED_TRACE(::testing::Message()
                                 << layout.components << " components " << layout.h << "x"
                                 << layout.v << ", " << width << "x" << height << ", restart "
                                 << restart << (everyRow ? " (every row)" : "") << ", quality "
                                 << quality << (progressive ? ", progressive" : ""));
                    EXPECT_TRUE(TakenAndSame(Compress(layout, width, height, quality, restart,
                                                      everyRow, quality == 100, progressive)));
                }
            }
        }
    }
}

// Where the markers stand in a file: the entropy-coded data after the
// header, the restart markers in it, the end of the picture.
std::vector<std::size_t> MarkersIn(const Bytes& jpeg, std::size_t from) {
    std::vector<std::size_t> at;
    for (std::size_t i = from; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] != 0 && jpeg[i + 1] != 0xFF) at.push_back(i);
    }
    return at;
}

// Damaged copies of a file with restart markers: any byte changed, the
// file cut anywhere, markers renumbered, dropped or with bytes before them,
// other segments after the scan. Whatever our decoding takes, libjpeg
// decodes alike without a warning.
TEST(HuffmanScan, TakesNoDamagedFileThatLibjpegReadsOtherwise) {
    for (const bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        const Bytes clean = Compress({3, 2, 2}, 203, 117, 90, 4, false, false, progressive);
        // The last scan's, and of a progressive file, its headers and tables too.
        std::size_t scanStart = 0;
        for (std::size_t i = 0; i + 1 < clean.size(); ++i) {
            if (clean[i] == 0xFF && clean[i + 1] == (progressive ? 0xC4 : 0xDA) && scanStart == 0) {
                scanStart = i;
            }
        }
        ASSERT_GT(scanStart, 0u);
        ASSERT_TRUE(TakenAndSame(clean));
        const std::vector<std::size_t> markers = MarkersIn(clean, scanStart + 14);
        ASSERT_GT(markers.size(), 3u);  // restart markers, then the end of the picture

        std::vector<Bytes> damaged;
        for (std::size_t at = scanStart; at < clean.size(); at += progressive ? 47 : 19) {
            for (const int change : {0x01, 0x80, 0xFF}) {
                Bytes copy = clean;
                copy[at] = static_cast<unsigned char>(copy[at] ^ change);
                damaged.push_back(copy);
            }
            damaged.emplace_back(clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(at));
        }
        for (const std::size_t marker : markers) {
            Bytes renumbered = clean;
            renumbered[marker + 1] = static_cast<unsigned char>(renumbered[marker + 1] ^ 1);
            damaged.push_back(renumbered);
            Bytes dropped = clean;
            dropped.erase(dropped.begin() + static_cast<std::ptrdiff_t>(marker),
                          dropped.begin() + static_cast<std::ptrdiff_t>(marker) + 2);
            damaged.push_back(dropped);
            for (const Bytes& before : {Bytes{0x00}, Bytes{0x12, 0x34}, Bytes{0xFF, 0xFF}}) {
                Bytes inserted = clean;
                inserted.insert(inserted.begin() + static_cast<std::ptrdiff_t>(marker),
                                before.begin(), before.end());
                damaged.push_back(inserted);
            }
        }
        Bytes comment = clean;
        const Bytes segment{0xFF, 0xFE, 0x00, 0x04, 'h', 'i'};
        comment.insert(comment.end() - 2, segment.begin(), segment.end());
        damaged.push_back(comment);

        for (std::size_t i = 0; i < damaged.size(); ++i) {
            SCOPED_TRACE("damaged copy " + std::to_string(i));
            TakenAndSame(damaged[i]);
        }
    }
}

}  // namespace
}  // namespace fotolane::picture::detail
