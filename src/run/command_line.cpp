#include "run/command_line.hpp"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>

#include "run/item_scanner.hpp"

namespace advdiff::run {

namespace {

const AcceptedOption* find_accepted(std::string_view name, std::span<const AcceptedOption> accepted_options) {
    for (const AcceptedOption& known : accepted_options)
        if (known.name == name || (!known.alias.empty() && known.alias == name)) return &known;
    return nullptr;
}

extern "C" void ignore_signal(int) {}

}  // namespace

std::vector<GivenOption> parse_command_line(int argc, const char* const* argv, std::span<const AcceptedOption> accepted_options) {
    std::vector<GivenOption> given;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
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
                if (i + 1 >= argc)
                    throw UsageError(std::string(known->name) + " needs a value: " + std::string(known->name) + " " +
                                     std::string(known->value_name));
                option.value = argv[++i];
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

void survive_broken_pipes() {
    struct sigaction previous {};
    if (sigaction(SIGPIPE, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = ignore_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGPIPE, &action, nullptr);
}

int finish_standard_output(const char* program, int status) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        const int error = errno;
        std::fprintf(stderr, "%s: error: standard output: %s\n", program,
                     error != 0 ? std::strerror(error) : "write failed");
        return 1;
    }
    return status;
}

}  // namespace advdiff::run
