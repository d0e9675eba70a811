#include "run/command_line.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/console.hpp"
#include "run/item_scanner.hpp"

namespace advdiff::run {

namespace {

const AcceptedOption* find_accepted(std::string_view name, std::span<const AcceptedOption> accepted_options) {
    for (const AcceptedOption& known : accepted_options)
        if (known.name == name || (!known.alias.empty() && known.alias == name)) return &known;
    return nullptr;
}

}  // namespace

std::vector<GivenOption> parse_command_line(std::span<const std::string> arguments,
                                            std::span<const AcceptedOption> accepted_options) {
    std::vector<GivenOption> given;
    const std::size_t count = arguments.size();
    for (std::size_t i = 1; i < count; ++i) {
        const std::string_view arg = arguments[i];
        const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string_view::npos;
        const std::string_view name = arg.substr(0, equals);
        const AcceptedOption* known = find_accepted(name, accepted_options);
        if (known == nullptr) {
            if (arg.starts_with("-")) throw UsageError("unknown argument " + quoted(name, 60));
            throw UsageError("unknown argument " + quoted(arg, 60) + " (the settings come from the input files)");
        }
        GivenOption option{known->name, {}};
        if (known->value_name.empty()) {
            if (equals != std::string_view::npos)
                throw UsageError(std::string(known->name) + " takes no value, found " + quoted(arg.substr(equals + 1), 60));
        } else {
            if (equals != std::string_view::npos) {
                option.value = arg.substr(equals + 1);
            } else {
                if (i + 1 >= count)
                    throw UsageError(std::string(known->name) + " needs a value: " + std::string(known->name) + " " +
                                     std::string(known->value_name));
                option.value = arguments[++i];
            }
            if (option.value.empty())
                throw UsageError(std::string(known->name) + " needs a value: " + std::string(known->name) + " " +
                                 std::string(known->value_name) + ", found an empty one");
        }
        given.push_back(std::move(option));
    }
    return given;
}

std::string_view choose_value(const GivenOption& option, std::initializer_list<std::string_view> accepted) {
    std::string list;
    for (const std::string_view a : accepted) {
        if (a == option.value) return a;
        if (!list.empty()) list += ", ";
        list += a;
    }
    throw UsageError(std::string(option.name) + ": unknown value " + quoted(option.value, 60) + "; accepted: " + list);
}

double parse_seconds(const GivenOption& option) {
    double seconds = 0.0;
    const auto status = parse_real_item(option.value, seconds);
    if (status != NumberStatus::ok || !std::isfinite(seconds) || seconds < 0)
        throw UsageError(std::string(option.name) + " needs a non-negative number of seconds (digits, an optional "
                         "point and exponent), found " + quoted(option.value, 60));
    return seconds;
}

int finish_standard_output(const char* program, int status) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = errno;
        print_error_line(program, std::string("standard output: ") + (error != 0 ? std::strerror(error) : "write failed"));
        return 1;
    }
    return status;
}

void print_error_line(const char* program, std::string_view message) {
    std::string line = program;
    line += ": error: ";
    line += printable(message);
    line += '\n';
    platform::write_to_standard_error(line);
}

int usage_error(const char* program, const std::string& message, const char* usage) {
    print_error_line(program, message);
    platform::write_to_standard_error(std::string(usage) + "\n");
    return 2;
}

}  // namespace advdiff::run
