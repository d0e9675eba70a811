#pragma once
// The constants of the correctly rounded sin and sinh (model/correctly_rounded.cpp, the fast path,
// and model/multiprecision.cpp, the slow path), in one place so that a test can compare every one
// of them with its exact value.

#include <array>
#include <cstddef>
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
// exact digit of the constant (so the table is the constant truncated), written as one string of
// hexadecimal digits, eight to a word.
template <std::size_t M>
constexpr std::array<std::uint32_t, (M - 1) / 8> hex_words(const char (&hex)[M]) {
    static_assert((M - 1) % 8 == 0, "eight hexadecimal digits a word");
    std::array<std::uint32_t, (M - 1) / 8> words{};
    for (std::size_t j = 0; j + 1 < M; ++j) {
        const char c = hex[j];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) throw "not a lower-case hexadecimal digit";
        words[j / 8] = words[j / 8] << 4 | static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return words;
}
// 2/pi = sum kTwoOverPiDigits[j - 1] 2^(-32 j), j = 1 .. 68 (2176 bits: the reduction of the
// largest double at the widest precision reads digits 1 .. 66).
constexpr auto kTwoOverPiDigits = hex_words("a2f9836e4e441529fc2757d1f534ddc0db6295993c439041fe5163abdebbc561b7246e3a424dd2e006492eea09d1921cfe1deb1cb129a73ee88235f52ebb4484e99c7026b45f7e413991d639835339f49c845f8bbdf9283b1ff897ffde05980fef2f118b5a0a6d1f6d367ecf27cb09b74f463f669e5fea2d7527bac7ebe5f17b3d0739f78a5292ea6bfb5fb11f8d5d0856033046fc7b6babf0cfbc209af4361da9e391615ee61b086599855f14a068408dffd8804d73273106061556ca73a8c960e27bc08c6b47c419c367cddce8092a8359c4768b961ca6ddaf44d15719053ea5ff07053f7e33e832c2de4f98327dbbc33d26ef6b1e5ef89f3a1f35caf27f1d87f121907c7c246afa6ed5772d30433b");
// pi/2 = 1 + sum kHalfPiFractionDigits[j - 1] 2^(-32 j), j = 1 .. 34.
constexpr auto kHalfPiFractionDigits = hex_words("921fb54442d18469898cc51701b839a252049c1114cf98e804177d4c76273644a29410f31c6809bbdf2a33679a748636605614dbe4be286e9fc26adadaa3848bc90b6aecc4bcfd8de89885d34c6fdad617feb96de80d6fdbdc70d7f6b5133f4b5d3e4822f8963fcc9250cca3d9c8b67b8400f97142c77e0b31b4906c38aba734d22c7f51fa499ebf");
// ln 2 = sum kLn2Digits[j - 1] 2^(-32 j), j = 1 .. 34.
constexpr auto kLn2Digits = hex_words("b17217f7d1cf79abc9e3b39803f2f6af40f343267298b62d8a0d175b8baafa2be7b876206debac98559552fb4afa1b10ed2eae35c138214427573b291169b8253e96ca16224ae8c51acbda11317c387eb9ea9bc3b136603b256fa0ec7657f74b72ce87b19d6548caf5dfa6bd38303248655fa1872f20e3a2da2d97c50f3fd5c607f4ca11fb5bfb90");

static_assert(kTwoOverPiDigits.size() == 68 && kHalfPiFractionDigits.size() == 34 && kLn2Digits.size() == 34);

}  // namespace advdiff::model::cr_constants
