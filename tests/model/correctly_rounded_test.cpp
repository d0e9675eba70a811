// The correctly rounded sin and sinh at arguments whose exact results lie within a tiny fraction
// of an ulp of the midpoint between two doubles (the hardest to round), at the boundaries of the
// evaluation's ranges, and at the special values. The expected results were computed with MPFR
// (mpfr_sin, mpfr_sinh rounded to nearest in the double format); the table needs nothing but the
// program's own code, so it runs on every platform the program is built for.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

#include "model/correctly_rounded.hpp"

namespace advdiff::testing {
namespace {

enum Function { kSin, kSinh };

struct Case {
    Function f;
    double x;
    double expected;
    const char* what;
};

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

constexpr Case kCases[] = {
    // Tiny arguments where x^3/6 crosses an odd multiple of half an ulp: within 2^-50 ulp of a
    // midpoint, beyond any fast evaluation's bound.
    {kSin, 0x1.7137449123ef6p-26, 0x1.7137449123ef6p-26, "x^3/6 just below half an ulp: rounds to x"},
    {kSin, 0x1.8db9cb7511e9ep-25, 0x1.8db9cb7511e9bp-25, "tiny, 2^-53 ulp from a midpoint"},
    {kSin, 0x1.30c7efbee12aep-24, 0x1.30c7efbee12a9p-24, "tiny, 2^-51 ulp from a midpoint"},
    {kSin, 0x1.3905b4a6d76dp-23, 0x1.3905b4a6d76bcp-23, "tiny, 2^-51 ulp from a midpoint"},
    {kSinh, 0x1.7137449123ef6p-26, 0x1.7137449123ef6p-26, "tiny, 2^-54 ulp from a midpoint"},
    {kSinh, 0x1.bcee70ebe7ec9p-25, 0x1.bcee70ebe7ecdp-25, "tiny, 2^-54 ulp from a midpoint"},
    {kSinh, 0x1.184a0aa58191fp-24, 0x1.184a0aa581923p-24, "tiny, 2^-53 ulp from a midpoint"},
    {kSinh, 0x1.5f07120fe56ap-23, 0x1.5f07120fe56bbp-23, "tiny, 2^-52 ulp from a midpoint"},
    // Grid coordinate arguments kPi x_i whose fast evaluation leaves the rounding open.
    {kSin, 0x1.d290356417321p-1, 0x1.949ed450f0cb9p-1, "grid coordinate, cos quadrant"},
    {kSin, 0x1.0ebecdf490e1bp+0, 0x1.be0b31e6d374ep-1, "grid coordinate"},
    {kSin, 0x1.4457905c1a711p+0, 0x1.e88c63a2df983p-1, "grid coordinate"},
    {kSin, 0x1.f1b06dd32bcfp+0, 0x1.dcbcd60a315d1p-1, "grid coordinate"},
    {kSinh, 0x1.c592d4cf44981p-2, 0x1.d48d2d95a16e1p-2, "grid coordinate"},
    {kSinh, 0x1.64694ae98ddbdp-1, 0x1.81e6d0cb4b734p-1, "grid coordinate"},
    // The hardest of 300000 random arguments in each range.
    {kSin, 0x1.f198ccf3f60adp-2, 0x1.de3e619c74a6ep-2, "sin quadrant, 2^-21.9 ulp"},
    {kSin, 0x1.415a0365fc72cp+0, 0x1.e6b9c9eee709ap-1, "cos quadrant, 2^-20.9 ulp"},
    {kSin, 0x1.c9f9f9f605dd6p+1, -0x1.b0c6b13dc302ep-2, "-sin quadrant, 2^-21 ulp"},
    {kSin, 0x1.cf28fb3a949bap+6, 0x1.bc659d113083dp-2, "up to 2^20, 2^-18.3 ulp"},
    {kSin, 0x1.885b7b01ef4e7p+185, 0x1.ca288446fc7bap-2, "huge, 2^-18.8 ulp"},
    {kSinh, 0x1.27e4f8422595cp-8, 0x1.27e53a246f6b5p-8, "series range, 2^-21.4 ulp"},
    {kSinh, 0x1.cf7467b02dbap+4, 0x1.ba5529a6aabb3p+40, "exponential range, 2^-23 ulp"},
    {kSinh, 0x1.d60bdd67aad72p+7, 0x1.0c203d9a03968p+338, "exponential range, 2^-25.7 ulp"},
    // Arguments near multiples of pi/2, where the reduction cancels.
    {kSin, 0x1.921fb54442d18p+1, 0x1.1a62633145c07p-53, "kPi: the reduced argument is about 2^-53"},
    {kSin, 0x1.921fb54442d18p+2, -0x1.1a62633145c07p-52, "2 kPi"},
    {kSin, 355.0, -0x1.f9bd0307d1de3p-16, "close to 113 pi"},
    {kSin, 0x1.6ac5b262ca1ffp+849, 0x1p+0, "the double closest to a multiple of pi/2"},
    // Boundaries of the evaluation's ranges.
    {kSin, 0x1.fffffffffffffp+1023, 0x1.452fc98b34e97p-8, "the largest double"},
    {kSin, 0x1.fffffffffffffp+19, 0x1.526ccb2de52a8p-2, "the largest argument of the fast path"},
    {kSin, 0x1p+20, 0x1.526ccb2fc8656p-2, "the smallest argument of the exact reduction only"},
    {kSin, 0x1p-26, 0x1p-26, "the smallest argument evaluated"},
    {kSin, 0x1.fffffffffffffp-27, 0x1.fffffffffffffp-27, "the largest argument returned as it is"},
    {kSinh, 0x1p-26, 0x1p-26, "the smallest argument evaluated"},
    {kSinh, 0x1.fffffffffffffp-1, 0x1.2cd9fc44eb982p+0, "the largest argument of the series"},
    {kSinh, 0x1p+0, 0x1.2cd9fc44eb982p+0, "the smallest argument of the exponential"},
    {kSinh, 0x1.633ce8fb9f87dp+9, 0x1.ffffffffffd3bp+1023, "the largest argument with a finite result"},
    {kSinh, 0x1.633ce8fb9f87ep+9, inf, "the smallest argument that overflows"},
    {kSinh, 1000.0, inf, "far past the overflow"},
    // Special values (the negative arguments follow by symmetry below).
    {kSin, 0x1p-1074, 0x1p-1074, "the smallest subnormal"},
    {kSinh, 0x1p-1074, 0x1p-1074, "the smallest subnormal"},
    {kSin, 0x1p-1022, 0x1p-1022, "the smallest normal"},
    {kSinh, 0x1p-1022, 0x1p-1022, "the smallest normal"},
    {kSin, 0.0, 0.0, "zero keeps its sign"},
    {kSinh, 0.0, 0.0, "zero keeps its sign"},
    {kSin, inf, nan, "infinity"},
    {kSinh, inf, inf, "infinity"},
    {kSin, nan, nan, "NaN"},
    {kSinh, nan, nan, "NaN"},
};

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (a != a && b != b); }

// Each case, its negative (both functions are odd), and the multiple-precision path on its own
// (which the functions take for these arguments only where the fast path leaves the rounding open).
TEST(CorrectlyRounded, HardCasesBoundariesAndSpecialValuesRoundToTheNearestDouble) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        const auto f = c.f == kSin ? model::cr_sin : model::cr_sinh;
        EXPECT_TRUE(same_bits(f(c.x), c.expected)) << std::hexfloat << c.x << " gives " << f(c.x);
        EXPECT_TRUE(same_bits(f(-c.x), -c.expected)) << std::hexfloat << -c.x << " gives " << f(-c.x);
        const bool evaluated = c.x >= 0x1p-26 && (c.f == kSin ? c.x < inf : c.x < 710.5);
        if (!evaluated) continue;
        const double slow = c.f == kSin ? model::cr_detail::sin_multiprecision(c.x) : model::cr_detail::sinh_multiprecision(c.x);
        EXPECT_TRUE(same_bits(slow, c.expected)) << "multiple precision: " << std::hexfloat << slow;
    }
}

}  // namespace
}  // namespace advdiff::testing
