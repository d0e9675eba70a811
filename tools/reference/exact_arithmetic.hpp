#pragma once
// Error-free transformations of IEEE double arithmetic: a sum or a product of two doubles written
// exactly as the rounded result plus the rounding error, itself a double. They give the reference
// tool twice the precision where it needs it (the residual that iterative refinement corrects,
// and the solution it accumulates) with nothing but double operations, so the digits do not
// depend on long double, on a fused multiply-add or on any library.
//
// They hold when every operation is rounded to double once: no extended intermediate precision
// (checked below), no contraction into fused multiply-adds (the build passes -ffp-contract=off),
// no reassociation.

#include <cfloat>

namespace advdiff::reference {

static_assert(FLT_EVAL_METHOD == 0, "double operations must round to double (use SSE2 arithmetic on x86)");

// hi + lo, with hi the double nearest to the value and |lo| at most half an ulp of hi.
struct DoubleDouble {
    double hi = 0.0;
    double lo = 0.0;
};

// a + b = s + e exactly, with s = fl(a + b) (Knuth's TwoSum; any magnitudes).
inline DoubleDouble two_sum(double a, double b) {
    const double s = a + b;
    const double b_virtual = s - a;
    const double a_virtual = s - b_virtual;
    return {s, (a - a_virtual) + (b - b_virtual)};
}

// a + b = s + e exactly when |a| >= |b| or a is 0 (Dekker's FastTwoSum).
inline DoubleDouble fast_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// Magnitudes from which split() overflows.
constexpr double kLargestSplittable = 0x1p996;

// a = hi + lo with hi and lo of at most 26 significant bits each (Veltkamp's splitting by
// 2^27 + 1). Exact for |a| below kLargestSplittable (about 6.7e299); above it hi is NaN.
inline DoubleDouble split(double a) {
    constexpr double kSplitter = 134217729.0;  // 2^27 + 1
    const double c = kSplitter * a;
    const double hi = c - (c - a);
    return {hi, a - hi};
}

// a * b = p + e exactly, with p = fl(a * b), barring underflow (Dekker's TwoProduct, which needs
// no fused multiply-add: the four partial products of the halves are exact).
inline DoubleDouble two_product(double a, double b) {
    const double p = a * b;
    const DoubleDouble x = split(a);
    const DoubleDouble y = split(b);
    const double e = (((x.hi * y.hi - p) + x.hi * y.lo) + x.lo * y.hi) + x.lo * y.lo;
    return {p, e};
}

// (hi, lo) + d, renormalised: the sum keeps about 106 bits, and hi is the double nearest to it
// (barring a near-tie that the bits lost below lo would have decided).
inline DoubleDouble add(DoubleDouble x, double d) {
    const DoubleDouble s = two_sum(x.hi, d);
    return two_sum(s.hi, s.lo + x.lo);
}

}  // namespace advdiff::reference
