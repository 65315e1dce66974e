#pragma once

// The entropy decoding of a baseline JPEG's one scan, and of a progressive
// JPEG's scans, done here rather than by libjpeg, for the thumbnailer's
// sparse reconstruction: a decoder of only the common cases (Huffman
// coding, every component in the one scan of a baseline file) can be faster
// than libjpeg's general one. It gives the same coefficients as libjpeg or
// gives up: anything libjpeg would warn about, read past or treat in a way
// of its own (damaged codes, missing or misnumbered restart markers, bytes
// before a marker, anything but the end of the picture after the scan, or
// after a progressive file's last) makes it return false, and the caller
// then lets libjpeg decode the file.

#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace fotolane::picture::detail {

// Which blocks of a component are read once decoded: a flag for each block
// column and each block row (a block is read when both are set); empty
// flags read every one.
struct BlockMask {
    std::span<const std::uint8_t> columns;
    std::span<const std::uint8_t> rows;
    bool Column(JDIMENSION x) const {
        return columns.empty() || (x < columns.size() && columns[x] != 0);
    }
    bool Row(JDIMENSION y) const { return rows.empty() || (y < rows.size() && rows[y] != 0); }
};

// Where the decoded blocks go.
class ScanBlockRows {
  public:
    // The blocks of component `component` (its index in the frame) that
    // are read: the others are passed over, written with nothing. Every
    // block unless told otherwise.
    virtual BlockMask WantedBlocks(int /*component*/) const { return {}; }

    // The block rows of component `component` (its index in the frame) that
    // MCU row `mcuRow` fills: as many as the component's vertical sampling
    // factor, each the first of as many blocks as an MCU row of the
    // component holds; zeroed, unless `decoderZeroes` (the decoder then
    // zeroes each block it writes as it decodes it, while it is in the
    // cache, and leaves the others as they are). The rows of earlier MCU
    // rows are complete when this is called, and are not written again.
    // The array returned stays valid until the next call for the same
    // component; null when the rows cannot be given, and the decoder gives
    // up.
    virtual JBLOCKROW* RowsOf(int component, JDIMENSION mcuRow, bool decoderZeroes) = 0;

  protected:
    ~ScanBlockRows() = default;
};

// The decoding tables of the DC and the AC Huffman table in each of libjpeg's
// NUM_HUFF_TBLS places (HuffmanScan.cpp), 29 KB each.
struct HuffmanTables;

// Memory kept from one picture to the next, in the sampling decoder that
// each worker has: the entropy-coded data without its byte stuffing, and
// the decoding tables, made once and built anew in place for each picture.
struct HuffmanScanMemory {
    HuffmanScanMemory();
    HuffmanScanMemory(const HuffmanScanMemory&) = delete;
    HuffmanScanMemory& operator=(const HuffmanScanMemory&) = delete;
    ~HuffmanScanMemory();

    std::vector<std::uint8_t> data;
    std::vector<std::size_t> segmentEnds;  // where each restart interval's data ends
    std::unique_ptr<HuffmanTables> tables;
};

// Whether the decoder takes this file: libjpeg has read its header up to
// the first scan, and the file is baseline-like (Huffman, 8-bit, one scan of
// every component). The caller also knows that the scan is the file's only
// one.
bool HuffmanScanFits(const jpeg_decompress_struct& cinfo);

// Decodes the scan from `data`, the bytes after its header (libjpeg's source
// as jpeg_read_header leaves it), into `rows`, MCU row by MCU row. False
// when it gives up; the blocks written until then mean nothing.
bool DecodeHuffmanScan(const jpeg_decompress_struct& cinfo, std::span<const std::uint8_t> data,
                       ScanBlockRows& rows, HuffmanScanMemory& memory);

// One block row of a progressive file: its blocks, whose values are wanted,
// or else a mask of each block's coefficients that are not zero (bit k for
// zigzag position k), all that a later scan reads of a block. The masks
// start at zero, and the decoder keeps them; a refinement scan passes over
// the corrections of a masked block's coefficients.
struct ScanRow {
    JBLOCKROW blocks = nullptr;
    std::uint64_t* masks = nullptr;
};

// Where the scans of a progressive file put their blocks.
class ScanBlockArrays {
  public:
    // Block rows `first` to `first` + `count` - 1 of component `component`
    // (its index in the frame), as libjpeg's coefficient controller asks its
    // arrays for them: a row of MCUs at a time, `count` its vertical
    // sampling factor. Null when the rows cannot be given, and the decoder
    // gives up.
    virtual const ScanRow* RowsOf(int component, JDIMENSION first, JDIMENSION count) = 0;

  protected:
    ~ScanBlockArrays() = default;
};

// Whether DecodeProgressiveScans takes the file: libjpeg has read its
// header up to the first scan, and it is progressive with Huffman coding, 8
// bits a sample.
bool ProgressiveScansFit(const jpeg_decompress_struct& cinfo);

// Decodes every scan of a progressive file, the first from `data` (libjpeg's
// source as jpeg_read_header leaves it), the others after the tables and
// headers read here, into `arrays`. It gives the coefficients libjpeg gives
// or gives up: on anything libjpeg would warn about or refuse (a broken
// code, a scan that contradicts the progression, data that ends early or
// goes on past a scan, restart markers out of turn), and on a quantisation
// table between scans. False when it gives up; the blocks written until
// then mean nothing.
bool DecodeProgressiveScans(const jpeg_decompress_struct& cinfo, std::span<const std::uint8_t> data,
                            ScanBlockArrays& arrays, HuffmanScanMemory& memory);

}  // namespace fotolane::picture::detail
