#pragma once
// The one error type of the program: every failure that stops a run carries the file it concerns,
// the line in that file (0 when no line applies), the setting (empty when none applies) and a
// plain message. main() prints it as
//     advdiff2d: error: FILE:LINE: setting: message
// and exits with status 1.

#include <stdexcept>
#include <string>
#include <string_view>

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

// A text as an error message shows it: in quotation marks, cut after `shown` characters (with
// "..."), control bytes (a tab, a CR) as \xNN, so that the message stays one line on the console.
inline std::string quoted(std::string_view text, std::size_t shown = std::string_view::npos) {
    std::string result = "\"";
    for (const char ch : text.substr(0, shown)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            result += "\\x";
            result += kHex[c >> 4];
            result += kHex[c & 0xF];
        } else {
            result += ch;
        }
    }
    if (text.size() > shown) result += "...";
    result += '"';
    return result;
}

}  // namespace advdiff
