#include "run/free_format.hpp"

#include <cstdio>
#include <utility>

#include "platform/text_file.hpp"
#include "run/free_format_chars.hpp"
#include "run/number_syntax.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {

namespace {

// Bytes a text file may hold below 0x20 (and DEL): tab, LF, form feed, CR.
bool is_text_byte(unsigned char c) {
    if (c == '\t' || c == '\n' || c == '\f' || c == '\r') return true;
    return c >= 0x20 && c != 0x7F;
}

std::string_view first_item(std::string_view rest) {
    std::size_t n = 0;
    while (n < rest.size() && !ends_item(rest[n])) ++n;
    return rest.substr(0, n);
}

bool is_null_value(std::string_view rest) { return rest.front() == ',' || rest.front() == '/'; }

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

FreeFormatReader FreeFormatReader::open(const std::string& path, const std::string& display_name) {
    return FreeFormatReader(display_name, platform::read_file(path, display_name));
}

FreeFormatReader::FreeFormatReader(std::string display_name, std::string contents)
    : display_name_(std::move(display_name)), contents_(std::move(contents)) {
    long line = 1;
    for (const char ch : contents_) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            ++line;
        } else if (!is_text_byte(c)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(c));
            throw RunError(display_name_, line, "",
                           std::string("not a text file: it holds the control byte ") + hex);
        }
    }
    if (std::string_view(contents_).starts_with(kUtf8Bom)) pos_ = kUtf8Bom.size();
}

void FreeFormatReader::fail(std::string_view setting, const std::string& message) const {
    throw RunError(display_name_, line_, std::string(setting), message);
}

std::string_view FreeFormatReader::next_line() {
    const std::string_view all(contents_);
    std::size_t eol = all.find('\n', pos_);
    if (eol == std::string_view::npos) eol = all.size();
    std::string_view line = all.substr(pos_, eol - pos_);
    if (line.ends_with('\r')) line.remove_suffix(1);
    pos_ = eol < all.size() ? eol + 1 : eol;
    ++lines_read_;
    return line;
}

std::string_view FreeFormatReader::seek_value(std::string_view setting, std::string_view expected) {
    for (;;) {
        if (pos_ >= contents_.size()) {
            // End of file: the line after the last one (1 for an empty file).
            line_ = lines_read_ + 1;
            fail(setting, "expected " + std::string(expected) + ", found end of file");
        }
        std::string_view line = next_line();
        std::size_t start = 0;
        while (start < line.size() && is_blank(line[start])) ++start;
        if (start == line.size()) continue;  // blank lines are passed over
        line_ = lines_read_;
        return line.substr(start);
    }
}

void FreeFormatReader::skip_line(std::string_view what) {
    if (pos_ >= contents_.size()) {
        line_ = lines_read_ + 1;
        fail(what, "expected a line, found end of file");
    }
    next_line();
    line_ = lines_read_;
}

void FreeFormatReader::read_int(std::string_view setting, int& value) {
    const std::string_view rest = seek_value(setting, "an integer");
    if (is_null_value(rest)) return;
    const std::string_view item = first_item(rest);
    switch (detail::parse_int_item(item, value)) {
    case detail::NumberStatus::ok:
        return;
    case detail::NumberStatus::bad_form:
        fail(setting, "expected an integer, found " + quoted(item));
    case detail::NumberStatus::out_of_range:
        fail(setting, "expected an integer from -2147483648 to 2147483647, found " + quoted(item));
    }
}

void FreeFormatReader::read_double(std::string_view setting, double& value) {
    const std::string_view rest = seek_value(setting, "a real number");
    if (is_null_value(rest)) return;
    const std::string_view item = first_item(rest);
    switch (detail::parse_real_item(item, value)) {
    case detail::NumberStatus::ok:
        return;
    case detail::NumberStatus::bad_form:
        fail(setting, "expected a real number, found " + quoted(item));
    case detail::NumberStatus::out_of_range:
        fail(setting, "expected a real number within the double range, found " + quoted(item));
    }
}

void FreeFormatReader::read_text(std::string_view setting, std::string& value, std::size_t width) {
    const std::string_view rest = seek_value(setting, "a text");
    if (is_null_value(rest)) return;

    std::string text;
    const char delimiter = rest.front();
    if (delimiter == '\'' || delimiter == '"') {
        std::size_t i = 1;
        bool closed = false;
        while (i < rest.size()) {
            if (rest[i] == delimiter) {
                if (i + 1 < rest.size() && rest[i + 1] == delimiter) {  // doubled: one delimiter
                    text += delimiter;
                    i += 2;
                    continue;
                }
                closed = true;
                ++i;
                break;
            }
            text += rest[i++];
        }
        if (!closed)
            fail(setting, std::string("expected a text closed by ") + delimiter +
                              " on the same line, found " + quoted(rest) + " (unclosed delimiter)");
        if (i < rest.size() && !ends_item(rest[i]))
            fail(setting, "expected a text, found " + quoted(rest.substr(0, i + first_item(rest.substr(i)).size())));
    } else {
        text = first_item(rest);
    }
    text.resize(width, ' ');
    value = std::move(text);
}

long FreeFormatReader::line() const { return line_; }

const std::string& FreeFormatReader::file_name() const { return display_name_; }

}  // namespace advdiff::run
