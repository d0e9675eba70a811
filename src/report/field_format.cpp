#include "report/field_format.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace advdiff::report {

namespace {

std::string stars(int width) { return std::string(static_cast<std::size_t>(width), '*'); }

std::string right_justify(const std::string& text, int width) {
    if (static_cast<int>(text.size()) > width) return stars(width);
    return std::string(static_cast<std::size_t>(width) - text.size(), ' ') + text;
}

// NaN and infinities: the texts every field kind uses for them.
std::string non_finite(double value, int width) {
    if (std::isnan(value)) return right_justify("NaN", width);
    const bool negative = value < 0;
    const std::string full = negative ? "-Infinity" : "Infinity";
    if (static_cast<int>(full.size()) <= width) return right_justify(full, width);
    return right_justify(negative ? "-Inf" : "Inf", width);
}

// printf into a buffer large enough for any double in %f (up to 309 integer digits).
std::string print(const char* format, int decimals, double value) {
    std::vector<char> buffer(static_cast<std::size_t>(decimals) + 400);
    const int n = std::snprintf(buffer.data(), buffer.size(), format, decimals, value);
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

}  // namespace

std::string format_i(long long value, int width) {
    return right_justify(std::to_string(value), width);
}

std::string format_f(double value, int width, int decimals) {
    if (!std::isfinite(value)) return non_finite(value, width);
    // The C library rounds the exact binary value to nearest, ties to even, and keeps the sign of
    // a negative value that rounds to zero (and of a negative zero).
    std::string text = print("%#.*f", decimals, value);
    if (static_cast<int>(text.size()) == width + 1) {
        const std::size_t zero = (text[0] == '-') ? 1 : 0;
        if (text.size() > zero + 1 && text[zero] == '0' && text[zero + 1] == '.') text.erase(zero, 1);
    }
    return right_justify(text, width);
}

std::string format_e(double value, int width, int decimals) {
    if (!std::isfinite(value)) return non_finite(value, width);
    // "%.*E" gives d.dddE+xx with the mantissa rounded on the exact binary value (ties to even)
    // and the exponent already adjusted when the rounding reaches 10; zero gives 0.000E+00.
    const std::string text = print("%#.*E", decimals, value);
    const std::size_t e = text.find('E');
    const std::string mantissa = text.substr(0, e);
    const char sign = text[e + 1];
    const int exponent = std::atoi(text.c_str() + e + 2);
    std::string result = mantissa;
    char digits[16];
    if (exponent <= 99) {
        std::snprintf(digits, sizeof digits, "E%c%02d", sign, exponent);
    } else {
        // Three exponent digits take the place of the letter.
        std::snprintf(digits, sizeof digits, "%c%03d", sign, exponent);
    }
    result += digits;
    return right_justify(result, width);
}

std::string format_a(std::string_view text, int width) {
    if (static_cast<int>(text.size()) >= width) return std::string(text.substr(0, static_cast<std::size_t>(width)));
    return std::string(static_cast<std::size_t>(width) - text.size(), ' ') + std::string(text);
}

}  // namespace advdiff::report
