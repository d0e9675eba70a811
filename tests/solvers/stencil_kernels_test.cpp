// The stencil kernels with the coefficients found uniform read as numbers, against the same
// kernels reading every array and against the formulas written out node by node, on systems
// coupled everywhere and on odd grids.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "solvers/gauss_seidel.hpp"
#include "solvers/kernels.hpp"
#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

// Random coupled system whose interior coefficients are, for the arrays `uniform_mask` names
// (bits S, W, P, E, N), one value; the boundary nodes keep random values, so a kernel that read a
// uniform value at a boundary node would show.
model::StencilCoefficients partly_uniform_system(int Nx, int Ny, unsigned uniform_mask, std::uint64_t seed) {
    model::StencilCoefficients a = random_system(Nx, Ny, seed);
    Lcg rng(seed + 1);
    Field* arrays[] = {&a.aS, &a.aW, &a.aP, &a.aE, &a.aN};
    for (int c = 0; c < 5; ++c) {
        if ((uniform_mask >> c & 1u) == 0) continue;
        const double v = c == 2 ? rng.uniform(4.5, 6.0) : rng.uniform(-1.0, -0.1);
        for (int j = 2; j <= Ny - 1; ++j)
            for (int i = 2; i <= Nx - 1; ++i) (*arrays[c])[node(i, j, Nx)] = v;
    }
    return a;
}

const std::pair<int, int> kGrids[] = {{2, 9}, {9, 2}, {3, 3}, {3, 40}, {40, 3}, {4, 4}, {17, 9}, {33, 65}, {70, 12}};
// None, the rotating flow's (east and north), every one, and a mix no test case gives.
const unsigned kMasks[] = {0u, 0x18u, 0x1Fu, 0x05u};

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
                                const std::vector<double>& fine, int nf) {
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
            f[u] = v + fine[node(2 * ic - 1, 2 * jc - 1, nf)];
        }
    return f;
}

TEST(StencilKernels, ResidualAndFasRightHandSideGiveTheDefinedBitsWithAndWithoutUniformValues) {
    for (auto [Nx, Ny] : kGrids) {
        for (unsigned mask : kMasks) {
            SCOPED_TRACE(std::to_string(Nx) + "x" + std::to_string(Ny) + " mask " + std::to_string(mask));
            const int N = Nx * Ny;
            const model::StencilCoefficients a = partly_uniform_system(Nx, Ny, mask, 13u * Nx + Ny + mask);
            const model::StencilView view(a);
            const solvers::UniformInterior uniform = solvers::UniformInterior::find(view, Nx, Ny);
            if (Nx > 3 && Ny > 3) {
                EXPECT_EQ(uniform.all(), mask == 0x1Fu);
            }
            const std::vector<double> X = Lcg(5u * Nx + Ny).field(a.b.size());
            const std::vector<double> zeros(a.b.size(), 0.0);

            const std::vector<double> expected = defined_residual(Nx, N, a, X, zeros);
            for (const solvers::UniformInterior& u : {solvers::UniformInterior{}, uniform}) {
                std::vector<double> r = zeros;
                solvers::level_residual(Nx, Ny, N, view, u, X, a.b, r);
                EXPECT_EQ(bit_difference(expected, r), "");
            }

            const int nf = 2 * Nx - 1;
            const std::vector<double> fine = Lcg(7u * Nx + Ny).field(static_cast<std::size_t>(nf) * (2 * Ny - 1));
            const std::vector<double> expected_f = defined_fas(Nx, Ny, a, X, fine, nf);
            for (const solvers::UniformInterior& u : {solvers::UniformInterior{}, uniform}) {
                std::vector<double> f(a.b.size(), -7.0);
                solvers::fas_right_hand_side(Nx, Ny, N, view, u, X, fine, nf, f);
                EXPECT_EQ(bit_difference(expected_f, f), "");
            }
        }
    }
}

TEST(StencilKernels, EveryGaussSeidelPassGivesThePlainSweepsBitsOnCoupledSystems) {
    constexpr solvers::detail::SweepPasses kPasses[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (auto [Nx, Ny] : kGrids) {
        for (unsigned mask : kMasks) {
            const model::StencilCoefficients a = partly_uniform_system(Nx, Ny, mask, 31u * Nx + Ny + mask);
            const model::StencilView view(a);
            const solvers::UniformInterior uniform = solvers::UniformInterior::find(view, Nx, Ny);
            const std::vector<double> start = Lcg(3u * Nx + Ny).field(a.b.size());
            // Odd and even counts: pairs of sweeps and a single one after them.
            for (int sweeps : {1, 2, 3, 5}) {
                std::vector<double> plain = start;
                solvers::gauss_seidel_sweeps(Nx, Ny, Nx * Ny, sweeps, view, a.b, plain);
                for (const solvers::detail::SweepPasses passes : kPasses) {
                    SCOPED_TRACE(std::to_string(Nx) + "x" + std::to_string(Ny) + " mask " + std::to_string(mask) +
                                 " sweeps " + std::to_string(sweeps) + (passes.wavefront ? " wavefront" : " rows") +
                                 (passes.paired ? " paired" : ""));
                    std::vector<double> fast = start;
                    solvers::detail::gauss_seidel_sweeps_with(passes, Nx, Ny, Nx * Ny, sweeps, view, uniform, a.b, fast);
                    EXPECT_EQ(bit_difference(plain, fast), "");
                }
                std::vector<double> production = start;
                solvers::gauss_seidel_sweeps(Nx, Ny, Nx * Ny, sweeps, view, uniform, a.b, production);
                EXPECT_EQ(bit_difference(plain, production), "");
            }
        }
    }
}

}  // namespace
}  // namespace advdiff::testing
