#include "run/free_format.hpp"

#include <type_traits>
#include <utility>

#include "state/run_error.hpp"

namespace advdiff::run {

FreeFormatReader FreeFormatReader::open(const std::string& path, const std::string& display_name) {
    return FreeFormatReader(path, display_name, FromFile{});
}

FreeFormatReader::FreeFormatReader(const std::string& path, const std::string& display_name, FromFile)
    : scanner_(ItemScanner::open(path, display_name, ItemScanner::ControlBytes::refused)) {}

FreeFormatReader::FreeFormatReader(std::string display_name, std::string contents)
    : scanner_(std::move(display_name), std::move(contents), ItemScanner::ControlBytes::refused) {}

std::string_view FreeFormatReader::seek_value(std::string_view setting, std::string_view expected) {
    std::string_view rest;
    if (!scanner_.next_value(setting, rest))
        scanner_.fail(setting, "expected " + std::string(expected) + ", found end of file");
    return rest;
}

void FreeFormatReader::skip_line(std::string_view what) {
    if (!scanner_.skip_line(what)) scanner_.fail(what, "expected a line, found end of file");
}

template <class T>
void FreeFormatReader::read_number(std::string_view setting, T& value, std::string_view form,
                                   std::string_view in_range) {
    const std::string_view rest = seek_value(setting, form);
    if (is_null_value(rest)) return;
    NumberStatus status;
    if constexpr (std::is_same_v<T, int>) status = scanner_.int_at(setting, rest, value);
    else status = scanner_.real_at(setting, rest, value);
    switch (status) {
    case NumberStatus::ok:
        return;
    case NumberStatus::bad_form:
        scanner_.fail(setting, "expected " + std::string(form) + ", found " + quoted_item(first_item(rest)));
    case NumberStatus::out_of_range:
        scanner_.fail(setting, "expected " + std::string(in_range) + ", found " + quoted_item(first_item(rest)));
    }
}

void FreeFormatReader::read_int(std::string_view setting, int& value) {
    read_number(setting, value, "an integer", "an integer from -2147483648 to 2147483647");
}

void FreeFormatReader::read_double(std::string_view setting, double& value) {
    read_number(setting, value, "a real number", "a real number within the double range");
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
            scanner_.require_kept(setting, rest);
            scanner_.fail(setting, std::string("expected a text closed by ") + delimiter +
                                       " on the same line, found " + quoted_item(rest) + " (unclosed delimiter)");
        }
        if (i < rest.size() && !ends_item(rest[i])) {
            const std::string_view item = rest.substr(0, i + first_item(rest.substr(i)).size());
            scanner_.fail(setting, "expected a text, found " + quoted_item(item));
        }
    } else {
        const std::string_view item = first_item(rest);
        scanner_.require_kept(setting, item);
        text = item;
    }
    text.resize(width, ' ');
    value = std::move(text);
}

}  // namespace advdiff::run
