// MSI against its plain definition: the incomplete factorisation with partial cancellation, the
// residual with each node's terms summed in a fixed order (node 1: N, P, E; rest of the first row:
// W, N, P, E; middle rows: S, W, N, P, E; last row but node N: S, W, P, E; node N: W, P, S), and
// the residual-correction iteration.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "solvers/msi.hpp"
#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

// 1-based view of a field.
struct At {
    Field& f;
    double& operator()(int k) const { return f[static_cast<std::size_t>(k - 1)]; }
};

solvers::MsiFactors plain_factorise(const model::StencilCoefficients& a, int Nx, int Ny) {
    solvers::MsiFactors f;
    f.resize(a.b.size());
    const At L1{f.L1}, L2{f.L2}, L3{f.L3}, L4{f.L4}, U1{f.U1}, U2{f.U2}, U3{f.U3};
    for (int j = 1; j <= Ny; ++j)
        for (int i = 1; i <= Nx; ++i) {
            const int k = (j - 1) * Nx + i;
            const auto q = static_cast<std::size_t>(k - 1);
            const double S = a.aS[q], W = a.aW[q], P = a.aP[q], E = a.aE[q], Nn = a.aN[q];
            const double alpha = (j == 1 || j == Ny || i == 1 || i == Nx) ? 0.0 : 0.5;
            if (k == 1) {
                L4(k) = S, L3(k) = 0, L2(k) = W, L1(k) = P, U1(k) = E / L1(k), U2(k) = 0, U3(k) = Nn / L1(k);
            } else if (k <= Nx) {
                L4(k) = S;
                L3(k) = 0;
                L2(k) = W / (1 + 2 * alpha * U2(k - 1));
                L1(k) = P - L2(k) * U1(k - 1) + 2 * alpha * L2(k) * U2(k - 1);
                U1(k) = E / L1(k);
                U2(k) = -L2(k) * U3(k - 1) / L1(k);
                U3(k) = (Nn - alpha * L2(k) * U2(k - 1)) / L1(k);
            } else {
                L4(k) = S / (1 - alpha * U1(k - Nx) * U1(k - Nx + 1));
                L3(k) = -L4(k) * U1(k - Nx);
                L2(k) = (W - L4(k) * U2(k - Nx)) / (1 + 2 * alpha * U2(k - 1));
                L1(k) = P - L4(k) * U3(k - Nx) - L3(k) * U2(k - Nx + 1) - L2(k) * U1(k - 1) +
                        alpha * (2 * L3(k) * U1(k - Nx + 1) + 2 * L2(k) * U2(k - 1));
                U1(k) = (E - L3(k) * U3(k - Nx + 1) - 2 * alpha * L3(k) * U1(k - Nx + 1)) / L1(k);
                U2(k) = -L2(k) * U3(k - 1) / L1(k);
                U3(k) = (Nn - alpha * L2(k) * U2(k - 1)) / L1(k);
            }
        }
    return f;
}

std::vector<double> plain_residual(const model::StencilCoefficients& a, int Nx, std::vector<double>& T) {
    const int N = static_cast<int>(T.size());
    std::vector<double> r(T.size());
    const At t{T};
    for (int k = 1; k <= N; ++k) {
        const auto q = static_cast<std::size_t>(k - 1);
        const double S = a.aS[q], W = a.aW[q], P = a.aP[q], E = a.aE[q], Nn = a.aN[q];
        double sum;
        if (k == 1) sum = Nn * t(k + Nx) + P * t(k) + E * t(k + 1);
        else if (k <= Nx) sum = W * t(k - 1) + Nn * t(k + Nx) + P * t(k) + E * t(k + 1);
        else if (k <= N - Nx) sum = S * t(k - Nx) + W * t(k - 1) + Nn * t(k + Nx) + P * t(k) + E * t(k + 1);
        else if (k < N) sum = S * t(k - Nx) + W * t(k - 1) + P * t(k) + E * t(k + 1);
        else sum = W * t(k - 1) + P * t(k) + S * t(k - Nx);
        r[q] = a.b[q] - sum;
    }
    return r;
}

double norm2(const std::vector<double>& r) {
    double sum = 0.0;
    for (double v : r) sum += v * v;
    return std::sqrt(sum);
}

void plain_msi_solve(const model::StencilCoefficients& a, solvers::MsiFactors& f, int Nx, std::vector<double>& T,
                     double tolerance, int limit) {
    const int N = static_cast<int>(T.size());
    std::vector<double> r = plain_residual(a, Nx, T), w(T.size()), d(T.size());
    const At L1{f.L1}, L2{f.L2}, L3{f.L3}, L4{f.L4}, U1{f.U1}, U2{f.U2}, U3{f.U3}, R{r}, Wv{w}, D{d}, t{T};
    const double r0 = norm2(r);
    for (int m = 1;; ++m) {
        for (int k = 1; k <= N; ++k) {
            double v = R(k);
            if (k - 1 >= 1) v = v - L2(k) * Wv(k - 1);
            if (k - Nx + 1 >= 1) v = v - L3(k) * Wv(k - Nx + 1);
            if (k - Nx >= 1) v = v - L4(k) * Wv(k - Nx);
            Wv(k) = v / L1(k);
        }
        for (int k = N; k >= 1; --k) {
            double v = Wv(k);
            if (k + 1 <= N) v = v - U1(k) * D(k + 1);
            if (k + Nx - 1 <= N) v = v - U2(k) * D(k + Nx - 1);
            if (k + Nx <= N) v = v - U3(k) * D(k + Nx);
            D(k) = v;
            t(k) = t(k) + v;
        }
        r = plain_residual(a, Nx, T);
        if (m == limit || norm2(r) <= r0 * tolerance) break;
    }
}

std::vector<double> msi(const model::StencilCoefficients& a, int Nx, int Ny, std::vector<double> T, double tolerance,
                        int limit, solvers::MsiFactors* factors = nullptr) {
    solvers::MsiFactors f;
    f.resize(T.size());
    solvers::msi_factorise(model::StencilView(a), f, Nx * Ny, Nx, Ny);
    solvers::MsiWork work;
    work.resize(T.size());
    solvers::msi_solve(model::StencilView(a), f, Ny, Nx, Nx * Ny, T, tolerance, limit, a.b, work);
    if (factors) *factors = f;
    return T;
}

const std::pair<int, int> kGrids[] = {{2, 2}, {2, 5}, {5, 2}, {3, 3}, {4, 9}, {11, 4}, {17, 17}, {5, 40}, {23, 30}};

TEST(MsiSolver, FactorsAndIteratesMatchThePlainDefinition) {
    for (auto [Nx, Ny] : kGrids) {
        std::vector<std::pair<std::string, model::StencilCoefficients>> systems = {
            {"random", random_system(Nx, Ny, 17u * Nx + Ny)}};
        for (const CaseChoice& choice : all_cases())
            systems.emplace_back(choice.name, assemble(make_case(choice, 0.1), Nx, Ny));
        for (const auto& [name, a] : systems) {
            SCOPED_TRACE(name + " " + std::to_string(Nx) + "x" + std::to_string(Ny));
            solvers::MsiFactors plain = plain_factorise(a, Nx, Ny), f;
            for (int limit : {1, 3, 10})
                for (double tolerance : {0.0, 1e-3}) {
                    std::vector<double> expected = Lcg(limit).field(a.b.size());
                    const std::vector<double> actual = msi(a, Nx, Ny, expected, tolerance, limit, &f);
                    plain_msi_solve(a, plain, Nx, expected, tolerance, limit);
                    EXPECT_EQ(bit_difference(expected, actual), "") << "limit " << limit << " tolerance " << tolerance;
                }
            for (auto [mine, theirs] : {std::pair{&plain.L1, &f.L1}, std::pair{&plain.L2, &f.L2},
                                        std::pair{&plain.L3, &f.L3}, std::pair{&plain.L4, &f.L4},
                                        std::pair{&plain.U1, &f.U1}, std::pair{&plain.U2, &f.U2},
                                        std::pair{&plain.U3, &f.U3}})
                EXPECT_EQ(bit_difference(*mine, *theirs), "");
        }
    }
}

TEST(MsiSolver, DiagonalSystemFactorsToItsDiagonalAndOneIterationGivesBOverP) {
    model::StencilCoefficients a;
    a.resize(30);
    a.aP = Lcg(12).field(30, 0.5, 8.0);
    a.b = Lcg(13).field(30, -3.0, 3.0);
    solvers::MsiFactors f;
    const std::vector<double> T = msi(a, 6, 5, std::vector<double>(30, 0.0), 0.0, 1, &f);
    for (std::size_t k = 0; k < 30; ++k) {
        EXPECT_EQ(f.L1[k], a.aP[k]);
        for (const Field* zero : {&f.L2, &f.L3, &f.L4, &f.U1, &f.U2, &f.U3}) EXPECT_EQ((*zero)[k], 0.0);
        EXPECT_EQ(T[k], a.b[k] / a.aP[k]);
    }
}

TEST(MsiSolver, OneIterationSolvesAllBoundaryGrids) {
    for (auto [Nx, Ny] : {std::pair{2, 9}, std::pair{9, 2}, std::pair{2, 2}}) {
        const model::StencilCoefficients a = assemble(make_case(kPe2, 1.0), Nx, Ny);
        EXPECT_EQ(msi(a, Nx, Ny, std::vector<double>(a.b.size(), 0.0), 0.0, 1), a.b);
        const std::vector<double> T = msi(a, Nx, Ny, Lcg(2).field(a.b.size()), 0.0, 1);
        for (std::size_t k = 0; k < T.size(); ++k) EXPECT_NEAR(T[k], a.b[k], 1e-15);
    }
}

TEST(MsiSolver, LimitOneAppliesOneCorrectionWhateverTheToleranceAndLimitZeroActsAsOne) {
    const model::StencilCoefficients a = assemble(make_case(kRotating, 1.0), 9, 9);
    const std::vector<double> start = Lcg(6).field(81);
    const std::vector<double> one = msi(a, 9, 9, start, 0.0, 1);
    EXPECT_NE(one, start);
    for (double tolerance : {-1.0, 1e-12, 1.0, 1e300})
        EXPECT_EQ(bit_difference(one, msi(a, 9, 9, start, tolerance, 1)), "");
    EXPECT_EQ(bit_difference(one, msi(a, 9, 9, start, 0.0, 0)), "");
    EXPECT_EQ(bit_difference(one, msi(a, 9, 9, start, 0.0, -4)), "");
    EXPECT_NE(bit_difference(one, msi(a, 9, 9, start, 0.0, 2)), "");
}

TEST(MsiSolver, ExactSolutionHasZeroResidualAndStaysUnchanged) {
    // Diagonal 2, couplings -1/2 and small integers: every product and sum is exact.
    const int Nx = 5, Ny = 4, N = 20;
    model::StencilCoefficients a;
    a.resize(N);
    std::vector<double> T(N);
    for (int j = 1; j <= Ny; ++j)
        for (int i = 1; i <= Nx; ++i) {
            const std::size_t k = node(i, j, Nx);
            T[k] = static_cast<double>(k % 7) - 3.0;
            a.aP[k] = 2.0;
            if (i > 1 && j > 1 && i < Nx && j < Ny) a.aW[k] = a.aE[k] = a.aS[k] = a.aN[k] = -0.5;
        }
    const std::vector<double> minus_AT = plain_residual(a, Nx, T);  // b is still 0
    for (int k = 0; k < N; ++k) a.b[static_cast<std::size_t>(k)] = -minus_AT[static_cast<std::size_t>(k)];
    EXPECT_EQ(plain_residual(a, Nx, T), std::vector<double>(N, 0.0));
    EXPECT_EQ(msi(a, Nx, Ny, T, 1e-3, 10), T);
}

// One correction of the banded substitutions against the plain node-by-node ones, on the residual
// of a random field: same w, same T.
void expect_banded_equals_plain(const model::StencilCoefficients& a, int Nx, int Ny, std::uint64_t seed) {
    const int N = Nx * Ny;
    const auto n = static_cast<std::size_t>(N);
    solvers::MsiFactors f;
    f.resize(n);
    solvers::msi_factorise(model::StencilView(a), f, N, Nx, Ny);
    std::vector<double> r = Lcg(seed).field(n, -3.0, 3.0);
    std::vector<double> T = Lcg(seed + 1).field(n);
    std::vector<double> w_plain(n), d_plain(n), T_plain = T, w_banded(n), d_banded(n), T_banded = T;
    solvers::msi_substitute_plain(f, Nx, N, r, w_plain, d_plain, T_plain);
    solvers::msi_substitute_banded(f, Nx, N, r, w_banded, d_banded, T_banded);
    EXPECT_EQ(bit_difference(w_plain, w_banded), "") << "w";
    EXPECT_EQ(bit_difference(T_plain, T_banded), "") << "T";
}

// Grids narrower and wider than a band of rows, with rows left over after the last band, and
// strips one node inside the boundary.
const std::pair<int, int> kBandGrids[] = {{2, 2},  {2, 13}, {13, 2}, {3, 3},   {3, 40},  {40, 3},
                                          {4, 5},  {5, 6},  {7, 9},  {16, 21}, {33, 17}, {9, 64}};

TEST(MsiSubstitution, BandedEqualsPlainOnFullyCoupledSystems) {
    // Every coefficient non-zero, also the west terms of the rows' first nodes that the banded
    // pass assumes to vanish: it must notice and redo the band.
    for (auto [Nx, Ny] : kBandGrids) {
        SCOPED_TRACE(std::to_string(Nx) + "x" + std::to_string(Ny));
        expect_banded_equals_plain(random_system(Nx, Ny, 3u * Nx + 7u * Ny), Nx, Ny, 11u * Nx + Ny);
    }
}

TEST(MsiSubstitution, BandedEqualsPlainOnAssembledSystemsAndSingleCoupledRowStarts) {
    for (auto [Nx, Ny] : kBandGrids)
        for (const CaseChoice& choice : all_cases()) {
            SCOPED_TRACE(std::string(choice.name) + " " + std::to_string(Nx) + "x" + std::to_string(Ny));
            model::StencilCoefficients a = assemble(make_case(choice, 0.1), Nx, Ny);
            expect_banded_equals_plain(a, Nx, Ny, 5u * Nx + Ny);
            // One row start in the middle of a band coupled to the row below (and one row end to
            // the row above): the rows before it keep their banded values, the rest are redone.
            if (Ny >= 4) {
                a.aW[node(1, Ny / 2 + 1, Nx)] = -0.75;
                a.aE[node(Nx, Ny / 2 - 1, Nx)] = -0.5;
                expect_banded_equals_plain(a, Nx, Ny, 9u * Nx + Ny);
            }
        }
}

TEST(MsiSubstitution, BandedEqualsPlainWhenRowStartsMeetZerosAndNonFiniteValues) {
    // The skipped west term L2 w(k-1) is a signed zero times w(k-1): it can flip the sign of a zero
    // residual, and a non-finite w(k-1) turns it into NaN.
    const int Nx = 8, Ny = 19;
    const model::StencilCoefficients a = assemble(make_case(kPe10, 0.1), Nx, Ny);
    const auto n = static_cast<std::size_t>(Nx * Ny);
    solvers::MsiFactors f;
    f.resize(n);
    solvers::msi_factorise(model::StencilView(a), f, Nx * Ny, Nx, Ny);
    for (double last_of_row : {-1.0, 0.0, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()}) {
        std::vector<double> r(n, 0.0);
        for (int j = 1; j <= Ny; ++j) {
            r[node(1, j, Nx)] = (j % 2 == 0) ? -0.0 : 0.0;
            r[node(Nx, j, Nx)] = last_of_row * j;
        }
        std::vector<double> wp(n), dp(n), Tp(n, 0.0), wb(n), db(n), Tb(n, 0.0);
        solvers::msi_substitute_plain(f, Nx, Nx * Ny, r, wp, dp, Tp);
        solvers::msi_substitute_banded(f, Nx, Nx * Ny, r, wb, db, Tb);
        for (std::size_t k = 0; k < n; ++k) {
            ASSERT_EQ(std::signbit(wp[k]), std::signbit(wb[k])) << "w, node " << k << ", " << last_of_row;
            ASSERT_EQ(std::isnan(wp[k]), std::isnan(wb[k])) << "w, node " << k;
            ASSERT_TRUE(std::isnan(wp[k]) || wp[k] == wb[k]) << "w, node " << k;
            ASSERT_EQ(std::signbit(Tp[k]), std::signbit(Tb[k])) << "T, node " << k;
            ASSERT_TRUE(std::isnan(Tp[k]) ? std::isnan(Tb[k]) : Tp[k] == Tb[k]) << "T, node " << k;
        }
    }
}

TEST(MsiSolver, FusedIterationEqualsThePlainStepByStepOne) {
    // The residual computed inside the forward substitution, with the uniform coefficients held as
    // numbers (assembled systems) or read from the arrays (random ones), the norms summed band by
    // band, and the forward substitution done ahead of a tolerance test that may drop it.
    for (auto [Nx, Ny] : kBandGrids) {
        std::vector<std::pair<std::string, model::StencilCoefficients>> systems = {
            {"random", random_system(Nx, Ny, 29u * Nx + Ny)},
            {"rotating", assemble(make_case(kRotating, 0.1), Nx, Ny)},
            {"angle45pe1", assemble(make_case(kPe1, 0.1), Nx, Ny)},
            {"diffusion", assemble(make_case(kDiffusion, 1.0), Nx, Ny)}};
        for (const auto& [name, a] : systems) {
            SCOPED_TRACE(name + " " + std::to_string(Nx) + "x" + std::to_string(Ny));
            const auto n = static_cast<std::size_t>(Nx * Ny);
            solvers::MsiFactors f;
            f.resize(n);
            solvers::msi_factorise(model::StencilView(a), f, Nx * Ny, Nx, Ny);
            for (int limit : {1, 2, 5})
                for (double tolerance : {0.0, 0.5, 1e300}) {
                    std::vector<double> fused = Lcg(limit + 3u * Nx).field(n), plain = fused;
                    solvers::MsiWork work_fused, work_plain;
                    work_fused.resize(n);
                    work_plain.resize(n);
                    solvers::msi_solve(model::StencilView(a), f, Ny, Nx, Nx * Ny, fused, tolerance, limit, a.b,
                                       work_fused);
                    solvers::msi_solve_plain(model::StencilView(a), f, Nx, Nx * Ny, plain, tolerance, limit, a.b,
                                             work_plain);
                    EXPECT_EQ(bit_difference(plain, fused), "") << "limit " << limit << " tolerance " << tolerance;
                }
        }
    }
}

TEST(MsiSolver, HeldFactorsAreTheArraysOwnAndGiveThePlainIteration) {
    // Constant-velocity and pure-diffusion grids, square, wide, tall and just wide enough for a run:
    // every node of every held run carries the held set bit for bit, the 129 x 129 grids have runs,
    // and the iteration that reads the set there (eight rows in flight) gives the plain bits.
    const std::pair<int, int> grids[] = {{129, 129}, {100, 37}, {37, 100}, {18, 40}, {64, 9}, {200, 6}};
    for (auto [Nx, Ny] : grids)
        for (CaseIndex c : {kPe1, kAngle30, kDiffusion, kPe10}) {
            SCOPED_TRACE(std::to_string(Nx) + "x" + std::to_string(Ny) + " case " + std::to_string(c));
            const model::StencilCoefficients a = assemble(make_case(c, c == kDiffusion ? 1.0 : 0.1), Nx, Ny);
            const auto n = static_cast<std::size_t>(Nx * Ny);
            solvers::MsiFactors f;
            f.resize(n);
            solvers::msi_factorise(model::StencilView(a), f, Nx * Ny, Nx, Ny);
            if (Nx == 129) {
                EXPECT_FALSE(f.held_runs.empty());
            }
            const Field* arrays[] = {&f.L1, &f.L2, &f.L3, &f.L4, &f.U1, &f.U2, &f.U3};
            for (std::size_t row = 0; row < f.held_runs.size(); ++row)
                for (std::ptrdiff_t i = f.held_runs[row].begin; i < f.held_runs[row].end; ++i)
                    for (int q = 0; q < 7; ++q)
                        ASSERT_TRUE(same_bits((*arrays[q])[row * Nx + i], f.held[q])) << "row " << row << " column " << i;
            for (int limit : {1, 3})
                for (double tolerance : {0.0, 0.9}) {
                    std::vector<double> fast = Lcg(limit + 7u * Nx).field(n), plain = fast;
                    solvers::MsiWork work_fast, work_plain;
                    work_fast.resize(n);
                    work_plain.resize(n);
                    solvers::msi_solve(model::StencilView(a), f, Ny, Nx, Nx * Ny, fast, tolerance, limit, a.b, work_fast);
                    solvers::msi_solve_plain(model::StencilView(a), f, Nx, Nx * Ny, plain, tolerance, limit, a.b,
                                             work_plain);
                    EXPECT_EQ(bit_difference(plain, fast), "") << "limit " << limit << " tolerance " << tolerance;
                    std::vector<double> banded = Lcg(5u + Ny).field(n), by_node = banded;
                    solvers::msi_residual(model::StencilView(a), Nx, Nx * Ny, banded, a.b, work_fast.r);
                    work_plain.r = work_fast.r;
                    solvers::msi_substitute_banded(f, Nx, Nx * Ny, work_fast.r, work_fast.w, work_fast.delta, banded);
                    solvers::msi_substitute_plain(f, Nx, Nx * Ny, work_plain.r, work_plain.w, work_plain.delta, by_node);
                    EXPECT_EQ(bit_difference(by_node, banded), "") << "substitutions alone";
                }
        }
}

TEST(MsiSolver, FusedNormsDecideTheToleranceTestToTheLastBit) {
    // The tolerance is set at the exact boundary of the first test, rho1 <= r0 * tolerance: one
    // unit in the last place of either norm would change how many corrections are applied.
    for (auto [Nx, Ny] : {std::pair{9, 7}, std::pair{16, 21}, std::pair{33, 17}, std::pair{12, 40}})
        for (bool random : {true, false}) {
            SCOPED_TRACE(std::to_string(Nx) + "x" + std::to_string(Ny) + (random ? " random" : " angle45pe1"));
            const model::StencilCoefficients a =
                random ? random_system(Nx, Ny, 41u * Nx + Ny) : assemble(make_case(kPe1, 0.1), Nx, Ny);
            const auto n = static_cast<std::size_t>(Nx * Ny);
            solvers::MsiFactors f;
            f.resize(n);
            solvers::msi_factorise(model::StencilView(a), f, Nx * Ny, Nx, Ny);
            const std::vector<double> start = Lcg(Nx + 5u * Ny).field(n);
            std::vector<double> once = start;
            solvers::MsiWork work;
            work.resize(n);
            solvers::msi_solve_plain(model::StencilView(a), f, Nx, Nx * Ny, once, 0.0, 1, a.b, work);
            std::vector<double> T0 = start;
            const double r0 = norm2(plain_residual(a, Nx, T0)), rho1 = norm2(plain_residual(a, Nx, once));
            double boundary = rho1 / r0;
            while (rho1 <= r0 * boundary) boundary = std::nextafter(boundary, 0.0);
            while (!(rho1 <= r0 * boundary)) boundary = std::nextafter(boundary, 1.0);
            for (double tolerance : {boundary, std::nextafter(boundary, 0.0)}) {
                std::vector<double> fused = start, plain = start;
                solvers::msi_solve(model::StencilView(a), f, Ny, Nx, Nx * Ny, fused, tolerance, 5, a.b, work);
                solvers::msi_solve_plain(model::StencilView(a), f, Nx, Nx * Ny, plain, tolerance, 5, a.b, work);
                EXPECT_EQ(bit_difference(plain, fused), "") << "tolerance " << tolerance;
            }
            std::vector<double> stopped = start;
            solvers::msi_solve(model::StencilView(a), f, Ny, Nx, Nx * Ny, stopped, boundary, 5, a.b, work);
            EXPECT_EQ(bit_difference(once, stopped), "") << "stops after one correction at the boundary";
        }
}

}  // namespace
}  // namespace advdiff::testing
