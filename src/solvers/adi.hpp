#pragma once
// Alternating-direction line relaxation: each iteration solves every grid row as a tridiagonal
// system (south and north neighbours from the field before the half-sweep), then every grid
// column (west and east neighbours from the row half-sweep's result), each line by the Thomas
// algorithm.

#include <cstddef>
#include <cstdint>
#include <span>

#include "model/coefficients.hpp"
#include "solvers/five_point.hpp"
#include "state/problem_state.hpp"

namespace advdiff::solvers {

// Forward-pass coefficients: after a line's forward pass T(k) = p(k) T(next) + q(k).
struct AdiWork {
    Field p, q;
    // Grids whose middle rows are alike (adi_rows_alike): the equations of a middle row by column,
    // and p and d by column (row half-sweep) or by row (column half-sweep).
    struct MiddleRows {
        Field S, W, P, E, Nn;
    } middle_rows;
    Field row_p, row_d, column_p;
    void resize(std::size_t n) {
        p.assign(n, 0.0);
        q.assign(n, 0.0);
    }
};

// The row half-sweep: every row solved as a tridiagonal system with its south and north neighbours
// taken from T as it was before the half-sweep. adi_row_sweep_plain walks the nodes one by one in
// the defining order; adi_row_sweep_banded keeps several rows in flight and gives the same bits;
// adi_row_sweep picks the one that is faster for the grid (adi_banded_pays). Grids of at least
// 2 x 2.
void adi_row_sweep_plain(int Nx, int Ny, const model::StencilView& a, std::span<const double> b,
                         std::span<double> T, AdiWork& work);
void adi_row_sweep_banded(int Nx, int Ny, const model::StencilView& a, std::span<const double> b,
                          std::span<double> T, AdiWork& work);
void adi_row_sweep(int Nx, int Ny, const model::StencilView& a, std::span<const double> b, std::span<double> T,
                   AdiWork& work);
// The banded pass with the coefficients that `uniform` finds one value over the interior held as
// numbers there (aE and aN, the diffusion terms, when both are). adi_solve uses it from
// kAdiHeldMinNx nodes a row, where it measured faster than reading the arrays.
constexpr int kAdiHeldMinNx = 100;
void adi_row_sweep_banded(int Nx, int Ny, const model::StencilView& a, const UniformInterior& uniform,
                          std::span<const double> b, std::span<double> T, AdiWork& work);

// The grids on which the banded row half-sweep beats the plain one (from 33 x 33 to 1025 x 1025
// measured; at 2049 x 2049 both are bound by memory traffic and the plain one is as fast), and the
// widest on which it keeps eight rows in flight rather than four.
constexpr int kAdiBandedMinNx = 2;
constexpr int kAdiBandedMaxNx = 1537;
constexpr int kAdiEightRowsMaxNx = 160;
bool adi_banded_pays(int Nx, int Ny);

// The forward passes' p and divisors d of both half-sweeps for one grid's coefficients (they do
// not depend on T), in the plain passes' order.
struct AdiLineFactors {
    Field row_p, row_d, column_p, column_d;
    void compute(const model::StencilView& a, int Nx, int Ny);
};
// A grid's line factors, computed on the first ADI call that needs them and reused by every later
// one on the same coefficients (the owner resets it when it assembles them again). Held for grids
// of up to kAdiLineFactorsMaxN nodes, where reading them measured faster than computing them.
constexpr long long kAdiLineFactorsMaxN = 1025LL * 1025LL;
struct AdiLineCache {
    AdiLineFactors lines;
    bool ready = false;
    static bool pays(long long N) { return N <= kAdiLineFactorsMaxN; }
    static std::uint64_t bytes(std::uint64_t N) {
        return pays(static_cast<long long>(N)) ? 4 * N * sizeof(double) : 0;
    }
};
// The half-sweeps with p and d taken from `lines` (computed for the same coefficients): the same
// bits as the banded row half-sweep and adi_column_sweep, one division per node.
void adi_row_sweep_held(int Nx, int Ny, const model::StencilView& a, const UniformInterior& uniform,
                        const AdiLineFactors& lines, std::span<const double> b, std::span<double> T, AdiWork& work);
void adi_column_sweep_held(int Nx, int Ny, const model::StencilView& a, const AdiLineFactors& lines,
                           std::span<const double> b, std::span<double> T, AdiWork& work);

// The column half-sweep: every column solved with its west and east neighbours taken from T as
// the row half-sweep left it.
void adi_column_sweep(int Nx, int Ny, const model::StencilView& a, std::span<const double> b,
                      std::span<double> T, AdiWork& work);

// Whether all middle rows of the grid carry the same equations (every coefficient one value over
// the interior, the same boundary equations at the ends of every middle row): then the
// half-sweeps' p and d depend on the column (row half-sweep) or the row (column half-sweep) alone.
bool adi_rows_alike(int Nx, int Ny, const model::StencilView& a);

// `count` iterations of the plain half-sweeps (the twin adi_solve is compared with).
void adi_solve_plain(int Nx, int Ny, int count, const model::StencilView& a, std::span<const double> b,
                     std::span<double> T, AdiWork& work);

// `count` iterations on T (nothing when below 1). Where adi_rows_alike holds, p and d are computed
// once per half-sweep (falling back to the general half-sweeps wherever that would not give the
// same bits).
void adi_solve(int Nx, int Ny, int N, int count, const model::StencilView& a, std::span<const double> b,
               std::span<double> T, AdiWork& work);
// The same, with the coefficients found uniform over the interior for this grid (after assembly):
// spares the check of every coefficient array that the call above makes on each call.
void adi_solve(int Nx, int Ny, int N, int count, const model::StencilView& a, const UniformInterior& uniform,
               std::span<const double> b, std::span<double> T, AdiWork& work);
// The same, with the line factors held in `cache` on grids where that pays (AdiLineCache::pays) and
// the middle rows are not alike.
void adi_solve(int Nx, int Ny, int N, int count, const model::StencilView& a, const UniformInterior& uniform,
               AdiLineCache& cache, std::span<const double> b, std::span<double> T, AdiWork& work);

}  // namespace advdiff::solvers
