// advdiff2d-reference: writes the reference solution exata<N> that an advdiff2d run needs.
// This file holds the command line only; the work is reference::make_reference_file.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/console.hpp"
#include "platform/signals.hpp"
#include "reference_tool.hpp"
#include "run/command_line.hpp"

namespace {

constexpr const char* kProgram = "advdiff2d-reference";
constexpr const char* kUsage = "usage: advdiff2d-reference [--method band|iterative] [--help] [--version]";

constexpr advdiff::run::AcceptedOption kOptions[] = {
    {"--method", "band|iterative"}, {"--help", "", "-h"}, {"--version", ""},
};

void print_help() {
    std::printf(
        "%s\n"
        "\n"
        "Reads the input files of the working directory as advdiff2d does (dados1.ent, then\n"
        "MG2D_000.ent or SG2D_000.ent), solves the five-point system of the finest grid exactly\n"
        "(to round-off) and writes it to the reference file exata<reference_file_index>, which the\n"
        "run compares its iterates with. Prints one line: the file, the grid, the method and the\n"
        "largest residual of the equations. An option's value follows it as the next argument or\n"
        "after '=' (--method=band).\n"
        "\n"
        "  --method band       banded LU with iterative refinement (fails if the band does not fit\n"
        "                      in memory)\n"
        "  --method iterative  multigrid V-cycles (over-relaxation on grids that cannot be coarsened)\n"
        "                      By default grids up to about 257 x 257 nodes get the banded LU and\n"
        "                      larger ones multigrid (or the banded LU while it fits in memory, if\n"
        "                      the grid cannot be coarsened).\n"
        "  --help              this text\n"
        "  --version           the program's version\n"
        "\n"
        "Manual pages: advdiff2d-reference(1), advdiff2d-inputs(5) (the input files), advdiff2d(1);\n"
        "in the source tree: man -l man/advdiff2d-reference.1\n",
        kUsage);
}

}  // namespace

int main(int argc, char** argv) {
    namespace run = advdiff::run;
    using advdiff::reference::Method;
    advdiff::platform::survive_broken_pipes();
    Method method = Method::automatic;
    try {
        const std::vector<std::string> arguments = advdiff::platform::program_arguments(argc, argv);
        for (const run::GivenOption& option : run::parse_command_line(arguments, kOptions)) {
            if (const auto status = run::answer_help_or_version(option, kProgram, print_help)) return *status;
            if (option.name == "--method")
                method = run::choose_value(option, {"band", "iterative"}) == "band" ? Method::band : Method::iterative;
        }
    } catch (const run::UsageError& e) {
        return run::usage_error(kProgram, e.what(), kUsage);
    }

    advdiff::platform::install_interrupt_handlers();
    const int status = run::run_reporting_errors(kProgram, [&] {
        const std::string line = advdiff::reference::make_reference_file(method);
        std::printf("%s\n", line.c_str());
    });
    return run::finish_standard_output(kProgram, status);
}
