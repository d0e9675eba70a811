#include "run/free_format.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
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

// Bytes read from a file at a time.
constexpr std::size_t kPieceBytes = 64 * 1024;

// What is kept of a line: a value is never longer, and a line may hold any amount of comment.
constexpr std::size_t kKeptLineBytes = 1024 * 1024;

}  // namespace

FreeFormatReader FreeFormatReader::open(const std::string& path, const std::string& display_name) {
    return FreeFormatReader(display_name, std::make_unique<platform::FileReader>(path, display_name, kPieceBytes));
}

FreeFormatReader::FreeFormatReader(std::string display_name, std::unique_ptr<platform::FileReader> file)
    : display_name_(std::move(display_name)), file_(std::move(file)), pos_(file_->end()), end_(file_->end()) {
    refill();
    skip_byte_order_mark();
}

FreeFormatReader::FreeFormatReader(std::string display_name, std::string contents)
    : display_name_(std::move(display_name)), contents_(std::move(contents)),
      pos_(contents_.data()), end_(contents_.data() + contents_.size()) {
    skip_byte_order_mark();
}

void FreeFormatReader::skip_byte_order_mark() {
    if (std::string_view(pos_, static_cast<std::size_t>(end_ - pos_)).starts_with(kUtf8Bom)) pos_ += kUtf8Bom.size();
}

void FreeFormatReader::fail(std::string_view setting, const std::string& message) const {
    throw RunError(display_name_, line_, std::string(setting), message);
}

bool FreeFormatReader::refill() {
    if (!file_) return false;
    pos_ = file_->refill(end_, kPieceBytes);
    end_ = file_->end();
    return pos_ != end_;
}

bool FreeFormatReader::at_end() { return pos_ == end_ && !refill(); }

std::string_view FreeFormatReader::next_line(std::string_view setting) {
    line_text_.clear();
    line_cut_ = false;
    cut_part_has_item_ = false;
    const long number = lines_read_ + 1;
    while (pos_ < end_ || refill()) {
        const char* const begin = pos_;
        const auto available = static_cast<std::size_t>(end_ - pos_);
        const void* const newline = std::memchr(begin, '\n', available);
        const std::size_t length =
            newline == nullptr ? available : static_cast<std::size_t>(static_cast<const char*>(newline) - begin);
        for (std::size_t k = 0; k < length; ++k) {
            const auto c = static_cast<unsigned char>(begin[k]);
            if (!is_text_byte(c)) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(c));
                throw RunError(display_name_, number, std::string(setting),
                               std::string("not a text file: it holds the control byte ") + hex);
            }
        }
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

void FreeFormatReader::require_kept(std::string_view setting, std::string_view part) const {
    if (line_cut_ && part.data() + part.size() == line_text_.data() + line_text_.size())
        fail(setting, "the value on this line is longer than " + std::to_string(kKeptLineBytes) +
                          " characters, which is more than a value can be");
}

std::string_view FreeFormatReader::seek_value(std::string_view setting, std::string_view expected) {
    for (;;) {
        if (at_end()) {
            // End of file: the line after the last one (1 for an empty file).
            line_ = lines_read_ + 1;
            fail(setting, "expected " + std::string(expected) + ", found end of file");
        }
        std::string_view line = next_line(setting);
        std::size_t start = 0;
        while (start < line.size() && is_blank(line[start])) ++start;
        if (start == line.size() && !cut_part_has_item_) continue;  // blank lines are passed over
        line_ = lines_read_;
        // Blanks up to the end of what is kept of a long line: its value starts beyond.
        if (start == line.size()) require_kept(setting, line.substr(start));
        return line.substr(start);
    }
}

void FreeFormatReader::skip_line(std::string_view what) {
    if (at_end()) {
        line_ = lines_read_ + 1;
        fail(what, "expected a line, found end of file");
    }
    next_line(what);
    line_ = lines_read_;
}

template <class T>
void FreeFormatReader::read_number(std::string_view setting, T& value, std::string_view form,
                                   std::string_view in_range, detail::NumberStatus (*parse)(std::string_view, T&)) {
    const std::string_view rest = seek_value(setting, form);
    if (is_null_value(rest)) return;
    const std::string_view item = first_item(rest);
    require_kept(setting, item);
    switch (parse(item, value)) {
    case detail::NumberStatus::ok:
        return;
    case detail::NumberStatus::bad_form:
        fail(setting, "expected " + std::string(form) + ", found " + quoted(item));
    case detail::NumberStatus::out_of_range:
        fail(setting, "expected " + std::string(in_range) + ", found " + quoted(item));
    }
}

void FreeFormatReader::read_int(std::string_view setting, int& value) {
    read_number(setting, value, "an integer", "an integer from -2147483648 to 2147483647", detail::parse_int_item);
}

void FreeFormatReader::read_double(std::string_view setting, double& value) {
    read_number(setting, value, "a real number", "a real number within the double range", detail::parse_real_item);
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
        if (!closed) {
            require_kept(setting, rest);
            fail(setting, std::string("expected a text closed by ") + delimiter +
                              " on the same line, found " + quoted(rest) + " (unclosed delimiter)");
        }
        if (i < rest.size() && !ends_item(rest[i]))
            fail(setting, "expected a text, found " + quoted(rest.substr(0, i + first_item(rest.substr(i)).size())));
    } else {
        const std::string_view item = first_item(rest);
        require_kept(setting, item);
        text = item;
    }
    text.resize(width, ' ');
    value = std::move(text);
}

long FreeFormatReader::line() const { return line_; }

const std::string& FreeFormatReader::file_name() const { return display_name_; }

}  // namespace advdiff::run
