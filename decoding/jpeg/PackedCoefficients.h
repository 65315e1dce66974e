#pragma once

// Where libjpeg keeps the coefficients of a file of several scans (a
// progressive one above all) while it decodes it whole: jdcoefct.c's
// whole-picture block arrays, replaced through libjpeg's memory manager
// (request_virt_barray, access_virt_barray of jpeg_memory_mgr). libjpeg
// keeps every coefficient until the last scan, 128 bytes a block: 88 MB
// for a 5120 x 2880 photo without chroma subsampling. Most of them are
// zero and most others small, so each block row is kept packed while
// libjpeg is not at it: each block as a byte telling which of its eight
// rows of coefficients are not all zero and a byte telling which of those
// fit in a byte each, followed by those rows, 8 or 16 bytes each. libjpeg
// works on a block row in between, unpacked: it visits the rows one MCU
// row at a time, once a scan and once more for the pixels.
//
// The pixels are libjpeg's own, to the byte; what it costs is a packing
// and an unpacking of each block row at each visit.

#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace fotolane::picture::detail {

class PackedCoefficients {
  public:
    // libjpeg's block arrays of the decompressor `cinfo` go here from now
    // on: its client_data is this store, which must outlive it. The arrays
    // of an earlier picture are dropped.
    void TakeOver(jpeg_decompress_struct& cinfo);

    // The bytes that the packed rows take now (what libjpeg would keep is
    // 128 a block).
    std::size_t PackedBytes() const;

    // libjpeg's calls, led here (see PackedCoefficients.cpp).
    jvirt_barray_ptr Request(j_common_ptr cinfo, JDIMENSION blocksPerRow, JDIMENSION rowCount,
                             JDIMENSION maxAccess);
    JBLOCKARRAY Access(j_common_ptr cinfo, jvirt_barray_ptr array, JDIMENSION startRow,
                       JDIMENSION rowCount, boolean writable);

  private:
    // One component's blocks.
    struct Blocks {
        JDIMENSION blocksPerRow = 0;
        JDIMENSION rowCount = 0;
        JDIMENSION maxAccess = 0;
        JDIMENSION slots = 0;                           // the rows unpacked at a time
        std::vector<std::vector<std::uint8_t>> packed;  // by block row; empty: all zero
        std::vector<JCOEF> open;                        // row r unpacked in slot r % slots
        std::vector<JDIMENSION> slotRow;                // the row in each slot (rowCount: none)
        std::vector<JBLOCKROW> handed;
        std::vector<std::uint8_t> scratch;  // a row being packed
        JDIMENSION openStart = 0;
        JDIMENSION openRows = 0;
        bool openWritable = false;
    };

    static void Pack(const JCOEF* row, JDIMENSION blocks, std::vector<std::uint8_t>& scratch,
                     std::vector<std::uint8_t>& packed);
    static void Unpack(const std::vector<std::uint8_t>& packed, JDIMENSION blocks, JCOEF* row);

    std::deque<Blocks> arrays_;  // handed to libjpeg by address
};

}  // namespace fotolane::picture::detail
