#include "model/multiprecision.hpp"

#include <array>
#include <bit>
#include <cstdint>

#include "model/correctly_rounded.hpp"

namespace advdiff::model::multiprecision {

namespace {

using Limb = std::uint32_t;
using Wide = std::uint64_t;

// Constants as 32-bit digits after the binary point, most significant first, truncated (every
// digit is the exact digit of the constant; the tests compare them with MPFR's constants).
// 2/pi = sum kTwoOverPi[j - 1] 2^(-32 j), j = 1 .. 68 (2176 bits: the reduction of the largest
// double at the widest precision reads digits 1 .. 66).
constexpr std::array<Limb, 68> kTwoOverPi = {
    0xa2f9836e, 0x4e441529, 0xfc2757d1, 0xf534ddc0, 0xdb629599, 0x3c439041, 0xfe5163ab, 0xdebbc561,
    0xb7246e3a, 0x424dd2e0, 0x06492eea, 0x09d1921c, 0xfe1deb1c, 0xb129a73e, 0xe88235f5, 0x2ebb4484,
    0xe99c7026, 0xb45f7e41, 0x3991d639, 0x835339f4, 0x9c845f8b, 0xbdf9283b, 0x1ff897ff, 0xde05980f,
    0xef2f118b, 0x5a0a6d1f, 0x6d367ecf, 0x27cb09b7, 0x4f463f66, 0x9e5fea2d, 0x7527bac7, 0xebe5f17b,
    0x3d0739f7, 0x8a5292ea, 0x6bfb5fb1, 0x1f8d5d08, 0x56033046, 0xfc7b6bab, 0xf0cfbc20, 0x9af4361d,
    0xa9e39161, 0x5ee61b08, 0x6599855f, 0x14a06840, 0x8dffd880, 0x4d732731, 0x06061556, 0xca73a8c9,
    0x60e27bc0, 0x8c6b47c4, 0x19c367cd, 0xdce8092a, 0x8359c476, 0x8b961ca6, 0xddaf44d1, 0x5719053e,
    0xa5ff0705, 0x3f7e33e8, 0x32c2de4f, 0x98327dbb, 0xc33d26ef, 0x6b1e5ef8, 0x9f3a1f35, 0xcaf27f1d,
    0x87f12190, 0x7c7c246a, 0xfa6ed577, 0x2d30433b,
};
// pi/2 = 1 + sum kHalfPiFraction[j - 1] 2^(-32 j).
constexpr std::array<Limb, kMaxFractionLimbs + 2> kHalfPiFraction = {
    0x921fb544, 0x42d18469, 0x898cc517, 0x01b839a2, 0x52049c11, 0x14cf98e8, 0x04177d4c, 0x76273644,
    0xa29410f3, 0x1c6809bb, 0xdf2a3367, 0x9a748636, 0x605614db, 0xe4be286e, 0x9fc26ada, 0xdaa3848b,
    0xc90b6aec, 0xc4bcfd8d, 0xe89885d3, 0x4c6fdad6, 0x17feb96d, 0xe80d6fdb, 0xdc70d7f6, 0xb5133f4b,
    0x5d3e4822, 0xf8963fcc, 0x9250cca3, 0xd9c8b67b, 0x8400f971, 0x42c77e0b, 0x31b4906c, 0x38aba734,
    0xd22c7f51, 0xfa499ebf,
};
// ln 2 = sum kLn2[j - 1] 2^(-32 j).
constexpr std::array<Limb, kMaxFractionLimbs + 2> kLn2 = {
    0xb17217f7, 0xd1cf79ab, 0xc9e3b398, 0x03f2f6af, 0x40f34326, 0x7298b62d, 0x8a0d175b, 0x8baafa2b,
    0xe7b87620, 0x6debac98, 0x559552fb, 0x4afa1b10, 0xed2eae35, 0xc1382144, 0x27573b29, 0x1169b825,
    0x3e96ca16, 0x224ae8c5, 0x1acbda11, 0x317c387e, 0xb9ea9bc3, 0xb136603b, 0x256fa0ec, 0x7657f74b,
    0x72ce87b1, 0x9d6548ca, 0xf5dfa6bd, 0x38303248, 0x655fa187, 0x2f20e3a2, 0xda2d97c5, 0x0f3fd5c6,
    0x07f4ca11, 0xfb5bfb90,
};

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
Fixed constant(const std::array<Limb, kMaxFractionLimbs + 2>& fraction, Limb integer_part, int L) {
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

// sin(r) for |r| <= 0.786 (a little above pi/4) by its Taylor series:
//   t_0 = r, t_n = t_(n-1) r^2 / ((2n)(2n+1)), sin r = t_0 - t_1 + t_2 - ...
// Error, in units: z = r^2 truncated is within 1 of r^2. Writing e_n for the error of t_n,
//   e_n <= (e_(n-1) |z| + |t_n exact| * 1 + 1) / (2n (2n+1)) + 1 <= 0.11 e_(n-1) + 1.34,
// (|z| <= 0.62, |t| <= 1, divisor >= 6; one unit for the product, one for the quotient) so every
// e_n <= 1.5. The loop stops at the first term that comes out 0: its exact value is at most 1.5
// units, and it bounds the rest of the alternating series with decreasing terms. With N terms
// computed the error is below 1.5 N + 1.5 units: `error` gets 2 N + 2.
Fixed sin_series(const Fixed& r, Limb& error) {
    const Fixed z = multiply(r, r);
    Fixed t = r, sum = r;
    Limb terms = 1;
    for (Limb n = 1;; ++n, ++terms) {
        t = divide_small(multiply(t, z), (2 * n) * (2 * n + 1));
        if (t.is_zero()) break;
        sum = (n % 2 == 1) ? subtract(sum, t) : add(sum, t);
    }
    error = 2 * terms + 2;
    return sum;
}

// cos(r) for |r| <= 0.786: t_0 = 1, t_n = t_(n-1) r^2 / ((2n-1)(2n)), cos r = t_0 - t_1 + ...
// As for sin, with the divisor >= 2: e_n <= 0.31 e_(n-1) + 2, so e_n <= 2.9 and the error is
// below 2.9 N + 2.9 units: `error` gets 3 N + 3.
Fixed cos_series(const Fixed& r, Limb& error) {
    const Fixed z = multiply(r, r);
    Fixed t = integer(r.L, 1), sum = integer(r.L, 1);
    Limb terms = 1;
    for (Limb n = 1;; ++n, ++terms) {
        t = divide_small(multiply(t, z), (2 * n - 1) * (2 * n));
        if (t.is_zero()) break;
        sum = (n % 2 == 1) ? subtract(sum, t) : add(sum, t);
    }
    error = 3 * terms + 3;
    return sum;
}

// sinh(x) for 0 < x < 1: t_0 = x, t_n = t_(n-1) x^2 / ((2n)(2n+1)), all positive. With z <= 1,
// t <= 1.18: e_n <= e_(n-1)/6 + 1.4, so e_n <= 1.7; the first term that comes out 0 is at most
// 1.7 units exactly and the rest of the series at most 1.05 times that. `error` gets 2 N + 2.
Fixed sinh_series(const Fixed& x, Limb& error) {
    const Fixed z = multiply(x, x);
    Fixed t = x, sum = x;
    Limb terms = 1;
    for (Limb n = 1;; ++n, ++terms) {
        t = divide_small(multiply(t, z), (2 * n) * (2 * n + 1));
        if (t.is_zero()) break;
        sum = add(sum, t);
    }
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
    std::array<Limb, kTwoOverPi.size() + 2> P{};
    const Limb m[2] = {static_cast<Limb>(M), static_cast<Limb>(M >> 32)};
    for (int h = 0; h < 2; ++h) {
        Wide carry = 0;
        for (int i = 0; i < width; ++i) {
            const auto k = static_cast<std::size_t>(i + h);
            const Wide t = Wide{kTwoOverPi[static_cast<std::size_t>(j1 - 1 - i)]} * m[h] + P[k] + carry;
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
    return multiply(f, constant(kHalfPiFraction, 1, L));
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
    const Fixed k_ln2 = drop_last_limb(multiply_small(constant(kLn2, 0, L + 1), static_cast<Limb>(k)));
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
