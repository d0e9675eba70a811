// Fuzz target: the free-format reader of the input files over arbitrary bytes.
//
// The same bytes are read four times, each time by a fresh reader and with a different sequence of
// value kinds: as dados1.ent is read, as MG2D_000.ent and as SG2D_000.ent are read (so that real
// input files make good seeds), and with a mix that also takes short text fields. Each sequence is
// repeated until the reader stops with an error, which it must do at the end of the text at the
// latest. Besides not crashing, the reader must keep these promises:
//   - every error is a RunError naming the file, a line of it (1 .. lines + 1, the line after the
//     last for the end of the file) and, for a read, the setting; its message is one line (no LF
//     or CR in it) and starts with FILE:LINE;
//   - a text is always exactly as wide as asked; a real is always finite;
//   - a read consumes at least one line, so a text of L lines is used up after L reads.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/free_format.hpp"
#include "state/run_error.hpp"

namespace {

using advdiff::RunError;
using advdiff::run::FreeFormatReader;

enum class Op { skip, integer, real, text35, text3 };

constexpr const char* kFile = "f.ent";
constexpr const char* kSetting = "setting";

[[noreturn]] void broken(const char* promise, const std::string& detail) {
    std::fprintf(stderr, "broken promise: %s: %s\n", promise, detail.c_str());
    std::abort();
}

void check_error(const RunError& e, long lines, bool from_read) {
    const std::string what = e.what();
    if (e.file() != kFile) broken("the error names the file", what);
    if (e.line() < 1 || e.line() > lines + 1) broken("the error names a line of the file", what);
    if (from_read && e.setting() != kSetting) broken("the error names the setting", what);
    if (what.find_first_of("\r\n") != std::string::npos) broken("the message is one line", what);
    if (what.rfind(std::string(kFile) + ":" + std::to_string(e.line()) + ": ", 0) != 0)
        broken("the message starts with FILE:LINE", what);
}

void read_with(const std::string& contents, const std::vector<Op>& schedule, long lines) {
    std::optional<FreeFormatReader> reader;
    try {
        reader.emplace(kFile, contents);
    } catch (const RunError& e) {
        check_error(e, lines, false);
        return;
    }
    FreeFormatReader& r = *reader;
    int integer = 0;
    double real = 0.0;
    // One variable per width: a null value leaves a variable as it was.
    std::string text35(35, ' ');
    std::string text3(3, ' ');
    const long most_reads = lines;
    for (long reads = 0;; ++reads) {
        const Op op = schedule[static_cast<std::size_t>(reads) % schedule.size()];
        if (reads > most_reads) broken("the reads reach the end of the text", std::to_string(reads) + " reads");
        try {
            switch (op) {
            case Op::skip:
                r.skip_line(kSetting);
                break;
            case Op::integer:
                r.read_int(kSetting, integer);
                break;
            case Op::real:
                r.read_double(kSetting, real);
                if (!std::isfinite(real)) broken("a real is finite", std::to_string(real));
                break;
            case Op::text35:
                r.read_text(kSetting, text35, 35);
                if (text35.size() != 35) broken("a text has the width asked for", text35);
                break;
            case Op::text3:
                r.read_text(kSetting, text3, 3);
                if (text3.size() != 3) broken("a text has the width asked for", text3);
                break;
            }
        } catch (const RunError& e) {
            check_error(e, lines, true);
            return;
        }
        if (r.line() < 1 || r.line() > lines) broken("line() is a line of the file", std::to_string(r.line()));
    }
}

const std::vector<Op> kModeFile = {Op::skip, Op::integer};

std::vector<Op> parameter_file(std::string_view kinds) {
    std::vector<Op> ops;
    for (const char k : kinds) ops.push_back(k == 'I' ? Op::integer : k == 'R' ? Op::real : Op::text35);
    return ops;
}

const std::vector<Op> kMultigridFile = parameter_file("ITIIIIIIIRRRIIRRIIIII");
const std::vector<Op> kSingleGridFile = parameter_file("ITIIIIIIRIRRIIIII");
const std::vector<Op> kMix = {Op::real, Op::text3, Op::integer, Op::skip, Op::text35, Op::real, Op::integer};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string contents(reinterpret_cast<const char*>(data), size);
    long lines = 0;
    for (const char c : contents) lines += c == '\n';
    if (!contents.empty() && contents.back() != '\n') ++lines;  // a last line without its LF
    read_with(contents, kModeFile, lines);
    read_with(contents, kMultigridFile, lines);
    read_with(contents, kSingleGridFile, lines);
    read_with(contents, kMix, lines);
    return 0;
}
