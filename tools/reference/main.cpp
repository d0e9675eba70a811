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
constexpr const char* kUsage = "usage: advdiff2d-reference [--method band|multigrid] [--help] [--version]";

constexpr advdiff::run::AcceptedOption kOptions[] = {
    {"--method", "band|multigrid"}, {"--help", "", "-h"}, {"--version", ""},
};

void print_help() {
    std::printf(
        "%s\n"
        "\n"
        "Reads the input files of the working directory as advdiff2d does (dados1.ent, then\n"
        "MG2D_000.ent or SG2D_000.ent), solves the five-point system of the finest grid exactly\n"
        "(every value the double nearest to the exact solution) and writes it to the reference file\n"
        "exata<reference_file_index>, which the run compares its iterates with. Prints one line: the\n"
        "file, the grid, the method and the largest residual of the equations. The file is the same\n"
        "on every machine, whatever the memory. A system that is singular or cannot be solved in\n"
        "double precision is refused, and an earlier file is kept. An option's value follows it as\n"
        "the next argument or after '=' (--method=band).\n"
        "\n"
        "  --method band       banded LU (on large grids slow, and refused if its memory is not\n"
        "                      there)\n"
        "  --method multigrid  GMRES with a multigrid V-cycle, on any grid\n"
        "                      By default grids up to about 70 x 70 nodes (and thin ones such as\n"
        "                      20 x 4000) get the banded LU, larger ones multigrid. Either way the\n"
        "                      solution is refined with residuals of twice the double precision.\n"
        "  --help              this text\n"
        "  --version           the program's version\n"
        "\n"
        "A solution taking more than about two seconds shows its progress on standard error when\n"
        "that is a terminal.\n"
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
                method = run::choose_value(option, {"band", "multigrid"}) == "band" ? Method::band : Method::multigrid;
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
