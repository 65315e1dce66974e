#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/Fault.h"
#include "platform/core/PixelRows.h"
#include "tests/thumbnails/ThumbnailTestSupport.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
namespace {

using testing::FaultOf;

// Bottom-up rows whose every pixel tells where it came from: blue holds the
// column's low byte, green the row (from the top), red 0x80 plus the
// column's high byte. No pixel is black, and swapped bytes decode to
// different columns.
struct Rows {
    RowLayout layout;
    std::vector<std::uint8_t> bytes;

    Rows(std::int32_t width, std::int32_t height)
        : layout{width, height, StrideOf24BitRow(width)},
          bytes(static_cast<std::size_t>(layout.scanWidth) * static_cast<std::size_t>(height)) {}

    std::uint8_t* Pixel(std::int32_t column, std::int32_t rowFromTop) {
        return bytes.data() +
               static_cast<std::size_t>(layout.height - 1 - rowFromTop) *
                   static_cast<std::size_t>(layout.scanWidth) +
               3 * static_cast<std::size_t>(column);
    }

    static Rows Numbered(std::int32_t width, std::int32_t height) {
        Rows rows(width, height);
        for (std::int32_t r = 0; r < height; ++r) {
            for (std::int32_t c = 0; c < width; ++c) {
                std::uint8_t* pixel = rows.Pixel(c, r);
                pixel[0] = static_cast<std::uint8_t>(c & 0xFF);
                pixel[1] = static_cast<std::uint8_t>(r & 0xFF);
                pixel[2] = static_cast<std::uint8_t>(0x80 | (c >> 8));
            }
        }
        return rows;
    }

    std::int32_t SourceColumn(std::int32_t column, std::int32_t rowFromTop) {
        const std::uint8_t* pixel = Pixel(column, rowFromTop);
        if ((pixel[2] & 0x80) == 0) return -1;  // never written
        return pixel[0] | ((pixel[2] & 0x7F) << 8);
    }

    std::int32_t SourceRow(std::int32_t column, std::int32_t rowFromTop) {
        return Pixel(column, rowFromTop)[1];
    }

    std::vector<std::int32_t> SourceColumns(std::int32_t rowFromTop) {
        std::vector<std::int32_t> columns;
        for (std::int32_t c = 0; c < layout.width; ++c)
            columns.push_back(SourceColumn(c, rowFromTop));
        return columns;
    }
};

struct Sampled {
    Rows thumb;
    SampledExtent reached;
};

Sampled Sample(Rows& source, std::int32_t thumbWidth, std::int32_t thumbHeight) {
    Rows thumb(thumbWidth, thumbHeight);
    const SampledExtent reached =
        SampleNearest(source.bytes, source.layout, SamplingStep(source.layout.width, thumbWidth),
                      SamplingStep(source.layout.height, thumbHeight), thumb.bytes, thumb.layout);
    return {std::move(thumb), reached};
}

TEST(ThumbnailSize, GivesTheLongerSideTheSizeAndRoundsTheOtherHalfToEven) {
    // 480 / (640 / 150) = 112.5 goes to 112.
    EXPECT_EQ(ThumbnailSizeFor(640, 480, 150), (ThumbnailSize{150, 112}));
    EXPECT_EQ(ThumbnailSizeFor(480, 640, 150), (ThumbnailSize{112, 150}));
    // 50.5 goes to 50, 51.5 to 52.
    EXPECT_EQ(ThumbnailSizeFor(200, 101, 100), (ThumbnailSize{100, 50}));
    EXPECT_EQ(ThumbnailSizeFor(200, 103, 100), (ThumbnailSize{100, 52}));
    EXPECT_EQ(ThumbnailSizeFor(1024, 768, 120), (ThumbnailSize{120, 90}));
    EXPECT_EQ(ThumbnailSizeFor(333, 333, 70), (ThumbnailSize{70, 70}));
    // A picture smaller than the size is enlarged.
    EXPECT_EQ(ThumbnailSizeFor(64, 48, 150), (ThumbnailSize{150, 112}));
    EXPECT_EQ(ThumbnailSizeFor(1, 1, 70), (ThumbnailSize{70, 70}));
}

TEST(ThumbnailSize, KeepsTheShorterSideAtLeastOnePixelAndFaultsForSizeZero) {
    // 3 / (1000 / 100) = 0.3 would leave no row at all.
    EXPECT_EQ(ThumbnailSizeFor(1000, 3, 100), (ThumbnailSize{100, 1}));
    EXPECT_EQ(ThumbnailSizeFor(3, 1000, 70), (ThumbnailSize{1, 70}));
    EXPECT_EQ(ThumbnailSizeFor(1000, 1, 70), (ThumbnailSize{70, 1}));
    EXPECT_EQ(FaultOf([] { ThumbnailSizeFor(640, 480, 0); }), "Division by zero");
    EXPECT_EQ(FaultOf([] { ThumbnailSizeFor(480, 640, 0); }), "Division by zero");
    EXPECT_EQ(FaultOf([] { SamplingStep(640, 0); }), "Division by zero");
}

TEST(SampleNearest, TakesEveryStepsPixelWithHalvesGoingToTheEvenNeighbour) {
    Rows wide = Rows::Numbered(375, 3);
    Sampled sampled = Sample(wide, 150, 1);
    EXPECT_EQ(sampled.reached.columns, 150);
    const std::vector<std::int32_t> columns = sampled.thumb.SourceColumns(0);
    EXPECT_EQ(std::vector<std::int32_t>(columns.begin(), columns.begin() + 8),
              (std::vector<std::int32_t>{0, 2, 5, 8, 10, 12, 15, 18}));
    EXPECT_EQ(columns.back(), 372);  // 149 * 2.5 = 372.5

    Rows five = Rows::Numbered(5, 1);
    EXPECT_EQ(Sample(five, 2, 1).thumb.SourceColumns(0), (std::vector<std::int32_t>{0, 2}));
    Rows four = Rows::Numbered(4, 1);
    EXPECT_EQ(Sample(four, 2, 1).thumb.SourceColumns(0), (std::vector<std::int32_t>{0, 2}));
}

TEST(SampleNearest, CountsRowsFromTheTopOfBothPictures) {
    // 6 rows to 3: step 2 takes the source rows 0, 2 and 4 from the top.
    Rows tall = Rows::Numbered(2, 6);
    Sampled sampled = Sample(tall, 2, 3);
    EXPECT_EQ(sampled.reached.rows, 3);
    EXPECT_EQ(sampled.thumb.SourceRow(0, 0), 0);
    EXPECT_EQ(sampled.thumb.SourceRow(0, 1), 2);
    EXPECT_EQ(sampled.thumb.SourceRow(1, 2), 4);
    // The top row lies last in memory.
    EXPECT_EQ(sampled.thumb.bytes[2 * 8 + 1], 0);
    EXPECT_EQ(sampled.thumb.bytes[1], 4);
}

TEST(SampleNearest, MayStopOneShortWhenTheStepIsBarelyAboveOne) {
    // 435 / 434 as a float, added up 432 times, passes 434 = the last column.
    Rows source = Rows::Numbered(435, 1);
    Sampled sampled = Sample(source, 434, 1);
    EXPECT_EQ(sampled.reached.columns, 433);
    EXPECT_EQ(sampled.thumb.SourceColumn(433, 0), -1);

    FillUnreached(sampled.thumb.bytes, sampled.thumb.layout, sampled.reached);
    EXPECT_EQ(sampled.thumb.SourceColumn(433, 0), sampled.thumb.SourceColumn(432, 0));
}

TEST(SampleNearest, NeverRunsPastTheThumbnail) {
    // 65410 / 1024 as a float, added up 1024 times, stays below the last
    // column 65409: the walk stops at the thumbnail's last column instead of
    // writing a 1025th.
    Rows source = Rows::Numbered(65410, 1);
    Sampled sampled = Sample(source, 1024, 1);
    EXPECT_EQ(sampled.reached.columns, 1024);
    Rows tall = Rows::Numbered(1, 65410);
    EXPECT_EQ(Sample(tall, 1, 1024).reached.rows, 1024);
}

TEST(FillUnreached, RepeatsTheNearestWrittenPixelOfAnEnlargedPicture) {
    // 100 -> 150 columns: the walk ends at the source's last column after 149.
    Rows source = Rows::Numbered(100, 10);
    Sampled sampled = Sample(source, 150, 15);
    EXPECT_EQ(sampled.reached.columns, 149);
    EXPECT_EQ(sampled.reached.rows, 14);

    FillUnreached(sampled.thumb.bytes, sampled.thumb.layout, sampled.reached);
    for (std::int32_t r = 0; r < 15; ++r) {
        for (std::int32_t c = 0; c < 150; ++c) {
            ASSERT_NE(sampled.thumb.SourceColumn(c, r), -1) << c << "," << r;
        }
        EXPECT_EQ(sampled.thumb.SourceColumn(149, r), sampled.thumb.SourceColumn(148, r));
    }
    EXPECT_EQ(sampled.thumb.SourceRow(10, 14), sampled.thumb.SourceRow(10, 13));
    EXPECT_EQ(sampled.thumb.SourceColumn(149, 14), 99);
    // 150 pixels are 450 bytes in a 452-byte row: the padding stays zero.
    for (std::int32_t r = 0; r < 15; ++r) {
        EXPECT_EQ(sampled.thumb.bytes[static_cast<std::size_t>(r) * 452 + 450], 0);
        EXPECT_EQ(sampled.thumb.bytes[static_cast<std::size_t>(r) * 452 + 451], 0);
    }
}

TEST(SampleNearest, ChecksEveryIndexAgainstItsArray) {
    Rows source = Rows::Numbered(8, 8);
    Rows thumb(4, 4);
    std::span<const std::uint8_t> shortSource(source.bytes.data(), source.bytes.size() - 40);
    EXPECT_EQ(FaultOf([&] {
                  SampleNearest(shortSource, source.layout, 2.0f, 2.0f, thumb.bytes, thumb.layout);
              }),
              "Subscript out of range");
    std::span<std::uint8_t> shortThumb(thumb.bytes.data(), thumb.bytes.size() - 1);
    EXPECT_EQ(FaultOf([&] {
                  SampleNearest(source.bytes, source.layout, 2.0f, 2.0f, shortThumb, thumb.layout);
              }),
              "Subscript out of range");
    EXPECT_EQ(FaultOf([&] {
                  FillUnreached(shortThumb, thumb.layout, SampledExtent{2, 2});
              }),
              "Subscript out of range");
    // A negative thumbnail width walks off its (empty) array at once.
    EXPECT_EQ(FaultOf([&] {
                  SampleNearest(source.bytes, source.layout, -2.0f, 2.0f, {}, RowLayout{-4, 4, -8});
              }),
              "Subscript out of range");
}

}  // namespace
}  // namespace fotolane::thumbnails
