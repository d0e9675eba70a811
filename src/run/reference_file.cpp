#include "run/reference_file.hpp"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "platform/text_file.hpp"
#include "run/number_syntax.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; }
bool ends_item(char c) { return is_blank(c) || c == ',' || c == '/' || c == '\n'; }

std::int64_t node_total(int Nx, int Ny) {
    if (Nx <= 0 || Ny <= 0) return 0;
    return static_cast<std::int64_t>(Nx) * Ny;
}

// The item as an error message shows it: long items cut.
std::string quoted(std::string_view item) { return advdiff::quoted(item, 40); }

}  // namespace

std::string reference_file_name(int index) { return "exata" + std::to_string(index); }

void read_reference_values(const std::string& path, int Nx, int Ny, std::span<double> out) {
    const std::int64_t needed = node_total(Nx, Ny);
    if (static_cast<std::uint64_t>(needed) > out.size())
        throw std::invalid_argument("read_reference_values: output smaller than Nx*Ny");

    // The whole file at once, then one pass over it: this runs in every timed repetition.
    const std::string text = platform::read_file(path, path);
    const char* p = text.data();
    const char* const end = p + text.size();
    if (text.starts_with("\xEF\xBB\xBF")) p += 3;
    const char* const begin = p;
    long line = 1;

    auto fail = [&](const std::string& message) -> void { throw RunError(path, line, "", message); };

    for (int i = 0; i < Nx; ++i) {
        for (int j = 0; j < Ny; ++j) {
            // The next line that is not blank.
            for (;;) {
                while (p != end && is_blank(*p)) ++p;
                if (p == end) {
                    // The line after the last one (1 for an empty file).
                    if (begin != end && end[-1] != '\n') ++line;
                    fail("expected Nx*Ny = " + std::to_string(needed) + " values, found " +
                         std::to_string(static_cast<std::int64_t>(i) * Ny + j));
                }
                if (*p != '\n') break;
                ++p;
                ++line;
            }
            const char* const item_begin = p;
            while (p != end && !ends_item(*p)) ++p;
            const std::string_view item(item_begin, static_cast<std::size_t>(p - item_begin));
            if (item.empty()) fail("expected a number, found a null value (a line starting with ',' or '/')");

            double value = 0.0;
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
            out[static_cast<std::size_t>(j) * static_cast<std::size_t>(Nx) + static_cast<std::size_t>(i)] = value;

            // The rest of the line is not read.
            const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            if (newline == nullptr) {
                p = end;
            } else {
                p = static_cast<const char*>(newline) + 1;
                ++line;
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
