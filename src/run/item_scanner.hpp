#pragma once
// The free format of the input files and the reference files, in one place: the bytes that
// separate items, the forms of numbers and their conversion, and the scanner that finds, line by
// line, the item each value starts with. The readers of the two kinds of file (free_format.hpp,
// reference_file.hpp) add only what a value means to them.
//
// Rules: each value is read by a read of its own that starts at the beginning of the next line;
// blank lines (and blanks, tabs) before the item are skipped; the item ends at a blank, a tab, a
// comma, a slash or the end of the line; the rest of the line is free text (a comment). A line
// whose item is empty (it starts with a comma) or is a slash is a null value. A CR before the LF
// is not part of the line, and a UTF-8 byte-order mark at the start of a file is passed over.
//
// An integer is an optional sign and digits. A real is an optional sign, digits with an optional
// decimal point (at least one digit in all), and an optional exponent: a letter E or D (either
// case), an optional sign and digits. Nothing else is a number: no repeat counts, no ';', no
// inf/nan, no hexadecimal, no exponent without its letter. A real whose magnitude is too small
// for a double becomes a zero of its sign; one too large is out of range.
//
// Conversion: the form reference files are written in by integer arithmetic of its own, every
// other item (and that form where it declines) by std::from_chars, which uses neither the locale,
// nor the C library's strtod, nor long double. The standard only promises one of the two doubles
// nearest to the decimal value; the libraries we build with (libstdc++ 12 and later, on Linux and
// on mingw-w64 alike) give the nearest, ties to even, and the tests hold both conversions to it
// against an independent one.

#include <charconv>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/file_reader.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {

// ---------------------------------------------------------------------------------------------
// Items and numbers.

// Blanks separate items; a tab, a form feed and a stray CR count as blanks.
inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; }
// A comma or a slash ends an item as a blank does (the slash ends the line's values too).
inline bool ends_item(char c) { return is_blank(c) || c == ',' || c == '/'; }

// The item that starts `rest`: its bytes up to the first that ends an item.
std::string_view first_item(std::string_view rest);
// Whether the item that starts `rest` (not empty) is a null value.
inline bool is_null_value(std::string_view rest) { return rest.front() == ',' || rest.front() == '/'; }

// The item as an error message shows it: long items cut.
inline std::string quoted_item(std::string_view item) { return advdiff::quoted(item, 40); }

enum class NumberStatus { ok, bad_form, out_of_range };

// The item that starts `rest` converted to an integer or a real; `out` is written only for ok.
NumberStatus parse_int_at(std::string_view rest, int& out);
inline NumberStatus parse_real_at(std::string_view rest, double& out);
// The same for a text that must be one item, all of it the number (an option's value).
NumberStatus parse_int_item(std::string_view item, int& out);
NumberStatus parse_real_item(std::string_view item, double& out);

// The same forms as regular expressions of a whole item, in the syntax that Python's re and
// ECMAScript share, for programs that check a value before a run. The integer pattern also holds
// the 32-bit range (leading zeros are allowed); a real of the right form may still lie beyond the
// double range, which is refused as parse_real_item says.
inline constexpr const char* kIntegerItemPattern =
    "^(?:[+-]?0*(?:[0-9]{1,9}|1[0-9]{9}|20[0-9]{8}|21[0-3][0-9]{7}|214[0-6][0-9]{6}|2147[0-3][0-9]{5}"
    "|21474[0-7][0-9]{4}|214748[0-2][0-9]{3}|2147483[0-5][0-9]{2}|21474836[0-3][0-9]|214748364[0-7])"
    "|-0*2147483648)$";
inline constexpr const char* kRealItemPattern = "^[+-]?(?:[0-9]+[.]?[0-9]*|[.][0-9]+)(?:[EeDd][+-]?[0-9]+)?$";

namespace detail {
// The 128-bit integer of the exact conversions between doubles and decimal digits (here and in the
// reference file's writer): GCC's and Clang's, on every 64-bit target.
__extension__ typedef unsigned __int128 Unsigned128;
// parse_real_at in full: every form, magnitudes out of range, wrong forms told apart.
NumberStatus parse_real_at_general(std::string_view rest, double& out);
// The item that starts [first, last) in the form reference files are written in, an optional minus
// sign, d.dddddddddddddddd E, a sign and two digits, with a leading digit other than 0 (or all
// digits 0) and a value from 1E-26 to below 1E+17: its nearest double, ties to even, in `out`.
// False, `out` untouched, for any other item and for the one in about 1000 values that lies too
// close to halfway between two doubles for this conversion to decide.
bool writer_form_value(const char* first, const char* last, double& out);
}  // namespace detail

inline NumberStatus parse_real_at(std::string_view rest, double& out) {
    // The usual items are converted here (the reference reader converts millions of them): the
    // writer's form, such as -1.2345678901234567E-03, by writer_form_value (three times as fast as
    // from_chars); then an optional minus sign, a digit or a point, and all of the item taken by
    // from_chars with a value in range. parse_real_at_general makes the same from_chars call on
    // the same bytes and accepts the same result in that case; all three give the nearest double.
    const char* const first = rest.data();
    const char* const last = first + rest.size();
    if (detail::writer_form_value(first, last, out)) return NumberStatus::ok;
    const char* const p = first != last && *first == '-' ? first + 1 : first;
    if (p != last && ((*p >= '0' && *p <= '9') || *p == '.')) {
        double value = 0.0;
        const std::from_chars_result result = std::from_chars(first, last, value);
        if (result.ec == std::errc{} && (result.ptr == last || ends_item(*result.ptr))) {
            out = value;
            return NumberStatus::ok;
        }
    }
    return detail::parse_real_at_general(rest, out);
}

// ---------------------------------------------------------------------------------------------
// The scanner.

class ItemScanner {
public:
    // A control byte is one below 0x20 other than tab, LF, form feed and CR, or DEL. `refused`:
    // a line that holds one stops the reading ("not a text file"), wherever it stands. `unchecked`:
    // only an item that holds one is refused, as any item of the wrong form is, and the lines are
    // not inspected byte by byte.
    enum class ControlBytes { refused, unchecked };

    // Opens the file through the platform layer; it is then read in pieces, and only as far as the
    // values asked for, so that memory does not depend on the file's length. Throws RunError
    // naming `display_name` when the file is missing, a directory, not a regular file or
    // unreadable.
    static ItemScanner open(const std::string& path, const std::string& display_name, ControlBytes control);
    // A scanner over text already in memory (tests, fuzzing).
    ItemScanner(std::string display_name, std::string contents, ControlBytes control);

    // Not copied or moved: the scanner points into its own buffer.
    ItemScanner(const ItemScanner&) = delete;
    ItemScanner& operator=(const ItemScanner&) = delete;

    // The next line that holds an item, from its first byte that is not blank to the end of the
    // line (without its CR and LF); blank lines are passed over and the line becomes line().
    // False at the end of the file, and line() is then the line after the last (1 for an empty
    // file). `setting` is what the value is read for, named by the errors this throws: a control
    // byte (with ControlBytes::refused), an item that lies beyond what is kept of a long line.
    bool next_value(std::string_view setting, std::string_view& rest) {
        for (;;) {
            if (at_end()) {
                line_ = lines_read_ + 1;  // the line after the last one (1 for an empty file)
                return false;
            }
            const std::string_view line = next_line(setting);
            std::size_t start = 0;
            while (start < line.size() && is_blank(line[start])) ++start;
            if (start == line.size() && !cut_part_has_item_) continue;  // blank lines are passed over
            line_ = lines_read_;
            // Blanks up to the end of what is kept of a long line: its value starts beyond.
            if (start == line.size()) require_kept(setting, line.substr(start));
            rest = line.substr(start);
            return true;
        }
    }
    // Passes over the next line whatever it holds; false at the end of the file (line() as above).
    bool skip_line(std::string_view setting);

    // The item that starts `rest` (as next_value gave it) converted; throws when the item runs
    // into the part of a long line that is not kept.
    NumberStatus int_at(std::string_view setting, std::string_view rest, int& out) const {
        if (line_cut_) require_kept(setting, first_item(rest));
        return parse_int_at(rest, out);
    }
    NumberStatus real_at(std::string_view setting, std::string_view rest, double& out) const {
        if (line_cut_) require_kept(setting, first_item(rest));
        return parse_real_at(rest, out);
    }
    // Throws when `part` of the current line runs into the part of a long line that is not kept.
    void require_kept(std::string_view setting, std::string_view part) const;

    // Throws RunError(file, line(), setting, message).
    [[noreturn]] void fail(std::string_view setting, const std::string& message) const;
    // Physical line (1-based) of the last value found or line skipped.
    long line() const { return line_; }
    const std::string& file_name() const { return display_name_; }

private:
    ItemScanner(std::string display_name, std::unique_ptr<platform::FileReader> file, ControlBytes control);

    // What is kept of a line: a value is never longer, and a line may hold any amount of comment.
    static constexpr std::size_t kKeptLineBytes = 1024 * 1024;

    // The next physical line without its LF (and without a CR before it): in place in the buffer
    // when it fits there, else its first kKeptLineBytes bytes copied (long_line).
    std::string_view next_line(std::string_view setting) {
        const void* const newline = std::memchr(pos_, '\n', static_cast<std::size_t>(end_ - pos_));
        if (newline == nullptr) return next_line_beyond_buffer(setting);
        const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - pos_);
        if (length > kKeptLineBytes) return long_line(setting, lines_read_ + 1);
        return take_line(setting, length, 1);
    }
    // The line of `length` bytes at pos_, followed by `ending` bytes (its LF, or none at the end of
    // the file).
    std::string_view take_line(std::string_view setting, std::size_t length, std::size_t ending) {
        if (control_ == ControlBytes::refused) check_text(setting, lines_read_ + 1, pos_, length);
        std::string_view line(pos_, length);
        pos_ += length + ending;
        ++lines_read_;
        line_cut_ = false;
        cut_part_has_item_ = false;
        if (line.ends_with('\r')) line.remove_suffix(1);
        return line;
    }
    // A line whose end is not in the buffer: it is moved to the buffer's start and more of the
    // file read after it; only one longer than the buffer is copied.
    std::string_view next_line_beyond_buffer(std::string_view setting);
    std::string_view long_line(std::string_view setting, long number);
    // Throws when `bytes` (of line `number`) hold a control byte.
    void check_text(std::string_view setting, long number, const char* bytes, std::size_t length) const;
    // Whether no byte is left; reads the next piece of the file when the buffer is used up.
    bool at_end() { return pos_ == end_ && !refill(); }
    bool refill();
    bool file_has_ended() const { return !file_ || file_->at_end_of_file(); }
    void skip_byte_order_mark();

    std::string display_name_;
    std::unique_ptr<platform::FileReader> file_;  // null for text given in memory
    std::string contents_;       // the text given in memory
    ControlBytes control_;
    const char* pos_ = nullptr;  // the unread bytes of the buffer (or of contents_)
    const char* end_ = nullptr;
    std::string line_text_;      // the kept bytes of a line that did not fit in place
    bool line_cut_ = false;      // the current line is longer than what is kept of it
    bool cut_part_has_item_ = false;  // a byte that is not blank lies beyond the kept part
    long line_ = 0;              // line of the last value found or line skipped
    long lines_read_ = 0;        // physical lines consumed so far
};

}  // namespace advdiff::run
