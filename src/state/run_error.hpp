#pragma once
// The one error type of the program: every failure that stops a run carries the file it concerns,
// the line in that file (0 when no line applies), the setting (empty when none applies) and a
// plain message. main() prints it as
//     advdiff2d: error: FILE:LINE: setting: message
// and exits with status 1.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "state/utf8.hpp"

namespace advdiff {

class RunError : public std::runtime_error {
public:
    RunError(std::string file, long line, std::string setting, std::string message)
        : std::runtime_error(compose(file, line, setting, message)),
          file_(std::move(file)), line_(line), setting_(std::move(setting)), message_(std::move(message)) {}

    // Convenience for failures that concern no particular file (memory, signals).
    explicit RunError(std::string message) : RunError("", 0, "", std::move(message)) {}

    const std::string& file() const { return file_; }
    long line() const { return line_; }
    const std::string& setting() const { return setting_; }
    const std::string& message() const { return message_; }

private:
    static std::string compose(const std::string& file, long line, const std::string& setting,
                               const std::string& message) {
        // Appended piece by piece: GCC 12 at -O3 takes `text += a + b` here for an overlapping
        // copy (-Wrestrict), which breaks builds with warnings as errors.
        std::string text;
        if (!file.empty()) {
            text += file;
            if (line > 0) {
                text += ':';
                text += std::to_string(line);
            }
            text += ": ";
        }
        if (!setting.empty()) {
            text += setting;
            text += ": ";
        }
        text += message;
        return text;
    }

    std::string file_;
    long line_;
    std::string setting_;
    std::string message_;
};

// Thrown when the norm history of a run would outgrow the room the run may give it
// (RunStatistics::norm_history_limit). The main sequence turns it into a RunError naming
// max_iterations; nothing else catches it.
class NormHistoryFull : public std::runtime_error {
public:
    explicit NormHistoryFull(long long iteration)
        : std::runtime_error("the norm history outgrew the memory set aside for it"), iteration_(iteration) {}
    // The iteration whose norm no longer fitted.
    long long iteration() const { return iteration_; }

private:
    long long iteration_;
};

// A text as the console shows it in an error message: control characters (C0, DEL and the C1
// range U+0080..U+009F, which terminals take for commands) and bytes that are not well-formed
// UTF-8 (an ISO 8859-1 name, say) are written as \xNN, byte by byte, so that a message stays one
// line and sends nothing to the terminal but text.
inline std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = utf8_sequence_length(text);
        const std::size_t bytes = length == 0 ? 1 : length;
        const std::uint32_t code = length == 0 ? 0 : utf8_code_point(text, length);
        if (length == 0 || code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            for (std::size_t k = 0; k < bytes; ++k) {
                const auto c = static_cast<unsigned char>(text[k]);
                result += "\\x";
                result += kHex[c >> 4];
                result += kHex[c & 0xF];
            }
        } else {
            result.append(text.substr(0, bytes));
        }
        text.remove_prefix(bytes);
    }
    return result;
}

// A text as an error message quotes it: in quotation marks, cut after `shown` bytes (with "..."),
// printable() inside.
inline std::string quoted(std::string_view text, std::size_t shown = std::string_view::npos) {
    std::string result = "\"";  // appended piece by piece: see RunError::compose
    result += printable(text.substr(0, shown));
    if (text.size() > shown) result += "...";
    result += '"';
    return result;
}

}  // namespace advdiff
