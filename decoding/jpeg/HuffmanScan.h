#pragma once

// The entropy decoding of a baseline JPEG's one scan, done here rather than
// by libjpeg, for the thumbnailer's sparse reconstruction: a decoder of only
// the common case (sequential Huffman coding, every component in the one
// scan) can be faster than libjpeg's general one. It gives the same
// coefficients as libjpeg or gives up: anything libjpeg would warn about,
// read past or treat in a way of its own (damaged codes, missing or
// misnumbered restart markers, bytes before a marker, anything but the end
// of the picture after the scan) makes it return false, and the caller then
// lets libjpeg decode the file.

#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace fotolane::picture::detail {

// Where the decoded blocks go.
class ScanBlockRows {
  public:
    // The zeroed block rows of component `component` (its index in the
    // frame) that MCU row `mcuRow` fills: as many as the component's
    // vertical sampling factor, each the first of as many blocks as an MCU
    // row of the component holds. The rows of earlier MCU rows are complete
    // when this is called, and are not written again. The array returned
    // stays valid until the next call for the same component; null when
    // the rows cannot be given, and the decoder gives up.
    virtual JBLOCKROW* RowsOf(int component, JDIMENSION mcuRow) = 0;

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

}  // namespace fotolane::picture::detail
