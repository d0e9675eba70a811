#include "solvers/gauss_seidel.hpp"

#include <cstddef>

namespace advdiff::solvers {

namespace {

// T(k) := ((((b - aS T(k-Nx)) - aW T(k-1)) - aE T(k+1)) - aN T(k+Nx)) / aP, newest values.
inline void update(double* t, const double* f, const double* aS, const double* aW, const double* aP,
                   const double* aE, const double* aN, std::ptrdiff_t nx, std::ptrdiff_t k) {
    t[k] = ((((f[k] - aS[k] * t[k - nx]) - aW[k] * t[k - 1]) - aE[k] * t[k + 1]) - aN[k] * t[k + nx]) / aP[k];
}

void interior_wavefront(double* t, const double* f, const double* aS, const double* aW, const double* aP,
                        const double* aE, const double* aN, std::ptrdiff_t nx, int Ny) {
    // Enough rows in flight to cover the latency of one update (a multiply, three subtractions
    // and a division in a chain through the west neighbour) with the other rows' updates.
    constexpr int kRows = 8;
    const std::ptrdiff_t m = nx - 2;  // interior nodes per row
    if (m <= 0) return;
    int j0 = 2;
    for (; j0 + kRows - 1 <= Ny - 1; j0 += kRows) {
        // Interior node i of band row r (both 0-based) is updated at step s = i + r.
        const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(j0 - 1) * nx + 1;  // node (2, j0)
        const std::ptrdiff_t steps = m + kRows - 1;
        for (std::ptrdiff_t s = 0; s < steps; ++s) {
            if (s >= kRows - 1 && s < m) {
#pragma GCC unroll 8
                for (int r = 0; r < kRows; ++r) update(t, f, aS, aW, aP, aE, aN, nx, first + r * nx + s - r);
            } else {
                for (int r = 0; r < kRows; ++r)
                    if (s - r >= 0 && s - r < m) update(t, f, aS, aW, aP, aE, aN, nx, first + r * nx + s - r);
            }
        }
    }
    // Rows left over after the last full band: one after the other.
    for (int j = j0; j <= Ny - 1; ++j) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
        for (std::ptrdiff_t k = row + 1; k < row + nx - 1; ++k) update(t, f, aS, aW, aP, aE, aN, nx, k);
    }
}

}  // namespace

void gauss_seidel_sweeps(int Nx, int Ny, int N, int sweep_count, const model::StencilView& a,
                         std::span<const double> b, std::span<double> T) {
    const double* aS = a.aS.data();
    const double* aW = a.aW.data();
    const double* aP = a.aP.data();
    const double* aE = a.aE.data();
    const double* aN = a.aN.data();
    const double* f = b.data();
    double* t = T.data();
    const std::ptrdiff_t nx = Nx;
    const std::ptrdiff_t n = N;

    for (int sweep = 0; sweep < sweep_count; ++sweep) {
        // Node 1 and the rest of the south row. At k = Nx the east value is the first node of
        // the second row; its coefficient is zero in every assembled system.
        t[0] = ((f[0] - aE[0] * t[1]) - aN[0] * t[nx]) / aP[0];
        for (std::ptrdiff_t k = 1; k < nx; ++k)
            t[k] = (((f[k] - aW[k] * t[k - 1]) - aE[k] * t[k + 1]) - aN[k] * t[k + nx]) / aP[k];

        // Interior nodes. The method defines this pass column by column; the pass below gives
        // the same bits, because every interior node still reads its west and south neighbours
        // after their update in this sweep and its east and north neighbours before it, and the
        // west and east boundary columns are not updated by the pass at all. It sweeps bands of
        // eight rows as a skewed wavefront: row j+1 runs one node behind row j, so that the eight
        // updates of a step are independent and their divisions overlap.
        interior_wavefront(t, f, aS, aW, aP, aE, aN, nx, Ny);

        // North row except its last node; its first node's west value is node (Nx, Ny-1).
        for (std::ptrdiff_t k = n - nx; k < n - 1; ++k)
            t[k] = (((f[k] - aS[k] * t[k - nx]) - aW[k] * t[k - 1]) - aE[k] * t[k + 1]) / aP[k];
        t[n - 1] = ((f[n - 1] - aS[n - 1] * t[n - 1 - nx]) - aW[n - 1] * t[n - 2]) / aP[n - 1];
    }
}

}  // namespace advdiff::solvers
