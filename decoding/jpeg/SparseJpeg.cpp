// Only the sampled pixels of a JPEG, reconstructed from its DCT
// coefficients. The file is entropy-decoded whole (that part cannot be
// skipped: by our own Huffman decoder for a baseline file of one scan or a
// progressive one, else by libjpeg's jpeg_read_coefficients) into a store
// that keeps only what the sampled pixels need (of a baseline file, the
// blocks that no sampled pixel reads are passed over, not written); every
// sampled pixel then costs one inverse DCT at its position for each sample
// it needs, where a whole decode does the inverse DCT, the upsampling and
// the colour conversion of every pixel. The stages follow libjpeg-turbo's
// for its default decode, in its own arithmetic, so that the pixels come
// out as a whole decode gives them:
//
//   DecodePlan        sampled or whole, and how (jdmaster.c)
//   HuffmanScan       the entropy decoding of a baseline scan (jdhuff.c)
//                     and of a progressive file's scans (jdphuff.c)
//   CoefficientStore  the coefficients, kept as far as needed (jdcoefct.c)
//   PointIdct         the accurate integer inverse DCT (jidctint.c)
//   Upsampling        smooth chroma upsampling (jdsample.c)
//   ColourConversion  YCbCr to RGB (jdcolor.c)
//   LibjpegSession    libjpeg's decompressor and its errors

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "decoding/jpeg/CoefficientStore.h"
#include "decoding/jpeg/ColourConversion.h"
#include "decoding/jpeg/DecodePlan.h"
#include "decoding/jpeg/HuffmanScan.h"
#include "decoding/jpeg/JpegDecoder.h"
#include "decoding/jpeg/LibjpegSession.h"
#include "decoding/jpeg/Upsampling.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"

namespace fotolane::picture::detail {

namespace {

// A sampled line or column of the stored picture, and where it is shown.
struct Placed {
    std::int32_t stored;
    std::ptrdiff_t offset;  // bytes into the shown rows
};

// The sampled lines and columns, each in stored order.
struct Placement {
    std::vector<Placed> lines;
    std::vector<Placed> columns;
};

// The sampled lines and columns of the stored picture, in stored order,
// each with its place in the shown rows.
void PlaceSamples(const SampledPixels& sampled, Orientation orientation, std::int32_t width,
                  std::int32_t height, PixelRows& rows, Placement& placement) {
    const bool swap = SwapsWidthAndHeight(orientation);
    const PictureSize stored{width, height};
    placement.lines.clear();
    placement.columns.clear();
    // Shown row v and shown column u: their bytes into the rows.
    const auto rowOffset = [&rows](std::int32_t v) {
        return rows.ScanLine(rows.height - 1 - v) - rows.bits.get();
    };
    const auto columnOffset = [](std::int32_t u) { return std::ptrdiff_t{3} * u; };
    for (std::size_t i = 0; i < sampled.rows.size(); ++i) {
        const std::int32_t v = sampled.rows[i];
        if (i > 0 && v == sampled.rows[i - 1]) continue;
        if (swap) {
            placement.columns.push_back({StoredPixelOf(orientation, 0, v, stored).x, rowOffset(v)});
        } else {
            placement.lines.push_back({StoredPixelOf(orientation, 0, v, stored).y, rowOffset(v)});
        }
    }
    for (std::size_t i = 0; i < sampled.columns.size(); ++i) {
        const std::int32_t u = sampled.columns[i];
        if (i > 0 && u == sampled.columns[i - 1]) continue;
        if (swap) {
            placement.lines.push_back(
                {StoredPixelOf(orientation, u, 0, stored).y, columnOffset(u)});
        } else {
            placement.columns.push_back(
                {StoredPixelOf(orientation, u, 0, stored).x, columnOffset(u)});
        }
    }
    const auto byStored = [](const Placed& a, const Placed& b) { return a.stored < b.stored; };
    std::sort(placement.lines.begin(), placement.lines.end(), byStored);
    std::sort(placement.columns.begin(), placement.columns.end(), byStored);
}

}  // namespace

struct SparseJpegDecoder::State final : CoefficientStore::Listener {
    bool always = false;
    LibjpegSession session;
    CoefficientStore store;
    HuffmanScanMemory scan;  // our own entropy decoding's (one scan)
    PictureMemory working;   // the coefficients' memory, while they exist
    // The picture under way.
    SparsePlan plan;
    std::array<ComponentSamples, 3> components;
    std::array<std::vector<JDIMENSION>, 3> needed;  // several scans: the block rows kept
    // One scan: the blocks that the sampled pixels read (BlockMask), by
    // component: the others are only passed over.
    std::array<std::vector<std::uint8_t>, 3> wantedColumns;
    std::array<std::vector<std::uint8_t>, 3> wantedRows;
    Placement placement;
    std::size_t nextLine = 0;  // the first line not yet reconstructed
    std::uint8_t* pixels = nullptr;
    bool prepared = false;  // the components' quantisation known

    // The quantisation of every component: as libjpeg keeps it once each
    // has been in a scan (`latched`), or as the tables read before the first
    // scan give it.
    bool PrepareComponents(bool latched) {
        const jpeg_decompress_struct& cinfo = session.Decompressor();
        for (int c = 0; c < cinfo.num_components; ++c) {
            const jpeg_component_info& info = cinfo.comp_info[c];
            const JQUANT_TBL* table = latched ? info.quant_table : nullptr;
            if (!latched && info.quant_tbl_no >= 0 && info.quant_tbl_no < NUM_QUANT_TBLS) {
                table = cinfo.quant_tbl_ptrs[info.quant_tbl_no];
            }
            if (table == nullptr) return false;
            components[static_cast<std::size_t>(c)].Prepare(*table);
        }
        return true;
    }

    // The ring moves on: the sampled lines that the rows before `mcuRow`
    // complete are reconstructed, before the ring's rows change under the
    // column passes done. The quantisation tables are the first scan's,
    // known once it starts.
    bool McuRowBegins(JDIMENSION mcuRow) override {
        if (!prepared) {
            if (!PrepareComponents(true)) return false;
            prepared = true;
        }
        ReconstructBefore(mcuRow);
        for (ComponentSamples& each : components) each.Forget();
        return true;
    }

    // The last MCU row that line y of the stored picture needs.
    JDIMENSION LastMcuRowOf(std::int32_t y) const {
        JDIMENSION last = 0;
        for (int c = 0; c < session.Decompressor().num_components; ++c) {
            const ComponentSamples& component = components[static_cast<std::size_t>(c)];
            const auto row = static_cast<JDIMENSION>(component.RowsOfLine(y).second >> 3);
            last = std::max(last, row / static_cast<JDIMENSION>(component.blockRowsPerMcuRow));
        }
        return last;
    }

    // The column passes of one chroma block column at the line's near and
    // far rows, for both components.
    struct ChromaColumns {
        std::int32_t blockX = -1;
        idct::BlockRow cbNear;
        idct::BlockRow cbFar;
        idct::BlockRow crNear;
        idct::BlockRow crFar;
    };

    // One line with paired chroma: what ValueAt gives for each component,
    // the same arithmetic in another order.
    void ReconstructPairedLine(const Placed& line) {
        ComponentSamples& luma = components[0];
        const ComponentSamples& cb = components[1];
        const ComponentSamples& cr = components[2];
        const std::int32_t y = line.stored;
        const bool twoRows = cb.upsampling == Upsampling::H2V2Smooth;
        const auto [low, high] = cb.RowsOfLine(y);
        // H2V2: the near row weighs 3/4 and the far one 1/4.
        const std::int32_t nearY = twoRows ? y >> 1 : y;
        const std::int32_t farY = nearY == low ? high : low;
        std::array<ChromaColumns, 2> done{};  // by the block column's parity
        const auto columnsOf = [&](std::int32_t blockX) -> const ChromaColumns& {
            ChromaColumns& at = done[static_cast<std::size_t>(blockX & 1)];
            if (at.blockX != blockX) {
                at.blockX = blockX;
                at.cbNear = cb.ColumnPassOf(blockX, nearY);
                at.crNear = cr.ColumnPassOf(blockX, nearY);
                if (twoRows) {
                    at.cbFar = cb.ColumnPassOf(blockX, farY);
                    at.crFar = cr.ColumnPassOf(blockX, farY);
                }
            }
            return at;
        };
        for (const Placed& column : placement.columns) {
            std::uint8_t* pixel = pixels + line.offset + column.offset;
            const std::int32_t x = column.stored;
            // The luma is not upsampled (see SparsePlan::pairedChroma).
            const int lumaValue = luma.SampleAt(x, y);
            const std::int32_t nearX = x >> 1;
            const bool left = (x & 1) == 0;
            const std::int32_t farX =
                left ? std::max(nearX - 1, 0) : std::min(nearX + 1, cb.width - 1);
            const ChromaColumns& nearColumns = columnsOf(nearX >> 3);
            const ChromaColumns& farColumns = columnsOf(farX >> 3);
            int cbValue = 0;
            int crValue = 0;
            if (twoRows) {
                const std::array<int, 4> cbSamples =
                    idct::kernels::RowPass4({&nearColumns.cbNear, &nearColumns.cbFar,
                                             &farColumns.cbNear, &farColumns.cbFar},
                                            {nearX, nearX, farX, farX});
                const std::array<int, 4> crSamples =
                    idct::kernels::RowPass4({&nearColumns.crNear, &nearColumns.crFar,
                                             &farColumns.crNear, &farColumns.crFar},
                                            {nearX, nearX, farX, farX});
                const int rounding = left ? 8 : 7;
                cbValue = (3 * (3 * cbSamples[0] + cbSamples[1]) + 3 * cbSamples[2] + cbSamples[3] +
                           rounding) >>
                          4;
                crValue = (3 * (3 * crSamples[0] + crSamples[1]) + 3 * crSamples[2] + crSamples[3] +
                           rounding) >>
                          4;
            } else {
                const std::array<int, 4> samples =
                    idct::kernels::RowPass4({&nearColumns.cbNear, &farColumns.cbNear,
                                             &nearColumns.crNear, &farColumns.crNear},
                                            {nearX, farX, nearX, farX});
                const int rounding = left ? 1 : 2;
                cbValue = (3 * samples[0] + samples[1] + rounding) >> 2;
                crValue = (3 * samples[2] + samples[3] + rounding) >> 2;
            }
            WriteYccPixel(pixel, lumaValue, static_cast<std::size_t>(cbValue),
                          static_cast<std::size_t>(crValue));
        }
    }

    // Reconstructs the sampled lines whose MCU rows all come before `end`.
    void ReconstructBefore(JDIMENSION end) {
        for (; nextLine < placement.lines.size() &&
               LastMcuRowOf(placement.lines[nextLine].stored) < end;
             ++nextLine) {
            const Placed line = placement.lines[nextLine];
            if (plan.pairedChroma) {
                ReconstructPairedLine(line);
                continue;
            }
            for (const Placed& column : placement.columns) {
                std::uint8_t* pixel = pixels + line.offset + column.offset;
                const std::int32_t x = column.stored;
                const std::int32_t y = line.stored;
                const int luma = components[0].ValueAt(x, y);
                if (plan.grey) {
                    pixel[0] = pixel[1] = pixel[2] = static_cast<std::uint8_t>(luma);
                    continue;
                }
                WriteYccPixel(pixel, luma, static_cast<std::size_t>(components[1].ValueAt(x, y)),
                              static_cast<std::size_t>(components[2].ValueAt(x, y)));
            }
        }
    }
};

namespace {

using State = SparseJpegDecoder::State;

// The ring's rows for our own entropy decoding, and the blocks read of them.
class RingTarget final : public ScanBlockRows {
  public:
    explicit RingTarget(State& state) : state_(state) {}
    JBLOCKROW* RowsOf(int component, JDIMENSION mcuRow, bool decoderZeroes) override {
        return state_.store.RingRows(static_cast<std::size_t>(component), mcuRow, !decoderZeroes);
    }
    BlockMask WantedBlocks(int component) const override {
        const auto c = static_cast<std::size_t>(component);
        if (c >= state_.wantedColumns.size()) return {};
        return {state_.wantedColumns[c], state_.wantedRows[c]};
    }

  private:
    State& state_;
};

// The blocks of each component that the sampled pixels read: those of the
// samples that each sampled line and column is made of.
void NoteWantedBlocks(State& state, const jpeg_decompress_struct& cinfo) {
    for (std::size_t c = 0; c < state.wantedColumns.size(); ++c) {
        std::vector<std::uint8_t>& columns = state.wantedColumns[c];
        std::vector<std::uint8_t>& rows = state.wantedRows[c];
        columns.clear();
        rows.clear();
        if (static_cast<int>(c) >= cinfo.num_components) continue;
        const jpeg_component_info& info = cinfo.comp_info[c];
        const auto across = static_cast<JDIMENSION>(info.h_samp_factor);
        const auto down = static_cast<JDIMENSION>(info.v_samp_factor);
        columns.assign((info.width_in_blocks + across - 1) / across * across, 0);
        rows.assign((info.height_in_blocks + down - 1) / down * down, 0);
        const ComponentSamples& component = state.components[c];
        for (const Placed& line : state.placement.lines) {
            const auto [low, high] = component.RowsOfLine(line.stored);
            rows[static_cast<std::size_t>(low >> 3)] = 1;
            rows[static_cast<std::size_t>(high >> 3)] = 1;
        }
        for (const Placed& column : state.placement.columns) {
            const auto [low, high] = component.ColumnsOfPixel(column.stored);
            columns[static_cast<std::size_t>(low >> 3)] = 1;
            columns[static_cast<std::size_t>(high >> 3)] = 1;
        }
    }
}

// The store's rows for our own entropy decoding of several scans.
class ScansTarget final : public ScanBlockArrays {
  public:
    explicit ScansTarget(CoefficientStore& store) : store_(store) {}
    const ScanRow* RowsOf(int component, JDIMENSION first, JDIMENSION count) override {
        return store_.ScanRows(static_cast<std::size_t>(component), first, count);
    }

  private:
    CoefficientStore& store_;
};

// The block rows that the sampled lines need of each component.
void NoteNeededRows(State& state, int componentCount) {
    for (std::size_t c = 0; c < state.needed.size(); ++c) {
        std::vector<JDIMENSION>& rows = state.needed[c];
        rows.clear();
        if (static_cast<int>(c) >= componentCount) continue;
        for (const Placed& line : state.placement.lines) {
            const auto [low, high] = state.components[c].RowsOfLine(line.stored);
            rows.push_back(static_cast<JDIMENSION>(low >> 3));
            rows.push_back(static_cast<JDIMENSION>(high >> 3));
        }
    }
}

}  // namespace

SparseJpegDecoder::SparseJpegDecoder(bool always) : state_(std::make_unique<State>()) {
    state_->always = always;
}

SparseJpegDecoder::~SparseJpegDecoder() = default;

bool SparseJpegDecoder::Decode(const JpegCheck& check, const SampledPixels& sampled,
                               PixelRows& rows) {
    State& state = *state_;
    // Every exit from here on ends libjpeg's work on the picture and gives
    // the coefficients' memory back. Nothing made after the setjmp may own
    // anything while libjpeg runs: a jump out of it passes no destructor.
    const SessionPicture picture(state.session, state.working);
    if (setjmp(state.session.Jump()) != 0) return false;
    const bool created = state.session.Created();
    jpeg_decompress_struct& cinfo = state.session.Begin();
    if (!created) state.store.TakeOver(cinfo);
    jpeg_mem_src(&cinfo, check.bytes.data(), static_cast<unsigned long>(check.bytes.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;

    const std::optional<SparsePlan> plan =
        PlanSparse(cinfo, check, sampled, state.always, state.components);
    if (!plan) return false;
    state.plan = *plan;
    state.nextLine = 0;
    state.prepared = false;
    try {
        // A file of more coefficients than the whole decode could hold
        // fails as that fails, before any work, though fewer are kept here.
        if (check.buffered) {
            const PictureMemory wholeDecodes(check.coefficientBytes);
        }
        const PictureSize stored{static_cast<std::int32_t>(cinfo.image_width),
                                 static_cast<std::int32_t>(cinfo.image_height)};
        const PictureSize shown = OrientedSize(stored, check.orientation);
        ReshapePixelRows(rows, shown.width, shown.height);
        PlaceSamples(sampled, check.orientation, stored.width, stored.height, rows,
                     state.placement);
        state.pixels = rows.bits.get();
        NoteNeededRows(state, plan->ring ? 0 : cinfo.num_components);
        if (plan->ring) NoteWantedBlocks(state, cinfo);
        const std::size_t bytes = state.store.Prepare(cinfo, plan->ring, state, state.needed);
        for (std::size_t c = 0; c < state.components.size(); ++c) {
            state.components[c].blockRows = state.store.RowsOf(c);
        }
        state.working = PictureMemory(bytes);
    } catch (const Fault&) {
        // Beyond the budget: the whole decode, which may need less, decides.
        return false;
    }
    // A baseline file of one scan: our own entropy decoding, which gives
    // up on anything libjpeg would warn about or treat in a way of its own;
    // libjpeg then decodes the file after all.
    if (plan->ring && state.session.Warnings() == 0 && HuffmanScanFits(cinfo) &&
        state.PrepareComponents(false)) {
        state.prepared = true;
        RingTarget target(state);
        if (DecodeHuffmanScan(cinfo, {cinfo.src->next_input_byte, cinfo.src->bytes_in_buffer},
                              target, state.scan)) {
            state.ReconstructBefore(std::numeric_limits<JDIMENSION>::max());
            return true;
        }
        state.store.RestartRing();
        state.nextLine = 0;
        state.prepared = false;
        for (ComponentSamples& each : state.components) each.Forget();
    }
    // A progressive file: our own entropy decoding too, or after all
    // libjpeg's, into a store shaped afresh.
    if (!plan->ring && state.session.Warnings() == 0 && ProgressiveScansFit(cinfo) &&
        state.PrepareComponents(false)) {
        ScansTarget target(state.store);
        if (DecodeProgressiveScans(cinfo, {cinfo.src->next_input_byte, cinfo.src->bytes_in_buffer},
                                   target, state.scan)) {
            state.store.KeptRowsFinished();
            state.ReconstructBefore(std::numeric_limits<JDIMENSION>::max());
            return true;
        }
        try {
            state.working = PictureMemory();
            state.working = PictureMemory(state.store.Prepare(cinfo, false, state, state.needed));
        } catch (const Fault&) {
            return false;
        }
        for (std::size_t c = 0; c < state.components.size(); ++c) {
            state.components[c].blockRows = state.store.RowsOf(c);
        }
    }
    // The lines are reconstructed while libjpeg decodes (one scan) or once
    // it has decoded everything (several); its pixels then come from the
    // whole decode when it warns.
    const jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&cinfo);
    if (coefficients == nullptr || state.session.Warnings() != 0 ||
        !state.store.AllRequested(cinfo)) {
        return false;
    }
    if (!plan->ring) {
        // Each component's quantisation as it was in its first scan.
        if (!state.PrepareComponents(true)) return false;
        state.store.KeptRowsFinished();
    }
    state.ReconstructBefore(std::numeric_limits<JDIMENSION>::max());
    return true;
}

}  // namespace fotolane::picture::detail
