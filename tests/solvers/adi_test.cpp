// ADI against its plain definition. The production kernel walks the column half-sweep row by row,
// the definition column by column; both perform the same operations on the same values.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

void plain_adi(int Nx, int Ny, int count, const model::StencilCoefficients& a, std::vector<double>& T) {
    const int N = Nx * Ny;
    std::vector<double> P(T.size()), Q(T.size());
    auto t = [&](int k) -> double& { return T[static_cast<std::size_t>(k - 1)]; };
    auto p = [&](int k) -> double& { return P[static_cast<std::size_t>(k - 1)]; };
    auto q = [&](int k) -> double& { return Q[static_cast<std::size_t>(k - 1)]; };
    auto c = [](const SizedField& f, int k) { return f[static_cast<std::size_t>(k - 1)]; };
    for (int iteration = 1; iteration <= count; ++iteration) {
        // Row half-sweep: south row, middle rows, north row; then back substitution of each row.
        p(1) = -c(a.aE, 1) / c(a.aP, 1);
        q(1) = (c(a.b, 1) - c(a.aN, 1) * t(1 + Nx)) / c(a.aP, 1);
        for (int k = 2; k <= Nx; ++k) {
            const double d = c(a.aP, k) + c(a.aW, k) * p(k - 1);
            p(k) = -c(a.aE, k) / d;
            q(k) = (c(a.b, k) - c(a.aN, k) * t(k + Nx) - c(a.aW, k) * q(k - 1)) / d;
        }
        for (int k = Nx + 1; k <= N; ++k) {
            const bool north = k > N - Nx;
            const double d = c(a.aW, k) * p(k - 1) + c(a.aP, k);
            p(k) = -c(a.aE, k) / d;
            const double sn = north ? c(a.aS, k) * t(k - Nx) : c(a.aS, k) * t(k - Nx) + c(a.aN, k) * t(k + Nx);
            q(k) = (c(a.b, k) - sn - c(a.aW, k) * q(k - 1)) / d;
        }
        for (int j = 1; j <= Ny; ++j) t(j * Nx) = q(j * Nx);
        for (int j = 1; j <= Ny; ++j)
            for (int k = j * Nx - 1; k >= (j - 1) * Nx + 1; --k) t(k) = p(k) * t(k + 1) + q(k);

        // Column half-sweep, column by column.
        p(1) = -c(a.aN, 1) / c(a.aP, 1);
        q(1) = (c(a.b, 1) - c(a.aE, 1) * t(2)) / c(a.aP, 1);
        for (int k = 2; k <= Nx; ++k) {
            p(k) = -c(a.aN, k) / c(a.aP, k);
            q(k) = (c(a.b, k) - (c(a.aW, k) * t(k - 1) + c(a.aE, k) * t(k + 1))) / c(a.aP, k);
        }
        for (int i = 1; i <= Nx; ++i)
            for (int j = 2; j <= Ny; ++j) {
                const int k = (j - 1) * Nx + i;
                const double d = c(a.aS, k) * p(k - Nx) + c(a.aP, k);
                p(k) = -c(a.aN, k) / d;
                const double we = k == N ? c(a.aW, k) * t(k - 1) : c(a.aW, k) * t(k - 1) + c(a.aE, k) * t(k + 1);
                q(k) = (c(a.b, k) - we - c(a.aS, k) * q(k - Nx)) / d;
            }
        for (int i = 1; i <= Nx; ++i) t(N - Nx + i) = q(N - Nx + i);
        for (int i = 1; i <= Nx; ++i)
            for (int j = Ny - 1; j >= 1; --j) {
                const int k = (j - 1) * Nx + i;
                t(k) = p(k) * t(k + Nx) + q(k);
            }
    }
}

std::vector<double> adi(int Nx, int Ny, int count, const model::StencilCoefficients& a, std::vector<double> T,
                        solvers::Path path = solvers::Path::automatic) {
    solvers::Scratch scratch = scratch_for(Nx, Ny, kAdi);
    solvers::adi_solve({count, path}, system_of(a, Nx, Ny, kAdi), a.b, T, scratch);
    return T;
}

// Every system of every_system, and edits of an assembled one that the held line factors and the
// bands of rows must notice: row starts coupled to the row below (the first divisor of a row then
// depends on the row below), row ends coupled to the row above, an infinite q at a row end (0
// times it is NaN at the next row's first node), a zero divisor, a south row with differing p.
std::vector<std::pair<std::string, model::StencilCoefficients>> systems_for(int Nx, int Ny) {
    auto systems = every_system(Nx, Ny);
    const model::StencilCoefficients base = assemble(make_case(kAngle30, 0.1), Nx, Ny);
    auto edited = [&](const char* name, auto edit) {
        model::StencilCoefficients a = base;
        edit(a);
        systems.emplace_back(name, a);
    };
    if (Ny >= 4) {
        edited("one coupled row start", [&](auto& a) { a.aW[node(1, Ny / 2 + 1, Nx)] = -0.75; });
        edited("coupled row ends", [&](auto& a) {
            for (int j = 2; j < Ny; ++j) a.aW[node(1, j, Nx)] = -0.25, a.aE[node(Nx, j, Nx)] = -0.2;
        });
        edited("infinite q", [&](auto& a) { a.b[node(Nx, Ny / 2, Nx)] = std::numeric_limits<double>::infinity(); });
        edited("zero divisor", [&](auto& a) { a.aP[node(Nx, Ny / 2, Nx)] = 0.0; });
    }
    if (Nx >= 4) edited("south row", [&](auto& a) { a.aN[node(Nx / 2, 1, Nx)] = -0.5; });
    return systems;
}

TEST(AdiIteration, EveryPathEqualsTheColumnByColumnDefinition) {
    // Grids narrower and wider than a band of rows, with rows left over after the last band; the
    // banded passes keep eight rows in flight up to 160 nodes a row or where the rows are alike (the
    // assembled systems) and four beyond, each row more than one position behind the one below on
    // rows of 129 and 513 nodes. The edited systems copy some rows' line factors and not others.
    const std::pair<int, int> grids[] = {{2, 2},  {2, 6},  {6, 2},  {3, 3},   {4, 9},   {10, 3},  {2, 13},
                                         {13, 2}, {3, 40}, {7, 9},  {16, 21}, {33, 17}, {9, 64},  {23, 30},
                                         {161, 11}, {129, 19}, {513, 10}};
    for (auto [Nx, Ny] : grids)
        for (const auto& [name, a] : systems_for(Nx, Ny)) {
            SCOPED_TRACE(name + " " + std::to_string(Nx) + "x" + std::to_string(Ny));
            const std::vector<double> start = Lcg(31u * Nx + Ny).field(a.b.size());
            std::vector<double> expected = start;
            plain_adi(Nx, Ny, 2, a, expected);
            for (solvers::Path path : {solvers::Path::automatic, solvers::Path::plain, solvers::Path::banded,
                                       solvers::Path::paired})
                EXPECT_EQ(bit_difference(expected, adi(Nx, Ny, 2, a, start, path)), "") << static_cast<int>(path);
        }
}

TEST(AdiIteration, SolvesSystemWithoutSouthNorthCouplingInOneIteration) {
    const int Nx = 12, Ny = 7;
    model::StencilCoefficients a = random_system(Nx, Ny, 99);
    for (int j = 1; j <= Ny; ++j) {
        a.aW[node(1, j, Nx)] = a.aE[node(Nx, j, Nx)] = 0.0;  // rows independent of each other
        for (int i = 1; i <= Nx; ++i) a.aS[node(i, j, Nx)] = a.aN[node(i, j, Nx)] = 0.0;
    }
    const std::vector<double> T = adi(Nx, Ny, 1, a, Lcg(4).field(a.b.size(), -50.0, 50.0));
    for (std::size_t k = 0; k < T.size(); ++k) {
        double r = a.b[k] - a.aP[k] * T[k];
        if (k % Nx != 0) r -= a.aW[k] * T[k - 1];
        if (k % Nx != Nx - 1) r -= a.aE[k] * T[k + 1];
        EXPECT_NEAR(r, 0.0, 1e-14) << "node " << k;
    }
}

TEST(AdiIteration, CountTwoEqualsTwoCallsOfOneAndCountZeroDoesNothing) {
    const int Nx = 9, Ny = 17;
    const model::StencilCoefficients a = assemble(make_case(kRotating, 0.1), Nx, Ny);
    const std::vector<double> T = Lcg(8).field(a.b.size());
    EXPECT_EQ(bit_difference(adi(Nx, Ny, 2, a, T), adi(Nx, Ny, 1, a, adi(Nx, Ny, 1, a, T))), "");
    EXPECT_EQ(adi(Nx, Ny, 0, a, T), T);
}

}  // namespace
}  // namespace advdiff::testing
