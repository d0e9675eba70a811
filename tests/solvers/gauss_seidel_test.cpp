// Gauss-Seidel against its plain definition: node 1, the rest of the south row, the interior
// column by column, the north row but its last node, node N. Every path of the kernel walks the
// interior row by row (or as a wavefront of rows, each row one or more nodes behind the one below,
// or two sweeps at a time); all must agree to the bit.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

void plain_gauss_seidel(int Nx, int Ny, int sweeps, const model::StencilCoefficients& a, std::vector<double>& T) {
    const int N = Nx * Ny;
    auto t = [&](int k) -> double& { return T[static_cast<std::size_t>(k - 1)]; };
    auto c = [](const auto& f, int k) { return f[static_cast<std::size_t>(k - 1)]; };
    for (int sweep = 1; sweep <= sweeps; ++sweep) {
        t(1) = (c(a.b, 1) - c(a.aE, 1) * t(2) - c(a.aN, 1) * t(1 + Nx)) / c(a.aP, 1);
        for (int k = 2; k <= Nx; ++k)
            t(k) = (c(a.b, k) - c(a.aW, k) * t(k - 1) - c(a.aE, k) * t(k + 1) - c(a.aN, k) * t(k + Nx)) / c(a.aP, k);
        for (int i = 2; i <= Nx - 1; ++i)
            for (int j = 2; j <= Ny - 1; ++j) {
                const int k = (j - 1) * Nx + i;
                t(k) = (c(a.b, k) - c(a.aS, k) * t(k - Nx) - c(a.aW, k) * t(k - 1) - c(a.aE, k) * t(k + 1) -
                        c(a.aN, k) * t(k + Nx)) /
                       c(a.aP, k);
            }
        for (int k = (Ny - 1) * Nx + 1; k <= N - 1; ++k)
            t(k) = (c(a.b, k) - c(a.aS, k) * t(k - Nx) - c(a.aW, k) * t(k - 1) - c(a.aE, k) * t(k + 1)) / c(a.aP, k);
        t(N) = (c(a.b, N) - c(a.aS, N) * t(N - Nx) - c(a.aW, N) * t(N - 1)) / c(a.aP, N);
    }
}

std::vector<double> sweep(int Nx, int Ny, int sweeps, const model::StencilCoefficients& a, std::vector<double> T,
                          solvers::Path path = solvers::Path::automatic) {
    solvers::gauss_seidel_sweeps({sweeps, path}, system_of(a, Nx, Ny, kGaussSeidel), a.b, T);
    return T;
}

constexpr solvers::Path kEveryPath[] = {solvers::Path::automatic, solvers::Path::plain, solvers::Path::banded,
                                        solvers::Path::paired};

TEST(GaussSeidelSweep, EveryPathEqualsTheColumnByColumnDefinitionOnEverySystem) {
    // 10 x 21: a wavefront's last row of a cycle of rows hands over to its first with one step to
    // spare, 9 x 21 with none (so fewer rows in flight); 300 x 40: paired sweeps in two lead bands.
    const std::pair<int, int> grids[] = {{2, 2},   {2, 7},   {7, 2},  {3, 3},   {3, 8},   {9, 4},    {9, 21},  {10, 21},
                                         {17, 17}, {16, 33}, {5, 70}, {40, 45}, {70, 12}, {129, 19}, {300, 40}};
    for (auto [Nx, Ny] : grids)
        for (const auto& [name, a] : every_system(Nx, Ny)) {
            const std::vector<double> start = Lcg(100u * Nx + Ny).field(a.b.size());
            // Odd and even counts: pairs of sweeps and a single one after them.
            for (int sweeps : {1, 2, 3, 5}) {
                std::vector<double> expected = start;
                plain_gauss_seidel(Nx, Ny, sweeps, a, expected);
                for (solvers::Path path : kEveryPath) {
                    SCOPED_TRACE(name + " " + std::to_string(Nx) + "x" + std::to_string(Ny) + " sweeps " +
                                 std::to_string(sweeps) + " path " + std::to_string(static_cast<int>(path)));
                    EXPECT_EQ(bit_difference(expected, sweep(Nx, Ny, sweeps, a, start, path)), "");
                }
            }
        }
}

TEST(GaussSeidelSweep, UniformValuesAreFoundBitForBitOverTheInteriorOnly) {
    // Boundary values do not matter; a negative zero is not the same value as a zero.
    std::vector<double> a(5 * 4, 7.0);
    for (int i = 0; i < 5; ++i) a[static_cast<std::size_t>(i)] = -1.0;
    EXPECT_EQ(solvers::UniformInterior::value_of(a.data(), {5, 4}), 7.0);
    a[static_cast<std::size_t>(2 * 5 + 3)] = 7.000000000000001;
    EXPECT_FALSE(solvers::UniformInterior::value_of(a.data(), {5, 4}));
    std::vector<double> zeros(3 * 4, 0.0);
    zeros[static_cast<std::size_t>(2 * 3 + 1)] = -0.0;
    EXPECT_FALSE(solvers::UniformInterior::value_of(zeros.data(), {3, 4}));
    EXPECT_FALSE(solvers::UniformInterior::value_of(zeros.data(), {2, 4}));  // no interior nodes
    // Assembled systems: gamma / h^2 east and north everywhere; constant velocity makes every
    // interior coefficient one value, the rotating flow only the diffusion ones.
    for (const CaseChoice& choice : all_cases()) {
        const solvers::GridSystem s = system_of(assemble(make_case(choice, 0.1), 9, 6), 9, 6, kGaussSeidel);
        EXPECT_TRUE(s.uniform.aE && s.uniform.aN) << choice.name;
        EXPECT_EQ(s.uniform.all(), choice.problem_kind == 1) << choice.name;
    }
}

TEST(GaussSeidelSweep, VisitsThreeByThreeNodesInOrderAndSkipsNodesFourAndSix) {
    // Each node reads only its west neighbour (aW = -1, b = 1): T(k) = 1 + T(k-1) shows the value
    // that neighbour had when k was updated. The west neighbour of node 7 is node 6.
    model::StencilCoefficients a;
    a.resize(9);
    a.aP.assign(9, 1.0);
    a.aW.assign(9, -1.0);
    a.b.assign(9, 1.0);
    const std::vector<double> T = {0, 0, 0, 100, 0, 1000, 0, 0, 0};
    EXPECT_EQ(sweep(3, 3, 1, a, T), (std::vector<double>{1, 2, 3, 100, 101, 1000, 1001, 1002, 1003}));
}

TEST(GaussSeidelSweep, SweepCountsAddUpAndZeroSweepsChangeNothing) {
    const model::StencilCoefficients a = assemble(make_case(kRotating, 1.0), 9, 13);
    const std::vector<double> T = Lcg(5).field(a.b.size());
    EXPECT_EQ(bit_difference(sweep(9, 13, 2, a, T), sweep(9, 13, 1, a, sweep(9, 13, 1, a, T))), "");
    EXPECT_EQ(sweep(9, 13, 0, a, T), T);
    EXPECT_EQ(sweep(9, 13, -3, a, T), T);
}

}  // namespace
}  // namespace advdiff::testing
