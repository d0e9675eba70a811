#include "output/json.hpp"

#include <cstdio>

#include <charconv>
#include <cmath>

namespace advdiff::output {

std::string json_number(double value) {
    if (std::isnan(value)) return "\"NaN\"";
    if (std::isinf(value)) return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    if (value == 0.0 && std::signbit(value)) return "-0.0";
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string json_string(std::string_view utf8) {
    std::string text = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"': text += "\\\""; break;
            case '\\': text += "\\\\"; break;
            case '\b': text += "\\b"; break;
            case '\f': text += "\\f"; break;
            case '\n': text += "\\n"; break;
            case '\r': text += "\\r"; break;
            case '\t': text += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char code[8];
                    std::snprintf(code, sizeof code, "\\u%04x", c);
                    text += code;
                } else {
                    text += ch;
                }
        }
    }
    text += '"';
    return text;
}

void JsonWriter::new_line() {
    text_ += '\n';
    text_.append(2 * levels_.size(), ' ');
}

void JsonWriter::before_value() {
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

}  // namespace advdiff::output
