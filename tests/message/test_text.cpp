// Content checks, trimming, decimal text and amount conversions.
#include "message/amount.h"
#include "message/numtext.h"
#include "message/text_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace tranpak::test {
namespace {

TEST(TextChecks, ClassesAreThoseOfTheCLocale)
{
    struct {
        const char *text;
        int alpha, alnum, number;
    } cases[] = {
        {"", 1, 1, 1},    {"AbC", 1, 1, 0},     {"Ab 1", 0, 1, 0}, {"a\tb\n\v\f\r", 1, 1, 0}, {"123", 0, 1, 1},
        {"+", 0, 0, 1},   {"-12", 0, 0, 1},     {"1-2", 0, 0, 0},  {"+-1", 0, 0, 0},          {"1.5", 0, 0, 0},
        {" 12", 0, 1, 0}, {"caf\xe9", 0, 0, 0},  // bytes of 0x80 and above belong to no class
        {"x_y", 0, 0, 0},
    };
    for (auto &c : cases) {
        EXPECT_EQ(IsAlphaText(c.text), c.alpha) << c.text;
        EXPECT_EQ(IsAlnumText(c.text), c.alnum) << c.text;
        EXPECT_EQ(IsNumberText(c.text), c.number) << c.text;
    }
}

TEST(TextChecks, TrimmingTakesBlanksAndTabsLeftAndOnlyBlanksRight)
{
    struct {
        const char *in, *out;
    } cases[] = {
        {"  12 ", "12"}, {"\t AB\t", "AB\t"}, {"x \t ", "x \t"}, {"   ", ""}, {"", ""}, {"a b", "a b"},
    };
    for (auto &c : cases) {
        char text[32];
        std::strcpy(text, c.in);
        TrimLeft(text);
        TrimRight(text);
        EXPECT_STREQ(text, c.out) << '"' << c.in << '"';
    }
}

TEST(DecimalText, LeadingNumbersReadLikeAtoiWithoutOverflow)
{
    struct {
        const char *text;
        int value;
        bool found;
    } cases[] = {
        {"0048", 48, true},
        {" 12", 12, true},
        {"-001", -1, true},
        {"12a4", 12, true},
        {"+7", 7, true},
        {"", 0, false},
        {"abc", 0, false},
        {"-", 0, false},
        {"99999999999", 2147483647, true},
        {"-99999999999", -2147483647 - 1, true},
        {"\t\n5", 5, true},
    };
    for (auto &c : cases) {
        LeadingNumber n = ReadLeadingNumber(c.text);
        EXPECT_EQ(n.value, c.value) << c.text;
        EXPECT_EQ(n.found, c.found) << c.text;
    }
}

TEST(DecimalText, ZeroFillKeepsTheSignInFront)
{
    struct {
        const char *src;
        int width;
        const char *out;
    } cases[] = {
        {"-12", 6, "-00012"}, {"123", 6, "000123"},    {"+", 5, "+0000"},
        {"", 4, "0000"},      {"-12345", 6, "-12345"}, {"7", 1, "7"},
    };
    for (auto &c : cases) {
        char out[16] = {};
        ZeroFillLeft(out, c.width, c.src, static_cast<int>(std::strlen(c.src)), true);
        EXPECT_STREQ(out, c.out) << c.src;
    }
    char digits[8] = {};
    EXPECT_EQ(WriteZeroFilled(digits, 4, 48), 0);
    EXPECT_STREQ(digits, "0048");
    EXPECT_EQ(WriteZeroFilled(digits, 2, 100), -1);
    EXPECT_EQ(WriteZeroFilled(digits, 4, -1), -1);
}

TEST(Amounts, TwoDecimalsRoundHalfAwayFromZeroOnSeventeenDigits)
{
    struct {
        double value;
        const char *text;
    } cases[] = {
        {0.125, "0.13"},
        {2.675, "2.67"},  // the double lies just below 2.675
        {-0.125, "-0.13"},
        {12.5, "12.50"},
        {0.0, "0.00"},
        {-0.05, "-0.05"},
        {0.005, "0.01"},
        {0.004999, "0.00"},
        {99.995, "100.00"},  // 99.995000000000000 to 17 digits: carries into a new digit
        {9.995, "9.99"},
        {0.995, "1.00"},
        {1.005, "1.00"},
        {999.999, "1000.00"},
        {1e20, "100000000000000000000.00"},
        {1234567.891, "1234567.89"},
        {-2147483648.0, "-2147483648.00"},
        {1e-300, "0.00"},
        {-1e-300, "0.00"},
        {1e35, "99999999999999997000000000000000000.00"},  // 17 digits, then zeros
    };
    for (auto &c : cases) {
        char out[kAmountTextSize];
        ASSERT_GT(FormatAmount(c.value, out), 0) << c.value;
        EXPECT_STREQ(out, c.text) << c.value;
    }
}

TEST(Amounts, TextsThatWouldNotFitAreRefused)
{
    char out[kAmountTextSize];
    EXPECT_EQ(FormatAmount(5e35, out), 39);  // 36 digits, point, 2 decimals
    EXPECT_EQ(FormatAmount(-5e35, out), -1);
    EXPECT_EQ(FormatAmount(1e36, out), -1);
    EXPECT_EQ(FormatAmount(std::numeric_limits<double>::max(), out), -1);
}

TEST(Amounts, NonFiniteValuesGiveTheirNames)
{
    char out[kAmountTextSize];
    FormatAmount(std::numeric_limits<double>::infinity(), out);
    EXPECT_STREQ(out, "inf");
    FormatAmount(-std::numeric_limits<double>::infinity(), out);
    EXPECT_STREQ(out, "-inf");
    FormatAmount(std::nan(""), out);
    EXPECT_STREQ(out, "nan");
}

TEST(Amounts, DecimalPointComesOutAndGoesBackIn)
{
    struct {
        const char *withPoint, *without;
    } cases[] = {{"12.50", "1250"}, {"0.05", "005"}, {"-3.00", "-300"}, {".12", "12"}};
    for (auto &c : cases) {
        char out[kAmountTextSize];
        StripDecimalPoint(out, c.withPoint);
        EXPECT_STREQ(out, c.without);
        InsertDecimalPoint(out, c.without);
        EXPECT_STREQ(out, c.withPoint);
    }
}

TEST(Amounts, TextToDoubleIsTheLenientDecimalConversion)
{
    struct {
        const char *text;
        double value;
    } cases[] = {
        {"12.50", 12.5}, {"+00012.50", 12.5}, {"-0.05", -0.05}, {"0.05", 0.05},   {" 7.", 7.0}, {".5", 0.5},
        {".-5", 0.0},    {"", 0.0},           {"-", 0.0},       {"12.3.4", 12.3}, {"1e5", 1.0},
    };
    for (auto &c : cases)
        EXPECT_EQ(TextToDouble(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace tranpak::test
