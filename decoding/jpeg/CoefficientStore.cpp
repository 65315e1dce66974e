#include "decoding/jpeg/CoefficientStore.h"

#include <bit>
#include <cstring>

#include "decoding/jpeg/LibjpegSession.h"
#include "decoding/jpeg/PointIdct.h"

namespace fotolane::picture::detail {

namespace {

constexpr JDIMENSION kRingMcuRows = 3;

CoefficientStore& StoreOf(j_common_ptr cinfo) {
    return *static_cast<CoefficientStore*>(cinfo->client_data);
}

extern "C" jvirt_barray_ptr RequestBlocks(j_common_ptr cinfo, int /*pool*/, boolean preZero,
                                          JDIMENSION blocksPerRow, JDIMENSION rowCount,
                                          JDIMENSION maxAccess) {
    return StoreOf(cinfo).Request(cinfo, preZero, blocksPerRow, rowCount, maxAccess);
}

extern "C" JBLOCKARRAY AccessBlocks(j_common_ptr cinfo, jvirt_barray_ptr array, JDIMENSION startRow,
                                    JDIMENSION rowCount, boolean writable) {
    return StoreOf(cinfo).Access(cinfo, array, startRow, rowCount, writable);
}

}  // namespace

void CoefficientStore::TakeOver(jpeg_decompress_struct& cinfo) {
    cinfo.client_data = this;
    cinfo.mem->request_virt_barray = RequestBlocks;
    cinfo.mem->access_virt_barray = AccessBlocks;
}

std::size_t CoefficientStore::Prepare(const jpeg_decompress_struct& cinfo, bool ring,
                                      Listener& listener,
                                      std::span<const std::vector<JDIMENSION>> needed) {
    ring_ = ring;
    listener_ = &listener;
    components_ = static_cast<std::size_t>(cinfo.num_components);
    requested_ = 0;
    started_ = 0;
    std::size_t bytes = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& info = cinfo.comp_info[c];
        Blocks& store = stores_[static_cast<std::size_t>(c)];
        const auto perMcuRow = static_cast<JDIMENSION>(info.v_samp_factor);
        const auto perMcu = static_cast<JDIMENSION>(info.h_samp_factor);
        store.blocksPerRow = (info.width_in_blocks + perMcu - 1) / perMcu * perMcu;
        store.rowCount = (info.height_in_blocks + perMcuRow - 1) / perMcuRow * perMcuRow;
        store.rowsPerAccess = perMcuRow;
        store.handed.assign(perMcuRow, nullptr);
        store.scratchRows = 0;
        store.scratchToMask = false;
        store.rows.assign(store.rowCount, nullptr);
        const std::size_t rowBlocks = std::size_t{store.blocksPerRow} * 64;
        if (ring) {
            store.kept.resize(rowBlocks * kRingMcuRows * perMcuRow);
            bytes += store.kept.size() * sizeof(JCOEF);
            continue;
        }
        // The block rows that sampled lines need, kept whole.
        store.keptAt.assign(store.rowCount, -1);
        for (const JDIMENSION row : needed[static_cast<std::size_t>(c)]) store.keptAt[row] = 0;
        std::int32_t kept = 0;
        for (std::int32_t& at : store.keptAt) {
            if (at == 0) at = kept++;
        }
        store.kept.assign(rowBlocks * static_cast<std::size_t>(kept), 0);
        store.scratch.resize(rowBlocks * perMcuRow);
        bytes += (store.kept.size() + store.scratch.size()) * sizeof(JCOEF);
        if (cinfo.progressive_mode) {
            store.nonzero.assign(std::size_t{store.blocksPerRow} * store.rowCount, 0);
            bytes += store.nonzero.size() * sizeof(std::uint64_t);
        }
    }
    return bytes;
}

JBLOCKROW* CoefficientStore::RingRows(std::size_t component, JDIMENSION mcuRow, bool zero) {
    if (mcuRow >= started_) {
        if (!listener_->McuRowBegins(mcuRow)) return nullptr;
        started_ = mcuRow + 1;
    }
    Blocks& store = stores_[component];
    const JDIMENSION rowCount = store.rowsPerAccess;
    const std::size_t rowBytes = std::size_t{store.blocksPerRow} * 64 * sizeof(JCOEF);
    const std::size_t slot = (mcuRow % kRingMcuRows) * rowCount;
    for (JDIMENSION i = 0; i < rowCount; ++i) {
        JCOEF* row = store.KeptRow(slot + i);
        if (zero) std::memset(row, 0, rowBytes);
        store.handed[i] = reinterpret_cast<JBLOCKROW>(row);
        store.rows[mcuRow * rowCount + i] = row;
    }
    return store.handed.data();
}

void CoefficientStore::KeptRowsFinished() {
    for (std::size_t c = 0; c < components_; ++c) {
        Blocks& store = stores_[c];
        for (JDIMENSION row = 0; row < store.rowCount; ++row) {
            const std::int32_t kept = store.keptAt[row];
            store.rows[row] = kept >= 0 ? store.KeptRow(static_cast<std::size_t>(kept)) : nullptr;
        }
    }
}

// The block arrays of the coefficients: the ones prepared for this picture,
// in component order, when libjpeg asks for arrays of their shape.
jvirt_barray_ptr CoefficientStore::Request(j_common_ptr cinfo, boolean preZero,
                                           JDIMENSION blocksPerRow, JDIMENSION rowCount,
                                           JDIMENSION maxAccess) {
    const auto index = static_cast<std::size_t>(requested_);
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (index >= stores_.size() || requested_ >= decompress->num_components) RefuseInLibjpeg(cinfo);
    Blocks& store = stores_[index];
    if (!preZero || blocksPerRow != store.blocksPerRow || rowCount != store.rowCount ||
        maxAccess < store.rowsPerAccess) {
        RefuseInLibjpeg(cinfo);
    }
    ++requested_;
    return reinterpret_cast<jvirt_barray_ptr>(&store);
}

JBLOCKARRAY CoefficientStore::Access(j_common_ptr cinfo, jvirt_barray_ptr array,
                                     JDIMENSION startRow, JDIMENSION rowCount, boolean writable) {
    auto* store = reinterpret_cast<Blocks*>(array);
    const auto index = static_cast<std::size_t>(store - stores_.data());
    if (store < stores_.data() || index >= static_cast<std::size_t>(requested_) || !writable ||
        rowCount != store->rowsPerAccess || startRow % rowCount != 0 ||
        startRow + rowCount > store->rowCount) {
        RefuseInLibjpeg(cinfo);
    }
    const jpeg_decompress_struct& decompress = *reinterpret_cast<j_decompress_ptr>(cinfo);
    if (!ring_) return AccessSeveralScans(decompress, *store, startRow, rowCount);
    // The rows of MCU row startRow / rowCount: every row before it is
    // complete.
    if (decompress.comps_in_scan != decompress.num_components) RefuseInLibjpeg(cinfo);
    JBLOCKROW* rows = RingRows(index, startRow / rowCount);
    if (rows == nullptr) RefuseInLibjpeg(cinfo);
    return rows;
}

const ScanRow* CoefficientStore::ScanRows(std::size_t component, JDIMENSION first,
                                          JDIMENSION count) {
    if (ring_ || component >= components_) return nullptr;
    Blocks& store = stores_[component];
    if (count != store.rowsPerAccess || first % count != 0 || first + count > store.rowCount ||
        store.nonzero.size() < std::size_t{store.rowCount} * store.blocksPerRow) {
        return nullptr;
    }
    store.scanRows.resize(count);
    for (JDIMENSION i = 0; i < count; ++i) {
        const JDIMENSION at = first + i;
        const std::int32_t kept = store.keptAt[at];
        ScanRow& row = store.scanRows[i];
        row = ScanRow{};
        if (kept >= 0) {
            row.blocks = reinterpret_cast<JBLOCKROW>(store.KeptRow(static_cast<std::size_t>(kept)));
        } else {
            row.masks = store.nonzero.data() + std::size_t{at} * store.blocksPerRow;
        }
    }
    return store.scanRows.data();
}

JBLOCKARRAY CoefficientStore::AccessSeveralScans(const jpeg_decompress_struct& cinfo, Blocks& store,
                                                 JDIMENSION startRow, JDIMENSION rowCount) {
    // First what the last scan left in the scratch rows.
    if (store.scratchToMask) {
        for (JDIMENSION i = 0; i < store.scratchRows; ++i) {
            const JCOEF* row = store.ScratchRow(i);
            std::uint64_t* masks =
                store.nonzero.data() + std::size_t{store.scratchStart + i} * store.blocksPerRow;
            for (JDIMENSION b = 0; b < store.blocksPerRow; ++b)
                masks[b] |= idct::kernels::NonzeroMask(row + 64 * b);
        }
    }
    // A progressive scan of AC coefficients fills a band of coefficients
    // known to be zero, or refines those not zero; one of DC coefficients
    // touches nothing else; a sequential one fills whole blocks.
    const std::size_t rowBytes = std::size_t{store.blocksPerRow} * 64 * sizeof(JCOEF);
    const bool progressive = cinfo.progressive_mode != 0;
    const bool acScan = progressive && cinfo.Ss > 0;
    const bool refining = acScan && cinfo.Ah > 0;
    store.scratchStart = startRow;
    store.scratchRows = rowCount;
    store.scratchToMask = acScan;
    for (JDIMENSION i = 0; i < rowCount; ++i) {
        const JDIMENSION at = startRow + i;
        const std::int32_t kept = store.keptAt[at];
        if (kept >= 0) {
            store.handed[i] =
                reinterpret_cast<JBLOCKROW>(store.KeptRow(static_cast<std::size_t>(kept)));
            continue;
        }
        JCOEF* row = store.ScratchRow(i);
        store.handed[i] = reinterpret_cast<JBLOCKROW>(row);
        if (progressive && !acScan) continue;
        std::memset(row, 0, rowBytes);
        if (!refining) continue;
        const std::uint64_t* masks = store.nonzero.data() + std::size_t{at} * store.blocksPerRow;
        for (JDIMENSION b = 0; b < store.blocksPerRow; ++b) {
            for (std::uint64_t mask = masks[b]; mask != 0; mask &= mask - 1) {
                row[64 * b + static_cast<std::size_t>(std::countr_zero(mask))] = 1;
            }
        }
    }
    return store.handed.data();
}

}  // namespace fotolane::picture::detail
