#pragma once
// A small JSON writer for the run summary. Numbers are written in the shortest form that reads
// back to the same double; JSON has no token for NaN and the infinities, so they are written as
// the strings "NaN", "Infinity" and "-Infinity". Negative zero is written "-0.0" (a reader that
// takes "-0" for the integer 0 would lose its sign).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace advdiff::output {

// The JSON text of a double: shortest round-trip form, or one of the three strings above.
std::string json_number(double value);

// The JSON text of a UTF-8 string, quoted, with '"', '\\' and control characters escaped. A byte
// that is not part of well-formed UTF-8 (state/utf8.hpp) stands for its ISO 8859-1 character, so
// that the result is JSON whatever `text` holds.
std::string json_string(std::string_view text);

// Builds one JSON document, indented by two blanks per level. Objects list one member per line;
// a container opened with `one_line` keeps its items on one line (for long lists of numbers).
// Either the writer collects the whole document for take(), or it hands the text to a sink in
// pieces of about kPieceBytes as it goes (finish() sends the last one), so that a document of any
// length takes no more memory than one piece.
class JsonWriter {
public:
    using Sink = std::function<void(std::string_view)>;
    static constexpr std::size_t kPieceBytes = 64 * 1024;
    // Most bytes a writer with a sink holds at a time.
    static constexpr std::size_t kStreamingBytes = 4 * kPieceBytes;

    JsonWriter() = default;
    explicit JsonWriter(Sink sink) : sink_(std::move(sink)) {}

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

    // The collected document, ended by a line feed.
    std::string take();
    // Ends the document by a line feed and hands the rest of it to the sink.
    void finish();

private:
    struct Level {
        bool one_line = false;
        bool empty = true;
    };
    void before_value();
    void close(char bracket);
    void new_line();
    void hand_over_full_piece();

    Sink sink_;
    std::string text_;
    std::vector<Level> levels_;
    bool after_key_ = false;
};

}  // namespace advdiff::output
