// advdiff2d: numerical experiments with the steady 2D linear advection-diffusion equation.
// This file holds the command line only; the program itself is run::run_program.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/memory.hpp"
#include "platform/signals.hpp"
#include "run/program.hpp"
#include "run/command_line.hpp"

namespace {

constexpr const char* kUsage = "usage: advdiff2d [--window SECONDS] [--no-edit] [--help] [--version]";

void print_help() {
    std::printf(
        "%s\n"
        "\n"
        "Solves the steady 2D advection-diffusion model problem described by the input files of the\n"
        "working directory (dados1.ent, then MG2D_000.ent or SG2D_000.ent), repeats the whole\n"
        "simulation until the timing window has closed, and writes the report named in the\n"
        "parameter file. The reference solution exata<N> must be there; advdiff2d-reference makes it.\n"
        "\n"
        "  --window SECONDS  length of the timing window (default 10; at least one repetition runs,\n"
        "                    so 0 runs exactly one)\n"
        "  --no-edit         never open the input files or the report in $VISUAL / $EDITOR\n"
        "                    (they are opened only when both are set and the terminal is interactive)\n"
        "  --help            this text\n"
        "  --version         the program's version\n",
        kUsage);
}


int misuse(const std::string& message) { return advdiff::run::usage_error("advdiff2d", message, kUsage); }

}  // namespace

int main(int argc, char** argv) {
    advdiff::run::ProgramOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            print_help();
            return 0;
        }
        if (arg == "--version") {
            std::printf("advdiff2d %s\n", ADVDIFF_VERSION);
            return 0;
        }
        if (arg == "--no-edit") {
            options.edit = false;
        } else if (arg == "--window" || arg.rfind("--window=", 0) == 0) {
            std::string value;
            if (arg == "--window") {
                if (i + 1 >= argc) return misuse("--window needs a number of seconds");
                value = argv[++i];
            } else {
                value = arg.substr(9);
            }
            char* end = nullptr;
            errno = 0;
            const double seconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || errno != 0 || !std::isfinite(seconds) || seconds < 0)
                return misuse("--window needs a non-negative number of seconds, not \"" + value + "\"");
            options.window_seconds = seconds;
        } else {
            return misuse("unknown argument \"" + arg + "\"");
        }
    }

    advdiff::platform::install_interrupt_handlers();
    advdiff::platform::keep_freed_memory_for_reuse();
    return advdiff::run::run_reporting_errors("advdiff2d", [&] { advdiff::run::run_program(options); });
}
