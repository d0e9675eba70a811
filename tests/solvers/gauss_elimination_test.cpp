// The band elimination against the plain dense algorithm it replaces (the plain path):
// same bits, and where the elimination breaks down the same pattern of NaN and infinities.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

std::vector<double> elimination(int Nx, int Ny, const model::StencilCoefficients& a, solvers::Path path) {
    std::vector<double> T(a.b.size(), -7.0);
    solvers::Scratch scratch = scratch_for(Nx, Ny, kElimGauss);
    solvers::gauss_elimination({path}, system_of(a, Nx, Ny, kElimGauss), a.b, T, scratch);
    return T;
}
std::vector<double> dense_elimination(int Nx, int Ny, const model::StencilCoefficients& a) {
    return elimination(Nx, Ny, a, solvers::Path::plain);
}
std::vector<double> band_elimination(int Nx, int Ny, const model::StencilCoefficients& a) {
    return elimination(Nx, Ny, a, solvers::Path::automatic);
}

// One character per node: F finite, N NaN, + or - infinite.
std::string finiteness(const std::vector<double>& T) {
    std::string s;
    for (double v : T) s += std::isnan(v) ? 'N' : std::isinf(v) ? (v > 0 ? '+' : '-') : 'F';
    return s;
}

const std::pair<int, int> kGrids[] = {{2, 2}, {3, 3}, {2, 5}, {5, 2}, {4, 7}, {9, 9}, {12, 5}};

TEST(BandGaussElimination, MatchesDenseEliminationBitForBitOnEveryCaseAndGrid) {
    for (const CaseChoice& choice : all_cases())
        for (double gamma : {1.0, 0.1, 0.01})
            for (auto [Nx, Ny] : kGrids) {
                SCOPED_TRACE(std::string(choice.name) + " gamma " + std::to_string(gamma) + " " + std::to_string(Nx) +
                             "x" + std::to_string(Ny));
                const model::StencilCoefficients a = assemble(make_case(choice, gamma), Nx, Ny);
                const std::vector<double> dense = dense_elimination(Nx, Ny, a);
                ASSERT_EQ(finiteness(dense), std::string(dense.size(), 'F'));
                EXPECT_EQ(bit_difference(dense, band_elimination(Nx, Ny, a)), "");
            }
    for (auto [Nx, Ny] : kGrids) {  // couplings across row ends too
        const model::StencilCoefficients a = random_system(Nx, Ny, 11u * Nx + Ny);
        EXPECT_EQ(bit_difference(dense_elimination(Nx, Ny, a), band_elimination(Nx, Ny, a)), "");
    }
}

// Breakdowns: edits of an assembled system at 1-based nodes, array 'P', 'S', 'N', 'W' or 'b'.
struct Edit {
    char array;
    int i, j;
    double value;
};
struct Breakdown {
    const char* name;
    CaseIndex case_index;
    double gamma;
    int Nx, Ny;
    std::vector<Edit> edits;
    bool breaks_down;  // the dense solution holds non-finite values
};

TEST(BandGaussElimination, BreakdownsGiveTheDenseNonFinitePattern) {
    const Breakdown breakdowns[] = {
        {"diffusion without diffusion coefficient: zero pivots", kDiffusion, 0.0, 3, 3, {}, true},
        {"zero pivots 4x7", kDiffusion, 0.0, 4, 7, {}, true},
        {"zero pivot at the first interior node", kAngle0, 1.0, 5, 5, {{'P', 2, 2, 0.0}}, true},
        {"subnormal pivot: the multiplier overflows", kPe1000, 1.0, 9, 9, {{'P', 2, 2, 1e-320}}, true},
        {"zero row among the last rows", kAngle0, 1.0, 5, 5, {{'P', 4, 5, 0.0}}, true},
        {"infinity in the last row meets the zeros above", kAngle30, 1.0, 9, 9,
         {{'b', 3, 9, 1e308}, {'P', 3, 9, 1e-10}}, true},
        {"negative infinity in the north row", kAngle60, 0.1, 4, 7, {{'b', 2, 7, -1e308}, {'P', 2, 7, 1e-10}}, true},
        {"huge right-hand side times huge multiplier", kAngle0, 1.0, 9, 9, {{'b', 5, 5, 1e308}, {'W', 6, 5, -1e300}},
         true},
        // An infinite pivot: the dense algorithm's NaN lands below the diagonal, never read again.
        {"overflowing fill-in gives an infinite pivot", kAngle0, 1.0, 9, 9, {{'N', 4, 5, 1e308}, {'S', 4, 6, -1e308}},
         false},
        {"rotating flow without diffusion", kRotating, 0.0, 9, 9, {}, false},
    };
    for (const Breakdown& d : breakdowns) {
        SCOPED_TRACE(d.name);
        model::StencilCoefficients a = assemble(make_case(d.case_index, d.gamma), d.Nx, d.Ny);
        for (const Edit& e : d.edits) {
            SizedField& f = e.array == 'P'   ? a.aP
                       : e.array == 'S' ? a.aS
                       : e.array == 'N' ? a.aN
                       : e.array == 'W' ? a.aW
                                        : a.b;
            f[node(e.i, e.j, d.Nx)] = e.value;
        }
        const std::vector<double> dense = dense_elimination(d.Nx, d.Ny, a);
        const std::vector<double> band = band_elimination(d.Nx, d.Ny, a);
        EXPECT_EQ(finiteness(dense).find_first_not_of('F') != std::string::npos, d.breaks_down);
        EXPECT_EQ(finiteness(dense), finiteness(band));
        for (std::size_t k = 0; k < dense.size(); ++k)
            EXPECT_TRUE(!std::isfinite(dense[k]) || same_bits(dense[k], band[k])) << "node " << k;
    }
}

}  // namespace
}  // namespace advdiff::testing
