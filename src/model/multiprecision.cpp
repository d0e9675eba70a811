#include "model/multiprecision.hpp"

#include <array>
#include <bit>
#include <cstdint>

#include "model/correctly_rounded.hpp"
#include "model/correctly_rounded_constants.hpp"

namespace advdiff::model::multiprecision {

namespace {

using Limb = std::uint32_t;
using Wide = std::uint64_t;
using Digits = std::array<Limb, 34>;

using cr_constants::kHalfPiFractionDigits;
using cr_constants::kLn2Digits;
using cr_constants::kTwoOverPiDigits;

// A signed fixed-point number with L limbs after the point and one before it:
//   value = (negative ? -1 : 1) * sum_{i = 0 .. L} limb[i] 2^(32 (i - L)),
// least significant limb first. "A unit" below is the last place, 2^(-32 L). Additions and
// subtractions are exact; a product or a quotient is truncated toward zero, an error below one
// unit. Every value here stays below 2^32 in magnitude, so the integer limb never overflows.
struct Fixed {
    static constexpr int kCapacity = kMaxFractionLimbs + 2;  // up to L + 1 = 33 fraction limbs
    int L = 0;
    bool negative = false;
    std::array<Limb, kCapacity> limb{};

    explicit Fixed(int fraction_limbs) : L(fraction_limbs) {}

    bool is_zero() const {
        for (int i = 0; i <= L; ++i)
            if (limb[i] != 0) return false;
        return true;
    }
};

Fixed integer(int L, Limb value) {
    Fixed a(L);
    a.limb[static_cast<std::size_t>(L)] = value;
    return a;
}

// integer_part + the first L digits of a table (truncated: below the constant by less than a unit).
Fixed constant(const Digits& fraction, Limb integer_part, int L) {
    Fixed a = integer(L, integer_part);
    for (int j = 1; j <= L; ++j) a.limb[static_cast<std::size_t>(L - j)] = fraction[static_cast<std::size_t>(j - 1)];
    return a;
}

// A positive double below 2^32 whose bits all lie at or above the last place: exactly.
Fixed from_double(double x, int L) {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    const Wide mantissa = (bits & ((Wide{1} << 52) - 1)) | (Wide{1} << 52);
    const int position = static_cast<int>(bits >> 52) - 1075 + 32 * L;  // of the mantissa's last bit
    Fixed a(L);
    const int w = position / 32, b = position % 32;
    // The 53 bits shifted by b span at most three limbs.
    const Wide low = mantissa << b;                           // bits 0 .. 63 of the shifted value
    const Wide high = b == 0 ? 0 : mantissa >> (64 - b);      // bits 64 and up
    const Limb parts[3] = {static_cast<Limb>(low), static_cast<Limb>(low >> 32), static_cast<Limb>(high)};
    for (int i = 0; i < 3; ++i)
        if (w + i <= L) a.limb[static_cast<std::size_t>(w + i)] = parts[i];
    return a;
}

int compare_magnitudes(const Fixed& a, const Fixed& b) {
    for (int i = a.L; i >= 0; --i) {
        const auto k = static_cast<std::size_t>(i);
        if (a.limb[k] != b.limb[k]) return a.limb[k] < b.limb[k] ? -1 : 1;
    }
    return 0;
}

// |a| + |b| and |a| - |b| (for |a| >= |b|), with the sign left to the caller.
Fixed add_magnitudes(const Fixed& a, const Fixed& b) {
    Fixed out(a.L);
    Wide carry = 0;
    for (int i = 0; i <= a.L; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const Wide sum = Wide{a.limb[k]} + b.limb[k] + carry;
        out.limb[k] = static_cast<Limb>(sum);
        carry = sum >> 32;
    }
    return out;
}

Fixed subtract_magnitudes(const Fixed& a, const Fixed& b) {
    Fixed out(a.L);
    Wide borrow = 0;
    for (int i = 0; i <= a.L; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const Wide difference = Wide{a.limb[k]} - b.limb[k] - borrow;  // wraps round when negative
        out.limb[k] = static_cast<Limb>(difference);
        borrow = (difference >> 32) != 0 ? 1 : 0;
    }
    return out;
}

Fixed add(const Fixed& a, const Fixed& b) {
    Fixed out(a.L);
    if (a.negative == b.negative) {
        out = add_magnitudes(a, b);
        out.negative = a.negative;
    } else if (compare_magnitudes(a, b) >= 0) {
        out = subtract_magnitudes(a, b);
        out.negative = a.negative;
    } else {
        out = subtract_magnitudes(b, a);
        out.negative = b.negative;
    }
    return out;
}

Fixed subtract(const Fixed& a, Fixed b) {
    b.negative = !b.negative;
    return add(a, b);
}

// a * b truncated to L fraction limbs.
Fixed multiply(const Fixed& a, const Fixed& b) {
    const int L = a.L;
    std::array<Limb, 2 * Fixed::kCapacity> product{};
    for (int i = 0; i <= L; ++i) {
        Wide carry = 0;
        for (int j = 0; j <= L; ++j) {
            const auto k = static_cast<std::size_t>(i + j);
            // At most (2^32 - 1)^2 + 2 (2^32 - 1) = 2^64 - 1: no overflow.
            const Wide t = Wide{a.limb[static_cast<std::size_t>(i)]} * b.limb[static_cast<std::size_t>(j)] +
                           product[k] + carry;
            product[k] = static_cast<Limb>(t);
            carry = t >> 32;
        }
        product[static_cast<std::size_t>(i + L + 1)] = static_cast<Limb>(carry);
    }
    // The product has 2L fraction limbs; the lowest L are dropped.
    Fixed out(L);
    for (int i = 0; i <= L; ++i) out.limb[static_cast<std::size_t>(i)] = product[static_cast<std::size_t>(i + L)];
    out.negative = a.negative != b.negative;
    return out;
}

// a * m exactly (the result stays below 2^32).
Fixed multiply_small(Fixed a, Limb m) {
    Wide carry = 0;
    for (int i = 0; i <= a.L; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const Wide t = Wide{a.limb[k]} * m + carry;
        a.limb[k] = static_cast<Limb>(t);
        carry = t >> 32;
    }
    return a;
}

// a / d truncated.
Fixed divide_small(Fixed a, Limb d) {
    Wide remainder = 0;
    for (int i = a.L; i >= 0; --i) {
        const auto k = static_cast<std::size_t>(i);
        const Wide current = (remainder << 32) | a.limb[k];
        a.limb[k] = static_cast<Limb>(current / d);
        remainder = current % d;
    }
    return a;
}

// 32 bits of a little-endian limb string from bit `position` on (bits past the end read as 0).
Limb bits_at(const Limb* digits, int size, int position) {
    const int w = position / 32, b = position % 32;
    const Wide low = w < size ? digits[w] : 0;
    const Wide high = w + 1 < size ? digits[w + 1] : 0;
    return static_cast<Limb>(((high << 32) | low) >> b);
}

// a / 2^bits truncated.
Fixed shift_right(const Fixed& a, int bits) {
    Fixed out(a.L);
    out.negative = a.negative;
    for (int i = 0; i <= a.L; ++i)
        out.limb[static_cast<std::size_t>(i)] = bits >= 32 * (a.L + 1) ? 0 : bits_at(a.limb.data(), a.L + 1, 32 * i + bits);
    return out;
}

// The same value with one limb fewer after the point (truncated).
Fixed drop_last_limb(const Fixed& a) {
    Fixed out(a.L - 1);
    out.negative = a.negative;
    for (int i = 0; i <= out.L; ++i) out.limb[static_cast<std::size_t>(i)] = a.limb[static_cast<std::size_t>(i + 1)];
    return out;
}

// The double nearest to |a| (ties to even), |a| > 0: the top 53 bits, rounded by the next bit and
// the bits below it, scaled by the exact power of two.
double nearest_double(const Fixed& a) {
    int top = a.L;
    while (top > 0 && a.limb[static_cast<std::size_t>(top)] == 0) --top;
    const int length = 32 * top + std::bit_width(a.limb[static_cast<std::size_t>(top)]);
    const int size = a.L + 1;
    const Limb* digits = a.limb.data();
    if (length <= 53) {
        const Wide value = Wide{bits_at(digits, size, 0)} | (Wide{bits_at(digits, size, 32)} << 32);
        return scale_by_power_of_two(static_cast<double>(value), -32 * a.L);
    }
    const int low = length - 53;  // position of the last bit kept
    Wide mantissa = (Wide{bits_at(digits, size, low)} | (Wide{bits_at(digits, size, low + 32)} << 32)) &
                    ((Wide{1} << 53) - 1);
    const bool half = (bits_at(digits, size, low - 1) & 1) != 0;
    bool below_half = false;
    for (int position = 0; position < low - 1 && !below_half; position += 32) {
        const int count = low - 1 - position;
        Limb chunk = bits_at(digits, size, position);
        if (count < 32) chunk &= (Limb{1} << count) - 1;
        below_half = chunk != 0;
    }
    if (half && (below_half || (mantissa & 1) != 0)) ++mantissa;  // 2^53 at most: still exact
    return scale_by_power_of_two(static_cast<double>(mantissa), low - 32 * a.L);
}

// The outcome for a value v known to lie within `error` units of the exact value y: decided when
// the ends of that interval have the same nearest double, which is then the nearest double to y
// (rounding to nearest is monotonic). The result is scaled by 2^scale afterwards, which is exact
// (or overflows exactly as the scaled exact value does) since the result is far from underflow.
Rounding round_fixed(const Fixed& v, Limb error, int scale) {
    Fixed e = integer(v.L, 0);
    e.limb[0] = error;
    Rounding r;
    r.value = v.is_zero() ? 0.0 : nearest_double(v);
    if (v.negative) r.value = -r.value;
    r.value = scale_by_power_of_two(r.value, scale);
    if (compare_magnitudes(v, e) <= 0) return r;  // the interval holds 0: no decision
    r.decided = nearest_double(subtract_magnitudes(v, e)) == nearest_double(add_magnitudes(v, e));
    return r;
}

// The Taylor series of sin, cos (alternating) and sinh: t_0 = first (x^p0/p0!, p0 = 1 or 0),
// t_n = t_(n-1) z / ((p - 1) p) with z = x^2 and p = p0 + 2n, each product and quotient truncated,
// summed until the first term that comes out 0. `terms` gets the number of terms summed.
Fixed taylor_series(const Fixed& first, const Fixed& z, Limb p0, bool alternating, Limb& terms) {
    Fixed t = first, sum = first;
    terms = 1;
    for (Limb p = p0 + 2;; p += 2, ++terms) {
        t = divide_small(multiply(t, z), (p - 1) * p);
        if (t.is_zero()) return sum;
        sum = alternating && terms % 2 == 1 ? subtract(sum, t) : add(sum, t);
    }
}

// sin r, cos r for |r| <= 0.786 (a little above pi/4), in units: z = r^2 truncated is within 1 of
// r^2. Writing e_n for the error of t_n, with |z| <= 0.62, |t| <= 1 and one unit each for the
// product and the quotient,
//   e_n <= (e_(n-1) |z| + |t_n exact| * 1 + 1) / ((p - 1) p) + 1,
// so e_n <= 0.11 e_(n-1) + 1.34 <= 1.5 for sin (divisor >= 6) and e_n <= 0.31 e_(n-1) + 2 <= 2.9
// for cos (divisor >= 2). The first term that comes out 0 is at most that exactly, and it bounds
// the rest of the alternating series with decreasing terms. With N terms the error is below
// 1.5 (N + 1) units for sin, 2.9 (N + 1) for cos: `error` gets 2 N + 2 and 3 N + 3.
Fixed sin_series(const Fixed& r, Limb& error) {
    Limb terms = 0;
    const Fixed sum = taylor_series(r, multiply(r, r), 1, true, terms);
    error = 2 * terms + 2;
    return sum;
}

Fixed cos_series(const Fixed& r, Limb& error) {
    Limb terms = 0;
    const Fixed sum = taylor_series(integer(r.L, 1), multiply(r, r), 0, true, terms);
    error = 3 * terms + 3;
    return sum;
}

// sinh x for 0 < x < 1: with z <= 1 and t <= 1.18, e_n <= e_(n-1)/6 + 1.4, so e_n <= 1.7; the
// first term that comes out 0 is at most 1.7 units exactly and the rest of the series, all
// positive, at most 1.05 times that. `error` gets 2 N + 2.
Fixed sinh_series(const Fixed& x, Limb& error) {
    Limb terms = 0;
    const Fixed sum = taylor_series(x, multiply(x, x), 1, false, terms);
    error = 2 * terms + 2;
    return sum;
}

// x * 2/pi = 4 m + q + f with an integer m, q in {0, 1, 2, 3}, |f| <= 1/2 (plus a unit), for
// x >= 1/2; returns q and r = f * pi/2, so that sin x = (q = 0, 1, 2, 3) sin r, cos r, -sin r,
// -cos r. Every bit of 2/pi that matters is used:
// with x = M 2^E (M < 2^53 an integer), 2/pi = sum g_j 2^(-32 j), the product is
// sum_j M g_j 2^(E - 32 j). The digits with E - 32 j >= 2 add multiples of 4 and are skipped; the
// digits after j1 add less than M 2^(E - 32 j1) = 2^(53 - S) with S = 32 j1 - E, and j1 is chosen
// so that S >= F + 85 (F = 32 L): less than 2^(-F-32). f keeps F bits after the point (truncated):
// its error is below 1.0000001 units. r = f * (pi/2 truncated) truncated: error below
// pi/2 * 1.0000001 + |f| * 1 + 1 < 3.1 units; `error` gets 4.
Fixed reduce(double x, int L, int& quadrant, Limb& error) {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    const int E = static_cast<int>(bits >> 52) - 1075;
    const Wide M = (bits & ((Wide{1} << 52) - 1)) | (Wide{1} << 52);
    const int F = 32 * L;
    const int j0 = E >= 2 ? (E - 2) / 32 + 1 : 1;
    const int j1 = (F + 85 + E + 31) / 32;  // F + 85 + E > 0 as E >= -53
    const int width = j1 - j0 + 1;
    // P = M * (digits j0 .. j1 read as one integer), little-endian.
    std::array<Limb, kTwoOverPiDigits.size() + 2> P{};
    const Limb m[2] = {static_cast<Limb>(M), static_cast<Limb>(M >> 32)};
    for (int h = 0; h < 2; ++h) {
        Wide carry = 0;
        for (int i = 0; i < width; ++i) {
            const auto k = static_cast<std::size_t>(i + h);
            const Wide t = Wide{kTwoOverPiDigits[static_cast<std::size_t>(j1 - 1 - i)]} * m[h] + P[k] + carry;
            P[k] = static_cast<Limb>(t);
            carry = t >> 32;
        }
        P[static_cast<std::size_t>(width + h)] = static_cast<Limb>(carry);
    }
    // The product is y = P 2^(-S): bits S and S + 1 are q, the F bits below S are f.
    const int S = 32 * j1 - E;
    const int size = width + 2;
    quadrant = static_cast<int>(bits_at(P.data(), size, S) & 3);
    Fixed f(L);
    for (int i = 0; i < L; ++i) f.limb[static_cast<std::size_t>(i)] = bits_at(P.data(), size, S - F + 32 * i);
    if ((f.limb[static_cast<std::size_t>(L - 1)] & 0x80000000u) != 0) {  // f >= 1/2: take f - 1
        f = subtract_magnitudes(integer(L, 1), f);
        f.negative = true;
        quadrant = (quadrant + 1) & 3;
    }
    error = 4;
    return multiply(f, constant(kHalfPiFractionDigits, 1, L));
}

}  // namespace

Rounding sin(double x, int L) {
    int quadrant = 0;
    Limb reduction_error = 0;
    // Below 3/4 (< pi/4) the argument is its own reduced argument, exactly (its last bit lies at
    // 2^-78 or above, and F >= 256).
    const Fixed r = x < 0.75 ? from_double(x, L) : reduce(x, L, quadrant, reduction_error);
    // |sin'| and |cos'| <= 1: the reduction's error passes on unchanged.
    Limb series_error = 0;
    Fixed v = (quadrant & 1) != 0 ? cos_series(r, series_error) : sin_series(r, series_error);
    if ((quadrant & 2) != 0) v.negative = !v.negative;
    return round_fixed(v, series_error + reduction_error, 0);
}

Rounding sinh(double x, int L) {
    Limb error = 0;
    if (x < 1.0) {
        const Fixed v = sinh_series(from_double(x, L), error);
        return round_fixed(v, error, 0);
    }
    // x = k ln2 + r, |r| <= ln2/2 (1 + 2^-40) < 0.347 (k from the rounded x / ln 2, 1 <= k <= 1025).
    // sinh x = 2^(k-1) (e^r - 2^(-2k) e^(-r)).
    const int k = static_cast<int>(x * 0x1.71547652b82fep+0 + 0.5);
    // k ln2: ln 2 with L + 1 limbs is short by less than 2^-32 units, times k <= 1025 that is below
    // 2^-21 units, plus one unit for dropping the extra limb: r is within 2 units.
    const Fixed k_ln2 = drop_last_limb(multiply_small(constant(kLn2Digits, 0, L + 1), static_cast<Limb>(k)));
    const Fixed r = subtract(from_double(x, L), k_ln2);
    // t_m = r^m / m!: e_m <= (e_(m-1) |r| + 1) / m + 1 <= 0.35 e_(m-1) + 2, so e_m <= 3.1; the
    // first term that comes out 0 bounds the rest (ratio <= 0.35/(M+1)) by 1.2 * 3.1 units. Each of
    // e^r = sum t_m and e^-r = sum (-1)^m t_m is within 3.1 M + 3.8 units of the exponential of the
    // computed r, and the error of r (2 units) moves them by at most e^0.347 * 2 < 2.9 units: each
    // is within 3.1 M + 6.7 units, 2^(-2k) e^-r within that plus one unit for the shift. With
    // M = `terms`, the difference is within 6.2 M + 14.4 units: `error` gets 8 M + 16.
    Fixed t = integer(L, 1), plus = integer(L, 1), minus = integer(L, 1);
    Limb terms = 0;
    for (Limb m = 1;; ++m, ++terms) {
        t = divide_small(multiply(t, r), m);
        if (t.is_zero()) break;
        plus = add(plus, t);
        minus = (m % 2 == 1) ? subtract(minus, t) : add(minus, t);
    }
    const Fixed v = subtract(plus, shift_right(minus, 2 * k));
    return round_fixed(v, 8 * terms + 16, k - 1);
}

}  // namespace advdiff::model::multiprecision
