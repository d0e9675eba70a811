// The level residual and the FAS right-hand side, plain and with the coefficients found uniform
// read as numbers, against the formulas written out node by node, on systems coupled everywhere
// and on odd grids.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

const std::pair<int, int> kGrids[] = {{2, 9}, {9, 2}, {3, 3}, {3, 40}, {40, 3}, {4, 4}, {17, 9}, {33, 65}, {70, 12}};

// The residual written out: r(k) for k = Nx+1 .. N-Nx-2 (0-based), every coefficient from its array.
std::vector<double> defined_residual(int Nx, int N, const model::StencilCoefficients& a, const std::vector<double>& X,
                                     std::vector<double> r) {
    for (int k = Nx + 1; k <= N - Nx - 2; ++k) {
        const auto u = static_cast<std::size_t>(k);
        r[u] = ((((a.b[u] - a.aS[u] * X[u - Nx]) - a.aW[u] * X[u - 1]) - a.aP[u] * X[u]) - a.aE[u] * X[u + 1]) -
               a.aN[u] * X[u + Nx];
    }
    return r;
}

// The FAS right-hand side written out, node by node, each neighbour only where it lies inside.
std::vector<double> defined_fas(int Nx, int Ny, const model::StencilCoefficients& a, const std::vector<double>& X,
                                const std::vector<double>& injected) {
    const int N = Nx * Ny;
    std::vector<double> f(static_cast<std::size_t>(N));
    for (int jc = 1; jc <= Ny; ++jc)
        for (int ic = 1; ic <= Nx; ++ic) {
            const int k = static_cast<int>(node(ic, jc, Nx));
            const auto u = static_cast<std::size_t>(k);
            double v = a.aP[u] * X[u];
            if (k >= 1) v = v + a.aW[u] * X[u - 1];
            if (k + 1 < N) v = v + a.aE[u] * X[u + 1];
            if (k >= Nx) v = v + a.aS[u] * X[u - Nx];
            if (k + Nx < N) v = v + a.aN[u] * X[u + Nx];
            f[u] = v + injected[u];
        }
    return f;
}

TEST(StencilKernels, ResidualAndFasRightHandSideGiveTheDefinedBitsWithAndWithoutUniformValues) {
    for (auto [Nx, Ny] : kGrids) {
        for (unsigned mask : kUniformMasks) {
            SCOPED_TRACE(std::to_string(Nx) + "x" + std::to_string(Ny) + " mask " + std::to_string(mask));
            const int N = Nx * Ny;
            const model::StencilCoefficients a = partly_uniform_system(Nx, Ny, mask, 13u * Nx + Ny + mask);
            const solvers::GridSystem system = system_of(a, Nx, Ny, kGaussSeidel);
            if (Nx > 3 && Ny > 3) {
                EXPECT_EQ(system.uniform.all(), mask == 0x1Fu);
            }
            const std::vector<double> X = Lcg(5u * Nx + Ny).field(a.b.size());

            // Every `every`-th row and column only, stored densely (multigrid takes 2: the coarser
            // level's layout); the other entries keep what they held.
            const std::vector<double> untouched(a.b.size(), -7.0);
            const std::vector<double> all = defined_residual(Nx, N, a, X, untouched);
            for (int every : {1, 2, 3, 0}) {
                const int e = every > 1 ? every : 1, columns = (Nx - 1) / e + 1;
                std::vector<double> expected = untouched;
                for (int k = 0; k < N; ++k)
                    if ((k / Nx) % e == 0 && (k % Nx) % e == 0)
                        expected[static_cast<std::size_t>((k / Nx) / e * columns + (k % Nx) / e)] = all[k];
                for (solvers::Path path : {solvers::Path::plain, solvers::Path::automatic}) {
                    std::vector<double> r = untouched;
                    solvers::level_residual({path, every}, system, a.b, X, r);
                    EXPECT_EQ(bit_difference(expected, r), "") << "every " << every;
                }
            }

            const std::vector<double> injected = Lcg(7u * Nx + Ny).field(a.b.size());
            const std::vector<double> expected_f = defined_fas(Nx, Ny, a, X, injected);
            for (solvers::Path path : {solvers::Path::plain, solvers::Path::automatic}) {
                std::vector<double> f(a.b.size(), -7.0);
                solvers::fas_right_hand_side({path}, system, injected, X, f);
                EXPECT_EQ(bit_difference(expected_f, f), "");
            }
        }
    }
}

}  // namespace
}  // namespace advdiff::testing
