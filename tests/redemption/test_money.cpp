// Money in whole cents: the conversions at the module's boundaries and the texts amounts show in.
#include "clsMoney.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

using namespace zumvo;

TEST(Money, UnitsBecomeCentsOnTheirDecimalText) {
    struct TCase {
        double Units;
        TCents Truncated, Rounded;
    };
    const TCase cases[] = {
        {12.5, 1250, 1250},
        {0.29, 29, 29},
        {1.15, 115, 115},
        {4.35, 435, 435},
        {16.01, 1601, 1601},
        {11.01, 1101, 1101},
        {19.99, 1999, 1999},
        {0.999, 99, 100},
        {1.999, 199, 200},
        {19.995, 1999, 2000},
        {0.125, 12, 12},
        {0.135, 13, 14},
        {0.1251, 12, 13},
        {-1.999, -199, -200},
        {-0.29, -29, -29},
        {0.009, 0, 1},
        {0.005, 0, 0},
        {0.015, 1, 2},
        {0, 0, 0},
        {7, 700, 700},
        {123456.79, 12345679, 12345679},
        {99999999999.99, 9999999999999, 9999999999999},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CentsOf(c.Units), c.Truncated) << c.Units;
        EXPECT_EQ(RoundedCentsOf(c.Units), c.Rounded) << c.Units;
    }
    for (double bad :
         {1e13, -1e13, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        EXPECT_THROW(CentsOf(bad), std::out_of_range) << bad;
        EXPECT_THROW(RoundedCentsOf(bad), std::out_of_range) << bad;
    }
}

TEST(Money, TextsInAndOut) {
    struct TCase {
        TCents Cents;
        const char* Fixed;
        const char* Decimal;
    };
    const TCase cases[] = {
        {0, "0.00", "0"},         {1, "0.01", "0.01"},   {5, "0.05", "0.05"},
        {-5, "-0.05", "-0.05"},   {600, "6.00", "6"},    {1550, "15.50", "15.5"},
        {1601, "16.01", "16.01"}, {-100, "-1.00", "-1"}, {123456789, "1234567.89", "1234567.89"}};
    for (const auto& c : cases) {
        EXPECT_EQ(FixedText(c.Cents), c.Fixed);
        EXPECT_EQ(DecimalText(c.Cents), c.Decimal);
        EXPECT_EQ(CentsOfDecimalText(c.Decimal), c.Cents) << "written and read back";
        EXPECT_EQ(CentsOfDecimalText(c.Fixed), c.Cents);
    }
    EXPECT_EQ(CentsOfDecimalText("10.015"), 1002);
    EXPECT_EQ(CentsOfDecimalText("10.005"), 1000) << "halves to even";
    for (const char* bad : {"", "-", ".", "1e3", "12,50", "abc", "1.2.3", " 1"})
        EXPECT_EQ(CentsOfDecimalText(bad, -7), -7) << bad;
    EXPECT_TRUE(FitsWire(2147483647));
    EXPECT_FALSE(FitsWire(2147483648LL));
    EXPECT_FALSE(FitsWire(-2147483649LL));
}
