#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/core/Fault.h"
#include "platform/core/PixelRows.h"

namespace fotolane {
namespace {

std::size_t SizeOf(const PixelRows& rows) {
    return static_cast<std::size_t>(rows.stride) * static_cast<std::size_t>(rows.height);
}

bool AllZero(const PixelRows& rows) {
    const std::size_t size = SizeOf(rows);
    for (std::size_t i = 0; i < size; ++i) {
        if (rows.bits[i] != 0) return false;
    }
    return true;
}

TEST(PixelRows, SmallAndLargePicturesComeZeroFilledAndGoBackWhole) {
    // 10 x 3 stays on the heap; 3000 x 1000 (9 MB) takes a mapping of its own.
    for (const auto& [width, height] : {std::pair{10, 3}, std::pair{3000, 1000}}) {
        for (int round = 0; round < 3; ++round) {
            PixelRows rows = AllocatePixelRows(width, height);
            ASSERT_NE(rows.bits, nullptr);
            EXPECT_EQ(rows.stride, StrideOf24BitRow(width));
            EXPECT_TRUE(AllZero(rows)) << width << " round " << round;
            // Dirty every byte; the next round must get zeros all the same.
            std::memset(rows.bits.get(), 0xAB, SizeOf(rows));
            PixelRows moved = std::move(rows);
            EXPECT_EQ(moved.ScanLine(height - 1)[3 * width - 1], 0xAB);
        }
    }
    EXPECT_EQ(AllocatePixelRows(0, 5).bits, nullptr);
    EXPECT_THROW(AllocatePixelRows(40000, 40000), Fault);  // beyond 2^31 bytes
}

}  // namespace
}  // namespace fotolane
