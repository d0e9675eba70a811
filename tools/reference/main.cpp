// advdiff2d-reference: writes the reference solution exata<N> that an advdiff2d run needs.
// This file holds the command line only; the work is reference::make_reference_file.

#include <cstdio>
#include <string>

#include "platform/signals.hpp"
#include "reference_tool.hpp"
#include "run/command_line.hpp"

namespace {

constexpr const char* kUsage = "usage: advdiff2d-reference [--method=band|iterative] [--help] [--version]";

void print_help() {
    std::printf(
        "%s\n"
        "\n"
        "Reads the input files of the working directory as advdiff2d does (dados1.ent, then\n"
        "MG2D_000.ent or SG2D_000.ent), solves the five-point system of the finest grid exactly\n"
        "(to round-off) and writes it to the reference file exata<reference_file_index>, which the\n"
        "run compares its iterates with. Prints one line: the file, the grid, the method and the\n"
        "largest residual of the equations.\n"
        "\n"
        "  --method=band       banded LU with iterative refinement (fails if the band does not fit\n"
        "                      in memory)\n"
        "  --method=iterative  multigrid V-cycles (over-relaxation on grids that cannot be coarsened)\n"
        "                      By default grids up to about 257 x 257 nodes get the banded LU and\n"
        "                      larger ones multigrid (or the banded LU while it fits in memory, if\n"
        "                      the grid cannot be coarsened).\n"
        "  --help              this text\n"
        "  --version           the program's version\n",
        kUsage);
}


}  // namespace

int main(int argc, char** argv) {
    advdiff::platform::install_interrupt_handlers();
    using advdiff::reference::Method;
    Method method = Method::automatic;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            print_help();
            return 0;
        }
        if (arg == "--version") {
            std::printf("advdiff2d-reference %s\n", ADVDIFF_VERSION);
            return 0;
        }
        if (arg == "--method=band") {
            method = Method::band;
        } else if (arg == "--method=iterative") {
            method = Method::iterative;
        } else {
            return advdiff::run::usage_error("advdiff2d-reference", "unknown argument \"" + arg + "\"",
                                             kUsage);
        }
    }

    return advdiff::run::run_reporting_errors("advdiff2d-reference", [&] {
        const std::string line = advdiff::reference::make_reference_file(method);
        std::printf("%s\n", line.c_str());
    });
}
