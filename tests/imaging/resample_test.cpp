#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/cDIBSection.h"
#include "platform/core/Fault.h"
#include "platform/drawing/Gdi.h"
#include "platform/drawing/GdiTesting.h"
#include "tests/imaging/ImagingTestSupport.h"

namespace fotolane::imaging {
namespace {

using gdi::LiveObjectCount;
using testing::PixelOf;

// A Ready buffer whose channels at (column c, scan line s), memory
// coordinates, are valueAt(c, s) for blue, and with `offsets` + 1 for green
// and + 2 for red (clamped), so that swapped channels show.
std::unique_ptr<cDIBSection> Source(std::int32_t width, std::int32_t height,
                                    const std::function<int(std::int32_t, std::int32_t)>& valueAt,
                                    bool offsets = true) {
    auto dib = std::make_unique<cDIBSection>();
    EXPECT_TRUE(dib->Create(width, height));
    for (std::int32_t s = 0; s < height; ++s) {
        for (std::int32_t c = 0; c < width; ++c) {
            std::uint8_t* p = PixelOf(dib->DIBSectionBitsPtr(), dib->BytesPerScanLine(), c, s);
            for (int channel = 0; channel < 3; ++channel) {
                const int value = valueAt(c, s) + (offsets ? channel : 0);
                p[channel] = static_cast<std::uint8_t>(std::min(value, 255));
            }
        }
    }
    return dib;
}

// One channel of (column c, scan line s), memory coordinates.
int At(const cDIBSection& dib, std::int32_t c, std::int32_t s, int channel = 0) {
    return PixelOf(dib.DIBSectionBitsPtr(), dib.BytesPerScanLine(), c, s)[channel];
}

std::vector<int> ScanLine(const cDIBSection& dib, std::int32_t s, int channel = 0) {
    std::vector<int> values;
    for (std::int32_t c = 0; c < dib.Width(); ++c) values.push_back(At(dib, c, s, channel));
    return values;
}

std::vector<std::uint8_t> Memory(const cDIBSection& dib) {
    const std::uint8_t* bits = dib.DIBSectionBitsPtr();
    return {bits, bits + dib.BytesPerScanLine() * dib.Height()};
}

TEST(Resample, BlendsVerticallyThenHorizontallyRoundingEachHalfToEven) {
    // Left column 0, right 255 in every channel: x scale 1 / 4 = 0.25, and
    // 127.5 goes to 128.
    const auto ramp = Source(
        2, 2, [](std::int32_t c, std::int32_t) { return c == 0 ? 0 : 255; }, false);
    const auto wide = ramp->Resample(2, 4);
    ASSERT_NE(wide, nullptr);
    for (std::int32_t s = 0; s < 2; ++s) {
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_EQ(ScanLine(*wide, s, channel), (std::vector<int>{0, 64, 128, 191}));
        }
    }
    // 252 in blue has no halves: 63, 126, 189.
    const auto lower = Source(2, 2, [](std::int32_t c, std::int32_t) { return c == 0 ? 0 : 252; });
    EXPECT_EQ(ScanLine(*lower->Resample(2, 4), 1, 0), (std::vector<int>{0, 63, 126, 189}));

    // Left 0, right 1: halfway is 0.5, which goes to 0.
    const auto step = Source(2, 2, [](std::int32_t c, std::int32_t) { return c; });
    const auto stepWide = step->Resample(2, 4);
    EXPECT_EQ(ScanLine(*stepWide, 0, 0), (std::vector<int>{0, 0, 0, 1}));
    EXPECT_EQ(ScanLine(*stepWide, 1, 0), (std::vector<int>{0, 0, 0, 1}));

    // 0 at (0, 0) and 1 elsewhere, to 4 x 4: at (2, 2) the vertical blends
    // 0.5 and 1 round to 0 and 1, and their halfway blend 0.5 to 0. One
    // weighted sum of the four (0.75) would have given 1.
    const auto corner =
        Source(2, 2, [](std::int32_t c, std::int32_t s) { return c == 0 && s == 0 ? 0 : 1; });
    const auto square = corner->Resample(4, 4);
    ASSERT_NE(square, nullptr);
    EXPECT_EQ(At(*square, 2, 2), 0);
    EXPECT_EQ(At(*square, 0, 0), 0);
    EXPECT_EQ(At(*square, 1, 2), 0);  // vertical blends 0 and 1, then 0.25 of the way
    EXPECT_EQ(At(*square, 3, 3), 1);
}

TEST(Resample, FirstColumnAndScanLineDrawOnlyOnTheSourcesFirst) {
    // Column 0 and scan line 0 of the source are 77; everything else varies.
    const auto source = Source(7, 5, [](std::int32_t c, std::int32_t s) {
        return c == 0 || s == 0 ? 77 : 10 + 30 * c + 7 * s;
    });
    for (const auto& [height, width] : {std::pair{3, 4}, {9, 13}, {5, 2}, {1, 1}}) {
        const auto target = source->Resample(height, width);
        ASSERT_NE(target, nullptr);
        for (std::int32_t s = 0; s < height; ++s) EXPECT_EQ(At(*target, 0, s, 1), 78);
        for (std::int32_t c = 0; c < width; ++c) EXPECT_EQ(At(*target, c, 0, 2), 79);
    }
}

TEST(Resample, ToItsOwnSizeIsAnExactCopy) {
    for (const auto& [width, height] : {std::pair{1, 1}, {5, 3}, {1, 4}, {6, 1}}) {
        const auto source = Source(width, height, [](std::int32_t c, std::int32_t s) {
            return (37 * c + 91 * s + 5) % 250;
        });
        const auto copy = source->Resample(height, width);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(Memory(*copy), Memory(*source)) << width << " x " << height;
        EXPECT_NE(copy->DIBSectionBitsPtr(), source->DIBSectionBitsPtr());
    }
}

TEST(Resample, GivesTheNewWidthAndHeightHeightFirst) {
    const std::size_t before = LiveObjectCount();
    {
        const auto source = Source(10, 6, [](std::int32_t c, std::int32_t) { return c; });
        const auto target = source->Resample(7, 9);
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(target->Width(), 9);
        EXPECT_EQ(target->Height(), 7);
        EXPECT_EQ(LiveObjectCount(), before + 4);

        // A new buffer that can't be made gives none, and nothing leaks.
        EXPECT_EQ(source->Resample(0, 5), nullptr);
        EXPECT_EQ(source->Resample(5, -1), nullptr);
        gdi::ScopedRefusal noMemory(gdi::Refusable::CreateBitmap);
        EXPECT_EQ(source->Resample(3, 3), nullptr);
        EXPECT_EQ(LiveObjectCount(), before + 4);
    }
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(Resample, OnePixelWideOrHighToAnotherSizeIsOutOfRange) {
    const std::size_t before = LiveObjectCount();
    for (const auto& [width, height] : {std::pair{1, 3}, {3, 1}, {1, 1}}) {
        const auto source = Source(width, height, [](std::int32_t, std::int32_t) { return 50; });
        const std::vector<std::uint8_t> original = Memory(*source);
        try {
            const auto target = source->Resample(4, 4);
            ADD_FAILURE() << width << " x " << height << " was resampled";
        } catch (const Fault& fault) {
            EXPECT_STREQ(fault.Description(), "Subscript out of range");
        }
        EXPECT_EQ(Memory(*source), original);
        EXPECT_EQ(LiveObjectCount(), before + 2);  // the new buffer was released
    }
    // A source without pixel memory has nothing to read either.
    cDIBSection empty;
    EXPECT_THROW(empty.Resample(2, 2), Fault);
    ASSERT_TRUE(empty.Create(4, 4));
    empty.ClearUp();
    EXPECT_THROW(empty.Resample(2, 2), Fault);
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(Resample, KeepsConstantPicturesConstantAndDrawsNoBlackLines) {
    const auto gray = Source(9, 7, [](std::int32_t, std::int32_t) { return 173; });
    // No pixel of this source is black, so no target pixel may be.
    const auto lively =
        Source(11, 8, [](std::int32_t c, std::int32_t s) { return 1 + (53 * c + 29 * s) % 250; });
    for (std::int32_t height = 1; height <= 20; height += 3) {
        for (std::int32_t width = 1; width <= 25; width += 4) {
            const auto flat = gray->Resample(height, width);
            const auto target = lively->Resample(height, width);
            ASSERT_NE(flat, nullptr);
            ASSERT_NE(target, nullptr);
            for (std::int32_t s = 0; s < height; ++s) {
                for (std::int32_t c = 0; c < width; ++c) {
                    for (int channel = 0; channel < 3; ++channel) {
                        ASSERT_EQ(At(*flat, c, s, channel), 173 + channel)
                            << width << " x " << height << " at " << c << "," << s;
                        ASSERT_GT(At(*target, c, s, channel), 0)
                            << width << " x " << height << " at " << c << "," << s;
                    }
                }
            }
            // Padding bytes are not written: they keep the section's zeros.
            for (std::int32_t s = 0; s < height; ++s) {
                for (std::int32_t b = 3 * width; b < target->BytesPerScanLine(); ++b) {
                    ASSERT_EQ(target->DIBSectionBitsPtr()[s * target->BytesPerScanLine() + b], 0);
                }
            }
        }
    }
}

}  // namespace
}  // namespace fotolane::imaging
