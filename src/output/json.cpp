#include "output/json.hpp"

#include <cstdio>

#include <charconv>
#include <cmath>

#include "state/utf8.hpp"

namespace advdiff::output {

std::string json_number(double value) {
    if (std::isnan(value)) return "\"NaN\"";
    if (std::isinf(value)) return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    if (value == 0.0 && std::signbit(value)) return "-0.0";
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string json_string(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const char ch = text[0];
        const auto c = static_cast<unsigned char>(ch);
        const std::size_t length = utf8_sequence_length(text);
        if (length > 1) {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
            continue;
        }
        text.remove_prefix(1);
        if (length == 0) {
            // Not UTF-8: the byte's ISO 8859-1 reading, U+0080..U+00FF, so that the document stays
            // JSON whatever it was given.
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            continue;
        }
        switch (ch) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char code[8];
                    std::snprintf(code, sizeof code, "\\u%04x", c);
                    out += code;
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
    return out;
}

void JsonWriter::new_line() {
    text_ += '\n';
    text_.append(2 * levels_.size(), ' ');
}

void JsonWriter::hand_over_full_piece() {
    if (!sink_ || text_.size() < kPieceBytes) return;
    sink_(text_);
    text_.clear();
}

void JsonWriter::before_value() {
    hand_over_full_piece();
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (levels_.empty()) return;
    Level& level = levels_.back();
    if (!level.empty) text_ += level.one_line ? ", " : ",";
    if (!level.one_line) new_line();
    level.empty = false;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    before_value();
    text_ += json_string(name);
    text_ += ": ";
    after_key_ = true;
    return *this;
}

JsonWriter& JsonWriter::begin_object(bool one_line) {
    before_value();
    text_ += '{';
    levels_.push_back({one_line, true});
    return *this;
}

JsonWriter& JsonWriter::begin_array(bool one_line) {
    before_value();
    text_ += '[';
    levels_.push_back({one_line, true});
    return *this;
}

void JsonWriter::close(char bracket) {
    const Level level = levels_.back();
    levels_.pop_back();
    if (!level.empty && !level.one_line) new_line();
    text_ += bracket;
}

JsonWriter& JsonWriter::end_object() {
    close('}');
    return *this;
}

JsonWriter& JsonWriter::end_array() {
    close(']');
    return *this;
}

JsonWriter& JsonWriter::number(double value) {
    before_value();
    text_ += json_number(value);
    return *this;
}

JsonWriter& JsonWriter::integer(std::int64_t value) {
    before_value();
    text_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
    before_value();
    text_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::string(std::string_view utf8) {
    before_value();
    text_ += json_string(utf8);
    return *this;
}

JsonWriter& JsonWriter::null() {
    before_value();
    text_ += "null";
    return *this;
}

std::string JsonWriter::take() {
    text_ += '\n';
    return std::move(text_);
}

void JsonWriter::finish() {
    text_ += '\n';
    if (sink_) sink_(text_);
    text_.clear();
}

}  // namespace advdiff::output
