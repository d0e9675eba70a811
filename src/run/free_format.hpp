#pragma once
// Reading the input files value by value, in the free format of item_scanner.hpp: integers, reals
// and texts; a null value leaves the setting as it was.
//
// A text may be enclosed in apostrophes or quotation marks (then it may contain blanks, and a
// doubled delimiter stands for one); without delimiters it ends at the first blank, comma or
// slash. Every line read must be text: a control byte anywhere on it stops the reading.

#include <cstddef>
#include <string>
#include <string_view>

#include "run/item_scanner.hpp"

namespace advdiff::run {

class FreeFormatReader {
public:
    // Opens the file (see ItemScanner::open); a line read that holds bytes that are not text throws
    // when it is read.
    static FreeFormatReader open(const std::string& path, const std::string& display_name);

    // A reader over text already in memory (tests, fuzzing).
    FreeFormatReader(std::string display_name, std::string contents);

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
    long line() const { return scanner_.line(); }
    const std::string& file_name() const { return scanner_.file_name(); }

private:
    struct FromFile {};
    FreeFormatReader(const std::string& path, const std::string& display_name, FromFile);

    // The rest of the line where the next value starts, blanks before it removed. Throws the
    // end-of-file error for `expected` ("an integer", ...).
    std::string_view seek_value(std::string_view setting, std::string_view expected);
    // read_int and read_double: `form` and `in_range` say what was expected when the item has the
    // wrong form or lies outside the type's range.
    template <class T>
    void read_number(std::string_view setting, T& value, std::string_view form, std::string_view in_range);

    ItemScanner scanner_;
};

}  // namespace advdiff::run
