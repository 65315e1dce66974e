#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

#include <array>
#include <cstdint>
#include <vector>

#include "platform/core/PixelRows.h"
#include "platform/drawing/Clipboard.h"
#include "platform/drawing/Gdi.h"
#include "platform/drawing/GdiTesting.h"
#include "platform/drawing/Picture.h"
#include "platform/drawing/QtClipboard.h"
#include "tests/TestSupport.h"

namespace fotolane::gdi {
namespace {

using Bgr = std::array<std::uint8_t, 3>;
using fotolane::testing::RecordingSink;

// Pixel (x, y) counted from the top-left corner of bottom-up rows.
Bgr PixelAt(const std::uint8_t* bits, std::int32_t height, std::int32_t stride, std::int32_t x,
            std::int32_t y) {
    const std::uint8_t* p = bits + (height - 1 - y) * stride + 3 * x;
    return {p[0], p[1], p[2]};
}

// A distinct colour for every position, so that a misplaced pixel shows.
Bgr Colour(std::int32_t x, std::int32_t y) {
    return {static_cast<std::uint8_t>(10 + x), static_cast<std::uint8_t>(100 + y),
            static_cast<std::uint8_t>(200 + x + y)};
}

PixelRows PatternRows(std::int32_t width, std::int32_t height) {
    PixelRows rows = AllocatePixelRows(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = rows.ScanLine(height - 1 - y) + 3 * x;
            const Bgr c = Colour(x, y);
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
        }
    }
    return rows;
}

BITMAPINFO Header24(std::int32_t width, std::int32_t height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

BITMAP Describe(HGDIOBJ h) {
    BITMAP bm{};
    EXPECT_EQ(GetObjectA(h, sizeof(bm), &bm), static_cast<std::int32_t>(sizeof(bm)));
    return bm;
}

// A memory device context holding a bitmap of the given rows; gives both
// back when it goes.
class Surface {
  public:
    explicit Surface(PixelRows rows) {
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateBitmapFromPixelRows(std::move(rows));
        old_ = SelectObject(dc_, bitmap_);
    }
    ~Surface() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    BITMAP Bitmap() const { return Describe(bitmap_); }
    Bgr At(std::int32_t x, std::int32_t y) const {
        const BITMAP bm = Bitmap();
        return PixelAt(static_cast<const std::uint8_t*>(bm.bmBits), bm.bmHeight, bm.bmWidthBytes, x,
                       y);
    }

  private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

TEST(GdiObjects, DeviceContextsAreCountedAndDeletedOnce) {
    const std::size_t before = LiveObjectCount();
    const HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    const HDC child = CreateCompatibleDC(dc);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(LiveObjectCount(), before + 2);
    EXPECT_TRUE(DeleteDC(child));
    EXPECT_FALSE(DeleteDC(child));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_EQ(CreateCompatibleDC(dc), nullptr);  // compatible with a deleted context
    EXPECT_FALSE(DeleteDC(nullptr));
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(GdiObjects, DibSectionsAreBottomUp24BitRowsOrRefused) {
    const std::size_t before = LiveObjectCount();
    BITMAPINFO info = Header24(5, 3);
    void* bits = nullptr;
    const HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(section, nullptr);
    ASSERT_NE(bits, nullptr);
    const BITMAP bm = Describe(section);
    EXPECT_EQ(bm.bmWidth, 5);
    EXPECT_EQ(bm.bmHeight, 3);
    EXPECT_EQ(bm.bmWidthBytes, 16);
    EXPECT_EQ(bm.bmPlanes, 1);
    EXPECT_EQ(bm.bmBitsPixel, 24);
    EXPECT_EQ(bm.bmBits, bits);
    const auto* bytes = static_cast<const std::uint8_t*>(bits);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 48), std::vector<std::uint8_t>(48, 0));
    EXPECT_EQ(LiveObjectCount(), before + 1);
    EXPECT_TRUE(DeleteObject(section));
    EXPECT_FALSE(DeleteObject(section));
    EXPECT_EQ(GetObjectA(section, sizeof(BITMAP), nullptr), 0);

    // Every refusal gives a null handle and a null bits pointer.
    auto refused = [&](BITMAPINFO header, std::uint32_t usage = DIB_RGB_COLORS) {
        bits = &info;
        const HBITMAP h = CreateDIBSection(nullptr, &header, usage, &bits, nullptr, 0);
        return h == nullptr && bits == nullptr;
    };
    EXPECT_TRUE(refused(Header24(0, 3)));
    EXPECT_TRUE(refused(Header24(3, 0)));
    EXPECT_TRUE(refused(Header24(-4, 3)));
    EXPECT_TRUE(refused(Header24(3, -3)));  // top-down rows are not made
    EXPECT_TRUE(refused(Header24(3, 3), 1));
    BITMAPINFO eightBit = Header24(3, 3);
    eightBit.bmiHeader.biBitCount = 8;
    EXPECT_TRUE(refused(eightBit));
    // Beyond the signed 32-bit range, and memory that cannot be had.
    EXPECT_TRUE(refused(Header24(100000, 100000)));
    EXPECT_TRUE(refused(Header24(0x7FFFFFFF, 1)));
    {
        const HDC dc = CreateCompatibleDC(nullptr);
        ScopedRefusal noMemory(Refusable::CreateBitmap);
        EXPECT_TRUE(refused(Header24(3, 3)));
        EXPECT_EQ(CreateCompatibleBitmap(dc, 2, 2), nullptr);
        EXPECT_EQ(CreateBitmapFromPixelRows(AllocatePixelRows(2, 2)), nullptr);
        DeleteDC(dc);
    }
    EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(GdiObjects, SelectionGuardsEveryBitmapAgainstEarlyDeletion) {
    const std::size_t before = LiveObjectCount();
    const HDC first = CreateCompatibleDC(nullptr);
    const HDC second = CreateCompatibleDC(nullptr);
    const HBITMAP bitmap = CreateCompatibleBitmap(first, 4, 4);
    ASSERT_NE(bitmap, nullptr);

    const HGDIOBJ stock = SelectObject(first, bitmap);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(Describe(stock).bmWidth, 1);
    EXPECT_EQ(SelectObject(second, bitmap), nullptr);  // one context at a time
    EXPECT_FALSE(DeleteObject(bitmap));                // still selected
    EXPECT_EQ(SelectObject(first, stock), bitmap);
    EXPECT_EQ(SelectObject(second, bitmap), stock);
    EXPECT_TRUE(DeleteDC(second));  // unselects it
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_TRUE(DeleteObject(stock));  // a stock object: nothing happens
    EXPECT_EQ(SelectObject(first, bitmap), nullptr);
    EXPECT_EQ(Describe(SelectObject(first, stock)).bmWidth, 1);
    EXPECT_TRUE(DeleteDC(first));
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(GdiDrawing, BitBltCopiesClippedRectanglesCountedFromTheTop) {
    const Surface source(PatternRows(6, 4));
    const Surface target(AllocatePixelRows(5, 5));
    EXPECT_TRUE(BitBlt(target.dc(), 1, 2, 3, 2, source.dc(), 2, 1, SRCCOPY));
    for (std::int32_t y = 0; y < 5; ++y) {
        for (std::int32_t x = 0; x < 5; ++x) {
            const bool inside = x >= 1 && x < 4 && y >= 2 && y < 4;
            EXPECT_EQ(target.At(x, y), inside ? Colour(x + 1, y - 1) : Bgr{}) << x << "," << y;
        }
    }
    // Partly outside either bitmap: only the common part is copied.
    const Surface clipped(AllocatePixelRows(3, 3));
    EXPECT_TRUE(BitBlt(clipped.dc(), -1, 1, 10, 10, source.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(clipped.At(0, 1), Colour(1, 0));
    EXPECT_EQ(clipped.At(2, 2), Colour(3, 1));
    EXPECT_EQ(clipped.At(0, 0), Bgr{});
    EXPECT_TRUE(BitBlt(clipped.dc(), 0, 0, 3, 3, source.dc(), -2, -2, SRCCOPY));
    EXPECT_EQ(clipped.At(2, 2), Colour(0, 0));
    EXPECT_EQ(clipped.At(1, 1), Colour(2, 0));  // left from the call before

    // Only SRCCOPY, only live contexts.
    EXPECT_FALSE(BitBlt(clipped.dc(), 0, 0, 1, 1, source.dc(), 0, 0, 0x00EE0086));
    EXPECT_FALSE(BitBlt(clipped.dc(), 0, 0, 1, 1, nullptr, 0, 0, SRCCOPY));
}

TEST(GdiDrawing, BitBltWithinOneBitmapReadsBeforeItWrites) {
    const Surface surface(PatternRows(4, 4));
    EXPECT_TRUE(BitBlt(surface.dc(), 1, 1, 3, 3, surface.dc(), 0, 0, SRCCOPY));
    for (std::int32_t y = 1; y < 4; ++y) {
        for (std::int32_t x = 1; x < 4; ++x) EXPECT_EQ(surface.At(x, y), Colour(x - 1, y - 1));
    }
    EXPECT_EQ(surface.At(0, 0), Colour(0, 0));
}

TEST(GdiDrawing, GetDIBitsGivesBottomUpRowsWithZeroPadding) {
    const std::size_t before = LiveObjectCount();
    const HDC dc = CreateCompatibleDC(nullptr);
    const HBITMAP bitmap = CreateBitmapFromPixelRows(PatternRows(3, 2));
    BITMAPINFO info = Header24(3, 2);
    {
        // Padding the bitmap's own rows with rubbish must not reach the copy.
        const BITMAP bm = Describe(bitmap);
        static_cast<std::uint8_t*>(bm.bmBits)[9] = 0xEE;
    }
    std::vector<std::uint8_t> bits(24, 0xAA);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, 2, bits, &info, DIB_RGB_COLORS), 2);
    EXPECT_EQ(PixelAt(bits.data(), 2, 12, 2, 0), Colour(2, 0));
    EXPECT_EQ(PixelAt(bits.data(), 2, 12, 0, 1), Colour(0, 1));
    for (std::size_t i : {9u, 10u, 11u, 21u, 22u, 23u}) EXPECT_EQ(bits[i], 0) << i;

    // From scan line 1 on: the top row lands at the start of the buffer.
    std::vector<std::uint8_t> top(12);
    EXPECT_EQ(GetDIBits(dc, bitmap, 1, 5, top, &info, DIB_RGB_COLORS), 1);
    EXPECT_EQ(PixelAt(top.data(), 1, 12, 1, 0), Colour(1, 0));

    std::vector<std::uint8_t> small(23);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, 2, small, &info, DIB_RGB_COLORS), 0);
    BITMAPINFO otherSize = Header24(3, 3);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, 2, bits, &otherSize, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(dc, bitmap, 2, 1, bits, &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(nullptr, bitmap, 0, 2, bits, &info, DIB_RGB_COLORS), 0);

    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(GdiDrawing, StretchDIBitsCopiesOneToOneAndRefusesStretching) {
    const PixelRows rows = PatternRows(3, 2);
    const std::span<const std::uint8_t> bits(rows.bits.get(), 24);
    const BITMAPINFO info = Header24(3, 2);
    const Surface target(AllocatePixelRows(3, 2));
    EXPECT_EQ(
        StretchDIBits(target.dc(), 0, 0, 3, 2, 0, 0, 3, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY),
        2);
    for (std::int32_t y = 0; y < 2; ++y) {
        for (std::int32_t x = 0; x < 3; ++x) EXPECT_EQ(target.At(x, y), Colour(x, y));
    }
    // The source origin of bottom-up rows is their lower-left corner.
    const Surface corner(AllocatePixelRows(1, 1));
    EXPECT_EQ(
        StretchDIBits(corner.dc(), 0, 0, 1, 1, 2, 0, 1, 1, bits, &info, DIB_RGB_COLORS, SRCCOPY),
        1);
    EXPECT_EQ(corner.At(0, 0), Colour(2, 1));

    EXPECT_EQ(
        StretchDIBits(target.dc(), 0, 0, 6, 4, 0, 0, 3, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY),
        0);
    EXPECT_EQ(StretchDIBits(target.dc(), 0, 0, 3, 2, 0, 0, 3, 2, bits.first(23), &info,
                            DIB_RGB_COLORS, SRCCOPY),
              0);
    const HDC bare = CreateCompatibleDC(nullptr);  // holds the stock bitmap only
    EXPECT_EQ(StretchDIBits(bare, 0, 0, 3, 2, 0, 0, 3, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY), 0);
    EXPECT_TRUE(DeleteDC(bare));
}

TEST(GdiScreen, ScreenContextIsBorrowedAndGivenBack) {
    const std::size_t before = LiveObjectCount();
    const HWND desktop = GetDesktopWindow();
    ASSERT_NE(desktop, nullptr);
    const HDC screen = GetDC(desktop);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(LiveObjectCount(), before + 1);
    EXPECT_FALSE(DeleteDC(screen));                     // given back, not deleted
    EXPECT_EQ(SelectObject(screen, nullptr), nullptr);  // holds no bitmap of ours
    const HBITMAP compatible = CreateCompatibleBitmap(screen, 2, 3);
    EXPECT_EQ(Describe(compatible).bmBitsPixel, 24);
    EXPECT_EQ(CreateCompatibleBitmap(screen, 0, 3), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(screen, 2, -1), nullptr);
    EXPECT_TRUE(DeleteObject(compatible));

    const HDC memory = CreateCompatibleDC(screen);
    EXPECT_FALSE(BitBlt(memory, 0, 0, 1, 1, screen, 0, 0, SRCCOPY));
    EXPECT_EQ(ReleaseDC(desktop, memory), 0);
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_EQ(ReleaseDC(desktop, screen), 1);
    EXPECT_EQ(ReleaseDC(desktop, screen), 0);
    {
        ScopedRefusal noScreen(Refusable::GetDC);
        EXPECT_EQ(GetDC(desktop), nullptr);
    }
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(GdiRefusal, LetsTheFirstCallsThroughAndEndsWithItsScope) {
    const std::size_t before = LiveObjectCount();
    HDC made[3] = {};
    {
        ScopedRefusal afterTwo(Refusable::CreateCompatibleDC, 2);
        for (HDC& dc : made) dc = CreateCompatibleDC(nullptr);
    }
    EXPECT_NE(made[0], nullptr);
    EXPECT_NE(made[1], nullptr);
    EXPECT_EQ(made[2], nullptr);
    const HDC again = CreateCompatibleDC(nullptr);
    EXPECT_NE(again, nullptr);
    for (HDC dc : {made[0], made[1], again}) DeleteDC(dc);
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(GdiPicture, AdoptsRowsOwnsItsBitmapAndMoves) {
    const std::size_t before = LiveObjectCount();
    {
        PixelRows rows = PatternRows(4, 3);
        const std::uint8_t* memory = rows.bits.get();
        Picture picture = PictureFromPixelRows(std::move(rows));
        ASSERT_NE(picture.Handle(), nullptr);
        EXPECT_EQ(picture.Width(), 4);
        EXPECT_EQ(picture.Height(), 3);
        EXPECT_EQ(Describe(picture.Handle()).bmBits, memory);  // adopted, not copied
        EXPECT_EQ(LiveObjectCount(), before + 1);

        Picture moved = std::move(picture);
        EXPECT_EQ(picture.Handle(), nullptr);  // NOLINT(bugprone-use-after-move)
        EXPECT_EQ(moved.Width(), 4);
        moved = PictureFromPixelRows(PatternRows(1, 1));
        EXPECT_EQ(moved.Width(), 1);
        EXPECT_EQ(LiveObjectCount(), before + 1);
    }
    EXPECT_EQ(LiveObjectCount(), before);

    // Rows that are empty or inconsistent make no picture, and no leak.
    EXPECT_EQ(PictureFromPixelRows(PixelRows{}).Handle(), nullptr);
    PixelRows bad = AllocatePixelRows(3, 3);
    bad.stride = 9;
    EXPECT_EQ(PictureFromPixelRows(std::move(bad)).Handle(), nullptr);
    const Picture empty;
    EXPECT_EQ(empty.Width(), 0);
    EXPECT_EQ(empty.Height(), 0);
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(GdiPicture, PictureFromDCTakesTheTopLeftArea) {
    const std::size_t before = LiveObjectCount();
    {
        const Surface surface(PatternRows(5, 4));
        const Picture picture = PictureFromDC(surface.dc(), 3, 2);
        ASSERT_NE(picture.Handle(), nullptr);
        EXPECT_EQ(picture.Width(), 3);
        EXPECT_EQ(picture.Height(), 2);
        const BITMAP bm = Describe(picture.Handle());
        for (std::int32_t y = 0; y < 2; ++y) {
            for (std::int32_t x = 0; x < 3; ++x) {
                EXPECT_EQ(
                    PixelAt(static_cast<const std::uint8_t*>(bm.bmBits), 2, bm.bmWidthBytes, x, y),
                    Colour(x, y));
            }
        }
        EXPECT_EQ(PictureFromDC(surface.dc(), 0, 2).Handle(), nullptr);
        EXPECT_EQ(PictureFromDC(nullptr, 3, 2).Handle(), nullptr);
        ScopedRefusal noContext(Refusable::CreateCompatibleDC);
        EXPECT_EQ(PictureFromDC(surface.dc(), 3, 2).Handle(), nullptr);
    }
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(GdiClipboard, TakesABitmapIntoTheSinkAndFreesIt) {
    const std::size_t before = LiveObjectCount();
    EXPECT_FALSE(OpenClipboard(nullptr));  // no sink, no clipboard

    RecordingSink sink;
    const ScopedClipboardSink installed(sink);
    EXPECT_EQ(SetClipboardData(CF_BITMAP, nullptr), nullptr);  // not open
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_FALSE(OpenClipboard(nullptr));
    EXPECT_TRUE(EmptyClipboard());
    EXPECT_EQ(sink.clears, 1);

    const HBITMAP bitmap = CreateBitmapFromPixelRows(PatternRows(2, 2));
    EXPECT_EQ(SetClipboardData(1, bitmap), nullptr);  // only bitmaps
    EXPECT_EQ(SetClipboardData(CF_BITMAP, bitmap), static_cast<HANDLE>(bitmap));
    EXPECT_EQ(sink.width, 2);
    EXPECT_EQ(sink.height, 2);
    EXPECT_EQ(PixelAt(sink.bytes.data(), 2, 8, 1, 0), Colour(1, 0));
    EXPECT_EQ(LiveObjectCount(), before);  // the clipboard's now, and freed

    // A refused bitmap stays the caller's.
    sink.accept = false;
    const HBITMAP refused = CreateBitmapFromPixelRows(PatternRows(1, 1));
    EXPECT_EQ(SetClipboardData(CF_BITMAP, refused), nullptr);
    EXPECT_TRUE(DeleteObject(refused));
    sink.accept = true;
    const HDC dc = CreateCompatibleDC(nullptr);
    const HBITMAP selected = CreateBitmapFromPixelRows(PatternRows(1, 1));
    const HGDIOBJ stock = SelectObject(dc, selected);
    EXPECT_EQ(SetClipboardData(CF_BITMAP, selected), nullptr);
    SelectObject(dc, stock);
    {
        ScopedRefusal noData(Refusable::SetClipboardData);
        EXPECT_EQ(SetClipboardData(CF_BITMAP, selected), nullptr);
    }
    EXPECT_TRUE(DeleteObject(selected));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_EQ(sink.images, 2);

    EXPECT_TRUE(CloseClipboard());
    EXPECT_FALSE(CloseClipboard());
    EXPECT_FALSE(EmptyClipboard());
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST(QtClipboardSink, PutsAnUprightImageOnTheDesktopClipboard) {
    QtClipboardSink sink;
    const PixelRows rows = PatternRows(3, 2);
    EXPECT_FALSE(sink.TakeImage(rows));  // no application object yet

    int argc = 1;
    char name[] = "gdi_tests";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);
    ASSERT_TRUE(sink.TakeImage(rows));
    const QImage image = QGuiApplication::clipboard()->image();
    ASSERT_EQ(image.width(), 3);
    ASSERT_EQ(image.height(), 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const Bgr c = Colour(x, y);
            EXPECT_EQ(image.pixel(x, y), qRgb(c[2], c[1], c[0])) << x << "," << y;
        }
    }
    sink.Clear();
    EXPECT_TRUE(QGuiApplication::clipboard()->image().isNull());
    EXPECT_FALSE(sink.TakeImage(PixelRows{}));
}

}  // namespace
}  // namespace fotolane::gdi
