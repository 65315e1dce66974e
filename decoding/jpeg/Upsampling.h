#pragma once

// One component of a JPEG as the sampled path reads it: its samples, each
// from the inverse DCT of its block at that position (PointIdct.h), and
// their upsampling to full size as libjpeg-turbo's default (smooth, "fancy")
// upsampling of jdsample.c gives it.

#include <array>
#include <cstdint>
#include <span>
#include <utility>

#include "decoding/jpeg/PointIdct.h"

namespace fotolane::picture::detail {

// How a component's samples become full-size ones, as libjpeg-turbo picks
// it for its default (smooth) upsampling: h2v1_fancy_upsample,
// h1v2_fancy_upsample, h2v2_fancy_upsample, int_upsample (replicating).
enum class Upsampling { None, H2V1Smooth, H1V2Smooth, H2V2Smooth, Replicate };

struct ComponentSamples {
    Upsampling upsampling = Upsampling::None;
    int factorX = 1;  // full-size pixels per sample, across and down
    int factorY = 1;
    std::int32_t width = 0;  // samples across and down (libjpeg's downsampled size)
    std::int32_t height = 0;
    int blockRowsPerMcuRow = 1;  // the component's vertical sampling factor
    // The first block of every block row, null for a row not held (see
    // CoefficientStore).
    std::span<const JCOEF* const> blockRows;
    // The quantisation steps in natural order, as 16-bit numbers.
    alignas(16) std::array<std::int16_t, 64> quant{};
    // The last column pass done at each row position within a block:
    // neighbouring samples often lie in one block row.
    struct Done {
        const JCOEF* block = nullptr;
        idct::BlockRow row;
    };
    std::array<Done, 8> done{};

    // Takes the quantisation table; forgets the column passes done.
    void Prepare(const JQUANT_TBL& table);
    // Forgets the column passes done, before the blocks change under them.
    void Forget() { done.fill(Done{}); }

    const JCOEF* BlockAt(std::int32_t x, std::int32_t y) const {
        return blockRows[static_cast<std::size_t>(y >> 3)] +
               static_cast<std::ptrdiff_t>(x >> 3) * 64;
    }

    // Row y of the block in block column `blockX` after the column pass.
    idct::BlockRow ColumnPassOf(std::int32_t blockX, std::int32_t y) const {
        const JCOEF* block =
            blockRows[static_cast<std::size_t>(y >> 3)] + static_cast<std::ptrdiff_t>(blockX) * 64;
        return idct::kernels::ColumnPass(block, quant.data(), static_cast<std::size_t>(y & 7));
    }

    // Row y of the block at (x, y) after the column pass.
    const idct::BlockRow& ColumnPassAt(std::int32_t x, std::int32_t y) {
        const JCOEF* block = BlockAt(x, y);
        const auto within = static_cast<std::size_t>(y & 7);
        Done& last = done[within];
        if (last.block != block) {
            last.block = block;
            last.row = idct::kernels::ColumnPass(block, quant.data(), within);
        }
        return last.row;
    }

    // The sample at (x, y) of this component, as libjpeg's inverse DCT gives
    // it; the column pass is done once for samples in one block row.
    std::uint8_t SampleAt(std::int32_t x, std::int32_t y) {
        return idct::kernels::RowPass(ColumnPassAt(x, y), x);
    }

    // The lowest and the highest of this component's rows that the pixels
    // of picture line y are made of, and of its columns for picture column x.
    std::pair<std::int32_t, std::int32_t> RowsOfLine(std::int32_t y) const;
    std::pair<std::int32_t, std::int32_t> ColumnsOfPixel(std::int32_t x) const;

    // The full-size value at pixel (x, y), upsampled as libjpeg does: the
    // smooth kinds weigh the nearest sample 3/4 and the next one 1/4 in each
    // direction, repeating the edge samples beyond the edges.
    int ValueAt(std::int32_t x, std::int32_t y);
};

// How libjpeg-turbo upsamples a component with these sampling factors, set
// in `component` with its size; false when this reconstruction does not
// follow it.
bool ChooseUpsampling(const jpeg_decompress_struct& cinfo, const jpeg_component_info& info,
                      ComponentSamples& component);

}  // namespace fotolane::picture::detail
