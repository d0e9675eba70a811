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

#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

// 1-based view of a field.
template <class F>
struct At {
    F& f;
    double& operator()(int k) const { return f[static_cast<std::size_t>(k - 1)]; }
};

solvers::MsiFactors plain_factorise(const model::StencilCoefficients& a, int Nx, int Ny) {
    solvers::MsiFactors f;
    for (SizedField* x : {&f.L1, &f.L2, &f.L3, &f.L4, &f.U1, &f.U2, &f.U3}) x->assign(a.b.size(), 0.0);
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
    const At L1{f.L1}, L2{f.L2}, L3{f.L3}, L4{f.L4}, U1{f.U1}, U2{f.U2}, U3{f.U3};
    const At R{r}, Wv{w}, D{d}, t{T};
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
                        int limit, solvers::MsiFactors* factors = nullptr, solvers::Path path = solvers::Path::automatic) {
    const solvers::GridSystem s = system_of(a, Nx, Ny, kMsi);
    solvers::Scratch scratch = scratch_for(Nx, Ny, kMsi);
    solvers::msi_solve({limit, tolerance, path}, s, a.b, T, scratch);
    if (factors) *factors = s.msi;
    return T;
}

// Grids narrower and wider than a band of rows, with rows left over after the last band, and
// strips one node inside the boundary; on rows of 129 nodes each band row runs more than two
// positions behind the one below.
const std::pair<int, int> kGrids[] = {{2, 2}, {2, 5}, {5, 2},   {3, 3},   {4, 9},   {11, 4},  {2, 13}, {13, 2},
                                      {3, 40}, {40, 3}, {7, 9}, {16, 21}, {33, 17}, {9, 64}, {23, 30}, {129, 12}};
constexpr solvers::Path kEveryPath[] = {solvers::Path::automatic, solvers::Path::plain, solvers::Path::banded};

TEST(MsiSolver, FactorsAndEveryPathsIteratesMatchThePlainDefinition) {
    for (auto [Nx, Ny] : kGrids) {
        auto systems = every_system(Nx, Ny);
        if (Ny >= 4) {
            // One row start in the middle of a band coupled to the row below (and one row end to the
            // row above): the banded passes must notice and compute the rest of the band again.
            model::StencilCoefficients a = assemble(make_case(kPe10, 0.1), Nx, Ny);
            a.aW[node(1, Ny / 2 + 1, Nx)] = -0.75;
            a.aE[node(Nx, Ny / 2 - 1, Nx)] = -0.5;
            systems.emplace_back("coupled row ends", a);
        }
        for (const auto& [name, a] : systems) {
            SCOPED_TRACE(name + " " + std::to_string(Nx) + "x" + std::to_string(Ny));
            solvers::MsiFactors plain = plain_factorise(a, Nx, Ny), f;
            for (int limit : {1, 2, 5})
                for (double tolerance : {0.0, 0.5, 1e300}) {
                    std::vector<double> expected = Lcg(limit).field(a.b.size());
                    const std::vector<double> start = expected;
                    plain_msi_solve(a, plain, Nx, expected, tolerance, limit);
                    for (solvers::Path path : kEveryPath)
                        EXPECT_EQ(bit_difference(expected, msi(a, Nx, Ny, start, tolerance, limit, &f, path)), "")
                            << "limit " << limit << " tolerance " << tolerance << " path " << static_cast<int>(path);
                }
            for (auto [mine, theirs] : {std::pair{&plain.L1, &f.L1}, std::pair{&plain.L2, &f.L2},
                                        std::pair{&plain.L3, &f.L3}, std::pair{&plain.L4, &f.L4},
                                        std::pair{&plain.U1, &f.U1}, std::pair{&plain.U2, &f.U2},
                                        std::pair{&plain.U3, &f.U3}})
                EXPECT_EQ(bit_difference(*mine, *theirs), "");
        }
    }
}

TEST(MsiSolver, HeldFactorsAreTheArraysOwnAndEveryPathGivesThePlainIteration) {
    // Constant-velocity and pure-diffusion grids, square, wide, tall and just wide enough for a run:
    // every node of every held run carries the held set bit for bit, the 129 x 129 grids have runs,
    // and the banded iteration that reads the set there gives the plain bits.
    const std::pair<int, int> grids[] = {{129, 129}, {100, 37}, {37, 100}, {18, 40}, {64, 9}, {200, 6}};
    for (auto [Nx, Ny] : grids)
        for (CaseIndex c : {kPe1, kAngle30, kDiffusion, kPe10}) {
            SCOPED_TRACE(std::to_string(Nx) + "x" + std::to_string(Ny) + " case " + std::to_string(c));
            const model::StencilCoefficients a = assemble(make_case(c, c == kDiffusion ? 1.0 : 0.1), Nx, Ny);
            const solvers::MsiFactors f = system_of(a, Nx, Ny, kMsi).msi;
            if (Nx == 129) {
                EXPECT_FALSE(f.held_runs.empty());
            }
            const SizedField* arrays[] = {&f.L1, &f.L2, &f.L3, &f.L4, &f.U1, &f.U2, &f.U3};
            for (std::size_t row = 0; row < f.held_runs.size(); ++row)
                for (std::ptrdiff_t i = f.held_runs[row].first; i < f.held_runs[row].second; ++i)
                    for (std::size_t q = 0; q < 7; ++q)
                        ASSERT_TRUE(same_bits((*arrays[q])[row * Nx + i], f.held[q])) << "row " << row << " column " << i;
            const std::vector<double> start = Lcg(7u * Nx + Ny).field(a.b.size());
            for (int limit : {1, 3}) {
                const std::vector<double> plain = msi(a, Nx, Ny, start, 0.9, limit, nullptr, solvers::Path::plain);
                EXPECT_EQ(bit_difference(plain, msi(a, Nx, Ny, start, 0.9, limit, nullptr, solvers::Path::banded)), "");
            }
        }
}

TEST(MsiSolver, DiagonalSystemFactorsToItsDiagonalAndOneIterationGivesBOverP) {
    model::StencilCoefficients a;
    a.resize(30);
    const Field p = Lcg(12).field(30, 0.5, 8.0), b = Lcg(13).field(30, -3.0, 3.0);
    a.aP.assign(p.begin(), p.end());
    a.b.assign(b.begin(), b.end());
    solvers::MsiFactors f;
    const std::vector<double> T = msi(a, 6, 5, std::vector<double>(30, 0.0), 0.0, 1, &f);
    for (std::size_t k = 0; k < 30; ++k) {
        EXPECT_EQ(f.L1[k], a.aP[k]);
        for (const SizedField* zero : {&f.L2, &f.L3, &f.L4, &f.U1, &f.U2, &f.U3}) EXPECT_EQ((*zero)[k], 0.0);
        EXPECT_EQ(T[k], a.b[k] / a.aP[k]);
    }
}

TEST(MsiSolver, OneIterationSolvesAllBoundaryGrids) {
    for (auto [Nx, Ny] : {std::pair{2, 9}, std::pair{9, 2}, std::pair{2, 2}}) {
        const model::StencilCoefficients a = assemble(make_case(kPe2, 1.0), Nx, Ny);
        EXPECT_EQ(msi(a, Nx, Ny, std::vector<double>(a.b.size(), 0.0), 0.0, 1), Field(a.b.begin(), a.b.end()));
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

TEST(MsiSolver, BandedEqualsPlainWhenRowStartsMeetZerosAndNonFiniteValues) {
    // From T = 0 the residual is b: a zero of either sign at every row start and a row end of
    // -1, 0, infinity or NaN. The skipped west term L2 w(k-1) (and the east term U1 delta(k+1) of
    // the back substitution) is a signed zero times a value: it can flip the sign of a zero, and a
    // non-finite value turns it into NaN.
    const int Nx = 8, Ny = 19;
    model::StencilCoefficients a = assemble(make_case(kPe10, 0.1), Nx, Ny);
    for (double last_of_row : {-1.0, 0.0, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()}) {
        a.b.assign(a.b.size(), 0.0);
        for (int j = 1; j <= Ny; ++j) {
            a.b[node(1, j, Nx)] = (j % 2 == 0) ? -0.0 : 0.0;
            a.b[node(Nx, j, Nx)] = last_of_row * j;
        }
        const std::vector<double> zero(a.b.size(), 0.0);
        const std::vector<double> plain = msi(a, Nx, Ny, zero, 0.0, 1, nullptr, solvers::Path::plain);
        const std::vector<double> banded = msi(a, Nx, Ny, zero, 0.0, 1, nullptr, solvers::Path::banded);
        for (std::size_t k = 0; k < plain.size(); ++k) {
            ASSERT_EQ(std::signbit(plain[k]), std::signbit(banded[k])) << "node " << k << ", " << last_of_row;
            ASSERT_TRUE(std::isnan(plain[k]) ? std::isnan(banded[k]) : plain[k] == banded[k]) << "node " << k;
        }
    }
}

TEST(MsiSolver, FusedNormsDecideTheToleranceTestToTheLastBit) {
    // The tolerance is set at the exact boundary of the first test, rho1 <= r0 * tolerance: one
    // unit in the last place of either norm would change how many corrections are applied.
    for (auto [Nx, Ny] : {std::pair{9, 9}, std::pair{16, 21}, std::pair{33, 17}, std::pair{12, 40}})
        for (bool random : {true, false}) {
            SCOPED_TRACE(std::to_string(Nx) + "x" + std::to_string(Ny) + (random ? " random" : " angle45pe1"));
            const model::StencilCoefficients a =
                random ? random_system(Nx, Ny, 41u * Nx + Ny) : assemble(make_case(kPe1, 0.1), Nx, Ny);
            const auto n = static_cast<std::size_t>(Nx * Ny);
            const std::vector<double> start = Lcg(Nx + 5u * Ny).field(n);
            const std::vector<double> once = msi(a, Nx, Ny, start, 0.0, 1, nullptr, solvers::Path::plain);
            std::vector<double> T0 = start, T1 = once;
            const double r0 = norm2(plain_residual(a, Nx, T0)), rho1 = norm2(plain_residual(a, Nx, T1));
            double boundary = rho1 / r0;
            while (rho1 <= r0 * boundary) boundary = std::nextafter(boundary, 0.0);
            while (!(rho1 <= r0 * boundary)) boundary = std::nextafter(boundary, 1.0);
            for (double tolerance : {boundary, std::nextafter(boundary, 0.0)}) {
                const std::vector<double> fused = msi(a, Nx, Ny, start, tolerance, 5, nullptr, solvers::Path::banded);
                const std::vector<double> plain = msi(a, Nx, Ny, start, tolerance, 5, nullptr, solvers::Path::plain);
                EXPECT_EQ(bit_difference(plain, fused), "") << "tolerance " << tolerance;
            }
            const std::vector<double> stopped = msi(a, Nx, Ny, start, boundary, 5, nullptr, solvers::Path::banded);
            EXPECT_EQ(bit_difference(once, stopped), "") << "stops after one correction at the boundary";
        }
}

}  // namespace
}  // namespace advdiff::testing
