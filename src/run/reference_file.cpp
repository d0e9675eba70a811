#include "run/reference_file.hpp"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "platform/file_reader.hpp"
#include "platform/text_file.hpp"
#include "run/free_format_chars.hpp"
#include "run/number_syntax.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {

namespace {

std::int64_t node_total(int Nx, int Ny) {
    if (Nx <= 0 || Ny <= 0) return 0;
    return static_cast<std::int64_t>(Nx) * Ny;
}

// Exact powers of ten as long doubles: 10^27 = 2^27 5^27 and 5^27 < 2^64, so each is exact in the
// 64-bit significand.
constexpr int kLargestExactPower = 27;
const long double* powers_of_ten() {
    static const auto table = [] {
        struct Table {
            long double p[kLargestExactPower + 1];
        } t{};
        long double x = 1.0L;
        for (int k = 0; k <= kLargestExactPower; ++k, x *= 10.0L) t.p[k] = x;
        return t;
    }();
    return table.p;
}

// digits * 10^exponent rounded to the nearest double, where digits holds at most 19 decimal
// digits; false where the quick way cannot promise the correctly rounded result, and the caller
// then takes the general conversion.
//
// Why it gives the correctly rounded double: the digits are exact in the 64-bit significand of a
// long double, and so is 10^|exponent| up to 10^27, so the one multiplication or division rounds
// once, to y within half a unit of the last of its 64 bits (ulp) of the exact value x. A double
// keeps 53 of those bits; its rounding boundaries (midpoints between doubles) are the long doubles
// whose 11 lower bits are 0x400. When those bits of y are not 0x3FF, 0x400 or 0x401, y lies at
// least two ulp from every boundary, x lies within half an ulp of y, so both round to the same
// double. The result must be a normal double: below that the rounding position moves. Zero digits
// give a zero of the item's sign.
inline bool quick_decimal(std::uint64_t digits, int exponent, bool negative, double& out) {
    if (digits == 0) {  // zero whatever the exponent, with the item's sign
        out = negative ? -0.0 : 0.0;
        return true;
    }
    if (exponent < -kLargestExactPower || exponent > kLargestExactPower) return false;
    long double y = static_cast<long double>(digits);
    if (exponent < 0) y /= powers_of_ten()[-exponent];
    else y *= powers_of_ten()[exponent];
    std::uint64_t significand;
    std::memcpy(&significand, &y, sizeof significand);  // the 64 significand bits of the x87 format
    const unsigned low = static_cast<unsigned>(significand & 0x7FF);
    if (low >= 0x3FF && low <= 0x401) return false;
    const double d = static_cast<double>(y);
    if (!(d >= std::numeric_limits<double>::min() && d <= std::numeric_limits<double>::max())) return false;
    out = negative ? -d : d;
    return true;
}

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// True when the eight bytes (in memory order, little-endian) are all decimal digits.
inline bool eight_digits(std::uint64_t v) {
    return (((v & 0xF0F0F0F0F0F0F0F0ULL) | (((v + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) ==
            0x3333333333333333ULL);
}
// The value of eight digit bytes, the first byte the most significant digit.
inline std::uint64_t eight_digits_value(std::uint64_t v) {
    v -= 0x3030303030303030ULL;
    v = (v * 10) + (v >> 8);  // pairs
    v = (((v & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
         (((v >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >> 32;
    return v;
}

// Reads the item at p as a real number in the common forms (sign, up to 19 digits with a point,
// an E or D exponent of up to four digits, ended by a blank, a comma, a slash, a newline or the
// end of the file at `end`). On success sets value, moves p past the item and returns true;
// otherwise (any other form, or a value quick_decimal cannot promise) returns false and leaves p,
// and the caller reads the item the general way, which gives the same value for every item this
// accepts and the error messages for the items it rejects.
inline bool quick_item(const char*& p, const char* end, bool file_ended_at_end, double& value) {
    const char* q = p;
    bool negative = false;
    if (q != end && (*q == '+' || *q == '-')) negative = *q++ == '-';
    std::uint64_t digits = 0;
    int count = 0;  // digits taken, leading zeros included: at most 19 keeps them in 64 bits
    int scale = 0;  // power of ten of the last digit taken
    auto take_digits = [&](bool fraction) {
        while (end - q >= 8) {
            std::uint64_t v;
            std::memcpy(&v, q, sizeof v);
            if (!eight_digits(v)) break;
            if (count + 8 > 19) return false;
            digits = digits * 100000000ULL + eight_digits_value(v);
            count += 8;
            if (fraction) scale -= 8;
            q += 8;
        }
        while (q != end && is_digit(*q)) {
            if (++count > 19) return false;
            digits = digits * 10 + static_cast<unsigned>(*q - '0');
            if (fraction) --scale;
            ++q;
        }
        return true;
    };
    if (!take_digits(false)) return false;
    if (q != end && *q == '.') {
        ++q;
        if (!take_digits(true)) return false;
    }
    if (count == 0) return false;
    int exponent = 0;
    if (q != end && (*q == 'E' || *q == 'e' || *q == 'D' || *q == 'd')) {
        ++q;
        bool exponent_negative = false;
        if (q != end && (*q == '+' || *q == '-')) exponent_negative = *q++ == '-';
        const char* const first = q;
        while (q != end && is_digit(*q)) {
            if (q - first >= 4) return false;
            exponent = exponent * 10 + (*q - '0');
            ++q;
        }
        if (q == first) return false;
        if (exponent_negative) exponent = -exponent;
    }
    // The item must end here: at a character that ends items, or where the file ends.
    if (q == end ? !file_ended_at_end : !(ends_item(*q) || *q == '\n')) return false;
    if (!quick_decimal(digits, exponent + scale, negative, value)) return false;
    p = q;
    return true;
}

// Longest line start the quick path needs in the buffer at once: sign, 19 digits, a point, many
// leading zeros and an exponent fit well within it; anything longer takes the general path.
constexpr std::size_t kLookahead = 96;

}  // namespace

std::string reference_file_name(int index) { return "exata" + std::to_string(index); }

void read_reference_values(const std::string& path, int Nx, int Ny, std::span<double> out) {
    const std::int64_t needed = node_total(Nx, Ny);
    if (static_cast<std::uint64_t>(needed) > out.size())
        throw std::invalid_argument("read_reference_values: output smaller than Nx*Ny");

    // The file streams through one buffer: this runs in every timed repetition, and only the
    // lines up to the last value the grid needs are read.
    platform::FileReader file(path, path);
    const char* p = file.refill(file.begin(), 3);
    std::size_t skipped = 0;  // a byte-order mark
    if (file.end() - p >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
        p += 3;
        skipped = 3;
    }
    long line = 1;

    auto fail = [&](const std::string& message) -> void { throw RunError(path, line, "", message); };
    // At least `want` bytes from p in the buffer, unless the file ends first.
    auto ensure = [&](std::size_t want) {
        if (static_cast<std::size_t>(file.end() - p) < want && !file.at_end_of_file()) p = file.refill(p, want);
    };

    // The file lists the grid column by column, the array holds it row by row: a value per row
    // would be written a whole row length from the last one. The values of kColumns columns are
    // kept in `block` (column c at c * Ny) and stored a row of them at a time.
    constexpr int kColumns = 8;
    const std::size_t ny = Ny > 0 ? static_cast<std::size_t>(Ny) : 0;
    const std::unique_ptr<double[]> block(new double[kColumns * ny]);  // written before it is read
    auto store = [&](int first_column, int columns) {
        for (std::size_t j = 0; j < ny; ++j) {
            double* row = out.data() + j * static_cast<std::size_t>(Nx) + static_cast<std::size_t>(first_column);
            for (int c = 0; c < columns; ++c) row[c] = block[static_cast<std::size_t>(c) * ny + j];
        }
    };

    for (int i = 0; i < Nx; ++i) {
        if (i % kColumns == 0 && i > 0) store(i - kColumns, kColumns);
        for (int j = 0; j < Ny; ++j) {
            // The next line that is not blank.
            for (;;) {
                ensure(kLookahead);
                while (p != file.end() && is_blank(*p)) {
                    ++p;
                    ensure(kLookahead);
                }
                if (p == file.end()) {
                    // The line after the last one (1 for an empty file).
                    if (file.bytes_read() > skipped && file.last_byte() != '\n') ++line;
                    fail("expected Nx*Ny = " + std::to_string(needed) + " values, found " +
                         std::to_string(static_cast<std::int64_t>(i) * Ny + j));
                }
                if (*p != '\n') break;
                ++p;
                ++line;
            }

            double value = 0.0;
            if (!quick_item(p, file.end(), file.at_end_of_file(), value)) {
                // The general way: the whole item, however long, through the number syntax.
                std::string item;
                for (;;) {
                    const char* q = p;
                    while (q != file.end() && !ends_item(*q) && *q != '\n') ++q;
                    item.append(p, static_cast<std::size_t>(q - p));
                    p = q;
                    if (p != file.end() || file.at_end_of_file()) break;
                    p = file.refill(p, kLookahead);
                }
                if (item.empty()) fail("expected a number, found a null value (a line starting with ',' or '/')");
                switch (detail::parse_real_item(item, value)) {
                case detail::NumberStatus::ok:
                    break;
                case detail::NumberStatus::bad_form:
                    fail("expected a number, found " + quoted(item));
                    break;
                case detail::NumberStatus::out_of_range:
                    fail("expected a number within the double range, found " + quoted(item));
                    break;
                }
            }
            block[static_cast<std::size_t>(i % kColumns) * ny + static_cast<std::size_t>(j)] = value;

            // The rest of the line is not read. After the last value nothing more is.
            if (static_cast<std::int64_t>(i) * Ny + j + 1 == needed) {
                store(i - i % kColumns, i % kColumns + 1);
                return;
            }
            if (p != file.end() && *p == '\n') {  // the usual line: nothing after the value
                ++p;
                ++line;
                continue;
            }
            for (;;) {
                const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(file.end() - p));
                if (newline != nullptr) {
                    p = static_cast<const char*>(newline) + 1;
                    ++line;
                    break;
                }
                p = file.end();
                if (file.at_end_of_file()) break;
                p = file.refill(p, kLookahead);
            }
        }
    }
}

void write_reference_values(const std::string& path, int Nx, int Ny, std::span<const double> values) {
    const std::int64_t count = node_total(Nx, Ny);
    if (static_cast<std::uint64_t>(count) > values.size())
        throw std::invalid_argument("write_reference_values: fewer values than Nx*Ny");

    // "%.16E" per line, without the cost of printf: to_chars gives the same digits and a two-digit
    // minimum exponent; only the letters differ in case.
    constexpr std::size_t kLongestLine = 25;  // "-1.2345678901234567E-308\n"
    constexpr std::size_t kRoom = 32;         // what one to_chars call may use at most
    std::string bytes(static_cast<std::size_t>(count) * kLongestLine + kRoom, '\0');
    char* out = bytes.data();
    for (int i = 0; i < Nx; ++i) {
        for (int j = 0; j < Ny; ++j) {
            const double value =
                values[static_cast<std::size_t>(j) * static_cast<std::size_t>(Nx) + static_cast<std::size_t>(i)];
            const auto result = std::to_chars(out, out + kRoom - 1, value, std::chars_format::scientific, 16);
            for (char* c = out; c != result.ptr; ++c)
                if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
            out = result.ptr;
            *out++ = '\n';
        }
    }
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    platform::write_file_atomically(path, bytes);
}

}  // namespace advdiff::run
