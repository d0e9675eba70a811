#include "run/reference_file.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "platform/text_file.hpp"
#include "run/item_scanner.hpp"

namespace advdiff::run {

namespace {

// The longest value "%.16E" writes: "-1.2345678901234567E-308".
constexpr std::size_t kLongestValue = 24;

std::int64_t node_total(int Nx, int Ny) {
    if (Nx <= 0 || Ny <= 0) return 0;
    return static_cast<std::int64_t>(Nx) * Ny;
}

// 5^k for k = 0 .. 27, the powers below 2^63.
constexpr auto kPowersOfFive = [] {
    std::array<std::uint64_t, 28> powers{};
    powers[0] = 1;
    for (std::size_t k = 1; k < powers.size(); ++k) powers[k] = powers[k - 1] * 5;
    return powers;
}();

constexpr std::uint64_t kTen16 = 10000000000000000u;

// The 17 significant digits of |value| rounded to nearest (ties to even), as an integer in
// [10^16, 10^17), and the decimal exponent, computed exactly in integers: |value| = m 2^q, and
// the digits are m 5^k 2^(q + k) for k = 16 - exponent, rounded. Covers the normal values from
// about 1e-11 to 1e17 (m 5^k within 116 bits, the shift within 1 .. 127); false for the others.
bool seventeen_digits(double value, std::uint64_t& digits, int& exponent) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    if (biased == 0 || biased == 0x7ff) return false;
    const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int q = biased - 1075;
    // |value| lies in [2^(q + 52), 2^(q + 53)), so its decimal exponent is floor((q + 52) log10 2)
    // or one more (78913 / 2^18 is log10 2 closely enough for these exponents).
    const int lower = ((q + 52) * 78913) >> 18;
    for (int e = lower + 1; e >= lower; --e) {
        const int k = 16 - e;
        const int shift = -(q + k);
        if (k < 0 || k >= static_cast<int>(kPowersOfFive.size()) || shift < 1 || shift > 127) return false;
        const detail::Unsigned128 n = static_cast<detail::Unsigned128>(m) * kPowersOfFive[static_cast<std::size_t>(k)];
        // n = whole 2^shift + fraction.
        const detail::Unsigned128 whole = n >> shift, fraction = n - (whole << shift);
        const detail::Unsigned128 half = static_cast<detail::Unsigned128>(1) << (shift - 1);
        if ((whole >> 64) != 0) return false;
        if (whole < kTen16) continue;  // |value| < 10^e: the exponent is one less
        auto d = static_cast<std::uint64_t>(whole);
        if (fraction > half || (fraction == half && d % 2 == 1)) ++d;
        if (d == 10 * kTen16) {
            d = kTen16;
            ++e;
        }
        digits = d;
        exponent = e;
        return true;
    }
    return false;
}

// Writes `value` as printf's "%.16E" does and returns the end: by the exact integer digits above
// where they apply, by to_chars (the same digits, lower-case letters) elsewhere.
char* write_value(char* out, double value) {
    std::uint64_t digits = 0;
    int exponent = 0;
    if (!seventeen_digits(value, digits, exponent)) {
        const auto result = std::to_chars(out, out + kLongestValue, value, std::chars_format::scientific, 16);
        for (char* c = out; c != result.ptr; ++c)
            if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
        return result.ptr;
    }
    if (value < 0.0) *out++ = '-';
    // The 17 digits as 9 + 8 in 32-bit halves, two at a time.
    char text[18];
    auto two_at_a_time = [&](std::uint32_t part, int last, int first) {
        for (int p = last; p > first + 1; p -= 2) {
            const std::uint32_t pair = part % 100;
            part /= 100;
            text[p] = static_cast<char>('0' + pair % 10);
            text[p - 1] = static_cast<char>('0' + pair / 10);
        }
        if ((last - first) % 2 == 1) text[first + 1] = static_cast<char>('0' + part);
    };
    two_at_a_time(static_cast<std::uint32_t>(digits % 100000000u), 17, 9);
    two_at_a_time(static_cast<std::uint32_t>(digits / 100000000u), 9, 0);
    *out++ = text[1];
    *out++ = '.';
    std::memcpy(out, text + 2, 16);
    out += 16;
    *out++ = 'E';
    *out++ = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;  // below 100 here
    *out++ = static_cast<char>('0' + magnitude / 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
    return out;
}

}  // namespace

std::string reference_file_name(int index) { return "exata" + std::to_string(index); }

void read_reference_values(const std::string& path, int Nx, int Ny, std::span<double> out) {
    const std::int64_t needed = node_total(Nx, Ny);
    if (static_cast<std::uint64_t>(needed) > out.size())
        throw std::invalid_argument("read_reference_values: output smaller than Nx*Ny");

    // The file streams through the scanner's buffer: this runs in every timed repetition, and only
    // the lines up to the last value the grid needs are read. A comment may hold any byte; an item
    // that holds a control byte is not a number.
    ItemScanner scanner = ItemScanner::open(path, path, ItemScanner::ControlBytes::unchecked);

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
            std::string_view rest;
            if (!scanner.next_value("", rest))
                scanner.fail("", "expected Nx*Ny = " + std::to_string(needed) + " values, found " +
                                     std::to_string(static_cast<std::int64_t>(i) * Ny + j));
            if (is_null_value(rest))
                scanner.fail("", "expected a number, found a null value (a line starting with ',' or '/')");
            double& value = block[static_cast<std::size_t>(i % kColumns) * ny + static_cast<std::size_t>(j)];
            switch (scanner.real_at("", rest, value)) {
            case NumberStatus::ok:
                break;
            case NumberStatus::bad_form:
                scanner.fail("", "expected a number, found " + quoted_item(first_item(rest)));
            case NumberStatus::out_of_range:
                scanner.fail("", "expected a number within the double range, found " + quoted_item(first_item(rest)));
            }
        }
    }
    if (Nx > 0) store((Nx - 1) / kColumns * kColumns, (Nx - 1) % kColumns + 1);
}

void write_reference_values(const std::string& path, int Nx, int Ny, std::span<const double> values) {
    const std::int64_t count = node_total(Nx, Ny);
    if (static_cast<std::uint64_t>(count) > values.size())
        throw std::invalid_argument("write_reference_values: fewer values than Nx*Ny");

    // "%.16E" per line, without the cost of printf, through a buffer written out whenever it is
    // nearly full. The array holds the grid row by row and the file lists it column by column: the
    // values of kColumns columns are copied, a row of them at a time, into `block` (column c at
    // c * Ny) and written from there, so that the array is read along its rows.
    constexpr std::size_t kBuffer = std::size_t{1} << 20;
    constexpr int kColumns = 8;
    const std::size_t ny = Ny > 0 ? static_cast<std::size_t>(Ny) : 0;
    const std::unique_ptr<double[]> block(new double[kColumns * ny]);
    std::string bytes(kBuffer, '\0');
    char* const full = bytes.data() + kBuffer - (kLongestValue + 1);
    char* out = bytes.data();
    platform::AtomicFileWriter file(path);
    for (int first = 0; first < Nx; first += kColumns) {
        const int columns = std::min(kColumns, Nx - first);
        for (std::size_t j = 0; j < ny; ++j) {
            const double* row = values.data() + j * static_cast<std::size_t>(Nx) + static_cast<std::size_t>(first);
            for (int c = 0; c < columns; ++c) block[static_cast<std::size_t>(c) * ny + j] = row[c];
        }
        for (std::size_t k = 0; k < static_cast<std::size_t>(columns) * ny; ++k) {
            if (out > full) {
                file.write({bytes.data(), static_cast<std::size_t>(out - bytes.data())});
                out = bytes.data();
            }
            out = write_value(out, block[k]);
            *out++ = '\n';
        }
    }
    file.write({bytes.data(), static_cast<std::size_t>(out - bytes.data())});
    file.commit();
}

}  // namespace advdiff::run
