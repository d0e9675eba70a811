// The correctly rounded sin and sinh against MPFR, an independent multiple-precision library whose
// functions round correctly: bit for bit at every grid coordinate argument of the model problem,
// at a million arguments in [0, 4] and over the whole double range; the fast path's error never
// beyond its bound; every precision of the slow path; every constant of both paths equal to its
// exact value. Built only where MPFR is installed.

#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "model/correctly_rounded.hpp"
#include "model/correctly_rounded_constants.hpp"
#include "model/model_problem.hpp"
#include "model/multiprecision.hpp"

namespace advdiff::testing {
namespace {

using model::cr_sin;
using model::cr_sinh;
namespace cr_detail = model::cr_detail;
namespace constants = model::cr_constants;

// An MPFR number that frees itself.
struct Mpfr {
    mpfr_t v;
    explicit Mpfr(mpfr_prec_t bits) { mpfr_init2(v, bits); }
    ~Mpfr() { mpfr_clear(v); }
    Mpfr(const Mpfr&) = delete;
    Mpfr& operator=(const Mpfr&) = delete;
};

// MPFR's sin or sinh rounded to nearest within the double format (exponent range and subnormals
// included): the correctly rounded double. MPFR's exponent range is the double's while it lives.
class Reference {
public:
    Reference() : emin_(mpfr_get_emin()), emax_(mpfr_get_emax()) {
        mpfr_set_emin(-1073);
        mpfr_set_emax(1024);
    }
    ~Reference() {
        mpfr_set_emin(emin_);
        mpfr_set_emax(emax_);
    }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;
    double sin(double x) { return evaluate(x, mpfr_sin); }
    double sinh(double x) { return evaluate(x, mpfr_sinh); }

private:
    double evaluate(double x, int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t)) {
        mpfr_set_d(argument_.v, x, MPFR_RNDN);
        int inexact = f(result_.v, argument_.v, MPFR_RNDN);
        inexact = mpfr_check_range(result_.v, inexact, MPFR_RNDN);
        mpfr_subnormalize(result_.v, inexact, MPFR_RNDN);
        return mpfr_get_d(result_.v, MPFR_RNDN);
    }
    mpfr_exp_t emin_, emax_;
    Mpfr argument_{53}, result_{53};
};

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (a != a && b != b); }

// A fixed sequence of 64-bit numbers (splitmix64), the same on every platform.
struct Bits {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }  // [0, 1)
    // log-uniform in [lo, hi]
    double between(double lo, double hi) {
        const double a = std::log2(lo), b = std::log2(hi);
        return std::min(hi, std::exp2(a + unit() * (b - a)));
    }
};

// Checks both functions at every argument; the first few mismatches are listed.
void expect_correctly_rounded(const std::vector<double>& arguments, bool also_sinh = true) {
    Reference reference;
    int wrong = 0;
    for (const double x : arguments) {
        const double s = cr_sin(x), expected_s = reference.sin(x);
        if (!same_bits(s, expected_s) && ++wrong <= 5) ADD_FAILURE() << "sin(" << std::hexfloat << x << ") = " << s << ", not " << expected_s;
        if (!also_sinh) continue;
        const double h = cr_sinh(x), expected_h = reference.sinh(x);
        if (!same_bits(h, expected_h) && ++wrong <= 5) ADD_FAILURE() << "sinh(" << std::hexfloat << x << ") = " << h << ", not " << expected_h;
    }
    EXPECT_EQ(wrong, 0) << "of " << arguments.size() << " arguments";
}

// Every argument kPi * x_i of the grids with n = 2 .. 4097 nodes a side, in eight shards of about
// the same size (the shard's sides n with n % 8 == shard), each argument once.
class GridCoordinateArgumentsSlow : public ::testing::TestWithParam<int> {};

TEST_P(GridCoordinateArgumentsSlow, BothFunctionsAreCorrectlyRounded) {
    std::vector<double> arguments;
    for (int n = 2; n <= 4097; ++n) {
        if (n % 8 != GetParam()) continue;
        const double h = model::spacing(n);
        for (int i = 1; i <= n; ++i) arguments.push_back(kPi * model::coordinate(i, h));
    }
    std::sort(arguments.begin(), arguments.end());
    arguments.erase(std::unique(arguments.begin(), arguments.end()), arguments.end());
    expect_correctly_rounded(arguments);
}

INSTANTIATE_TEST_SUITE_P(Shards, GridCoordinateArgumentsSlow, ::testing::Range(0, 8));

TEST(CorrectlyRoundedAgainstMpfr, AMillionArgumentsFromZeroToFour) {
    Bits bits{17};
    std::vector<double> arguments(1000000);
    for (double& x : arguments) x = 4.0 * bits.unit();
    expect_correctly_rounded(arguments);
}

// Random bit patterns (every exponent, both signs, subnormals, infinities and NaNs among them),
// sin at huge arguments, sinh up to and past its overflow, and the special values.
TEST(CorrectlyRoundedAgainstMpfr, TheWholeDoubleRange) {
    Bits bits{23};
    std::vector<double> arguments;
    for (int k = 0; k < 100000; ++k) arguments.push_back(std::bit_cast<double>(bits.next()));
    for (int k = 0; k < 20000; ++k) arguments.push_back(bits.between(0x1p20, std::numeric_limits<double>::max()));
    for (int k = 0; k < 20000; ++k) arguments.push_back(-bits.between(0x1p-30, 0x1p20));
    for (int k = 0; k < 20000; ++k) arguments.push_back(700.0 + 11.0 * bits.unit());
    for (int k = 0; k < 20000; ++k) arguments.push_back(bits.between(0x1p-1074, 0x1p-20));
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    for (const double x : {0.0, -0.0, inf, -inf, nan, std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min()})
        arguments.push_back(x);
    expect_correctly_rounded(arguments);
}

// |f(x) 2^-exponent - (hi + lo)| <= error for the fast evaluation, measured with 256 bits.
double error_in_bounds(const cr_detail::Estimate& e, double x, bool sin) {
    Mpfr a(53), exact(256);
    mpfr_set_d(a.v, x, MPFR_RNDN);
    if (sin) mpfr_sin(exact.v, a.v, MPFR_RNDN);
    else mpfr_sinh(exact.v, a.v, MPFR_RNDN);
    mpfr_mul_2si(exact.v, exact.v, -e.exponent, MPFR_RNDN);
    mpfr_sub_d(exact.v, exact.v, e.hi, MPFR_RNDN);
    mpfr_sub_d(exact.v, exact.v, e.lo, MPFR_RNDN);
    return std::fabs(mpfr_get_d(exact.v, MPFR_RNDU)) / e.error;
}

TEST(CorrectlyRoundedAgainstMpfr, TheFastEvaluationStaysWithinItsErrorBound) {
    Bits bits{29};
    double worst_sin = 0.0, worst_sinh = 0.0;
    for (int k = 0; k < 100000; ++k) {
        // Log-uniform over the fast path's domain, and uniform over the model's [0, pi].
        const double x = k % 2 == 0 ? bits.between(0x1p-26, 0x1p20) : std::max(0x1p-26, kPi * bits.unit());
        const double y = k % 2 == 0 ? bits.between(0x1p-26, 710.5) : std::max(0x1p-26, kPi * bits.unit());
        worst_sin = std::max(worst_sin, error_in_bounds(cr_detail::sin_estimate(x), x, true));
        worst_sinh = std::max(worst_sinh, error_in_bounds(cr_detail::sinh_estimate(y), y, false));
    }
    EXPECT_LE(worst_sin, 1.0);
    EXPECT_LE(worst_sinh, 1.0);
}

// The slow path is rarely taken by the functions: each precision is checked on its own, where it
// decides (the lowest always does at these arguments).
TEST(CorrectlyRoundedAgainstMpfr, EveryPrecisionOfTheMultiplePrecisionPath) {
    Reference reference;
    Bits bits{31};
    for (const int limbs : {8, 16, model::multiprecision::kMaxFractionLimbs}) {
        SCOPED_TRACE(limbs);
        for (int k = 0; k < 3000; ++k) {
            const double x = k % 3 == 0 ? bits.between(0x1p-26, std::numeric_limits<double>::max()) : bits.between(0x1p-26, 4.0);
            const model::multiprecision::Rounding s = model::multiprecision::sin(x, limbs);
            EXPECT_TRUE(s.decided) << std::hexfloat << x;
            EXPECT_TRUE(same_bits(s.value, reference.sin(x))) << "sin " << std::hexfloat << x;
            const double y = k % 3 == 0 ? bits.between(0x1p-26, 710.5) : bits.between(0x1p-26, 4.0);
            const model::multiprecision::Rounding h = model::multiprecision::sinh(y, limbs);
            EXPECT_TRUE(h.decided) << std::hexfloat << y;
            EXPECT_TRUE(same_bits(h.value, reference.sinh(y))) << "sinh " << std::hexfloat << y;
        }
    }
}

// The digits of a constant: floor(c 2^(32 count)) split into 32-bit digits, most significant first.
template <std::size_t N>
void expect_digits(const std::array<std::uint32_t, N>& table, mpfr_srcptr c, const char* name) {
    Mpfr scaled(32 * static_cast<mpfr_prec_t>(N) + 256);
    mpfr_mul_2ui(scaled.v, c, 32 * N, MPFR_RNDN);
    mpz_t z;
    mpz_init(z);
    mpfr_get_z(z, scaled.v, MPFR_RNDD);
    for (std::size_t j = N; j-- > 0;) {
        EXPECT_EQ(table[j], static_cast<std::uint32_t>(mpz_fdiv_ui(z, 4294967296u))) << name << " digit " << j + 1;
        mpz_fdiv_q_2exp(z, z, 32);
    }
    mpz_clear(z);
}

// |x - c| in units of 2^e, for a sum of doubles x.
double distance(std::initializer_list<double> parts, mpfr_srcptr c, int e) {
    Mpfr sum(4000);
    mpfr_set(sum.v, c, MPFR_RNDN);
    for (const double p : parts) mpfr_sub_d(sum.v, sum.v, p, MPFR_RNDN);
    mpfr_mul_2si(sum.v, sum.v, -e, MPFR_RNDN);
    return std::fabs(mpfr_get_d(sum.v, MPFR_RNDN));
}

int significant_bits(double x) {
    const std::uint64_t mantissa = (std::bit_cast<std::uint64_t>(x) & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    return 53 - std::countr_zero(mantissa);
}

TEST(CorrectlyRoundedAgainstMpfr, EveryConstantIsItsExactValue) {
    constexpr mpfr_prec_t precision = 4000;
    Mpfr pi(precision), two_over_pi(precision), half_pi(precision), half_pi_fraction(precision), ln2(precision),
        inverse_ln2(precision);
    mpfr_const_pi(pi.v, MPFR_RNDN);
    mpfr_ui_div(two_over_pi.v, 2, pi.v, MPFR_RNDN);
    mpfr_div_2ui(half_pi.v, pi.v, 1, MPFR_RNDN);
    mpfr_sub_ui(half_pi_fraction.v, half_pi.v, 1, MPFR_RNDN);
    mpfr_const_log2(ln2.v, MPFR_RNDN);
    mpfr_ui_div(inverse_ln2.v, 1, ln2.v, MPFR_RNDN);

    // The slow path's digit tables.
    expect_digits(constants::kTwoOverPiDigits, two_over_pi.v, "2/pi");
    expect_digits(constants::kHalfPiFractionDigits, half_pi_fraction.v, "pi/2 - 1");
    expect_digits(constants::kLn2Digits, ln2.v, "ln 2");

    // The fast path's reduction constants: nearest doubles, and the split constants as their
    // comments state (bits of each part, distance of the sum).
    EXPECT_EQ(constants::kTwoOverPi, mpfr_get_d(two_over_pi.v, MPFR_RNDN));
    EXPECT_EQ(constants::kInverseLn2, mpfr_get_d(inverse_ln2.v, MPFR_RNDN));
    for (const double part : {constants::kHalfPi1, constants::kHalfPi2, constants::kHalfPi3}) EXPECT_LE(significant_bits(part), 33);
    EXPECT_LT(distance({constants::kHalfPi1, constants::kHalfPi2, constants::kHalfPi3, constants::kHalfPi4}, half_pi.v, -159), 0.58);  // 2^-159.8
    for (const double part : {constants::kLn2_1, constants::kLn2_2}) EXPECT_LE(significant_bits(part), 42);
    EXPECT_LT(distance({constants::kLn2_1, constants::kLn2_2, constants::kLn2_3}, ln2.v, -140), 0.82);  // 2^-140.3

    // The Taylor coefficients +-1/n!: a double-double entry is the nearest double and the nearest
    // double to the rest, a double entry the nearest double.
    const auto coefficient = [](int n, int sign, Mpfr& c) {
        mpfr_fac_ui(c.v, static_cast<unsigned long>(n), MPFR_RNDN);
        mpfr_si_div(c.v, sign, c.v, MPFR_RNDN);
    };
    const auto check_head = [&](const auto& table, int first_n, bool alternating, int first_sign, const char* name) {
        for (std::size_t k = 0; k < table.size(); ++k) {
            const int n = first_n + 2 * static_cast<int>(k);
            const int sign = alternating && k % 2 == 1 ? -first_sign : first_sign;
            Mpfr c(precision);
            coefficient(n, sign, c);
            EXPECT_EQ(table[k].hi, mpfr_get_d(c.v, MPFR_RNDN)) << name << " 1/" << n << "!";
            mpfr_sub_d(c.v, c.v, table[k].hi, MPFR_RNDN);
            EXPECT_EQ(table[k].lo, mpfr_get_d(c.v, MPFR_RNDN)) << name << " 1/" << n << "! (low part)";
        }
    };
    const auto check_tail = [&](const auto& table, int first_n, bool alternating, int first_sign, const char* name) {
        for (std::size_t k = 0; k < table.size(); ++k) {
            const int n = first_n + 2 * static_cast<int>(k);
            Mpfr c(precision);
            coefficient(n, alternating && k % 2 == 1 ? -first_sign : first_sign, c);
            EXPECT_EQ(table[k], mpfr_get_d(c.v, MPFR_RNDN)) << name << " 1/" << n << "!";
        }
    };
    check_head(constants::kSinHead, 3, true, -1, "sin");
    check_tail(constants::kSinTail, 13, true, 1, "sin");
    check_head(constants::kCosHead, 2, true, -1, "cos");
    check_tail(constants::kCosTail, 14, true, -1, "cos");
    check_head(constants::kSinhHead, 3, false, 1, "sinh");
    check_tail(constants::kSinhTail, 13, false, 1, "sinh");
    check_head(constants::kCoshHead, 2, false, 1, "cosh");
    check_tail(constants::kCoshTail, 10, false, 1, "cosh");
}

}  // namespace
}  // namespace advdiff::testing
