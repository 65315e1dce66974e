#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "imaging/cDIBSection.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/drawing/Clipboard.h"
#include "platform/drawing/Gdi.h"
#include "platform/drawing/GdiTesting.h"
#include "platform/drawing/Picture.h"
#include "tests/imaging/ImagingTestSupport.h"

namespace fotolane::imaging {
namespace {

using fotolane::testing::FaultOf;
using fotolane::testing::RecordingSink;
using gdi::LiveObjectCount;
using gdi::Refusable;
using gdi::ScopedRefusal;
using testing::Bgr;
using testing::Colour;
using testing::PatternRows;
using testing::PixelOf;
using testing::RecordingHost;
using testing::Surface;
using testing::TopDownPixel;

bool IsEmpty(const cDIBSection& dib) {
    return dib.hdc() == nullptr && dib.hDib() == nullptr && dib.DIBSectionBitsPtr() == nullptr;
}

TEST(cDIBSection, BytesPerScanLinePadsRowsToFourBytesAndFaultsOnOverflow) {
    const std::size_t before = LiveObjectCount();
    const std::pair<std::int32_t, std::int32_t> strides[] = {{1, 4},  {2, 8},  {3, 12},
                                                             {4, 12}, {5, 16}, {100, 300}};
    for (const auto& [width, stride] : strides) {
        cDIBSection dib;
        ASSERT_TRUE(dib.Create(width, 1));
        EXPECT_EQ(dib.BytesPerScanLine(), stride) << width;
    }
    {
        // The widest row that fits (the section itself is refused at height 0).
        cDIBSection dib;
        EXPECT_FALSE(dib.Create(715827881, 0));
        EXPECT_EQ(dib.BytesPerScanLine(), 2147483644);
        EXPECT_TRUE(IsEmpty(dib));
    }
    {
        cDIBSection dib;
        EXPECT_EQ(FaultOf([&] { dib.Create(715827882, 1); }), "Overflow");
        EXPECT_EQ(FaultOf([&] { dib.BytesPerScanLine(); }), "Overflow");
        // stride x height beyond the signed 32-bit range: no section, and the
        // memory device context stays until ClearUp.
        EXPECT_EQ(FaultOf([&] { dib.Create(1000, 800000); }), "Overflow");
        EXPECT_NE(dib.hdc(), nullptr);
        EXPECT_EQ(dib.hDib(), nullptr);
        dib.ClearUp();
        EXPECT_TRUE(IsEmpty(dib));
    }
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(cDIBSection, CreateWritesTheHeaderAndTheBottomRowComesFirst) {
    cDIBSection dib;
    ASSERT_TRUE(dib.Create(3, 2));
    const gdi::BITMAPINFOHEADER& header = dib.BitmapInfoHeader();
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 3);
    EXPECT_EQ(header.biHeight, 2);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, gdi::BI_RGB);
    EXPECT_EQ(header.biSizeImage, 24u);
    EXPECT_EQ(header.biXPelsPerMeter, 0);
    EXPECT_EQ(header.biClrUsed, 0u);
    EXPECT_EQ(dib.Width(), 3);
    EXPECT_EQ(dib.Height(), 2);

    gdi::BITMAP bm{};
    ASSERT_NE(gdi::GetObjectA(dib.hDib(), sizeof(bm), &bm), 0);
    EXPECT_EQ(bm.bmBits, dib.DIBSectionBitsPtr());
    EXPECT_EQ(bm.bmWidth, 3);

    // Drawn upright through the device context, read in memory order.
    const Surface picture(PatternRows(3, 2));
    dib.LoadPictureBlt(picture.dc());
    const std::uint8_t* bits = dib.DIBSectionBitsPtr();
    EXPECT_EQ((Bgr{bits[0], bits[1], bits[2]}), Colour(0, 1));     // bottom row
    EXPECT_EQ((Bgr{bits[12], bits[13], bits[14]}), Colour(0, 0));  // top row
}

TEST(cDIBSection, CreateReleasesWhatItHeldAndFailsWithNothingHeld) {
    const std::size_t before = LiveObjectCount();
    {
        cDIBSection dib;
        ASSERT_TRUE(dib.Create(4, 4));
        EXPECT_EQ(LiveObjectCount(), before + 2);  // context and section
        ASSERT_TRUE(dib.Create(8, 2));
        EXPECT_EQ(LiveObjectCount(), before + 2);
        EXPECT_EQ(dib.Width(), 8);

        {
            ScopedRefusal noContext(Refusable::CreateCompatibleDC);
            EXPECT_FALSE(dib.Create(4, 4));
        }
        EXPECT_TRUE(IsEmpty(dib));
        EXPECT_EQ(LiveObjectCount(), before);
        {
            ScopedRefusal noMemory(Refusable::CreateBitmap);
            EXPECT_FALSE(dib.Create(4, 4));
        }
        EXPECT_TRUE(IsEmpty(dib));
        EXPECT_FALSE(dib.Create(0, 4));
        EXPECT_FALSE(dib.Create(4, -1));
        EXPECT_TRUE(IsEmpty(dib));
        EXPECT_EQ(LiveObjectCount(), before);
        ASSERT_TRUE(dib.Create(2, 2));
    }
    EXPECT_EQ(LiveObjectCount(), before);  // destruction releases both
}

TEST(cDIBSection, ClearUpEmptiesTheHandlesAndKeepsTheHeader) {
    const std::size_t before = LiveObjectCount();
    cDIBSection dib;
    dib.ClearUp();
    EXPECT_TRUE(IsEmpty(dib));
    EXPECT_EQ(LiveObjectCount(), before);
    ASSERT_TRUE(dib.Create(5, 3));
    dib.ClearUp();
    dib.ClearUp();
    EXPECT_TRUE(IsEmpty(dib));
    EXPECT_EQ(dib.Width(), 5);
    EXPECT_EQ(dib.BitmapInfoHeader().biSizeImage, 48u);
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(cDIBSection, NegativeSizesStandForTheWholeBuffer) {
    const Surface source(PatternRows(6, 5));
    for (const std::int32_t whole : {-1, -5}) {
        cDIBSection dib;
        ASSERT_TRUE(dib.Create(3, 2));
        dib.LoadPictureBlt(source.dc(), 1, 2, whole, whole);
        for (std::int32_t y = 0; y < 2; ++y) {
            for (std::int32_t x = 0; x < 3; ++x) {
                EXPECT_EQ(TopDownPixel(dib, x, y), Colour(x + 1, y + 2)) << whole;
            }
        }

        const Surface target(AllocatePixelRows(6, 4));
        dib.PaintPicture(target.dc(), 2, 1, whole, whole);
        for (std::int32_t y = 0; y < 4; ++y) {
            for (std::int32_t x = 0; x < 6; ++x) {
                const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
                EXPECT_EQ(target.At(x, y), inside ? Colour(x - 1, y + 1) : Bgr{}) << whole;
            }
        }
    }

    // Explicit sizes copy only that much, from the given corner.
    cDIBSection dib;
    ASSERT_TRUE(dib.Create(3, 2));
    dib.LoadPictureBlt(source.dc(), 4, 3, 1, 1);
    EXPECT_EQ(TopDownPixel(dib, 0, 0), Colour(4, 3));
    EXPECT_EQ(TopDownPixel(dib, 1, 0), Bgr{});
    const Surface target(AllocatePixelRows(2, 2));
    dib.PaintPicture(target.dc(), 1, 1, 1, 1, 0, 0);
    EXPECT_EQ(target.At(1, 1), Colour(4, 3));
    EXPECT_EQ(target.At(0, 0), Bgr{});
}

TEST(cDIBSection, CreateFromPictureCopiesThePictureAndGivesBackItsHelpers) {
    const gdi::Picture picture = gdi::PictureFromPixelRows(PatternRows(5, 3));
    const std::size_t before = LiveObjectCount();
    {
        cDIBSection dib;
        dib.CreateFromPicture(picture);
        ASSERT_NE(dib.hDib(), nullptr);
        EXPECT_EQ(dib.Width(), 5);
        EXPECT_EQ(dib.Height(), 3);
        for (std::int32_t y = 0; y < 3; ++y) {
            for (std::int32_t x = 0; x < 5; ++x) EXPECT_EQ(TopDownPixel(dib, x, y), Colour(x, y));
        }
        EXPECT_EQ(LiveObjectCount(), before + 2);  // the buffer's own two
    }
    {
        // The screen or the temporary context refused: the buffer exists at
        // the picture's size, without its pixels.
        for (const std::int32_t contextsAllowed : {-1, 1}) {
            cDIBSection dib;
            if (contextsAllowed < 0) {
                ScopedRefusal noScreen(Refusable::GetDC);
                dib.CreateFromPicture(picture);
            } else {
                ScopedRefusal noTemporary(Refusable::CreateCompatibleDC, contextsAllowed);
                dib.CreateFromPicture(picture);
            }
            ASSERT_NE(dib.hDib(), nullptr);
            EXPECT_EQ(dib.Width(), 5);
            EXPECT_EQ(TopDownPixel(dib, 1, 1), Bgr{});
            EXPECT_EQ(LiveObjectCount(), before + 2);
        }
    }
    {
        cDIBSection dib;
        dib.CreateFromPicture(gdi::Picture());
        EXPECT_TRUE(IsEmpty(dib));
        ScopedRefusal noMemory(Refusable::CreateBitmap);
        dib.CreateFromPicture(picture);
        EXPECT_TRUE(IsEmpty(dib));
    }
    EXPECT_EQ(LiveObjectCount(), before);
    // The picture is still whole and can be deleted: it was selected back.
    EXPECT_EQ(picture.Width(), 5);
}

TEST(cDIBSection, RandomiseBitsFillsPixelsAndLeavesThePadding) {
    for (const bool gray : {true, false}) {
        cDIBSection dib;
        ASSERT_TRUE(dib.Create(5, 7));  // 15 pixel bytes and 1 padding byte a row
        const std::int32_t stride = dib.BytesPerScanLine();
        std::uint8_t* bits = dib.DIBSectionBitsPtr();
        std::fill(bits, bits + stride * 7, std::uint8_t{0xAB});
        dib.RandomiseBits(gray);
        std::set<int> seen;
        for (std::int32_t s = 0; s < 7; ++s) {
            EXPECT_EQ(bits[s * stride + 15], 0xAB) << "padding of scan line " << s;
            for (std::int32_t c = 0; c < 5; ++c) {
                const std::uint8_t* p = PixelOf(bits, stride, c, s);
                if (gray) {
                    EXPECT_EQ(p[0], p[1]);
                    EXPECT_EQ(p[1], p[2]);
                } else {
                    EXPECT_EQ(p[0], 0);
                }
                seen.insert(p[1]);
            }
        }
        EXPECT_GT(seen.size(), 5u) << "35 random draws should not repeat that much";
    }
    cDIBSection empty;
    empty.RandomiseBits(true);  // no memory: nothing to write
    EXPECT_TRUE(IsEmpty(empty));
}

TEST(cDIBSection, RandomisePixelsDrawsInTheGivenLoopOrders) {
    const std::int32_t width = 3;
    const std::int32_t height = 2;
    const std::int32_t stride = 12;
    auto value = [](UniformDraws& draws) {
        return static_cast<std::uint8_t>(RoundHalfEven(draws.Next() * 255.0));
    };
    std::vector<std::uint8_t> gray(stride * height);
    RandomisePixels(gray.data(), width, height, stride, true, 4242);
    UniformDraws grayDraws(4242);
    for (std::int32_t s = 0; s < height; ++s) {     // scan lines outer
        for (std::int32_t c = 0; c < width; ++c) {  // pixels inner
            const std::uint8_t v = value(grayDraws);
            EXPECT_EQ(PixelOf(gray.data(), stride, c, s)[2], v) << c << "," << s;
        }
    }
    std::vector<std::uint8_t> colour(stride * height, 9);
    RandomisePixels(colour.data(), width, height, stride, false, 4242);
    UniformDraws colourDraws(4242);
    for (std::int32_t c = 0; c < width; ++c) {       // columns outer
        for (std::int32_t s = 0; s < height; ++s) {  // scan lines inner
            const std::uint8_t* p = PixelOf(colour.data(), stride, c, s);
            EXPECT_EQ(p[0], 0);
            EXPECT_EQ(p[1], value(colourDraws));
            EXPECT_EQ(p[2], value(colourDraws));
        }
    }

    // v = r x 255 rounded half to even stays within a byte for r in [0, 1).
    UniformDraws draws(1);
    for (int i = 0; i < 10000; ++i) {
        const double r = draws.Next();
        ASSERT_GE(r, 0.0);
        ASSERT_LT(r, 1.0);
    }
    EXPECT_LT(SecondsSinceMidnight(), 86400u);
}

TEST(cDIBSection, CopyToClipboardAsDIBOnlySaysItCannot) {
    const std::size_t before = LiveObjectCount();
    RecordingHost host;
    const ui::ScopedHost hostInstalled(host);
    RecordingSink sink;
    const gdi::ScopedClipboardSink sinkInstalled(sink);
    cDIBSection dib;
    ASSERT_TRUE(dib.Create(2, 2));

    EXPECT_FALSE(dib.CopyToClipboard(true));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              "I don't know how to put a DIB on the clipboard! Copy as bitmap instead!!!");
    EXPECT_EQ(host.messages[0].icon, ui::Icon::None);
    EXPECT_EQ(host.messages[0].buttons, ui::Buttons::OK);
    EXPECT_EQ(host.messages[0].caption, "Fotolane");
    EXPECT_EQ(sink.clears, 0);
    EXPECT_EQ(sink.images, 0);
    EXPECT_EQ(LiveObjectCount(), before + 2);
}

TEST(cDIBSection, CopyToClipboardDeliversThePictureOrFreesTheBitmap) {
    const std::size_t before = LiveObjectCount();
    RecordingHost host;
    const ui::ScopedHost hostInstalled(host);
    cDIBSection dib;
    dib.CreateFromPicture(gdi::PictureFromPixelRows(PatternRows(3, 2)));
    ASSERT_NE(dib.hDib(), nullptr);

    // Nothing to take it (no clipboard), then every platform step refused in
    // turn: false, and the count as before.
    EXPECT_FALSE(dib.CopyToClipboard(false));
    RecordingSink sink;
    const gdi::ScopedClipboardSink sinkInstalled(sink);
    for (const Refusable step :
         {Refusable::GetDC, Refusable::CreateCompatibleDC, Refusable::CreateBitmap,
          Refusable::OpenClipboard, Refusable::SetClipboardData}) {
        ScopedRefusal refused(step);
        EXPECT_FALSE(dib.CopyToClipboard(false));
        EXPECT_EQ(LiveObjectCount(), before + 2);
    }
    EXPECT_EQ(sink.images, 0);

    EXPECT_TRUE(dib.CopyToClipboard(false));
    // Emptied in the try whose hand-over was refused, and in this one.
    EXPECT_EQ(sink.clears, 2);
    ASSERT_EQ(sink.images, 1);
    EXPECT_EQ(sink.width, 3);
    EXPECT_EQ(sink.height, 2);
    for (std::int32_t y = 0; y < 2; ++y) {
        for (std::int32_t x = 0; x < 3; ++x) {
            const std::uint8_t* p = PixelOf(sink.bytes.data(), 12, x, 1 - y);
            EXPECT_EQ((Bgr{p[0], p[1], p[2]}), Colour(x, y));
        }
    }
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(LiveObjectCount(), before + 2);
}

}  // namespace
}  // namespace fotolane::imaging
