#pragma once
// The forms a number may take in the input and reference files, and their conversion.
//
// An integer is an optional sign and digits. A real is an optional sign, digits with an optional
// decimal point (at least one digit in all), and an optional exponent: a letter E or D (either
// case), an optional sign and digits. Nothing else is a number: no inf/nan, no hexadecimal, no
// exponent without its letter. Conversion is correctly rounded (std::from_chars); a real whose
// magnitude is too small for a double becomes zero, one too large is out of range.

#include <charconv>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

namespace advdiff::run::detail {

// The same forms as regular expressions of a whole item, in the syntax that Python's re and
// ECMAScript share, for programs that check a value before a run. The integer pattern also holds
// the 32-bit range (leading zeros are allowed); a real of the right form may still lie beyond the
// double range, which is refused as parse_real_item says.
inline constexpr const char* kIntegerItemPattern =
    "^(?:[+-]?0*(?:[0-9]{1,9}|1[0-9]{9}|20[0-9]{8}|21[0-3][0-9]{7}|214[0-6][0-9]{6}|2147[0-3][0-9]{5}"
    "|21474[0-7][0-9]{4}|214748[0-2][0-9]{3}|2147483[0-5][0-9]{2}|21474836[0-3][0-9]|214748364[0-7])"
    "|-0*2147483648)$";
inline constexpr const char* kRealItemPattern = "^[+-]?(?:[0-9]+[.]?[0-9]*|[.][0-9]+)(?:[EeDd][+-]?[0-9]+)?$";

enum class NumberStatus { ok, bad_form, out_of_range };

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline NumberStatus parse_int_item(std::string_view item, int& out) {
    const char* p = item.data();
    const char* const end = p + item.size();
    if (p != end && (*p == '+' || *p == '-')) ++p;
    const char* const digits = p;
    while (p != end && is_digit(*p)) ++p;
    if (p == digits || p != end) return NumberStatus::bad_form;

    // from_chars takes a minus sign but not a plus sign.
    const char* first = item.data();
    if (*first == '+') ++first;
    int value = 0;
    const auto result = std::from_chars(first, end, value);
    if (result.ec == std::errc::result_out_of_range) return NumberStatus::out_of_range;
    if (result.ec != std::errc{} || result.ptr != end) return NumberStatus::bad_form;
    out = value;
    return NumberStatus::ok;
}

inline NumberStatus parse_real_item(std::string_view item, double& out) {
    const char* const begin = item.data();
    const char* const end = begin + item.size();
    const char* p = begin;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* const int_begin = p;
    while (p != end && is_digit(*p)) ++p;
    const char* const int_end = p;
    const char* frac_begin = p;
    const char* frac_end = p;
    if (p != end && *p == '.') {
        frac_begin = ++p;
        while (p != end && is_digit(*p)) ++p;
        frac_end = p;
    }
    if (int_begin == int_end && frac_begin == frac_end) return NumberStatus::bad_form;
    const char* exp_letter = nullptr;
    long exponent = 0;  // saturated; only its sign and rough size matter (see below)
    if (p != end && (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D')) {
        exp_letter = p++;
        bool exp_negative = false;
        if (p != end && (*p == '+' || *p == '-')) exp_negative = *p++ == '-';
        const char* const exp_digits = p;
        while (p != end && is_digit(*p)) {
            if (exponent < 100000000) exponent = exponent * 10 + (*p - '0');
            ++p;
        }
        if (p == exp_digits) return NumberStatus::bad_form;
        if (exp_negative) exponent = -exponent;
    }
    if (p != end) return NumberStatus::bad_form;

    // from_chars wants no plus sign and 'e' as the exponent letter.
    const char* first = begin;
    if (*first == '+') ++first;
    const std::size_t length = static_cast<std::size_t>(end - first);
    double value = 0.0;
    std::from_chars_result result{};
    bool used_all = false;
    if (exp_letter != nullptr && (*exp_letter == 'd' || *exp_letter == 'D')) {
        const std::size_t letter_at = static_cast<std::size_t>(exp_letter - first);
        char buffer[64];
        if (length <= sizeof buffer) {
            std::memcpy(buffer, first, length);
            buffer[letter_at] = 'e';
            result = std::from_chars(buffer, buffer + length, value);
            used_all = result.ptr == buffer + length;
        } else {
            std::string copy(first, length);
            copy[letter_at] = 'e';
            result = std::from_chars(copy.data(), copy.data() + length, value);
            used_all = result.ptr == copy.data() + length;
        }
    } else {
        result = std::from_chars(first, end, value);
        used_all = result.ptr == end;
    }

    if (result.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double. The power of ten of the leading nonzero digit tells
        // which: a too-small magnitude rounds to zero, a too-large one is an error.
        long magnitude = 0;
        const char* q = int_begin;
        while (q != int_end && *q == '0') ++q;
        if (q != int_end) {
            magnitude = static_cast<long>(int_end - q) - 1;
        } else {
            q = frac_begin;
            while (q != frac_end && *q == '0') ++q;
            magnitude = -static_cast<long>(q - frac_begin) - 1;
        }
        if (magnitude + exponent > 0) return NumberStatus::out_of_range;
        out = negative ? -0.0 : 0.0;
        return NumberStatus::ok;
    }
    if (result.ec != std::errc{} || !used_all) return NumberStatus::bad_form;
    out = value;
    return NumberStatus::ok;
}

}  // namespace advdiff::run::detail
