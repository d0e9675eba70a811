#pragma once
// The constants of the correctly rounded sin and sinh (model/correctly_rounded.cpp, the fast path,
// and model/multiprecision.cpp, the slow path), in one place so that a test can compare every one
// of them with its exact value.

#include <array>
#include <cstdint>

namespace advdiff::model::cr_constants {

// hi + lo, |lo| <= ulp(hi)/2.
struct DoubleDouble {
    double hi;
    double lo;
};

// ---------------------------------------------------------------------------------------------
// Taylor coefficients of the fast path. A double-double coefficient is the double nearest to the
// exact rational and the double nearest to the rest (together within 2^-106 of it); a double one
// the double nearest to it.

// sin r = r + r z (s3 + z (s5 + ... + z s21)), z = r^2, s_n = (-1)^((n-1)/2) / n!.
constexpr std::array<DoubleDouble, 5> kSinHead = {{
    {-0x1.5555555555555p-3, -0x1.5555555555555p-57},
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},
    {-0x1.a01a01a01a01ap-13, -0x1.a01a01a01a01ap-73},
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},
    {-0x1.ae64567f544e4p-26, 0x1.c062e06d1f209p-80},
}};
constexpr std::array<double, 5> kSinTail = {0x1.6124613a86d09p-33, -0x1.ae7f3e733b81fp-41, 0x1.952c77030ad4ap-49,
                                            -0x1.2f49b46814157p-57, 0x1.71b8ef6dcf572p-66};
// cos r = 1 + z (c2 + z (c4 + ... + z c22)), c_n = (-1)^(n/2) / n!.
constexpr std::array<DoubleDouble, 6> kCosHead = {{
    {-0x1p-1, 0.0},
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},
    {-0x1.6c16c16c16c17p-10, 0x1.f49f49f49f49fp-65},
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},
    {-0x1.27e4fb7789f5cp-22, -0x1.cbbc05b4fa99ap-76},
    {0x1.1eed8eff8d898p-29, -0x1.2aec959e14c06p-83},
}};
constexpr std::array<double, 5> kCosTail = {-0x1.93974a8c07c9dp-37, 0x1.ae7f3e733b81fp-45, -0x1.6827863b97d97p-53,
                                            0x1.e542ba4020225p-62, -0x1.0ce396db7f853p-70};
// sinh r = r + r z (1/3! + z (1/5! + ... + z / 23!)).
constexpr std::array<DoubleDouble, 5> kSinhHead = {{
    {0x1.5555555555555p-3, 0x1.5555555555555p-57},
    {0x1.1111111111111p-7, 0x1.1111111111111p-63},
    {0x1.a01a01a01a01ap-13, 0x1.a01a01a01a01ap-73},
    {0x1.71de3a556c734p-19, -0x1.c154f8ddc6c00p-73},
    {0x1.ae64567f544e4p-26, -0x1.c062e06d1f209p-80},
}};
constexpr std::array<double, 6> kSinhTail = {0x1.6124613a86d09p-33, 0x1.ae7f3e733b81fp-41, 0x1.952c77030ad4ap-49,
                                             0x1.2f49b46814157p-57, 0x1.71b8ef6dcf572p-66, 0x1.761b41316381ap-75};
// cosh r = 1 + z (1/2! + z (1/4! + ... + z / 18!)).
constexpr std::array<DoubleDouble, 4> kCoshHead = {{
    {0x1p-1, 0.0},
    {0x1.5555555555555p-5, 0x1.5555555555555p-59},
    {0x1.6c16c16c16c17p-10, -0x1.f49f49f49f49fp-65},
    {0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-76},
}};
constexpr std::array<double, 5> kCoshTail = {0x1.27e4fb7789f5cp-22, 0x1.1eed8eff8d898p-29, 0x1.93974a8c07c9dp-37,
                                             0x1.ae7f3e733b81fp-45, 0x1.6827863b97d97p-53};

// ---------------------------------------------------------------------------------------------
// The constants of the fast path's argument reductions.

constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// pi/2 = kHalfPi1 + kHalfPi2 + kHalfPi3 + kHalfPi4 + d, |d| < 2^-159.8; the first three have 33
// significant bits at most, so k * kHalfPi_i is exact for |k| < 2^20.
constexpr double kHalfPi1 = 0x1.921fb544p+0;
constexpr double kHalfPi2 = 0x1.0b4611a6p-34;
constexpr double kHalfPi3 = 0x1.3198a2ep-69;
constexpr double kHalfPi4 = 0x1.b839a252049c1p-104;

constexpr double kInverseLn2 = 0x1.71547652b82fep+0;
// ln 2 = kLn2_1 + kLn2_2 + kLn2_3 + d, |d| < 2^-140.3; the first two have 42 significant bits at
// most, so k * kLn2_i is exact for |k| < 2^11.
constexpr double kLn2_1 = 0x1.62e42fefa38p-1;
constexpr double kLn2_2 = 0x1.ef35793c76p-45;
constexpr double kLn2_3 = 0x1.cc01f97b57a08p-87;

// ---------------------------------------------------------------------------------------------
// The slow path's constants: 32-bit digits after the binary point, most significant first, each the
// exact digit of the constant (so the table is the constant truncated).
// 2/pi = sum kTwoOverPiDigits[j - 1] 2^(-32 j), j = 1 .. 68 (2176 bits: the reduction of the
// largest double at the widest precision reads digits 1 .. 66).
constexpr std::array<std::uint32_t, 68> kTwoOverPiDigits = {
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
// pi/2 = 1 + sum kHalfPiFractionDigits[j - 1] 2^(-32 j), j = 1 .. 34.
constexpr std::array<std::uint32_t, 34> kHalfPiFractionDigits = {
    0x921fb544, 0x42d18469, 0x898cc517, 0x01b839a2, 0x52049c11, 0x14cf98e8, 0x04177d4c, 0x76273644,
    0xa29410f3, 0x1c6809bb, 0xdf2a3367, 0x9a748636, 0x605614db, 0xe4be286e, 0x9fc26ada, 0xdaa3848b,
    0xc90b6aec, 0xc4bcfd8d, 0xe89885d3, 0x4c6fdad6, 0x17feb96d, 0xe80d6fdb, 0xdc70d7f6, 0xb5133f4b,
    0x5d3e4822, 0xf8963fcc, 0x9250cca3, 0xd9c8b67b, 0x8400f971, 0x42c77e0b, 0x31b4906c, 0x38aba734,
    0xd22c7f51, 0xfa499ebf,
};
// ln 2 = sum kLn2Digits[j - 1] 2^(-32 j), j = 1 .. 34.
constexpr std::array<std::uint32_t, 34> kLn2Digits = {
    0xb17217f7, 0xd1cf79ab, 0xc9e3b398, 0x03f2f6af, 0x40f34326, 0x7298b62d, 0x8a0d175b, 0x8baafa2b,
    0xe7b87620, 0x6debac98, 0x559552fb, 0x4afa1b10, 0xed2eae35, 0xc1382144, 0x27573b29, 0x1169b825,
    0x3e96ca16, 0x224ae8c5, 0x1acbda11, 0x317c387e, 0xb9ea9bc3, 0xb136603b, 0x256fa0ec, 0x7657f74b,
    0x72ce87b1, 0x9d6548ca, 0xf5dfa6bd, 0x38303248, 0x655fa187, 0x2f20e3a2, 0xda2d97c5, 0x0f3fd5c6,
    0x07f4ca11, 0xfb5bfb90,
};

}  // namespace advdiff::model::cr_constants
