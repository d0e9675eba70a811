#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "exact_arithmetic.hpp"
#include "model/coefficients.hpp"
#include "multigrid.hpp"
#include "end_to_end/program_runner.hpp"
#include "platform/scratch_folder.hpp"
#include "reference_tool.hpp"
#include "smoother.hpp"
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

std::string grid_name(const GridSize& g) { return std::to_string(g.nx) + " x " + std::to_string(g.ny); }

model::StencilCoefficients assembled(const model::ModelCase& c, int Nx, int Ny) {
    model::StencilCoefficients a;
    a.resize(static_cast<std::size_t>(Nx) * static_cast<std::size_t>(Ny));
    model::assemble_coefficients(c, Nx, Ny, a);
    return a;
}

// max |b - A T| over max |b|, from the program's own coefficients, each row summed in double.
double relative_residual(const model::ModelCase& c, int Nx, int Ny, const std::vector<double>& T) {
    const model::StencilCoefficients a = assembled(c, Nx, Ny);
    double worst = 0.0, scale = 0.0;
    for (int j = 1; j <= Ny; ++j) {
        for (int i = 1; i <= Nx; ++i) {
            const std::size_t k = node(i, j, Nx);
            double sum = a.aP[k] * T[k];
            if (i > 1) sum += a.aW[k] * T[k - 1];
            if (i < Nx) sum += a.aE[k] * T[k + 1];
            if (j > 1) sum += a.aS[k] * T[k - static_cast<std::size_t>(Nx)];
            if (j < Ny) sum += a.aN[k] * T[k + static_cast<std::size_t>(Nx)];
            worst = std::max(worst, std::fabs(a.b[k] - sum));
            scale = std::max(scale, std::fabs(a.b[k]));
        }
    }
    return worst == 0.0 ? 0.0 : worst / scale;
}

TEST(ReferenceToolTest, WrittenFileSolvesTheFivePointSystem) {
    testing::ScratchFolder folder;
    const std::string file = folder / "exata1";
    for (const GridSize g : {GridSize{3, 3}, GridSize{5, 9}, GridSize{17, 17}, GridSize{16, 12}}) {
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(c.name) + ", " + grid_name(g));
            const ReferenceSolution solution = solve_reference(model_case(c), g.nx, g.ny, Method::automatic);
            EXPECT_EQ(solution.method.rfind("banded LU, ", 0), 0u) << solution.method;
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
        for (const GridSize g : {GridSize{5, 9}, GridSize{40, 40}}) {
            SCOPED_TRACE(std::string(c.name) + ", " + grid_name(g));
            const ReferenceSolution solution = solve_reference(m, g.nx, g.ny, Method::multigrid);
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

TEST(ReferenceToolTest, ValuesAreTheDoublesNearestToTheExactSolution) {
    // The rotating flow, gamma 0.02, on a 12 x 11 grid: the exact solution of the equations that
    // assemble_coefficients gives (read as exact binary fractions), computed by Gaussian
    // elimination in rational arithmetic (Python's fractions) and rounded to the nearest double,
    // in node order. A solve in double precision alone misses some of them by an ulp.
    const double exact[] = {
    0.0, 0.0, 0.0, 0.0,
    0.0, 0.0, 0.0, 0.0,
    0.0, 0.0, 0.0, 0.0,
    0.0, 0x1.6b01935474052p-11, 0x1.6a2331e3c6256p-10, 0x1.0f276fc4b813dp-9,
    0x1.6aa60c6db8431p-9, 0x1.be891ff13e1ebp-9, 0x1.ee87a1c8b2af4p-9, 0x1.e00f575e79deap-9,
    0x1.920740dff68ddp-9, 0x1.1839e4ebebe56p-9, 0x1.17712d268207dp-10, 0.0,
    0.0, 0x1.654e544b812b8p-10, 0x1.5769aa6fc276dp-9, 0x1.eeeaf46dbe86cp-9,
    0x1.4e919a2cb6b22p-8, 0x1.b8ef7ae672735p-8, 0x1.09622d0c5885ap-7, 0x1.12b4d943c1628p-7,
    0x1.d9bf159809d0bp-8, 0x1.440d3aa1f85a6p-8, 0x1.2b47539afad8bp-9, 0.0,
    0.0, 0x1.01bb4d9a19058p-9, 0x1.c1c62996af837p-9, 0x1.1dca07488ea99p-8,
    0x1.833ce5ba2c3ffp-8, 0x1.2d99c0f4ea0e2p-7, 0x1.b575668cd47b0p-7, 0x1.01d5449467090p-6,
    0x1.d8528ee76cc28p-7, 0x1.3cba5f571fabdp-7, 0x1.0278b6cbbd078p-8, 0.0,
    0.0, 0x1.4463c47e73999p-9, 0x1.e8b7d8bf4952cp-9, 0x1.d47993a692f6ep-9,
    0x1.2c6c17166c365p-8, 0x1.443f1838c6b0cp-7, 0x1.330c62b8ec024p-6, 0x1.a47ddb99a14ebp-6,
    0x1.9c11ed94a95c7p-6, 0x1.126fe577a9980p-6, 0x1.9250dab250268p-8, 0.0,
    0.0, 0x1.799c67d827f2bp-9, 0x1.fa66fec4d3731p-9, 0x1.490fec69937bfp-9,
    0x1.3ef7f5d408bdap-9, 0x1.1c7e715283a53p-7, 0x1.5fe5c7b2d2916p-6, 0x1.12125f03ad51fp-5,
    0x1.1e8d5a6c2b9d9p-5, 0x1.828fcf36d0c18p-6, 0x1.0bc9e75dcc1afp-7, 0.0,
    0.0, 0x1.9ce70bd78f18fp-9, 0x1.2984f644a6548p-8, 0x1.c78fa02229f5cp-9,
    0x1.6d345de359b84p-9, 0x1.df3a866b03f5bp-8, 0x1.3079deecab65ep-6, 0x1.f96d80b41d866p-6,
    0x1.17032da0e672ep-5, 0x1.85419dc55c6b7p-6, 0x1.117f6408b6333p-7, 0.0,
    0.0, 0x1.9f53121e084abp-9, 0x1.9cd39035c98f7p-8, 0x1.1143f47893e08p-7,
    0x1.12db597dd8c5ap-7, 0x1.00fe0a258747cp-7, 0x1.30af4d636ee1ep-7, 0x1.a42a5b16fbba9p-7,
    0x1.db48bfae139e4p-7, 0x1.6a1f522b7ced0p-7, 0x1.47f3248d26f68p-8, 0.0,
    0.0, 0x1.6a0d6b5f6731ep-9, 0x1.1c7956e3a2370p-7, 0x1.03c35df62ba7bp-6,
    0x1.1983e31ecdd2dp-6, 0x1.1a08235e72f5dp-7, -0x1.95365dfeff82dp-8, -0x1.300e8207cde2ap-6,
    -0x1.61092d6ceec50p-6, -0x1.c582ecdfecc15p-7, -0x1.e208acdfea8eep-10, 0.0,
    0.0, 0x1.dbfbe83569d15p-10, 0x1.2a84540ab1d66p-7, 0x1.3869212f48687p-6,
    0x1.4fe3d417b3b54p-6, 0x1.8b3b3bf495fd8p-8, -0x1.493df0ace3d68p-6, -0x1.66b5688acc269p-5,
    -0x1.9b2f3052bd101p-5, -0x1.1693237c6e537p-5, -0x1.01e7e5c2a1728p-7, 0.0,
    0.0, 0.0, 0.0, 0.0,
    0.0, 0.0, 0.0, 0.0,
    0.0, 0.0, 0.0, 0.0,
    };
    const model::ModelCase m = model_case({"rotating flow", 2, 0, 0, 0.02});
    for (const Method method : {Method::band, Method::multigrid}) {
        const ReferenceSolution solution = solve_reference(m, 12, 11, method);
        SCOPED_TRACE(solution.method);
        ASSERT_EQ(solution.T.size(), std::size(exact));
        for (std::size_t k = 0; k < solution.T.size(); ++k) EXPECT_EQ(solution.T[k], exact[k]) << "node " << k;
    }
}

TEST(ReferenceToolTest, BandAndMultigridGiveTheSameBits) {
    // Both are refined to the nearest doubles, so the methods agree bit for bit: on nested and
    // non-nested (even) multigrid levels, semi-coarsened ones (47 x 31 coarsens only x), and the
    // rotating flow's coarse level that needs added diffusion (gamma 0.005).
    const Case cases[] = {kCases[0], kCases[2], kCases[4], kCases[6], {"rotating flow, gamma 0.005", 2, 0, 0, 0.005}};
    for (const GridSize g : {GridSize{65, 65}, GridSize{64, 64}, GridSize{47, 31}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", " + grid_name(g));
            const model::ModelCase m = model_case(c);
            const ReferenceSolution band = solve_reference(m, g.nx, g.ny, Method::band);
            const ReferenceSolution multigrid = solve_reference(m, g.nx, g.ny, Method::multigrid);
            EXPECT_EQ(multigrid.method.rfind("multigrid GMRES (2 levels", 0), 0u) << multigrid.method;
            EXPECT_EQ(band.T, multigrid.T);
        }
    }
}

TEST(ReferenceToolTest, ExactResidualKeepsWhatDoubleArithmeticLoses) {
    // One interior node: aP = 1 + 2^-30, x = 1 + 2^-30, b = 1 + 2^-29. aP x = 1 + 2^-29 + 2^-60
    // needs 61 bits; in double the residual is 0, exactly it is -2^-60, and with a tail of 2^-70
    // in x it is -2^-60 - aP 2^-70.
    model::StencilCoefficients a;
    a.resize(9);
    std::fill(a.aP.begin(), a.aP.end(), 1.0);
    const double p = 1.0 + 0x1p-30;
    a.aP[4] = p;
    a.b[4] = 1.0 + 0x1p-29;
    std::vector<double> hi(9, 0.0), lo(9, 0.0), r(9);
    hi[4] = p;
    ASSERT_EQ(a.b[4] - a.aP[4] * hi[4], 0.0);
    EXPECT_EQ(exact_residual(model::StencilView(a), a.b, 3, 3, hi, lo, r), 0x1p-60);
    EXPECT_EQ(r[4], -0x1p-60);
    lo[4] = 0x1p-70;
    exact_residual(model::StencilView(a), a.b, 3, 3, hi, lo, r);
    EXPECT_EQ(r[4], -0x1p-60 - p * 0x1p-70);
    const DoubleDouble product = two_product(p, p);
    EXPECT_EQ(product.hi, 1.0 + 0x1p-29);
    EXPECT_EQ(product.lo, 0x1p-60);
}

TEST(ReferenceToolTest, MultigridCoarsensEveryGrid) {
    auto sizes = [](int nx, int ny) {
        std::string text;
        for (const GridSize& g : multigrid_levels(nx, ny)) text += std::to_string(g.nx) + "x" + std::to_string(g.ny) + " ";
        return text;
    };
    EXPECT_EQ(sizes(1025, 1025), "1025x1025 513x513 257x257 129x129 65x65 33x33 ");
    EXPECT_EQ(sizes(1024, 1024), "1024x1024 513x513 257x257 129x129 65x65 33x33 ");
    EXPECT_EQ(sizes(700, 760), "700x760 351x381 176x191 89x96 45x49 23x25 ");
    EXPECT_EQ(sizes(1025, 7), "1025x7 513x7 257x7 129x7 ");   // only x: its cells are far finer
    EXPECT_EQ(sizes(9, 2049), "9x2049 9x1025 9x513 9x257 9x129 9x65 ");
    EXPECT_EQ(sizes(33, 33), "33x33 ");
    EXPECT_EQ(sizes(3, 3), "3x3 ");
}

// Stationary multigrid iteration x += V(b - A x) on the case's equations; returns the factor by
// which max |correction| shrinks per cycle over cycles 2..7.
double v_cycle_rate(const model::ModelCase& m, int Nx, int Ny) {
    const model::StencilCoefficients a = assembled(m, Nx, Ny);
    const model::StencilView view(a);
    Multigrid mg(m, a, Nx, Ny);
    const std::size_t n = static_cast<std::size_t>(Nx) * static_cast<std::size_t>(Ny);
    std::vector<double> x(n, 0.0), zero(n, 0.0), r(n);
    std::vector<float> e(n);
    double first = 0.0, last = 0.0;
    for (int cycle = 1; cycle <= 7; ++cycle) {
        exact_residual(view, a.b, Nx, Ny, x, zero, r);
        mg.apply(r, e);
        double update = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            x[k] += e[k];
            update = std::max(update, std::fabs(static_cast<double>(e[k])));
        }
        if (cycle == 2) first = update;
        last = update;
    }
    return std::pow(last / first, 1.0 / 5.0);
}

TEST(ReferenceToolTest, VCycleContractsOnNestedAndNonNestedGrids) {
    // A wrong transfer or smoother still converges, only slower; the bounds are about 1.5 times
    // the rates the cycle achieves.
    const struct {
        Case c;
        GridSize g;
        double rate;
    } cases[] = {
        {kCases[6], {65, 65}, 0.07},  {kCases[6], {64, 64}, 0.075}, {kCases[6], {129, 17}, 0.025},
        {kCases[0], {65, 65}, 0.09},  {kCases[0], {64, 64}, 0.11},  {kCases[4], {64, 64}, 0.05},
    };
    for (const auto& [c, g, rate] : cases) {
        SCOPED_TRACE(std::string(c.name) + ", " + grid_name(g));
        EXPECT_LE(v_cycle_rate(model_case(c), g.nx, g.ny), rate);
    }
}

TEST(ReferenceToolTest, PairedRowSweepsGiveThePlainSweepsAndResidualBitForBit) {
    // Odd and even counts of interior rows, a single interior column or row, uniform and per-node
    // east and north coefficients; values of every sign and size. The paired sweeps that also form
    // the residual must give the plain sweeps followed by the plain residual.
    for (const GridSize g : {GridSize{9, 7}, GridSize{8, 8}, GridSize{3, 6}, GridSize{17, 4}, GridSize{6, 3}}) {
        const std::size_t n = g.nodes();
        std::vector<float> c[6], F(n), start(n);
        for (std::size_t k = 0; k < n; ++k) {
            const float x = static_cast<float>(k);
            for (int q = 0; q < 6; ++q) c[q].push_back(std::sin(1.3f * x + static_cast<float>(q)) - (q == 2 ? -4.0f : 0.0f));
            F[k] = std::cos(0.7f * x);
            start[k] = std::sin(0.37f * x) * 100.0f;
        }
        auto check = [&](const auto& a) {
            std::vector<float> plain = start, pairs = start, fused = start, R_plain(n, 7.0f), R_fused(n, 7.0f);
            gauss_seidel_plain(a, F.data(), plain.data(), g.nx, g.ny);
            level_residual(a, F.data(), plain.data(), R_plain.data(), g.nx, g.ny);
            gauss_seidel_pairs(a, F.data(), pairs.data(), g.nx, g.ny);
            gauss_seidel_pairs(a, F.data(), fused.data(), g.nx, g.ny, R_fused.data());
            EXPECT_NE(plain, start);
            EXPECT_EQ(pairs, plain);
            EXPECT_EQ(fused, plain);
            EXPECT_EQ(R_fused, R_plain);
        };
        for (const bool uniform : {false, true}) {
            SCOPED_TRACE(grid_name(g) + (uniform ? ", uniform" : ""));
            if (uniform)
                check(LevelEquations<true>{c[0].data(), c[1].data(), c[2].data(), nullptr, nullptr, c[5].data(), -0.3f, 0.7f});
            else
                check(LevelEquations<false>{c[0].data(), c[1].data(), c[2].data(), c[3].data(), c[4].data(), c[5].data(),
                                            0.0f, 0.0f});
        }
    }
}

TEST(ReferenceToolTest, SystemsThatDoublePrecisionCannotSolveAreRefused) {
    const struct {
        Case c;
        Method method;
        const char* why;
    } cases[] = {
        // The upwind side is always west and south: with so little diffusion the rotating flow's
        // equations amplify errors beyond what double precision can resolve.
        {{"rotating flow, gamma 1e-6", 2, 0, 0, 1e-6}, Method::band, "too ill-conditioned"},
        {{"rotating flow, gamma 1e-6", 2, 0, 0, 1e-6}, Method::multigrid, "--method band, which solves any system"},
        {{"pure diffusion, gamma 0", 1, 3, 0, 0.0}, Method::multigrid, "singular: the equation of node (2, 2) has no"},
        {{"pure diffusion, gamma 1e300", 1, 3, 0, 1e300}, Method::band, "too large for the exact residual"},
    };
    for (const auto& [c, method, why] : cases) {
        SCOPED_TRACE(c.name);
        try {
            solve_reference(model_case(c), 65, 65, method, {{}, {"SG2D_000.ent", 9, "gamma"}});
            ADD_FAILURE() << "no error";
        } catch (const RunError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("SG2D_000.ent:9: gamma: ", 0), 0u) << e.what();
            EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
        }
    }
}

// Runs the tool in `folder` with `args`; returns the exit status (-1 when it did not exit) and
// fills out/err.
int run_tool(const testing::ScratchFolder& folder, std::vector<std::string> args, std::string& out, std::string& err) {
    testing::Launch launch;
    launch.binary = ADVDIFF_REFERENCE_BINARY;
    launch.args = std::move(args);
    const testing::Ended ended = testing::run(folder.path(), launch);
    out = ended.out;
    err = ended.err;
    return ended.exited ? ended.status : -1;
}

const std::string kSingleGrid = "2\nrel.txt\n17\n9\n3\n1\n45\n1\n0.01\n100\n1E-8\n1E-4\n1\n0\n1\n0\n0\n";

// kSingleGrid with the given lines (1-based) replaced.
std::string single_grid_with(std::initializer_list<std::pair<int, std::string>> edits) {
    std::string text = kSingleGrid;
    for (const auto& [line, value] : edits) {
        std::size_t at = 0;
        for (int l = 1; l < line; ++l) at = text.find('\n', at) + 1;
        text.replace(at, text.find('\n', at) - at, value);
    }
    return text;
}

TEST(ReferenceToolTest, ToolWritesTheReferenceOfTheFinestGrid) {
    testing::ScratchFolder folder;
    std::string out, err;
    // Multigrid: coarsest 3 x 5, three levels -> 9 x 17.
    folder.write("dados1.ent", "titulo\n1\n");
    folder.write("MG2D_000.ent", "1\n'rel.txt'\n3\n10\n3\n5\n2\n0\n0\n2.0\n1.0\n2D-2\n50\n2\n1D-6\n1E-3\n1\n0\n1\n0\n0\n");
    ASSERT_EQ(run_tool(folder, {}, out, err), 0) << err;
    EXPECT_EQ(out.rfind("exata10: 9 x 17 grid, banded LU, ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    EXPECT_EQ(err, "");
    std::vector<double> T(9 * 17);
    run::read_reference_values(folder / "exata10", 9, 17, T);
    EXPECT_LE(relative_residual(model_case(kCases[0]), 9, 17, T), 1e-12);

    folder.write("dados1.ent", "titulo\n2\n");
    folder.write("SG2D_000.ent", single_grid_with({{3, "80"}, {4, "20"}}));
    ASSERT_EQ(run_tool(folder, {"--method=multigrid"}, out, err), 0) << err;
    EXPECT_EQ(out.rfind("exata3: 80 x 20 grid, multigrid GMRES (2 levels, coarsest 41 x 20), ", 0), 0u) << out;
}

TEST(ReferenceToolTest, BadInputOrArgumentsWriteNoFile) {
    testing::ScratchFolder folder;
    std::string out, err;
    folder.write("dados1.ent", "titulo\n2\n");
    folder.write("SG2D_000.ent", single_grid_with({{5, "12"}}));  // reference_file_index
    EXPECT_EQ(run_tool(folder, {}, out, err), 1);
    EXPECT_EQ(err.rfind("advdiff2d-reference: error: SG2D_000.ent:5: reference_file_index: ", 0), 0u) << err;
    EXPECT_EQ(out, "");

    folder.write("SG2D_000.ent", kSingleGrid);
    for (const char* method : {"--method=direct", "--method=iterative"}) {
        EXPECT_EQ(run_tool(folder, {method}, out, err), 2);
        EXPECT_NE(err.find("accepted: band, multigrid"), std::string::npos) << err;
        EXPECT_NE(err.find("usage: advdiff2d-reference"), std::string::npos) << err;
    }
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"SG2D_000.ent", "dados1.ent"}));
}

TEST(ReferenceToolTest, SingularSystemIsRefusedByEveryMethodAndTheEarlierFileKept) {
    // Pure diffusion with gamma 0: every interior equation is 0 = 0.
    testing::ScratchFolder folder;
    std::string out, err;
    folder.write("dados1.ent", "titulo\n2\n");
    folder.write("SG2D_000.ent", single_grid_with({{7, "3"}, {9, "0.0"}}));
    folder.write("exata3", "an earlier reference\n");
    for (const std::vector<std::string>& method :
         {std::vector<std::string>{}, {"--method=band"}, {"--method=multigrid"}}) {
        SCOPED_TRACE(method.empty() ? "" : method[0]);
        EXPECT_EQ(run_tool(folder, method, out, err), 1);
        EXPECT_EQ(err,
                  "advdiff2d-reference: error: SG2D_000.ent:9: gamma: the system is singular: the equation of node "
                  "(2, 2) has no terms (no diffusion and no advection)\n");
        EXPECT_EQ(out, "");
        EXPECT_EQ(testing::ScratchFolder::read(folder / "exata3"), "an earlier reference\n");
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"SG2D_000.ent", "dados1.ent", "exata3"}));
    }
}

TEST(ReferenceToolTest, UnwritableTargetIsReportedBeforeSolvingAndNothingIsCreated) {
    // exata3 is a folder: unwritable for every user, root included. On the 46340 x 46340 grid the
    // solve would stop at once for lack of memory; the target's message instead shows that the
    // target is checked first, before any memory is asked for or any value computed.
    testing::ScratchFolder folder;
    std::string out, err;
    folder.write("dados1.ent", "titulo\n2\n");
    ASSERT_TRUE(std::filesystem::create_directory(folder / "exata3"));
    for (const char* size : {"17\n9\n", "46340\n46340\n"}) {
        SCOPED_TRACE(size);
        std::string grid = kSingleGrid;
        grid.replace(grid.find("17\n9\n"), 5, size);
        folder.write("SG2D_000.ent", grid);
        EXPECT_EQ(run_tool(folder, {}, out, err), 1);
        EXPECT_EQ(err, "advdiff2d-reference: error: SG2D_000.ent:5: reference_file_index: \"exata3\" is a directory, "
                       "not a file\n");
        EXPECT_EQ(out, "");
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"SG2D_000.ent", "dados1.ent", "exata3"}));
        EXPECT_TRUE(std::filesystem::is_empty(folder / "exata3"));
    }
}

}  // namespace
}  // namespace advdiff::reference
