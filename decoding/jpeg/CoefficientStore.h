#pragma once

// Where libjpeg puts a JPEG's coefficients while it entropy-decodes the file
// (the part that jdcoefct.c's whole-picture buffer plays in a whole decode):
// each component's whole-picture block array, replaced through libjpeg's
// memory manager (request_virt_barray, access_virt_barray of
// jpeg_memory_mgr), so that only what the sampled pixels need is kept.
//
// A file of one scan is decoded row of MCUs by row of MCUs, each row
// complete once the next is asked for: a ring of three rows suffices, and
// the sampled lines are reconstructed as soon as their rows are complete,
// from memory that stays in the cache. Our own entropy decoding
// (HuffmanScan) fills the same ring.
//
// A file of several scans (progressive ones above all) visits every block
// once a scan, so all must last to the end; but only the block rows that
// sampled lines need are kept whole. Of the others, while a scan decodes
// them, the decoder gets rows of its own, and of a progressive file only
// which coefficients are not zero is kept: that is all that the decoding of
// a later refinement scan reads of a block.

#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "decoding/jpeg/HuffmanScan.h"

namespace fotolane::picture::detail {

class CoefficientStore {
  public:
    // Told as the ring moves on.
    class Listener {
      public:
        // MCU row `mcuRow` is about to be filled, the first time any of its
        // rows is asked for: every row before it is complete, and the ring's
        // oldest row is about to be written over. False refuses the file (an
        // error of libjpeg's).
        virtual bool McuRowBegins(JDIMENSION mcuRow) = 0;

      protected:
        ~Listener() = default;
    };

    // libjpeg's blocks of the decompressor `cinfo` go here from now on:
    // its client_data is this store, which must outlive it.
    void TakeOver(jpeg_decompress_struct& cinfo);

    // Shapes the store for the picture whose header `cinfo` has read and
    // returns the bytes it takes. One scan (`ring`): the ring, of which
    // `listener` is told. Several: the rows that `needed[c]` lists of
    // component c (block rows, in any order, repeated or not) are kept
    // whole.
    std::size_t Prepare(const jpeg_decompress_struct& cinfo, bool ring, Listener& listener,
                        std::span<const std::vector<JDIMENSION>> needed);
    // The ring from its start again (after our own entropy decoding gave up).
    void RestartRing() { started_ = 0; }

    // The ring's rows of MCU row `mcuRow` of component `component`, zeroed
    // unless `zero` is false, the listener told first when the row begins.
    JBLOCKROW* RingRows(std::size_t component, JDIMENSION mcuRow, bool zero = true);

    // Whether libjpeg has asked for the blocks of every component.
    bool AllRequested(const jpeg_decompress_struct& cinfo) const {
        return requested_ == cinfo.num_components;
    }
    // Several scans, once they are all decoded: the block rows kept become
    // those of RowsOf (the others are null).
    void KeptRowsFinished();

    // A progressive file decoded by our own entropy decoding (HuffmanScan.h):
    // the block rows of component `component` from `first` on, those kept
    // whole as blocks and the others as masks of their blocks (the masks of
    // libjpeg's way, in zigzag order here); null where libjpeg would be
    // refused.
    const ScanRow* ScanRows(std::size_t component, JDIMENSION first, JDIMENSION count);

    // The first block of every block row of component `component`: the
    // ring's rows while they last, or the rows kept whole; null for others.
    std::span<const JCOEF* const> RowsOf(std::size_t component) const {
        return stores_[component].rows;
    }

    // libjpeg's calls, led here (see CoefficientStore.cpp).
    jvirt_barray_ptr Request(j_common_ptr cinfo, boolean preZero, JDIMENSION blocksPerRow,
                             JDIMENSION rowCount, JDIMENSION maxAccess);
    JBLOCKARRAY Access(j_common_ptr cinfo, jvirt_barray_ptr array, JDIMENSION startRow,
                       JDIMENSION rowCount, boolean writable);

  private:
    // One component's blocks.
    struct Blocks {
        JDIMENSION blocksPerRow = 0;  // as libjpeg asks for them (padded to whole MCUs)
        JDIMENSION rowCount = 0;
        JDIMENSION rowsPerAccess = 0;
        std::vector<JCOEF> kept;             // the ring, or the rows kept whole
        std::vector<std::int32_t> keptAt;    // several scans: a row's place in `kept`, or -1
        std::vector<std::uint64_t> nonzero;  // progressive: a mask per block of the other rows
        std::vector<JCOEF> scratch;          // several scans: the other rows while decoded
        std::vector<JBLOCKROW> handed;       // the rows last handed to libjpeg
        std::vector<ScanRow> scanRows;       // the rows last handed to ours
        std::vector<const JCOEF*> rows;      // see RowsOf
        JDIMENSION scratchStart = 0;         // the rows now in `scratch`
        JDIMENSION scratchRows = 0;
        bool scratchToMask = false;  // whether their nonzero coefficients count

        JCOEF* KeptRow(std::size_t index) { return kept.data() + index * blocksPerRow * 64; }
        JCOEF* ScratchRow(std::size_t index) { return scratch.data() + index * blocksPerRow * 64; }
    };

    JBLOCKARRAY AccessSeveralScans(const jpeg_decompress_struct& cinfo, Blocks& blocks,
                                   JDIMENSION startRow, JDIMENSION rowCount);

    std::array<Blocks, 3> stores_;
    Listener* listener_ = nullptr;
    bool ring_ = false;
    std::size_t components_ = 0;
    int requested_ = 0;       // block arrays handed to libjpeg
    JDIMENSION started_ = 0;  // ring: the MCU rows begun
};

}  // namespace fotolane::picture::detail
