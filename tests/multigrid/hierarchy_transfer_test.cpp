// Node counts of the grid hierarchy and the operators between its levels: injection, bilinear
// prolongation of a correction, and the boundary values of a level.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/correctly_rounded.hpp"
#include "multigrid/hierarchy.hpp"
#include "multigrid/transfer.hpp"
#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

TEST(GridHierarchy, NodeCountsGrowFromTheCoarsestLevelWithTruncation) {
    struct Case {
        int levels, cnx, cny;
        double p;
        std::vector<int> nx, ny;
    };
    const Case cases[] = {
        {3, 3, 5, 2.0, {9, 5, 3}, {17, 9, 5}},
        {5, 3, 3, 2.0, {33, 17, 9, 5, 3}, {33, 17, 9, 5, 3}},
        {2, 6, 6, 2.38, {12, 6}, {12, 6}},  // (6 - 1) * 2.38 + 1 = 12.9 is truncated, not rounded
    };
    for (const Case& c : cases) {
        const std::optional<GridHierarchy> h = multigrid::setup_hierarchy(c.levels, c.cnx, c.cny, c.p);
        ASSERT_TRUE(h.has_value());
        EXPECT_EQ(h->level_nx, c.nx);
        EXPECT_EQ(h->level_ny, c.ny);
        for (std::size_t k = 0; k < c.nx.size(); ++k) EXPECT_EQ(h->level_nodes[k], c.nx[k] * c.ny[k]);
    }
    const GridHierarchy h = *multigrid::setup_hierarchy(5, 3, 3, 2.0);
    const std::vector<std::int64_t> offsets = {0, 1089, 1378, 1459, 1484};
    for (int lev = 1; lev <= 5; ++lev) EXPECT_EQ(h.level_offset(lev), offsets[static_cast<std::size_t>(lev - 1)]);
    EXPECT_EQ(h.total_nodes(), 1493);
}

TEST(Injection, EveryCoarseNodeTakesItsCoincidentFineNode) {
    for (auto [nxc, nyc] : {std::pair{3, 3}, {5, 3}, {3, 9}}) {
        const int nf = 2 * nxc - 1, nyf = 2 * nyc - 1;
        std::vector<double> fine(static_cast<std::size_t>(nf * nyf));
        for (int j = 1; j <= nyf; ++j)
            for (int i = 1; i <= nf; ++i) fine[node(i, j, nf)] = 100.0 * i + j;
        std::vector<double> coarse(static_cast<std::size_t>(nxc * nyc), -1.0);
        multigrid::inject(nxc, nyc, fine, nf, coarse);
        for (int jc = 1; jc <= nyc; ++jc)
            for (int ic = 1; ic <= nxc; ++ic)
                EXPECT_EQ(coarse[node(ic, jc, nxc)], 100.0 * (2 * ic - 1) + (2 * jc - 1)) << ic << "," << jc;
        if (nxc == 3 && nyc == 3) {
            EXPECT_EQ(coarse[node(2, 2, 3)], 303.0);  // fine (3, 3)
            EXPECT_EQ(coarse[node(3, 1, 3)], 501.0);  // fine (5, 1)
        }
    }
}

TEST(Prolongation, ChangesOnlyInteriorNodesWithTheBilinearWeights) {
    // Coarse 3 x 3 values 1, 2, 4, ... 256: every sum is exact, so the means can be written out.
    std::vector<double> E(9);
    for (int k = 0; k < 9; ++k) E[static_cast<std::size_t>(k)] = std::ldexp(1.0, k);
    std::vector<double> U(25, 1000.0);
    multigrid::prolongate_correction(5, 5, E, 3, U);
    auto e = [&](int ic, int jc) { return E[node(ic, jc, 3)]; };
    auto gained = [&](int i, int j) { return U[node(i, j, 5)] - 1000.0; };
    EXPECT_EQ(gained(3, 3), e(2, 2));
    EXPECT_EQ(gained(2, 3), (e(1, 2) + e(2, 2)) / 2);
    EXPECT_EQ(gained(3, 2), (e(2, 1) + e(2, 2)) / 2);
    EXPECT_EQ(gained(2, 2), (e(1, 1) + e(2, 1) + e(1, 2) + e(2, 2)) / 4);
    EXPECT_EQ(gained(4, 4), (e(2, 2) + e(3, 2) + e(2, 3) + e(3, 3)) / 4);
    EXPECT_EQ(gained(4, 3), (e(2, 2) + e(3, 2)) / 2);
    for (int j = 1; j <= 5; ++j)
        for (int i = 1; i <= 5; ++i)
            EXPECT_EQ(U[node(i, j, 5)] != 1000.0, i > 1 && i < 5 && j > 1 && j < 5) << i << "," << j;
}

TEST(Prolongation, GivesTheBitsOfTheNodeByNodeFormulaOnOddAndEvenGrids) {
    struct Shape { int nf, ny_f, nc, ny_c; };
    for (const Shape g : {Shape{5, 5, 3, 3}, {9, 17, 5, 9}, {33, 9, 17, 5}, {8, 6, 5, 4}, {3, 3, 2, 2}, {4, 7, 3, 4}}) {
        SCOPED_TRACE(std::to_string(g.nf) + "x" + std::to_string(g.ny_f));
        Lcg rng(static_cast<unsigned>(31 * g.nf + g.ny_f));
        // Not on one grid of multiples of 2^-52, as values in [-1, 1) are: their sums would be exact.
        const std::vector<double> E = rng.field(static_cast<std::size_t>(g.nc * g.ny_c), 0.1, 3.7);
        const std::vector<double> U0 = rng.field(static_cast<std::size_t>(g.nf * g.ny_f), -5.0, 7.0);
        std::vector<double> expected = U0;
        for (int j = 2; j <= g.ny_f - 1; ++j)
            for (int i = 2; i <= g.nf - 1; ++i) {
                auto e = [&](int di, int dj) { return E[node((i - 1) / 2 + 1 + di, (j - 1) / 2 + 1 + dj, g.nc)]; };
                const double v = i % 2 == 1 && j % 2 == 1 ? e(0, 0)
                                 : j % 2 == 1             ? (e(0, 0) + e(1, 0)) * 0.5
                                 : i % 2 == 1             ? (e(0, 0) + e(0, 1)) * 0.5
                                                          : (((e(0, 0) + e(1, 0)) + e(0, 1)) + e(1, 1)) * 0.25;
                expected[node(i, j, g.nf)] = expected[node(i, j, g.nf)] + v;
            }
        std::vector<double> U = U0;
        multigrid::prolongate_correction(g.nf, g.ny_f, E, g.nc, U);
        EXPECT_EQ(bit_difference(expected, U), "");
    }
}

TEST(Prolongation, ConstantCorrectionAddsExactlyThatConstant) {
    Lcg rng(77);
    for (int trial = 0; trial < 20; ++trial) {
        const double c = rng.uniform(-10.0, 10.0);
        const std::vector<double> E(5 * 9, c);
        const std::vector<double> U0 = rng.field(9 * 17);
        std::vector<double> U = U0;
        multigrid::prolongate_correction(9, 17, E, 5, U);
        for (int j = 2; j <= 16; ++j)
            for (int i = 2; i <= 8; ++i) EXPECT_EQ(U[node(i, j, 9)], U0[node(i, j, 9)] + c);
    }
}

TEST(LevelBoundaryValues, WritesDirichletValuesOnceAndForAll) {
    for (const CaseChoice& choice : all_cases()) {
        SCOPED_TRACE(choice.name);
        const model::ModelCase c = make_case(choice, 1.0);
        const int Nx = 9, Ny = 5;
        const std::vector<double> X0 = Lcg(3).field(45);
        std::vector<double> once = X0;
        const model::GridValues values(c, Nx, Ny);
        multigrid::apply_boundary_values(values, once);
        std::vector<double> twice = once;
        multigrid::apply_boundary_values(values, twice);
        EXPECT_EQ(bit_difference(once, twice), "");
        const double hx = model::spacing(Nx), hy = model::spacing(Ny);
        for (int j = 1; j <= Ny; ++j)
            for (int i = 1; i <= Nx; ++i) {
                const double x = (i - 1) * hx, y = (j - 1) * hy;
                double expected;
                if (i > 1 && i < Nx && j > 1 && j < Ny) expected = X0[node(i, j, Nx)];
                else if (i == 1 || j == 1) expected = 0.0;
                else if (c.pure_diffusion()) expected = (i < Nx) ? model::cr_sin(kPi * x) : 0.0;  // corner (Nx, Ny): 0
                else expected = model::analytic_solution(c, x, y);
                EXPECT_EQ(once[node(i, j, Nx)], expected) << i << "," << j;
            }
    }
}

}  // namespace
}  // namespace advdiff::testing
