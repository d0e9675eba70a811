// ADI against its plain definition. The production kernel walks the column half-sweep row by row,
// the definition column by column; both perform the same operations on the same values.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "solvers/adi.hpp"
#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

void plain_adi(int Nx, int Ny, int count, const model::StencilCoefficients& a, std::vector<double>& T) {
    const int N = Nx * Ny;
    std::vector<double> P(T.size()), Q(T.size());
    auto t = [&](int k) -> double& { return T[static_cast<std::size_t>(k - 1)]; };
    auto p = [&](int k) -> double& { return P[static_cast<std::size_t>(k - 1)]; };
    auto q = [&](int k) -> double& { return Q[static_cast<std::size_t>(k - 1)]; };
    auto c = [](const Field& f, int k) { return f[static_cast<std::size_t>(k - 1)]; };
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

std::vector<double> adi(int Nx, int Ny, int count, const model::StencilCoefficients& a, std::vector<double> T) {
    solvers::AdiWork work;
    work.resize(T.size());
    solvers::adi_solve(Nx, Ny, Nx * Ny, count, model::StencilView(a), a.b, T, work);
    return T;
}

// adi_solve as the drivers call it: the grid's uniform values found beforehand and the line
// factors held in a cache that lives as long as the coefficients (`cache`, shared between calls).
std::vector<double> adi_held(int Nx, int Ny, int count, const model::StencilCoefficients& a, std::vector<double> T,
                             solvers::AdiLineCache& cache) {
    solvers::AdiWork work;
    work.resize(T.size());
    const model::StencilView view(a);
    solvers::adi_solve(Nx, Ny, Nx * Ny, count, view, solvers::UniformInterior::find(view, Nx, Ny), cache, a.b, T, work);
    return T;
}

TEST(AdiIteration, RowByRowColumnSweepEqualsColumnByColumn) {
    // The last grid is wider than the banded row half-sweep is used for.
    const std::pair<int, int> grids[] = {{2, 2},  {2, 6},  {6, 2},   {3, 3},   {4, 9},
                                         {10, 3}, {17, 17}, {33, 9}, {5, 40}, {23, 30},
                                         {solvers::kAdiBandedMaxNx + 1, 4}};
    for (auto [Nx, Ny] : grids) {
        std::vector<std::pair<std::string, model::StencilCoefficients>> systems = {
            {"random", random_system(Nx, Ny, 5u * Nx + Ny)}};
        for (const CaseChoice& choice : all_cases())
            systems.emplace_back(choice.name, assemble(make_case(choice, 0.01), Nx, Ny));
        for (const auto& [name, a] : systems) {
            SCOPED_TRACE(name + " " + std::to_string(Nx) + "x" + std::to_string(Ny));
            std::vector<double> expected = Lcg(31u * Nx + Ny).field(a.b.size());
            const std::vector<double> actual = adi(Nx, Ny, 2, a, expected);
            solvers::AdiLineCache cache;
            const std::vector<double> held = adi_held(Nx, Ny, 2, a, expected, cache);
            plain_adi(Nx, Ny, 2, a, expected);
            EXPECT_EQ(bit_difference(expected, actual), "");
            EXPECT_EQ(bit_difference(expected, held), "") << "line factors held";
        }
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
    const std::vector<double> once = adi(Nx, Ny, 1, a, T);
    EXPECT_EQ(bit_difference(adi(Nx, Ny, 2, a, T), adi(Nx, Ny, 1, a, once)), "");
    EXPECT_EQ(adi(Nx, Ny, 0, a, T), T);
    // The line factors computed by the first call serve the second.
    solvers::AdiLineCache cache;
    const std::vector<double> held_once = adi_held(Nx, Ny, 1, a, T, cache);
    EXPECT_TRUE(cache.ready);
    EXPECT_EQ(bit_difference(once, held_once), "");
    EXPECT_EQ(bit_difference(adi(Nx, Ny, 2, a, T), adi_held(Nx, Ny, 1, a, held_once, cache)), "");
}

// One row half-sweep, banded against plain: same p, q and T.
void expect_banded_row_sweep_equals_plain(const model::StencilCoefficients& a, int Nx, int Ny, std::uint64_t seed) {
    const auto n = static_cast<std::size_t>(Nx * Ny);
    const std::vector<double> start = Lcg(seed).field(n, -2.0, 2.0);
    solvers::AdiWork plain, banded;
    plain.resize(n);
    banded.resize(n);
    std::vector<double> T_plain = start, T_banded = start;
    solvers::adi_row_sweep_plain(Nx, Ny, model::StencilView(a), a.b, T_plain, plain);
    solvers::adi_row_sweep_banded(Nx, Ny, model::StencilView(a), a.b, T_banded, banded);
    EXPECT_EQ(bit_difference(plain.p, banded.p), "") << "p";
    EXPECT_EQ(bit_difference(plain.q, banded.q), "") << "q";
    EXPECT_EQ(bit_difference(T_plain, T_banded), "") << "T";
    // The same with the coefficients uniform over the interior held as numbers (aE and aN of every
    // assembled system; none of a random one).
    std::vector<double> T_held = start;
    solvers::adi_row_sweep_banded(Nx, Ny, model::StencilView(a), solvers::UniformInterior::find(model::StencilView(a), Nx, Ny),
                                  a.b, T_held, banded);
    EXPECT_EQ(bit_difference(plain.p, banded.p), "") << "p, held";
    EXPECT_EQ(bit_difference(plain.q, banded.q), "") << "q, held";
    EXPECT_EQ(bit_difference(T_plain, T_held), "") << "T, held";
    // With p and d taken from the line factors.
    solvers::AdiLineFactors lines;
    lines.compute(model::StencilView(a), Nx, Ny);
    EXPECT_EQ(bit_difference(plain.p, lines.row_p), "") << "line factors p";
    std::vector<double> T_lines = start;
    solvers::adi_row_sweep_held(Nx, Ny, model::StencilView(a), solvers::UniformInterior::find(model::StencilView(a), Nx, Ny),
                                lines, a.b, T_lines, banded);
    EXPECT_EQ(bit_difference(plain.q, banded.q), "") << "q, line factors";
    EXPECT_EQ(bit_difference(T_plain, T_lines), "") << "T, line factors";
}

// Grids narrower and wider than a band of rows, with rows left over after the last band; the
// banded pass keeps eight rows in flight up to kAdiEightRowsMaxNx nodes a row and four beyond.
const std::pair<int, int> kBandGrids[] = {{2, 2},  {2, 13},  {13, 2},  {3, 3},   {3, 40},
                                          {40, 3}, {4, 5},   {5, 6},   {7, 9},   {16, 21},
                                          {33, 17}, {9, 64}, {solvers::kAdiEightRowsMaxNx + 1, 11}};

TEST(AdiRowSweep, BandedEqualsPlainOnFullyCoupledSystems) {
    // aW of every row's first node is non-zero: the banded pass must notice and redo the band.
    for (auto [Nx, Ny] : kBandGrids) {
        SCOPED_TRACE(std::to_string(Nx) + "x" + std::to_string(Ny));
        expect_banded_row_sweep_equals_plain(random_system(Nx, Ny, 13u * Nx + Ny), Nx, Ny, 7u * Nx + Ny);
    }
}

TEST(AdiRowSweep, BandedEqualsPlainOnAssembledSystemsAndSingleCoupledRowStarts) {
    for (auto [Nx, Ny] : kBandGrids)
        for (const CaseChoice& choice : all_cases()) {
            SCOPED_TRACE(std::string(choice.name) + " " + std::to_string(Nx) + "x" + std::to_string(Ny));
            model::StencilCoefficients a = assemble(make_case(choice, 0.1), Nx, Ny);
            expect_banded_row_sweep_equals_plain(a, Nx, Ny, 3u * Nx + Ny);
            if (Ny >= 4) {
                // One row start in the middle of a band coupled to the row below.
                a.aW[node(1, Ny / 2 + 1, Nx)] = -0.75;
                expect_banded_row_sweep_equals_plain(a, Nx, Ny, 5u * Nx + Ny);
            }
        }
}

TEST(AdiRowSweep, BandedEqualsPlainWhenTheRowBelowEndsInANonFiniteValue) {
    // 0 * p(k-1) of a row's first node is NaN when the last node of the row below has an infinite
    // p or q: the banded pass starts from zeros and must find that out.
    const int Nx = 6, Ny = 15;
    model::StencilCoefficients a = assemble(make_case(kAngle30, 0.1), Nx, Ny);
    a.aP[node(Nx, 4, Nx)] = 0.0;  // d = 0 at the end of row 4
    expect_banded_row_sweep_equals_plain(a, Nx, Ny, 17);
}

std::vector<double> adi_plain(int Nx, int Ny, int count, const model::StencilCoefficients& a, std::vector<double> T) {
    solvers::AdiWork work;
    work.resize(T.size());
    solvers::adi_solve_plain(Nx, Ny, count, model::StencilView(a), a.b, T, work);
    return T;
}

// As the drivers call it.
std::vector<double> adi_viewed(int Nx, int Ny, int count, const model::StencilCoefficients& a, std::vector<double> T) {
    model::StencilView view(a);
    solvers::AdiWork work;
    work.resize(T.size());
    solvers::adi_solve(Nx, Ny, Nx * Ny, count, view, a.b, T, work);
    return T;
}

TEST(AdiIteration, AlikeMiddleRowsGiveThePlainBitsAndOnlyConstantVelocityCasesQualify) {
    for (auto [Nx, Ny] : kBandGrids)
        for (const CaseChoice& choice : all_cases()) {
            SCOPED_TRACE(std::string(choice.name) + " " + std::to_string(Nx) + "x" + std::to_string(Ny));
            const model::StencilCoefficients a = assemble(make_case(choice, 0.1), Nx, Ny);
            model::StencilView view(a);
            // The rotating flow varies from node to node unless there is only one interior node.
            const bool interior = Nx >= 3 && Ny >= 3;
            const bool one_node = Nx == 3 && Ny == 3;
            EXPECT_EQ(solvers::adi_rows_alike(Nx, Ny, view), interior && (choice.problem_kind == 1 || one_node));
            const std::vector<double> start = Lcg(7u * Nx + Ny).field(a.b.size());
            const solvers::UniformInterior uniform = solvers::UniformInterior::find(view, Nx, Ny);
            for (int count : {1, 2}) {
                const std::vector<double> plain = adi_plain(Nx, Ny, count, a, start);
                EXPECT_EQ(bit_difference(plain, adi_viewed(Nx, Ny, count, a, start)), "") << "count " << count;
                std::vector<double> T = start;
                solvers::AdiWork work;
                work.resize(T.size());
                solvers::adi_solve(Nx, Ny, Nx * Ny, count, view, uniform, a.b, T, work);
                EXPECT_EQ(bit_difference(plain, T), "") << "uniform values given, count " << count;
            }
        }
}

TEST(AdiIteration, AlikeRowsFallBackWhereTheirShortcutsWouldChangeBits) {
    const int Nx = 9, Ny = 14;
    const model::StencilCoefficients base = assemble(make_case(kAngle30, 0.1), Nx, Ny);
    const std::vector<double> start = Lcg(3).field(base.b.size());
    auto expect_plain_bits = [&](const model::StencilCoefficients& a, const char* what) {
        for (int count : {1, 2})
            EXPECT_EQ(bit_difference(adi_plain(Nx, Ny, count, a, start), adi_viewed(Nx, Ny, count, a, start)), "")
                << what << ", count " << count;
    };
    {
        // One middle row's west end differs: the rows are not alike.
        model::StencilCoefficients a = base;
        a.aP[node(1, 6, Nx)] = 2.0;
        expect_plain_bits(a, "one west end");
    }
    {
        // Every west end coupled to the row below: alike, but each row's first divisor depends on
        // the row below's last p, so the row half-sweep cannot reuse one row of p.
        model::StencilCoefficients a = base;
        for (int j = 2; j < Ny; ++j) a.aW[node(1, j, Nx)] = -0.25;
        expect_plain_bits(a, "coupled west ends");
        // And every east end coupled to the row above: the last p of a middle row is no longer the
        // south row's, and with it the first divisor of every later row changes.
        for (int j = 2; j < Ny; ++j) a.aE[node(Nx, j, Nx)] = -0.2;
        expect_plain_bits(a, "coupled row ends");
    }
    {
        // An infinite q at a row end: 0 times it is NaN at the next row's first node.
        model::StencilCoefficients a = base;
        a.b[node(Nx, 7, Nx)] = std::numeric_limits<double>::infinity();
        expect_plain_bits(a, "infinite q");
    }
    {
        // South row interior with different p: the column half-sweep cannot use one p per row.
        model::StencilCoefficients a = base;
        a.aN[node(4, 1, Nx)] = -0.5;
        expect_plain_bits(a, "south row");
    }
}

}  // namespace
}  // namespace advdiff::testing
