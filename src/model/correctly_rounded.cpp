#include "model/correctly_rounded.hpp"

#include <array>
#include <bit>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "model/correctly_rounded_constants.hpp"
#include "model/multiprecision.hpp"

// The error-free transformations below need every operation on doubles rounded once, to double
// (no wider intermediate format, no fused multiply-add: the project compiles with
// -ffp-contract=off).
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must be evaluated in double precision");
static_assert(std::numeric_limits<double>::is_iec559, "IEEE doubles are required");

namespace advdiff::model {

double scale_by_power_of_two(double x, int e) {
    const auto power = [](int k) { return std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52); };
    // Steps of 2^512 at most: each one but the last is exact (scaling down, every intermediate
    // value lies above the final normal one; scaling up, below the final one).
    while (e > 512) {
        x *= power(512);
        e -= 512;
    }
    while (e < -512) {
        x *= power(-512);
        e += 512;
    }
    return x * power(e);
}

namespace {

// ---------------------------------------------------------------------------------------------
// Double-double arithmetic. u = 2^-53 is the unit round-off. A pair (hi, lo) stands for hi + lo
// with |lo| <= ulp(hi)/2 <= u |hi|. Every magnitude met below lies between 2^-200 and 2^21, far
// from overflow and underflow, where the transformations two_sum, fast_two_sum and two_prod are
// exact.

using DD = cr_constants::DoubleDouble;
using namespace cr_constants;  // the coefficient tables and the reduction constants

// a + b = s + e exactly.
DD two_sum(double a, double b) {
    const double s = a + b;
    const double b_virtual = s - a;
    const double a_virtual = s - b_virtual;
    return {s, (a - a_virtual) + (b - b_virtual)};
}

// a + b = s + e exactly, when |a| >= |b|.
DD fast_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// a = hi + lo with hi and lo of 26 significant bits at most (Veltkamp's splitting).
DD split(double a) {
    const double t = 134217729.0 * a;  // 2^27 + 1
    const double hi = t - (t - a);
    return {hi, a - hi};
}

// a b = p + e exactly, without a fused multiply-add (Dekker's product): the four partial products
// of the halves are exact.
DD two_prod(double a, double b) {
    const double p = a * b;
    const DD x = split(a), y = split(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

// a b. Its error: the dropped a.lo b.lo (u^2 |a.hi b.hi|), the roundings of a.hi b.lo and
// a.lo b.hi (u^2 each), of their sum (2u^2) and of adding the product's low part (3u^2): below
// 8u^2 (1 + 5u) |a b| < 2^-102 |a b|.
DD mul(DD a, DD b) {
    const DD p = two_prod(a.hi, b.hi);
    return fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

// a b for a double b: below 3u^2 (1 + 3u) |a b| < 2^-104 |a b|.
DD mul(DD a, double b) {
    const DD p = two_prod(a.hi, b);
    return fast_two_sum(p.hi, p.lo + a.lo * b);
}

// a + b, the accurate double-double sum: its relative error is below 3u^2 / (1 - 4u) < 2^-104
// whatever the signs (both high and both low parts are added exactly, then renormalised twice).
DD add(DD a, DD b) {
    const DD s = two_sum(a.hi, b.hi);
    const DD t = two_sum(a.lo, b.lo);
    const DD v = fast_two_sum(s.hi, s.lo + t.hi);
    return fast_two_sum(v.hi, t.lo + v.lo);
}

DD negate(DD a) { return {-a.hi, -a.lo}; }

DD scale(DD a, double power_of_two) { return {a.hi * power_of_two, a.lo * power_of_two}; }

// ---------------------------------------------------------------------------------------------
// Taylor polynomials. Each is p(z) = c_0 + z (c_1 + z (... + z (c_(n-1) + z t(z)))): the leading
// coefficients c_i in double-double (hi = the double nearest to the exact rational, lo = the
// double nearest to the rest, together within 2^-106 of it), the tail t in plain double Horner at
// z.hi. Truncated Taylor series, so that every bound below is proven by hand: an alternating or
// positive series with decreasing terms is within its first omitted term (times 1/(1 - ratio) for
// a positive one) of its sum.

template <std::size_t N, std::size_t M>
DD polynomial(DD z, const std::array<DD, N>& head, const std::array<double, M>& tail) {
    double t = tail[M - 1];
    for (std::size_t i = M - 1; i-- > 0;) t = t * z.hi + tail[i];
    DD q = add(head[N - 1], mul(z, t));
    for (std::size_t i = N - 1; i-- > 0;) q = add(head[i], mul(z, q));
    return q;
}

// The double tails: Horner's rule with m steps is within gamma_2m sum |c_i| z^i of the polynomial
// at z.hi (gamma_k = k u / (1 - k u)); the coefficients' own roundings add u sum |c_i| z^i, the
// use of z.hi for z (|z - z.hi| <= 2u z) less than that. The terms fall by a factor of 100 or more,
// so sum |c_i| z^i <= 1.02 |c_0|: every tail is within 2^-48 |c_0| of its exact value.
//
// The double-double parts: each step q := c + z q multiplies (2^-102) and adds (2^-104); the
// product z q is at most a tenth of c, so the relative errors do not grow from step to step, and
// with the final multiplications and sum every polynomial below is within 2^-97 of the value of
// its double-double operations taken exactly.

DD square(DD r) {
    const DD p = two_prod(r.hi, r.hi);
    return fast_two_sum(p.hi, p.lo + 2.0 * r.hi * r.lo);
}

// r + r z p(z) and 1 + z p(z), z = r^2: sin and sinh, cos and cosh by their tables.
template <std::size_t N, std::size_t M>
DD odd_function(DD r, const std::array<DD, N>& head, const std::array<double, M>& tail) {
    const DD z = square(r);
    return add(r, mul(r, mul(z, polynomial(z, head, tail))));
}

template <std::size_t N, std::size_t M>
DD even_function(DD r, const std::array<DD, N>& head, const std::array<double, M>& tail) {
    const DD z = square(r);
    return add(DD{1.0, 0.0}, mul(z, polynomial(z, head, tail)));
}

// Their errors:
//   sin of |r| <= 0.786 (a little above pi/4; z <= 0.618): first omitted term r^23/23! <=
//     2^-82.1 |r|; the tail enters as r z^6 t with |r z^6 / 13!| <= 2^-36.7 |r|, so its error is
//     below 2^-84.7 |r|. With |sin r| >= 0.9 |r| the whole error is below 2^-81.3 |sin r|.
//   cos of |r| <= 0.786: first omitted term z^12/24! <= 2^-87.4; the tail enters as z^7 t,
//     |z^7/14!| <= 2^-41.2, its error below 2^-89.2. With cos r >= 0.706: below 2^-86 cos r.
//   sinh of |r| < 1 (z < 1), all terms positive: first omitted term r^24/25! <= 2^-83.7 |r| (the
//     rest of the series adds less than 1%); the tail enters as r z^6 t, |r z^6 / 13!| <=
//     2^-32.5 |r|, its error below 2^-80.5 |r|. sinh r >= |r|: below 2^-80.3 |sinh r|.
//   cosh of |r| <= 0.347 (z <= 0.1205): first omitted term z^10/20! <= 2^-91.6; the tail enters
//     as z^5 t, |z^5 / 10!| <= 2^-37, its error below 2^-85. cosh r >= 1.

// The bound the rounding test uses for the polynomials above: the largest of their errors,
// 2^-80.3 relative, with a margin of 2^4 (which also covers taking |hi| for the exact value).
constexpr double kPolynomialError = 0x1p-76;

// ---------------------------------------------------------------------------------------------
// Argument reductions, Cody and Waite's way: the constant split into parts whose products with
// the integer k are exact.

// The integer nearest to v (|v| < 2^51): adding 1.5 * 2^52 leaves no bits after the point.
double nearest_integer(double v) { return (v + 0x1.8p52) - 0x1.8p52; }

double magnitude(double v) { return v < 0 ? -v : v; }

struct Reduced {
    DD r;            // x - k pi/2
    int quadrant;    // k mod 4
    double error;    // bound on |x - k pi/2 - (r.hi + r.lo)|
};

// x - k pi/2 for 0 < x < 2^20, k the integer nearest to x 2/pi (|r| <= (1/2 + 2^-31) pi/2 < 0.786).
// The three exact products are taken away with two_sum, which keeps each step's rounding error:
//   x - k pi/2 = c.hi + (a.lo + b.lo + c.lo - k kHalfPi4) - k d.
// The bracket is summed in double: three roundings, each within u of a partial sum, and the
// rounding of k kHalfPi4, all within 4u (1 + u)^3 A of it, A = |a.lo| + |b.lo| + |c.lo| + |p4|
// (< 2^-50.9 A); the last two_sum is exact. The bound taken is 2^-49 A (A summed in double is short
// by 3u at most) + k 2^-159. This bound is small where the reduction cancels (the low parts are
// then 0) and keeps the fast path for arguments close to multiples of pi/2, such as pi itself.
Reduced reduce_half_pi(double x) {
    const double k = nearest_integer(x * kTwoOverPi);
    const DD a = two_sum(x, -(k * kHalfPi1));
    const DD b = two_sum(a.hi, -(k * kHalfPi2));
    const DD c = two_sum(b.hi, -(k * kHalfPi3));
    const double p4 = k * kHalfPi4;
    const double rest = ((a.lo + b.lo) + c.lo) - p4;
    const double A = ((magnitude(a.lo) + magnitude(b.lo)) + magnitude(c.lo)) + magnitude(p4);
    return {two_sum(c.hi, rest), static_cast<int>(k) & 3, 0x1p-49 * A + k * 0x1p-159};
}

}  // namespace

namespace cr_detail {

Estimate sin_estimate(double x) {
    const Reduced red = reduce_half_pi(x);
    DD v = (red.quadrant & 1) != 0 ? even_function(red.r, kCosHead, kCosTail) : odd_function(red.r, kSinHead, kSinTail);
    if ((red.quadrant & 2) != 0) v = negate(v);
    // The polynomial's error relative to sin or cos of the computed r, and the reduction's error,
    // which passes on unchanged (|sin'|, |cos'| <= 1).
    return {v.hi, v.lo, kPolynomialError * magnitude(v.hi) + red.error, 0};
}

Estimate sinh_estimate(double x) {
    if (x < 1.0) {
        const DD v = odd_function(DD{x, 0.0}, kSinhHead, kSinhTail);
        return {v.hi, v.lo, kPolynomialError * v.hi, 0};
    }
    // x = k ln2 + r, sinh x = 2^(k-1) (e^r - 2^(-2k) e^(-r)) with e^(+-r) = cosh r +- sinh r.
    // k <= 1025, |r| <= (1/2 + 2^-40) ln 2 < 0.347.
    // r: |a.hi| < 0.35 and |b.hi| < 0.35, so |a.lo|, |b.lo| <= 2^-55, |k kLn2_3| < 2^-76; the two
    // roundings of the bracket and that of k kLn2_3 stay below 2^-106.5, k d below 2^-130: r is
    // within 2^-106 of x - k ln 2.
    const double k = nearest_integer(x * kInverseLn2);
    const DD a = two_sum(x, -(k * kLn2_1));
    const DD b = two_sum(a.hi, -(k * kLn2_2));
    const DD r = two_sum(b.hi, (a.lo + b.lo) - k * kLn2_3);
    const DD c = even_function(r, kCoshHead, kCoshTail), s = odd_function(r, kSinhHead, kSinhTail);
    const DD plus = add(c, s), minus = add(c, negate(s));
    // y = e^r - 2^(-2k) e^(-r) lies in [0.61, 1.42] for x >= 1. Errors: e^(+-r) are within
    // 2^-84.9 (cosh) + 2^-96 (sinh: at |r| <= 0.347 its first omitted term is below 2^-122 and its
    // tail's error below 2^-100) + 2^-104 (sum) < 2^-84.8 of the exponentials of the computed r,
    // and those within e^0.347 2^-106 of the exact ones; y, after its sum and the scaling, is
    // within 1.25 * 2^-84.8 + 2^-103 < 2^-84.4 of the exact value: 2^-83.7 relative.
    DD y = plus;
    double dropped = 0.0;
    if (k <= 60) {
        y = add(plus, negate(scale(minus, scale_by_power_of_two(1.0, -2 * static_cast<int>(k)))));
    } else {
        dropped = scale_by_power_of_two(1.5, -2 * static_cast<int>(k));  // 2^(-2k) e^(-r) < 2^-120
    }
    return {y.hi, y.lo, kPolynomialError * y.hi + dropped, static_cast<int>(k) - 1};
}

// Every value within e.error of hi + lo rounds to hi when
//   hi + lo + error < hi + up/2  and  hi + lo - error > hi - down/2
// (up and down: the distances to the next double above and below; hi > 0 by symmetry). up/2 - lo
// and down/2 + lo are computed with one rounding each (relative error <= u), so comparing them
// with 2 error is safe. Only sinh scales, by 2^(k-1) with hi in [0.6, 1.5]: far from underflow,
// the nearest double to v 2^m is the nearest to v times 2^m, and the product overflows exactly
// when the scaled exact value rounds to infinity.
std::optional<double> decided(const Estimate& e) {
    const bool negative = e.hi < 0;
    const double hi = negative ? -e.hi : e.hi, lo = negative ? -e.lo : e.lo;
    if (!(hi > 0)) return std::nullopt;
    const auto bits = std::bit_cast<std::uint64_t>(hi);
    const double up = std::bit_cast<double>(bits + 1) - hi;
    const double down = hi - std::bit_cast<double>(bits - 1);
    if (!(0.5 * up - lo > 2.0 * e.error && 0.5 * down + lo > 2.0 * e.error)) return std::nullopt;
    return scale_by_power_of_two(negative ? -hi : hi, e.exponent);
}

double sin_multiprecision(double x) {
    multiprecision::Rounding r;
    for (const int limbs : {8, 16, multiprecision::kMaxFractionLimbs}) {
        r = multiprecision::sin(x, limbs);
        if (r.decided) return r.value;
    }
    // Not reached: the hardest cases of sin over all doubles need about 2^-120 relative accuracy,
    // and 1024 bits give far more. Should it happen, the nearest double to the best value found.
    return r.value;
}

double sinh_multiprecision(double x) {
    multiprecision::Rounding r;
    for (const int limbs : {8, 16, multiprecision::kMaxFractionLimbs}) {
        r = multiprecision::sinh(x, limbs);
        if (r.decided) return r.value;
    }
    return r.value;  // not reached, as for sin
}

}  // namespace cr_detail

double cr_sin(double x) {
    const double a = magnitude(x);
    if (!(a <= std::numeric_limits<double>::max())) return x - x;  // NaN, and NaN for +-infinity
    // |x| < 2^-26: x - sin x < |x|^3/6 < 2^-54.5 |x|, less than half the gap below |x| (at least
    // 2^-54 |x|): the nearest double is x (also for subnormals and zeros).
    if (a < 0x1p-26) return x;
    std::optional<double> result;
    if (a < 0x1p20) result = cr_detail::decided(cr_detail::sin_estimate(a));
    const double value = result ? *result : cr_detail::sin_multiprecision(a);
    return x < 0 ? -value : value;
}

double cr_sinh(double x) {
    const double a = magnitude(x);
    if (a != a) return x + x;
    // |x| < 2^-26: sinh x - x < 1.01 |x|^3/6 < 2^-54.5 |x|, less than half the gap above |x|.
    if (a < 0x1p-26) return x;
    // sinh x > 2^1024 (1 - 2^-54), which rounds to infinity, from x = 710.4758600739439 on.
    if (a >= 710.5) return x < 0 ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    std::optional<double> result = cr_detail::decided(cr_detail::sinh_estimate(a));
    const double value = result ? *result : cr_detail::sinh_multiprecision(a);
    return x < 0 ? -value : value;
}

}  // namespace advdiff::model
