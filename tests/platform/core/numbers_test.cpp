#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>

#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"

namespace fotolane {
namespace {

TEST(ReadNumber, TakesTheNumberAtTheStartOfTheText) {
    EXPECT_EQ(ReadNumber("3"), 3);
    EXPECT_EQ(ReadNumber("175"), 175);
    EXPECT_EQ(ReadNumber("  42"), 42);
    EXPECT_EQ(ReadNumber("12abc"), 12);
    EXPECT_EQ(ReadNumber("-7"), -7);
    EXPECT_EQ(ReadNumber("+8"), 8);
    EXPECT_EQ(ReadNumber("- 9"), -9);
    EXPECT_EQ(ReadNumber("007"), 7);
}

TEST(ReadNumber, IsZeroWithoutANumber) {
    EXPECT_EQ(ReadNumber(""), 0);
    EXPECT_EQ(ReadNumber("   "), 0);
    EXPECT_EQ(ReadNumber("abc"), 0);
    EXPECT_EQ(ReadNumber("-"), 0);
    EXPECT_EQ(ReadNumber("."), 0);
    EXPECT_EQ(ReadNumber("x12"), 0);
}

TEST(ReadNumber, RoundsHalvesToTheEvenNeighbour) {
    EXPECT_EQ(ReadNumber("2.5"), 2);
    EXPECT_EQ(ReadNumber("3.5"), 4);
    EXPECT_EQ(ReadNumber("0.5"), 0);
    EXPECT_EQ(ReadNumber(".5"), 0);
    EXPECT_EQ(ReadNumber("1.5"), 2);
    EXPECT_EQ(ReadNumber("-2.5"), -2);
    EXPECT_EQ(ReadNumber("2.51"), 3);
    EXPECT_EQ(ReadNumber("7."), 7);
}

TEST(ReadNumber, KeepsTheSigned32BitRangeAndFaultsBeyondIt) {
    EXPECT_EQ(ReadNumber("2147483647"), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(ReadNumber("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_THROW(ReadNumber("2147483648"), Fault);
    EXPECT_THROW(ReadNumber("99999999999999999999999999"), Fault);
    try {
        ReadNumber("-2147483649");
        FAIL();
    } catch (const Fault& fault) {
        EXPECT_STREQ(fault.Description(), "Overflow");
    }
}

TEST(ReadNumber, DoesNotDependOnTheLocale) {
    // A locale whose decimal mark is a comma must not change the reading.
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(ReadNumber("3.5"), 4);
    EXPECT_EQ(ReadNumber("3,5"), 3);
    std::setlocale(LC_ALL, "C");
}

TEST(CheckedArithmetic, FaultsInsteadOfWrapping) {
    EXPECT_EQ(CheckedMul(46340, 46340), 2147395600);
    EXPECT_THROW(CheckedMul(46341, 46341), Fault);
    EXPECT_EQ(CheckedAdd(2147483640, 7), 2147483647);
    EXPECT_THROW(CheckedAdd(2147483640, 8), Fault);
    EXPECT_THROW(RoundHalfEven(2147483647.5), Fault);
    EXPECT_EQ(RoundHalfEven(2147483646.5), 2147483646);
}

}  // namespace
}  // namespace fotolane
