#pragma once
// UTF-8 as the Unicode standard defines it (its table of well-formed byte sequences): one to four
// bytes, no overlong forms, no surrogates (U+D800..U+DFFF), nothing above U+10FFFF. The JSON
// outputs and the error messages decide with it which bytes are text and which are not.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace advdiff {

// The length (1 to 4) of the well-formed UTF-8 sequence at the start of `text`; 0 when `text` is
// empty or does not start with one.
constexpr std::size_t utf8_sequence_length(std::string_view text) {
    if (text.empty()) return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) return 1;
    // The second byte's range narrows after E0 (no overlong three-byte form), ED (no surrogate),
    // F0 (no overlong four-byte form) and F4 (nothing above U+10FFFF); C0, C1 and F5..FF never lead.
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if (next < low || next > high) return 0;
        low = 0x80;
        high = 0xBF;
    }
    return length;
}

// The code point of the well-formed sequence of `length` bytes at the start of `text`.
constexpr std::uint32_t utf8_code_point(std::string_view text, std::size_t length) {
    constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    std::uint32_t code = static_cast<unsigned char>(text[0]) & kLeadBits[length];
    for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(text[k]) & 0x3F);
    return code;
}

// True when all of `text` is well-formed UTF-8.
constexpr bool is_utf8(std::string_view text) {
    while (!text.empty()) {
        const std::size_t length = utf8_sequence_length(text);
        if (length == 0) return false;
        text.remove_prefix(length);
    }
    return true;
}

}  // namespace advdiff
