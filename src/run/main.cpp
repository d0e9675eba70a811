// advdiff2d: numerical experiments with the steady 2D linear advection-diffusion equation.
// This file holds the command line only; the program itself is run::run_program.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/console.hpp"
#include "platform/memory.hpp"
#include "platform/signals.hpp"
#include "run/command_line.hpp"
#include "run/input_description.hpp"
#include "run/input_files.hpp"
#include "run/program.hpp"
#include "run/reference_file.hpp"
#include "state/run_error.hpp"

namespace {

constexpr const char* kProgram = "advdiff2d";
constexpr const char* kUsage =
    "usage: advdiff2d [--window SECONDS] [--no-edit] [--summary FILE] [--fields FILE.vti] [--monitor]\n"
    "                 [--verdict] [--strict] [--profile] [--describe-inputs] [--memory-needed] [--help]\n"
    "                 [--version]";

constexpr advdiff::run::AcceptedOption kOptions[] = {
    {"--window", "SECONDS"}, {"--no-edit", ""}, {"--summary", "FILE"}, {"--fields", "FILE.vti"},
    {"--monitor", ""},       {"--verdict", ""}, {"--strict", ""},      {"--profile", ""},
    {"--describe-inputs", ""}, {"--memory-needed", ""}, {"--help", "", "-h"}, {"--version", ""},
};

// The settings whose codes --strict checks, in file order, from the input-file tables.
std::string settings_checked_by_strict() {
    namespace run = advdiff::run;
    std::string names;
    for (const run::InputFile* file : {&run::kModeFile, &run::kMultigridFile, &run::kSingleGridFile}) {
        for (const run::InputSetting& row : file->settings) {
            if (row.unlisted != run::UnlistedCode::selects_nothing && row.unlisted != run::UnlistedCode::rotating_flow)
                continue;
            if (names.find(std::string(row.name) + ",") != std::string::npos) continue;
            names += std::string(row.name) + ", ";
        }
    }
    return names.substr(0, names.size() - 2);
}

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
        "  --monitor         print on standard error, as it comes, the iteration-error norm after\n"
        "                    every iteration (single grid) or V-cycle (multigrid) of the first\n"
        "                    repetition and its ratio to the previous one. Monitoring costs time:\n"
        "                    the watched repetition takes longer, and the report's timing with it\n"
        "  --verdict         print one line at the end: converged or not, why (the summary's\n"
        "                    stop_reason), the iterations, the final norm against the tolerance\n"
        "  --strict          refuse before computing, with the accepted values, codes that select\n"
        "                    nothing: %s\n"
        "                    (Gauss elimination is no multigrid smoother). A run that does not\n"
        "                    converge still writes everything, then exits with status 3\n"
        "  --profile         print where the time of one simulation goes: by phase and, for\n"
        "                    multigrid, by level, with unknowns per second (with --summary also its\n"
        "                    \"profile\"); the timers cost under 1%% of the time from 65 x 65 nodes up\n"
        "  --describe-inputs print the description of the input files as JSON (every setting's file,\n"
        "                    position, name, type, accepted values and meaning; the test cases;\n"
        "                    the grid hierarchy) and exit\n"
        "  --memory-needed   print the bytes of memory the run would need at most (its arrays, the\n"
        "                    buffers of the outputs asked for, the norms of max_iterations iterations)\n"
        "                    as one decimal number, and exit: the input files are read and checked\n"
        "                    as for a run, with the other options given, but nothing is computed\n"
        "                    or written and the figure is not compared with the memory available\n"
        "  --help            this text\n"
        "  --version         the program's version\n"
        "\n"
        "Exit status: 0 done; 1 an error, named on standard error (nothing is written); 2 a misused\n"
        "command line; 3 a run that did not converge, under --strict.\n"
        "Manual pages: advdiff2d(1), advdiff2d-inputs(5) (the input files and the test cases),\n"
        "advdiff2d-reference(1), advdiff2d-sweep(1); in the source tree: man -l man/advdiff2d.1\n",
        kUsage, settings_checked_by_strict().c_str());
}

// A missing reference file is the one error a first run meets by design: the line says how to
// make the file.
bool is_missing_reference(const advdiff::RunError& e) {
    if (e.message().find("no such file") == std::string::npos) return false;
    for (int index = 1; index <= 11; ++index)
        if (e.file() == advdiff::run::reference_file_name(index)) return true;
    return false;
}

// Runs `body` and returns what it returns, adding to a missing reference file's error how to make
// the file.
template <typename Body>
auto saying_how_to_make_a_missing_reference(Body&& body) {
    try {
        return body();
    } catch (const advdiff::RunError& e) {
        if (!is_missing_reference(e)) throw;
        throw advdiff::RunError(e.file(), e.line(), e.setting(),
                                e.message() + " (advdiff2d-reference makes it from the input files)");
    }
}

}  // namespace

int main(int argc, char** argv) {
    namespace run = advdiff::run;
    advdiff::platform::survive_broken_pipes();
    run::ProgramOptions options;
    bool memory_needed = false;
    try {
        const std::vector<std::string> arguments = advdiff::platform::program_arguments(argc, argv);
        for (const run::GivenOption& option : run::parse_command_line(arguments, kOptions)) {
            if (const auto status = run::answer_help_or_version(option, kProgram, print_help)) return *status;
            if (option.name == "--no-edit") options.edit = false;
            if (option.name == "--window") options.window_seconds = run::parse_seconds(option);
            if (option.name == "--summary") options.outputs.summary_path = option.value;
            if (option.name == "--fields") options.outputs.fields_path = option.value;
            if (option.name == "--monitor") options.monitor = true;
            if (option.name == "--verdict") options.verdict = true;
            if (option.name == "--strict") options.strict = true;
            if (option.name == "--profile") options.profile = true;
            if (option.name == "--memory-needed") memory_needed = true;
            if (option.name == "--describe-inputs") {
                std::fputs(run::describe_inputs().c_str(), stdout);
                return run::finish_standard_output(kProgram);
            }
        }
    } catch (const run::UsageError& e) {
        return run::usage_error(kProgram, e.what(), kUsage);
    }

    advdiff::platform::install_interrupt_handlers();
    if (memory_needed) {
        const int status = run::run_reporting_errors(kProgram, [&] {
            saying_how_to_make_a_missing_reference([&] {
                std::printf("%llu\n", static_cast<unsigned long long>(run::memory_needed(options)));
            });
        });
        return status != 0 ? status : run::finish_standard_output(kProgram);
    }
    advdiff::platform::keep_freed_memory_for_reuse();
    const int status = run::run_reporting_errors(
        kProgram, [&] { return saying_how_to_make_a_missing_reference([&] { return run::run_program(options); }); });
    return run::finish_standard_output(kProgram, status);
}
