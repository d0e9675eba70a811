// The fixed-width fields of the report: worked examples, rounding of the exact binary value with
// ties to even, the sign of values that round to zero, asterisks for values that do not fit, and
// the texts of non-finite values.

#include <gtest/gtest.h>

#include <limits>

#include "report/field_format.hpp"

namespace advdiff::report {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();

TEST(IntegerField, RightJustifiesAndOverflowsToAsterisks) {
    EXPECT_EQ(format_i(999, 3), "999");
    EXPECT_EQ(format_i(1000, 3), "***");
    EXPECT_EQ(format_i(-99, 3), "-99");
    EXPECT_EQ(format_i(-100, 3), "***");
    EXPECT_EQ(format_i(0, 13), "            0");
    EXPECT_EQ(format_i(-2147483648LL, 13), "  -2147483648");
}

struct RealCase {
    double value;
    int width, decimals;
    const char* expected;
};

TEST(FixedField, WorkedExamplesRoundingAndLeadingZero) {
    const RealCase cases[] = {
        {10.0123456, 13, 6, "    10.012346"}, {0.25, 13, 6, "     0.250000"}, {2.0, 9, 1, "      2.0"},
        {1.0, 4, 1, " 1.0"},                  {100.0, 4, 1, "****"},           {-1e300, 13, 6, "*************"},
        {-0.5, 3, 1, "-.5"},                  // too long only because of the leading 0
        {0.5, 2, 1, ".5"},                    {9.96, 4, 1, "10.0"},
        {99.95, 4, 1, "****"},                // 99.950000000000003 rounds up to 100.0
        {0.25, 4, 1, " 0.2"},                 // exact tie: the even digit
        {0.75, 4, 1, " 0.8"},                 {0.35, 4, 1, " 0.3"},            // 0.34999999999999998
        {-1e-9, 13, 6, "    -0.000000"},      // a negative value rounding to zero keeps its sign
        {-0.0, 13, 6, "    -0.000000"},       {-0.01, 4, 1, "-0.0"},
    };
    for (const RealCase& c : cases) EXPECT_EQ(format_f(c.value, c.width, c.decimals), c.expected) << c.value;
}

// The decimal point is always part of an F and an E field, also with no decimals.
TEST(FixedField, ZeroDecimalsStillWriteTheDecimalPoint) {
    EXPECT_EQ(format_f(2.5, 9, 0), "       2.");
    EXPECT_EQ(format_f(-3.0, 4, 0), " -3.");
    EXPECT_EQ(format_e(2.5, 9, 0), "   2.E+00");
}

TEST(ExponentField, WorkedExamplesRoundingAndThreeDigitExponents) {
    const RealCase cases[] = {
        {9.99996, 13, 4, "   1.0000E+01"},
        {-0.5, 13, 4, "  -5.0000E-01"},
        {-kMax, 25, 16, "  -1.7976931348623157+308"},
        {1.2345678e-5, 13, 4, "   1.2346E-05"},
        {1.0, 25, 16, "   1.0000000000000000E+00"},
        {0.0, 25, 16, "   0.0000000000000000E+00"},
        {-0.0, 13, 4, "  -0.0000E+00"},
        {1.03125, 13, 4, "   1.0312E+00"},  // exact tie: the even digit
        {1.09375, 13, 4, "   1.0938E+00"},
        {1e-99, 13, 4, "   1.0000E-99"},
        {1e-100, 13, 4, "   1.0000-100"},
        {9.99996e99, 13, 4, "   1.0000+100"},  // the rounding carries the exponent to three digits
        {5e-324, 25, 16, "   4.9406564584124654-324"},
        {123.456, 8, 4, "********"},
    };
    for (const RealCase& c : cases) EXPECT_EQ(format_e(c.value, c.width, c.decimals), c.expected) << c.value;
}

TEST(NonFiniteValues, PrintNaNInfinityOrInfOrAsterisks) {
    const RealCase cases[] = {
        {kNaN, 13, 6, "          NaN"}, {kInf, 13, 6, "     Infinity"}, {-kInf, 13, 6, "    -Infinity"},
        {kInf, 4, 1, " Inf"},           {-kInf, 4, 1, "-Inf"},          {-kInf, 3, 1, "***"},
        {kInf, 3, 1, "Inf"},            {kNaN, 2, 1, "**"},
    };
    for (const RealCase& c : cases) EXPECT_EQ(format_f(c.value, c.width, c.decimals), c.expected) << c.value;
    EXPECT_EQ(format_e(kNaN, 13, 4), "          NaN");
    EXPECT_EQ(format_e(-kInf, 25, 16), "                -Infinity");
}

TEST(TextField, RightJustifiesOrCutsToWidth) {
    EXPECT_EQ(format_a("abc", 8), "     abc");
    EXPECT_EQ(format_a("abcdefghij", 8), "abcdefgh");
    EXPECT_EQ(format_a("caf\xe9 ", 6), " caf\xe9 ");  // bytes, trailing blank kept
}

}  // namespace
}  // namespace advdiff::report
