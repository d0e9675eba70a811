// advdiff2d: numerical experiments with the steady 2D linear advection-diffusion equation.
// This file holds the command line only; the program itself is run::run_program.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/console.hpp"
#include "platform/memory.hpp"
#include "platform/signals.hpp"
#include "run/command_line.hpp"
#include "run/program.hpp"
#include "run/reference_file.hpp"
#include "state/run_error.hpp"

namespace {

constexpr const char* kProgram = "advdiff2d";
constexpr const char* kUsage =
    "usage: advdiff2d [--window SECONDS] [--no-edit] [--summary FILE] [--fields FILE.vti] [--help] [--version]";

constexpr advdiff::run::AcceptedOption kOptions[] = {
    {"--window", "SECONDS"}, {"--no-edit", ""},  {"--summary", "FILE"},
    {"--fields", "FILE.vti"}, {"--help", "", "-h"}, {"--version", ""},
};

void print_help() {
    std::printf(
        "%s\n"
        "\n"
        "Solves the steady 2D advection-diffusion model problem described by the input files of the\n"
        "working directory (dados1.ent, then MG2D_000.ent or SG2D_000.ent), repeats the whole\n"
        "simulation until the timing window has closed, and writes the report named in the\n"
        "parameter file. The reference solution exata<N> must be there; advdiff2d-reference makes it.\n"
        "An option's value follows it as the next argument or after '=' (--window=0).\n"
        "\n"
        "  --window SECONDS  length of the timing window (default 10; at least one repetition runs,\n"
        "                    so 0 runs exactly one); written like a number of the input files\n"
        "  --no-edit         never open the input files or the report in an editor. Without it they\n"
        "                    are opened in $VISUAL, else $EDITOR, else (on Windows) notepad, when\n"
        "                    standard input and standard output are a terminal (a console)\n"
        "  --summary FILE    also write a JSON summary of the run (settings, grid, timing,\n"
        "                    convergence, accuracy, norm history) to FILE\n"
        "  --fields FILE.vti also write TNum, T_Analitica, error and reference_solution on the finest\n"
        "                    grid to FILE.vti (VTK XML ImageData)\n"
        "  --help            this text\n"
        "  --version         the program's version\n",
        kUsage);
}

// A missing reference file is the one error a first run meets by design: the line says how to
// make the file.
bool is_missing_reference(const advdiff::RunError& e) {
    if (e.message().find("no such file") == std::string::npos) return false;
    for (int index = 1; index <= 11; ++index)
        if (e.file() == advdiff::run::reference_file_name(index)) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    namespace run = advdiff::run;
    advdiff::platform::survive_broken_pipes();
    run::ProgramOptions options;
    try {
        const std::vector<std::string> arguments = advdiff::platform::program_arguments(argc, argv);
        for (const run::GivenOption& option : run::parse_command_line(arguments, kOptions)) {
            if (const auto status = run::answer_help_or_version(option, kProgram, print_help)) return *status;
            if (option.name == "--no-edit") options.edit = false;
            if (option.name == "--window") options.window_seconds = run::parse_seconds(option);
            if (option.name == "--summary") options.outputs.summary_path = option.value;
            if (option.name == "--fields") options.outputs.fields_path = option.value;
        }
    } catch (const run::UsageError& e) {
        return run::usage_error(kProgram, e.what(), kUsage);
    }

    advdiff::platform::install_interrupt_handlers();
    advdiff::platform::keep_freed_memory_for_reuse();
    return run::run_reporting_errors(kProgram, [&] {
        try {
            run::run_program(options);
        } catch (const advdiff::RunError& e) {
            if (!is_missing_reference(e)) throw;
            throw advdiff::RunError(e.file(), e.line(), e.setting(),
                                    e.message() + " (advdiff2d-reference makes it from the input files)");
        }
    });
}
