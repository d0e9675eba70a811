#pragma once
// A small JSON writer for the run summary. Numbers are written in the shortest form that reads
// back to the same double; JSON has no token for NaN and the infinities, so they are written as
// the strings "NaN", "Infinity" and "-Infinity". Negative zero is written "-0.0" (a reader that
// takes "-0" for the integer 0 would lose its sign).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace advdiff::output {

// The JSON text of a double: shortest round-trip form, or one of the three strings above.
std::string json_number(double value);

// The JSON text of a UTF-8 string, quoted, with '"', '\\' and control characters escaped.
std::string json_string(std::string_view utf8);

// Builds one JSON document, indented by two blanks per level. Objects list one member per line;
// a container opened with `one_line` keeps its items on one line (for long lists of numbers).
class JsonWriter {
public:
    JsonWriter& begin_object(bool one_line = false);
    JsonWriter& end_object();
    JsonWriter& begin_array(bool one_line = false);
    JsonWriter& end_array();

    // The name of the next member of the current object.
    JsonWriter& key(std::string_view name);

    JsonWriter& number(double value);
    JsonWriter& integer(std::int64_t value);
    JsonWriter& boolean(bool value);
    JsonWriter& string(std::string_view utf8);
    JsonWriter& null();

    // The document, ended by a line feed.
    std::string take();

private:
    struct Level {
        bool one_line = false;
        bool empty = true;
    };
    void before_value();
    void close(char bracket);
    void new_line();

    std::string text_;
    std::vector<Level> levels_;
    bool after_key_ = false;
};

}  // namespace advdiff::output
