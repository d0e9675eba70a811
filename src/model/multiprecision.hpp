#pragma once
// The slow path of the correctly rounded sin and sinh: the functions evaluated in binary fixed
// point with 32 * fraction_limbs bits after the point and a proven bound on the error, and the
// rounding decided from that bound. Only integer arithmetic is used (32-bit limbs, 64-bit
// products), so the bits do not depend on the platform.

#include <optional>

namespace advdiff::model::multiprecision {

// The widest precision the tables of constants allow: 32 limbs of 32 bits after the point.
constexpr int kMaxFractionLimbs = 32;

// The outcome at one precision: the double nearest to the value the evaluation found, and whether
// the error bound proves it to be the double nearest to the exact value.
struct Rounding {
    double value = 0.0;
    bool decided = false;
};

// sin(x) and sinh(x) for a finite x with 2^-26 <= x (sinh also x < 710.5), at a precision of
// 32 * fraction_limbs bits (8 <= fraction_limbs <= kMaxFractionLimbs) after the binary point.
Rounding sin(double x, int fraction_limbs);
Rounding sinh(double x, int fraction_limbs);

}  // namespace advdiff::model::multiprecision
