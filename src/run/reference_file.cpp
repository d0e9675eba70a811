#include "run/reference_file.hpp"

#include <charconv>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "platform/text_file.hpp"
#include "run/item_scanner.hpp"

namespace advdiff::run {

namespace {

std::int64_t node_total(int Nx, int Ny) {
    if (Nx <= 0 || Ny <= 0) return 0;
    return static_cast<std::int64_t>(Nx) * Ny;
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
