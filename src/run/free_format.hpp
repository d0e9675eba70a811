#pragma once
// Reading the input files value by value: one value per line, free format.
//
// Rules: each value is read by a read of its own that starts at the beginning of the next line;
// blank lines (and blanks, tabs) before the item are skipped; the item ends at a blank, a tab, a
// comma, a slash or the end of the line; the rest of the line is ignored. An integer is an
// optional sign and digits; a real may be an integer, a decimal number, or carry an exponent
// introduced by E or D (either case). A text may be enclosed in apostrophes or quotation marks
// (then it may contain blanks, and a doubled delimiter stands for one); without delimiters it ends
// at the first blank, comma or slash. A line whose item is empty (it starts with a comma) or is a
// slash is a null value: the setting keeps its previous value. A CR before the LF is not part of
// any value. Nothing else is accepted: no repeat counts, no ';', no NaN or Infinity, no exponent
// without its letter.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_reader.hpp"
#include "run/number_syntax.hpp"

namespace advdiff::run {

class FreeFormatReader {
public:
    // Opens the file through the platform layer; it is then read line by line, in pieces, and only
    // as far as the values asked for, so that memory does not depend on the file's length. Throws
    // RunError naming `display_name` when the file is missing, a directory, not a regular file or
    // unreadable; a line read that holds bytes that are not text throws when it is read.
    static FreeFormatReader open(const std::string& path, const std::string& display_name);

    // A reader over text already in memory (tests, fuzzing).
    FreeFormatReader(std::string display_name, std::string contents);

    // Not copied or moved: the reader points into its own buffer.
    FreeFormatReader(const FreeFormatReader&) = delete;
    FreeFormatReader& operator=(const FreeFormatReader&) = delete;

    // Skips the next line whatever it holds. Throws RunError at end of file.
    void skip_line(std::string_view what);

    // Each reads the next value into `value`, leaving it unchanged for a null value. Errors
    // (end of file, wrong form, out of the 32-bit range or of the double range, unclosed text
    // delimiter) throw RunError(file, line, setting, "expected ..., found \"...\"").
    void read_int(std::string_view setting, int& value);
    void read_double(std::string_view setting, double& value);
    // Stored left-justified, blank-padded (or cut) to `width` characters.
    void read_text(std::string_view setting, std::string& value, std::size_t width);

    // Physical line (1-based) of the last value read or skipped.
    long line() const;
    const std::string& file_name() const;

private:
    FreeFormatReader(std::string display_name, std::unique_ptr<platform::FileReader> file);

    // The rest of the line where the next value starts, blanks before it removed; sets line_.
    // Throws the end-of-file error for `expected` ("an integer", ...).
    std::string_view seek_value(std::string_view setting, std::string_view expected);
    // read_int and read_double: the value's item parsed by `parse`; `form` and `in_range` say
    // what was expected when the item has the wrong form or lies outside the type's range.
    template <class T>
    void read_number(std::string_view setting, T& value, std::string_view form, std::string_view in_range,
                     detail::NumberStatus (*parse)(std::string_view, T&));
    // The next physical line without its LF (and without a CR before it): its first
    // kKeptLineBytes bytes; every byte of it is checked to be text (the error names `setting`,
    // the value being looked for).
    std::string_view next_line(std::string_view setting);
    // Whether no byte is left; reads the next piece of the file when the buffer is used up.
    bool at_end();
    bool refill();
    void skip_byte_order_mark();
    // Throws when `part` of the current line runs into the part of a long line that is not kept.
    void require_kept(std::string_view setting, std::string_view part) const;
    [[noreturn]] void fail(std::string_view setting, const std::string& message) const;

    std::string display_name_;
    std::unique_ptr<platform::FileReader> file_;  // null for text given in memory
    std::string contents_;    // the text given in memory
    const char* pos_ = nullptr;  // the unread bytes of the piece read last (or of contents_)
    const char* end_ = nullptr;
    std::string line_text_;   // the kept bytes of the current line
    bool line_cut_ = false;   // the current line is longer than what is kept of it
    bool cut_part_has_item_ = false;  // a byte that is not blank lies beyond the kept part
    long line_ = 0;           // line of the last value read or skipped
    long lines_read_ = 0;     // physical lines consumed so far
};

}  // namespace advdiff::run
