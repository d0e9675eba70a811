#pragma once
// What the programs' main() functions share: the argument loop, the error line and its exit
// status, and the checked end of standard output.

#include <cstdio>
#include <exception>
#include <initializer_list>
#include <optional>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "state/run_error.hpp"

namespace advdiff::run {

// One option a program accepts.
struct AcceptedOption {
    std::string_view name;        // "--window"
    std::string_view value_name;  // "SECONDS" for an option that takes a value; empty for a flag
    std::string_view alias = {};  // another spelling ("-h"), or empty
};

// One option as given, by its accepted name; `value` empty for a flag.
struct GivenOption {
    std::string_view name;
    std::string value;
};

// Command-line misuse: the message of the error line (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the arguments after the program's name (platform::program_arguments) against `accepted_options`, in order. An option that takes a value accepts it as the next
// argument ("--window 5") or after '=' ("--window=5"); a flag accepts no value. Throws UsageError
// for an unknown argument, a missing or empty value, or a value given to a flag.
std::vector<GivenOption> parse_command_line(std::span<const std::string> arguments,
                                            std::span<const AcceptedOption> accepted_options);

// `value` when it is one of `accepted`; otherwise UsageError listing the accepted values.
std::string_view choose_value(const GivenOption& option, std::initializer_list<std::string_view> accepted);

// A length of time in seconds in the number syntax of the input files (digits with an optional
// point and exponent; no hexadecimal, no inf or nan), finite and not negative. Throws UsageError.
double parse_seconds(const GivenOption& option);

// Flushes standard output; a write that was lost (a full disk, a closed pipe) is an error line on
// stderr and exit status 1. Returns the exit status `status` otherwise.
int finish_standard_output(const char* program, int status = 0);

// --help prints the help text (`print_help`), --version "<program> <version>"; either returns the
// exit status once standard output has taken it all. Empty for any other option.
template <typename PrintHelp>
std::optional<int> answer_help_or_version(const GivenOption& option, const char* program, PrintHelp&& print_help) {
    if (option.name == "--help") print_help();
    else if (option.name == "--version") std::printf("%s %s\n", program, ADVDIFF_VERSION);
    else return std::nullopt;
    return finish_standard_output(program);
}

// Writes "<program>: error: <message>" and a line end on standard error, the message made
// printable() whatever it holds (a file name with a newline or an escape sequence).
void print_error_line(const char* program, std::string_view message);

// Runs `body`; a failure becomes one line "<program>: error: <what>" on stderr (print_error_line)
// and exit status 1.
// Otherwise the exit status is what `body` returns, or 0.
template <typename Body>
int run_reporting_errors(const char* program, Body&& body) {
    try {
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            return 0;
        } else {
            return body();
        }
    } catch (const std::bad_alloc&) {
        print_error_line(program, "out of memory");
    } catch (const std::exception& e) {  // RunError and anything unforeseen
        print_error_line(program, e.what());
    } catch (...) {
        print_error_line(program, "unexpected failure");
    }
    return 1;
}

// Command-line misuse: one error line, the usage line, exit status 2.
int usage_error(const char* program, const std::string& message, const char* usage);

}  // namespace advdiff::run
