#include "run/item_scanner.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

namespace advdiff::run {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether a real whose conversion was out of range is too large (rather than too small) for a
// double: the power of ten of its leading nonzero digit plus its exponent is positive. `text` has
// the form of a real.
bool too_large(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    if (*p == '+' || *p == '-') ++p;
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
    long exponent = 0;  // saturated: only its sign and rough size matter
    if (p != end) {
        ++p;  // the exponent letter
        const bool negative = *p == '-';
        if (*p == '+' || *p == '-') ++p;
        for (; p != end; ++p)
            if (exponent < 100000000) exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
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
    return magnitude + exponent > 0;
}

// The real number at the start of [first, last): `stop` is set after the longest start that has
// the form of a real (to first when none has: bad_form).
NumberStatus scan_real(const char* first, const char* last, double& out, const char*& stop) {
    stop = first;
    const char* p = first;
    if (p != last && (*p == '+' || *p == '-')) ++p;
    // A digit or a point must follow the sign: this refuses inf, nan and a second sign, which
    // from_chars would take or report differently.
    if (p == last || !(is_digit(*p) || *p == '.')) return NumberStatus::bad_form;
    // from_chars takes a minus sign but not a plus sign, and E but not D.
    const char* const from = *first == '+' ? first + 1 : first;
    double value = 0.0;
    std::from_chars_result result = std::from_chars(from, last, value);
    if (result.ec == std::errc::invalid_argument) return NumberStatus::bad_form;  // ".", "-."
    const char* end = result.ptr;
    if (end != last && (*end == 'd' || *end == 'D')) {
        // A D exponent: the same text with an E in its place, which from_chars must take whole
        // (it does not where the digits before the D carry an exponent already: 3E5D2).
        const char* q = end + 1;
        if (q != last && (*q == '+' || *q == '-')) ++q;
        const char* const exponent_digits = q;
        while (q != last && is_digit(*q)) ++q;
        if (q != exponent_digits) {
            const auto length = static_cast<std::size_t>(q - from);
            const auto letter_at = static_cast<std::size_t>(end - from);
            char small[64];
            std::string large;
            char* copy = small;
            if (length > sizeof small) {
                large.assign(from, length);
                copy = large.data();
            } else {
                std::memcpy(small, from, length);
            }
            copy[letter_at] = 'e';
            double with_exponent = 0.0;
            const std::from_chars_result whole = std::from_chars(copy, copy + length, with_exponent);
            if (whole.ptr == copy + length) {
                result = whole;
                value = with_exponent;
                end = q;
            }
        }
    }
    stop = end;
    if (result.ec == std::errc::result_out_of_range) {
        if (too_large(std::string_view(first, static_cast<std::size_t>(end - first))))
            return NumberStatus::out_of_range;
        value = *first == '-' ? -0.0 : 0.0;
    }
    out = value;
    return NumberStatus::ok;
}

NumberStatus scan_int(const char* first, const char* last, int& out, const char*& stop) {
    stop = first;
    const char* p = first;
    if (p != last && (*p == '+' || *p == '-')) ++p;
    if (p == last || !is_digit(*p)) return NumberStatus::bad_form;
    int value = 0;
    const auto result = std::from_chars(*first == '+' ? first + 1 : first, last, value);
    stop = result.ptr;
    if (result.ec == std::errc::result_out_of_range) return NumberStatus::out_of_range;
    out = value;
    return NumberStatus::ok;
}

// The number scanned at the start of `text`, whose form must end where the item does (item_at:
// at the first byte that ends an item, or the end of `text`; whole_item: at the end of `text`).
template <class T, class Scan>
NumberStatus number_ending(std::string_view text, T& out, Scan scan, bool at_item_end) {
    const char* const last = text.data() + text.size();
    const char* stop = nullptr;
    T value{};
    const NumberStatus status = scan(text.data(), last, value, stop);
    if (status == NumberStatus::bad_form || (stop != last && !(at_item_end && ends_item(*stop))))
        return NumberStatus::bad_form;
    if (status == NumberStatus::ok) out = value;
    return status;
}
template <class T, class Scan>
NumberStatus item_at(std::string_view rest, T& out, Scan scan) {
    return number_ending(rest, out, scan, true);
}
template <class T, class Scan>
NumberStatus whole_item(std::string_view item, T& out, Scan scan) {
    return number_ending(item, out, scan, false);
}

// Bytes a text file may hold below 0x20 (and DEL): tab, LF, form feed, CR.
bool is_text_byte(unsigned char c) {
    if (c == '\t' || c == '\n' || c == '\f' || c == '\r') return true;
    return c >= 0x20 && c != 0x7F;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Bytes read from a file at a time; a line up to this long is read in place.
constexpr std::size_t kPieceBytes = 256 * 1024;

}  // namespace

std::string_view first_item(std::string_view rest) {
    std::size_t n = 0;
    while (n < rest.size() && !ends_item(rest[n])) ++n;
    return rest.substr(0, n);
}

NumberStatus parse_int_at(std::string_view rest, int& out) { return item_at(rest, out, scan_int); }

namespace {

using detail::Unsigned128;

// 10^-p for p = 0 .. 42 as R 2^-(126 + B + p): B the bit length of 5^p, R = floor(2^(126 + B) / 5^p)
// in [2^126, 2^127], by long division at compile time.
struct ScaledPower {
    Unsigned128 reciprocal;
    int bits;
};
constexpr int kMostFractionDigits = 42;
constexpr auto kInversePowersOfTen = [] {
    std::array<ScaledPower, kMostFractionDigits + 1> table{};
    Unsigned128 five = 1;  // 5^42 < 2^98
    for (int p = 0; p <= kMostFractionDigits; ++p, five *= 5) {
        int bits = 0;
        while (bits < 128 && (five >> bits) != 0) ++bits;
        Unsigned128 quotient = 0, remainder = 0;
        for (int bit = 126 + bits; bit >= 0; --bit) {  // the remainder stays below 2^99
            remainder = 2 * remainder + (bit == 126 + bits ? 1 : 0);
            if (remainder >= five) remainder -= five, quotient |= static_cast<Unsigned128>(1) << bit;
        }
        table[static_cast<std::size_t>(p)] = {quotient, bits};
    }
    return table;
}();

// Eight decimal digits as a number, the first the most significant; false if one is not a digit.
bool eight_digits(const char* text, std::uint64_t& value) {
    std::uint64_t v = 0;
    std::memcpy(&v, text, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);  // text[0] lowest
    // Each byte 0x30 .. 0x39: its high half 3, and still 3 after adding 6 (a byte that carries
    // fails its own test first).
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0u, kThrees = 0x3030303030303030u;
    if ((v & kHigh) != kThrees || ((v + 0x0606060606060606u) & kHigh) != kThrees) return false;
    v -= kThrees;
    v = v * 10 + (v >> 8);  // byte 2i: the pair of digits 2i, 2i+1
    v = ((v & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
         ((v >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >> 32;
    value = static_cast<std::uint32_t>(v);
    return true;
}

}  // namespace

bool detail::writer_form_value(const char* first, const char* last, double& out) {
    if (last - first < 22) return false;
    const std::uint64_t negative = *first == '-';  // signs alternate unpredictably: no branch on it
    const char* const p = first + negative;
    // d . 16 digits E sign 2 digits, and nothing more of the item.
    if (last - p < 22 || (last - p > 22 && !ends_item(p[22])) || !is_digit(p[0]) || p[1] != '.' || p[18] != 'E' ||
        (p[19] != '+' && p[19] != '-') || !is_digit(p[20]) || !is_digit(p[21]))
        return false;
    std::uint64_t high = 0, low = 0;
    if (!eight_digits(p + 2, high) || !eight_digits(p + 10, low)) return false;
    const std::uint64_t w = static_cast<std::uint64_t>(p[0] - '0') * 10000000000000000u + high * 100000000u + low;
    if (w == 0) {
        out = std::bit_cast<double>(negative << 63);
        return true;
    }
    const int exponent = (p[19] == '-' ? -1 : 1) * ((p[20] - '0') * 10 + (p[21] - '0'));
    const int fraction_digits = 16 - exponent;  // the value is w 10^-fraction_digits
    if (w < 10000000000000000u || fraction_digits < 0 || fraction_digits > kMostFractionDigits) return false;
    // w 10^-p = V 2^-(126 + B + p) with V = w 2^(126 + B) / 5^p = P + w e, P = w R exactly and
    // 0 <= e < 1 the part of 2^(126 + B) / 5^p that R drops: so P <= V < P + 2^57 (w < 10^17).
    // P has L = 180 .. 184 bits; its top 64 bits `top` hold the 53 bits of the double and 11
    // rounding bits, and the bits below top weigh 2^(L-64) >= 2^116 together. V's top 64 bits are
    // therefore top or top + 1, and V rounds as P does unless the rounding bits of top are 0x3FF
    // (V may reach the halfway point) or 0x400 (P may be on it).
    const ScaledPower& scale = kInversePowersOfTen[static_cast<std::size_t>(fraction_digits)];
    const auto low_product = static_cast<Unsigned128>(w) * static_cast<std::uint64_t>(scale.reciprocal);
    const auto high_product = static_cast<Unsigned128>(w) * static_cast<std::uint64_t>(scale.reciprocal >> 64);
    const Unsigned128 upper = high_product + (low_product >> 64);  // P = upper 2^64 + low 64 bits
    const int shift = std::countl_zero(static_cast<std::uint64_t>(upper >> 64));  // upper >= 2^115: top is in it
    const auto top = static_cast<std::uint64_t>((upper << shift) >> 64);
    const std::uint64_t rounding = top & 0x7FF;
    if (rounding == 0x3FF || rounding == 0x400) return false;
    // Rounded up (rounding above 0x400) by adding rounding's bit 10: half the values round up, in
    // no pattern a branch could follow.
    const std::uint64_t mantissa = (top >> 11) + (rounding >> 10);
    // L = 192 - shift, and the double is mantissa 2^(L - 53 - 126 - B - p), normal from 1E-26 to
    // 1E17. A mantissa rounded up to 2^53 carries into the exponent field, as it should.
    const int power = 192 - shift - 53 - 126 - scale.bits - fraction_digits;
    const std::uint64_t bits =
        (static_cast<std::uint64_t>(power + 52 + 1023) << 52) + (mantissa - (std::uint64_t{1} << 52));
    out = std::bit_cast<double>(bits | negative << 63);
    return true;
}

NumberStatus detail::parse_real_at_general(std::string_view rest, double& out) { return item_at(rest, out, scan_real); }

NumberStatus parse_int_item(std::string_view item, int& out) { return whole_item(item, out, scan_int); }

NumberStatus parse_real_item(std::string_view item, double& out) { return whole_item(item, out, scan_real); }

// ---------------------------------------------------------------------------------------------

ItemScanner ItemScanner::open(const std::string& path, const std::string& display_name, ControlBytes control) {
    return ItemScanner(display_name, std::make_unique<platform::FileReader>(path, display_name, kPieceBytes), control);
}

ItemScanner::ItemScanner(std::string display_name, std::unique_ptr<platform::FileReader> file, ControlBytes control)
    : display_name_(std::move(display_name)), file_(std::move(file)), control_(control),
      pos_(file_->end()), end_(file_->end()) {
    refill();
    skip_byte_order_mark();
}

ItemScanner::ItemScanner(std::string display_name, std::string contents, ControlBytes control)
    : display_name_(std::move(display_name)), contents_(std::move(contents)), control_(control),
      pos_(contents_.data()), end_(contents_.data() + contents_.size()) {
    skip_byte_order_mark();
}

void ItemScanner::skip_byte_order_mark() {
    if (std::string_view(pos_, static_cast<std::size_t>(end_ - pos_)).starts_with(kUtf8Bom)) pos_ += kUtf8Bom.size();
}

void ItemScanner::fail(std::string_view setting, const std::string& message) const {
    throw RunError(display_name_, line_, std::string(setting), message);
}

bool ItemScanner::refill() {
    if (!file_) return false;
    pos_ = file_->refill(end_, kPieceBytes);
    end_ = file_->end();
    return pos_ != end_;
}

void ItemScanner::check_text(std::string_view setting, long number, const char* bytes, std::size_t length) const {
    for (std::size_t k = 0; k < length; ++k) {
        const auto c = static_cast<unsigned char>(bytes[k]);
        if (!is_text_byte(c)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(c));
            throw RunError(display_name_, number, std::string(setting),
                           std::string("not a text file: it holds the control byte ") + hex);
        }
    }
}

std::string_view ItemScanner::next_line_beyond_buffer(std::string_view setting) {
    std::size_t searched = 0;
    for (;;) {
        const auto available = static_cast<std::size_t>(end_ - pos_);
        const void* const newline = std::memchr(pos_ + searched, '\n', available - searched);
        if (newline != nullptr || file_has_ended()) {
            const std::size_t length =
                newline == nullptr ? available : static_cast<std::size_t>(static_cast<const char*>(newline) - pos_);
            if (length > kKeptLineBytes) break;
            return take_line(setting, length, newline != nullptr ? 1 : 0);
        }
        searched = available;
        pos_ = file_->refill(pos_, available + 1);
        end_ = file_->end();
        // Nothing more was read and the file goes on: the line is longer than the buffer.
        if (static_cast<std::size_t>(end_ - pos_) == available && !file_->at_end_of_file()) break;
    }
    return long_line(setting, lines_read_ + 1);
}

std::string_view ItemScanner::long_line(std::string_view setting, long number) {
    line_text_.clear();
    while (pos_ < end_ || refill()) {
        const char* const begin = pos_;
        const auto available = static_cast<std::size_t>(end_ - pos_);
        const void* const newline = std::memchr(begin, '\n', available);
        const std::size_t length =
            newline == nullptr ? available : static_cast<std::size_t>(static_cast<const char*>(newline) - begin);
        if (control_ == ControlBytes::refused) check_text(setting, number, begin, length);
        const std::size_t room = kKeptLineBytes - line_text_.size();
        line_text_.append(begin, std::min(length, room));
        if (length > room) {
            line_cut_ = true;
            for (std::size_t k = room; k < length && !cut_part_has_item_; ++k)
                if (!is_blank(begin[k])) cut_part_has_item_ = true;
        }
        pos_ += length;
        if (newline != nullptr) {
            ++pos_;
            break;
        }
    }
    ++lines_read_;
    std::string_view line(line_text_);
    if (!line_cut_ && line.ends_with('\r')) line.remove_suffix(1);
    return line;
}

void ItemScanner::require_kept(std::string_view setting, std::string_view part) const {
    if (line_cut_ && part.data() + part.size() == line_text_.data() + line_text_.size())
        fail(setting, "the value on this line is longer than " + std::to_string(kKeptLineBytes) +
                          " characters, which is more than a value can be");
}

bool ItemScanner::skip_line(std::string_view setting) {
    if (at_end()) {
        line_ = lines_read_ + 1;
        return false;
    }
    next_line(setting);
    line_ = lines_read_;
    return true;
}

}  // namespace advdiff::run
