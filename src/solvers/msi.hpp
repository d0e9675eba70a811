#pragma once
// The modified strongly implicit procedure: an incomplete L*U factorisation of the five-point
// matrix with partial cancellation (alpha = 0.5, 0 at boundary nodes), used in a
// residual-correction iteration.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "model/coefficients.hpp"
#include "solvers/five_point.hpp"
#include "state/problem_state.hpp"

namespace advdiff::solvers {

constexpr double kMsiAlpha = 0.5;

// Lower factor L (L1 diagonal; L2, L3, L4 the coefficients of nodes k-1, k-Nx+1, k-Nx) and upper
// factor U with unit diagonal (U1, U2, U3 the coefficients of nodes k+1, k+Nx-1, k+Nx).
struct MsiFactors {
    Field L1, L2, L3, L4;
    Field U1, U2, U3;
    // The coefficients that msi_factorise found to be one value at every interior node, bit for
    // bit: the residual of msi_solve then holds them as numbers instead of reading the arrays.
    UniformInterior uniform;
    // On grids whose coefficients are all uniform over the interior, the factors settle, away from
    // the south, west and east sides, on one set of seven values. `held` is that set (L1, L2, L3,
    // L4, U1, U2, U3) and held_runs[j] the columns [begin, end) of 0-based row j where all seven
    // factors equal it bit for bit; the substitutions read it there instead of the arrays. Empty
    // when there is no such set.
    std::array<double, 7> held{};
    struct Run {
        std::ptrdiff_t begin = 0, end = 0;
    };
    std::vector<Run> held_runs;
    void resize(std::size_t n) {
        for (Field* f : {&L1, &L2, &L3, &L4, &U1, &U2, &U3}) f->assign(n, 0.0);
        held_runs.clear();
    }
};

// Work vectors of msi_solve: residual r, forward result w, correction delta.
struct MsiWork {
    Field r, w, delta;
    void resize(std::size_t n) {
        for (Field* f : {&r, &w, &delta}) f->assign(n, 0.0);
    }
};

// Builds both factors from the coefficients, node by node in ascending order.
void msi_factorise(const model::StencilView& a, MsiFactors& f, int N, int Nx, int Ny);

// Iterates on T until `limit` corrections are applied or the Euclidean residual norm falls to
// r0 * msi_tolerance (r0 the norm on entry). A limit below 1 counts as 1. Must follow
// msi_factorise on the same coefficients.
void msi_solve(const model::StencilView& a, const MsiFactors& f, int Ny, int Nx, int N, std::span<double> T,
               double msi_tolerance, int limit, std::span<const double> b, MsiWork& work);

// msi_solve step by step as defined: the residual pass, the plain substitutions, the norms. The
// twin msi_solve is compared with; msi_solve runs it on grids too small for the banded passes.
void msi_solve_plain(const model::StencilView& a, const MsiFactors& f, int Nx, int N, std::span<double> T,
                     double msi_tolerance, int limit, std::span<const double> b, MsiWork& work);

// The residual r = b - A*T with the terms of each node summed in the order the iteration uses.
void msi_residual(const model::StencilView& a, int Nx, int N, std::span<const double> T, std::span<const double> b,
                  std::span<double> r);

// One correction: the forward substitution L w = r (k = 1..N), then the back substitution
// U delta = w (k = N..1) with T(k) := T(k) + delta(k). Grids of at least 2 x 2.
//
// msi_substitute_plain walks the nodes one by one in that order and leaves delta in `delta`;
// msi_substitute_banded keeps several rows in flight, gives the same w and T, and uses `delta`
// as scratch space for the rows in hand; msi_substitute picks the one that is faster for
// the grid (msi_banded_pays).
void msi_substitute_plain(const MsiFactors& f, int Nx, int N, std::span<const double> r, std::span<double> w,
                          std::span<double> delta, std::span<double> T);
void msi_substitute_banded(const MsiFactors& f, int Nx, int N, std::span<const double> r, std::span<double> w,
                           std::span<double> delta, std::span<double> T);
void msi_substitute(const MsiFactors& f, int Nx, int N, std::span<const double> r, std::span<double> w,
                    std::span<double> delta, std::span<double> T);

// Narrowest grid on which the banded substitutions beat the plain ones.
constexpr int kMsiBandedMinNx = 2;
bool msi_banded_pays(int Nx, int Ny);

}  // namespace advdiff::solvers
