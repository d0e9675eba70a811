#pragma once
// sin and sinh correctly rounded: for every double argument, the double nearest to the exact value
// (ties to even, which a nonzero double argument never meets). The C library's functions are not:
// they differ from one C library to another, and within one between the code paths it picks by
// the processor's features, so the same program printed other digits on other machines. These use
// only IEEE additions, multiplications and integer arithmetic: the same bits whatever the
// platform, the compiler flags, FMA or the width of long double.
//
// How: a fast evaluation in double-double arithmetic with a proven bound on its error; if the
// bound shows that every value within it rounds to the same double, that is the result. Otherwise
// (or for sin of arguments of 2^20 and above) the function is evaluated in fixed-point multiple
// precision with 256, 512 and then 1024 bits after the point, each with its own proven bound.
// Special values: sin(+-0) = +-0, sin(+-inf) = NaN; sinh(+-0) = +-0, sinh(+-inf) = +-inf;
// a NaN gives a NaN.

#include <optional>

namespace advdiff::model {

double cr_sin(double x);
double cr_sinh(double x);

// x * 2^e, exact when x * 2^e is a normal double; an overflow gives infinity exactly as the
// rounding of the exact product does.
double scale_by_power_of_two(double x, int e);

// The pieces of the two functions, for the tests and the benchmark.
namespace cr_detail {

// The fast evaluation: the exact value lies within `error` of (hi + lo) * 2^exponent, where
// |lo| <= ulp(hi)/2 and `error` is in the same scale as hi.
struct Estimate {
    double hi = 0.0;
    double lo = 0.0;
    double error = 0.0;
    int exponent = 0;
};

// Valid for 2^-26 <= x < 2^20 (sin) and 2^-26 <= x < 710.5 (sinh).
Estimate sin_estimate(double x);
Estimate sinh_estimate(double x);

// The correctly rounded result, if the estimate's bound decides it.
std::optional<double> decided(const Estimate& e);

// The multiple-precision path alone, for a positive finite x of 2^-26 and above (and below 710.5
// for sinh): the correctly rounded result, found at the lowest of the three precisions that
// decides it.
double sin_multiprecision(double x);
double sinh_multiprecision(double x);

}  // namespace cr_detail

}  // namespace advdiff::model
