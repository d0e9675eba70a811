#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "band_solver.hpp"
#include "iterative_solver.hpp"
#include "model/coefficients.hpp"
#include "platform/scratch_folder.hpp"
#include "reference_tool.hpp"
#include "run/reference_file.hpp"
#include "state/run_error.hpp"

namespace advdiff::reference {
namespace {

struct Case {
    const char* name;
    int problem_kind, flow_angle, peclet_code;
    double gamma;
};

const Case kCases[] = {
    {"rotating flow", 2, 0, 0, 0.02},     {"angle 0", 1, 0, 0, 0.01},
    {"angle 30", 1, 30, 0, 0.01},         {"angle 45, peclet 1", 1, 45, 1, 0.01},
    {"angle 45, peclet 10", 1, 45, 10, 0.01}, {"angle 90", 1, 90, 0, 0.01},
    {"pure diffusion", 1, 3, 0, 1.0},
};

model::ModelCase model_case(const Case& c) {
    SimulationSettings s;
    s.problem_kind = c.problem_kind;
    s.flow_angle = c.flow_angle;
    s.peclet_code = c.peclet_code;
    s.gamma = c.gamma;
    return model::make_model_case(s);
}

double max_abs(const std::vector<double>& v) {
    double m = 0.0;
    for (double x : v) m = std::max(m, std::fabs(x));
    return m;
}

// max |b - A T| over max |b|, from the program's own coefficients, summed in long double.
double relative_residual(const model::ModelCase& c, int Nx, int Ny, const std::vector<double>& T) {
    model::StencilCoefficients a;
    a.resize(static_cast<std::size_t>(Nx * Ny));
    model::assemble_coefficients(c, Nx, Ny, a);
    auto at = [&](int i, int j) -> long double { return T[node(i, j, Nx)]; };
    double worst = 0.0;
    for (int j = 1; j <= Ny; ++j) {
        for (int i = 1; i <= Nx; ++i) {
            const std::size_t k = node(i, j, Nx);
            long double sum = a.aP[k] * at(i, j);
            if (i > 1) sum += a.aW[k] * at(i - 1, j);
            if (i < Nx) sum += a.aE[k] * at(i + 1, j);
            if (j > 1) sum += a.aS[k] * at(i, j - 1);
            if (j < Ny) sum += a.aN[k] * at(i, j + 1);
            worst = std::max(worst, static_cast<double>(std::fabs(a.b[k] - sum)));
        }
    }
    return worst == 0.0 ? 0.0 : worst / max_abs(a.b);
}

TEST(ReferenceToolTest, WrittenFileSolvesTheFivePointSystem) {
    testing::ScratchFolder folder;
    const std::string file = folder / "exata1";
    for (const GridSize g : {GridSize{3, 3}, GridSize{5, 9}, GridSize{17, 17}}) {
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(g.nx) + " x " + std::to_string(g.ny));
            const ReferenceSolution solution = solve_reference(model_case(c), g.nx, g.ny, Method::automatic);
            EXPECT_EQ(solution.method.rfind("banded LU with ", 0), 0u) << solution.method;
            run::write_reference_values(file, g.nx, g.ny, solution.T);
            std::vector<double> read(solution.T.size());
            run::read_reference_values(file, g.nx, g.ny, read);
            EXPECT_EQ(read, solution.T);  // 17 significant digits round-trip exactly
            EXPECT_LE(relative_residual(model_case(c), g.nx, g.ny, read), 1e-12);
        }
    }
}

TEST(ReferenceToolTest, FileListsTheGridColumnByColumn) {
    testing::ScratchFolder folder;
    const int Nx = 3, Ny = 4;
    std::vector<double> T(Nx * Ny);
    for (int j = 1; j <= Ny; ++j)
        for (int i = 1; i <= Nx; ++i) T[node(i, j, Nx)] = 10 * i + j;
    run::write_reference_values(folder / "exata2", Nx, Ny, T);
    EXPECT_EQ(testing::ScratchFolder::read(folder / "exata2").substr(0, 4 * 23 + 1),
              "1.1000000000000000E+01\n1.2000000000000000E+01\n1.3000000000000000E+01\n1.4000000000000000E+01\n"
              "2");
}

TEST(ReferenceToolTest, ConstantVelocityCasesReproduceTheBilinearSolution) {
    // Upwind and central differences are exact for T = Pex Pey x y.
    for (const Case& c : kCases) {
        const model::ModelCase m = model_case(c);
        if (!m.constant_velocity() || m.pure_diffusion()) continue;
        for (const GridSize g : {GridSize{5, 9}, GridSize{17, 17}}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(g.nx) + " x " + std::to_string(g.ny));
            const ReferenceSolution solution = solve_reference(m, g.nx, g.ny, Method::band);
            const double hx = model::spacing(g.nx), hy = model::spacing(g.ny);
            double error = 0.0;
            for (int j = 1; j <= g.ny; ++j)
                for (int i = 1; i <= g.nx; ++i)
                    error = std::max(error, std::fabs(solution.T[node(i, j, g.nx)] -
                                                      model::analytic_solution(m, model::coordinate(i, hx),
                                                                               model::coordinate(j, hy))));
            EXPECT_LE(error, 1e-14 * std::max(1.0, m.Pex * m.Pey));
        }
    }
}

TEST(ReferenceToolTest, BandAndIterativeSolutionsAgree) {
    // 33 x 33 coarsened down to 3 x 3 (the rotating flow: down to 17 x 17, where the flow makes
    // west coefficients positive and Gauss-Seidel could not smooth); 16 x 12 cannot be coarsened
    // and is relaxed.
    IterativeOptions deep;
    deep.direct_band_elements = 0;
    for (const GridSize g : {GridSize{33, 33}, GridSize{16, 12}}) {
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(g.nx) + " x " + std::to_string(g.ny));
            const model::ModelCase m = model_case(c);
            const ReferenceSolution band = solve_reference(m, g.nx, g.ny, Method::band);
            const ReferenceSolution iterative = solve_reference(m, g.nx, g.ny, Method::iterative, {}, deep);
            const std::string method = g.nx == 16               ? "over-relaxation with "
                                       : m.constant_velocity() ? "multigrid with 5 levels (coarsest 3 x 3 by banded LU)"
                                                               : "multigrid with 2 levels (coarsest 17 x 17 by banded LU)";
            EXPECT_EQ(iterative.method.rfind(method, 0), 0u) << iterative.method;
            double difference = 0.0;
            for (std::size_t k = 0; k < band.T.size(); ++k)
                difference = std::max(difference, std::fabs(band.T[k] - iterative.T[k]));
            EXPECT_LE(difference, 1e-11 * std::max(1.0, max_abs(band.T)));
        }
    }
}

TEST(ReferenceToolTest, VCycleReducesTheCorrectionAboutTenfoldPerCycle) {
    // Six cycles on 65 x 65 down to 3 x 3 (rotating flow: down to 17 x 17). A wrong transfer or
    // smoother still converges, only slower; these bounds are about 1.5 times what the cycle
    // achieves.
    IterativeOptions six;
    six.direct_band_elements = 0;
    six.max_cycles = 6;
    six.polish_cycles = 0;
    const struct {
        Case c;
        double reduction;
    } cases[] = {{kCases[6], 1e-5}, {kCases[4], 1e-7}, {kCases[0], 2.5e-5}};
    for (const auto& [c, reduction] : cases) {
        SCOPED_TRACE(c.name);
        const model::ModelCase m = model_case(c);
        model::StencilCoefficients a;
        a.resize(65 * 65);
        model::assemble_coefficients(m, 65, 65, a);
        std::vector<double> x(65 * 65);
        const IterativeResult r = solve_iterative(m, a, 65, 65, x, six);
        EXPECT_EQ(r.cycles, 6);
        EXPECT_LE(r.last_update, reduction * r.first_update);
    }
}

TEST(ReferenceToolTest, IterationThatDivergesIsReportedNotReturned) {
    // gamma = 0.001 with cells of 1/11: the rotating flow makes the equations unsmoothable.
    const model::ModelCase m = model_case({"rotating flow", 2, 0, 0, 0.001});
    try {
        solve_reference(m, 16, 12, Method::iterative, {"SG2D_000.ent", 4, "Ny"});
        ADD_FAILURE() << "no error";
    } catch (const RunError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("SG2D_000.ent:4: Ny: the iterative solution of a 16 x 12 grid did not "
                                              "converge (over-relaxation with ", 0), 0u) << e.what();
    }
}

TEST(ReferenceToolTest, MultigridLevelsHalveOddGridsOnly) {
    auto sizes = [](int nx, int ny) {
        std::string text;
        for (const GridSize& g : multigrid_levels(nx, ny)) text += std::to_string(g.nx) + "x" + std::to_string(g.ny) + " ";
        return text;
    };
    EXPECT_EQ(sizes(1025, 1025), "1025x1025 513x513 257x257 129x129 65x65 ");
    EXPECT_EQ(sizes(1025, 7), "1025x7 513x4 ");    // 4 is even: no further level
    EXPECT_EQ(sizes(9, 17), "9x17 5x9 ");          // the finest grid is always coarsened once
    EXPECT_EQ(sizes(1024, 1025), "1024x1025 ");
    EXPECT_EQ(sizes(3, 3), "3x3 ");
}

// Runs the tool in `folder`; returns the exit status and fills out/err.
int run_tool(const testing::ScratchFolder& folder, const std::string& args, std::string& out, std::string& err) {
    const std::string command = "cd '" + folder.path() + "' && '" ADVDIFF_REFERENCE_BINARY "' " + args + " > '" +
                                folder.path() + ".out' 2> '" + folder.path() + ".err'";
    const int status = std::system(command.c_str());
    out = testing::ScratchFolder::read(folder.path() + ".out");
    err = testing::ScratchFolder::read(folder.path() + ".err");
    std::remove((folder.path() + ".out").c_str());
    std::remove((folder.path() + ".err").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string kSingleGrid = "2\nrel.txt\n17\n9\n3\n1\n45\n1\n0.01\n100\n1E-8\n1E-4\n1\n0\n1\n0\n0\n";

TEST(ReferenceToolTest, ToolWritesTheReferenceOfTheFinestGrid) {
    testing::ScratchFolder folder;
    std::string out, err;
    // Multigrid: coarsest 3 x 5, three levels -> 9 x 17.
    folder.write("dados1.ent", "titulo\n1\n");
    folder.write("MG2D_000.ent", "1\n'rel.txt'\n3\n10\n3\n5\n2\n0\n0\n2.0\n1.0\n2D-2\n50\n2\n1D-6\n1E-3\n1\n0\n1\n0\n0\n");
    ASSERT_EQ(run_tool(folder, "", out, err), 0) << err;
    EXPECT_EQ(out.rfind("exata10: 9 x 17 grid, banded LU with ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    std::vector<double> T(9 * 17);
    run::read_reference_values(folder / "exata10", 9, 17, T);
    EXPECT_LE(relative_residual(model_case(kCases[0]), 9, 17, T), 1e-12);

    folder.write("dados1.ent", "titulo\n2\n");
    folder.write("SG2D_000.ent", kSingleGrid);
    ASSERT_EQ(run_tool(folder, "--method=iterative", out, err), 0) << err;
    EXPECT_EQ(out.rfind("exata3: 17 x 9 grid, multigrid with 2 levels (coarsest 9 x 5 by banded LU), ", 0), 0u) << out;
}

TEST(ReferenceToolTest, BadInputOrArgumentsWriteNoFile) {
    testing::ScratchFolder folder;
    std::string out, err;
    folder.write("dados1.ent", "titulo\n2\n");
    std::string bad = kSingleGrid;
    bad.replace(bad.find("\n3\n"), 3, "\n12\n");  // reference_file_index
    folder.write("SG2D_000.ent", bad);
    EXPECT_EQ(run_tool(folder, "", out, err), 1);
    EXPECT_EQ(err.rfind("advdiff2d-reference: error: SG2D_000.ent:5: reference_file_index: ", 0), 0u) << err;
    EXPECT_EQ(out, "");

    folder.write("SG2D_000.ent", kSingleGrid);
    EXPECT_EQ(run_tool(folder, "--method=direct", out, err), 2);
    EXPECT_NE(err.find("usage: advdiff2d-reference"), std::string::npos) << err;
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"SG2D_000.ent", "dados1.ent"}));
}

TEST(ReferenceToolTest, UnwritableTargetIsReportedBeforeSolvingAndNothingIsCreated) {
    // exata3 is a folder: unwritable for every user, root included. On the 46340 x 46340 grid the
    // solve would stop at once for lack of memory; the target's message instead shows that the
    // target is checked first, before any memory is asked for or any value computed.
    testing::ScratchFolder folder;
    std::string out, err;
    folder.write("dados1.ent", "titulo\n2\n");
    ASSERT_EQ(mkdir((folder / "exata3").c_str(), 0755), 0);
    for (const char* size : {"17\n9\n", "46340\n46340\n"}) {
        SCOPED_TRACE(size);
        std::string grid = kSingleGrid;
        grid.replace(grid.find("17\n9\n"), 5, size);
        folder.write("SG2D_000.ent", grid);
        EXPECT_EQ(run_tool(folder, "", out, err), 1);
        EXPECT_EQ(err, "advdiff2d-reference: error: SG2D_000.ent:5: reference_file_index: \"exata3\" is a directory, "
                       "not a file\n");
        EXPECT_EQ(out, "");
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"SG2D_000.ent", "dados1.ent", "exata3"}));
        EXPECT_TRUE(std::filesystem::is_empty(folder / "exata3"));
    }
}

}  // namespace
}  // namespace advdiff::reference
