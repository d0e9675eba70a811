#include "solvers/gauss_seidel.hpp"

#include <algorithm>
#include <cstddef>

namespace advdiff::solvers {

namespace {

// The coefficients of the interior pass. When aE and aN are the same at every interior node they
// are held as two numbers, which saves reading two of the eight arrays a node update touches: on
// grids larger than the cache the sweep is bound by that traffic.
template <bool Uniform>
struct Interior {
    const double* f;
    const double* aS;
    const double* aW;
    const double* aP;
    const double* aE;
    const double* aN;
    double uniform_aE;
    double uniform_aN;

    double east(std::ptrdiff_t k) const {
        if constexpr (Uniform) return uniform_aE;
        else return aE[k];
    }
    double north(std::ptrdiff_t k) const {
        if constexpr (Uniform) return uniform_aN;
        else return aN[k];
    }
};

// T(k) := ((((b - aS T(k-Nx)) - aW T(k-1)) - aE T(k+1)) - aN T(k+Nx)) / aP, newest values.
template <bool Uniform>
inline void update(double* t, const Interior<Uniform>& c, std::ptrdiff_t nx, std::ptrdiff_t k) {
    t[k] = ((((c.f[k] - c.aS[k] * t[k - nx]) - c.aW[k] * t[k - 1]) - c.east(k) * t[k + 1]) - c.north(k) * t[k + nx]) /
           c.aP[k];
}

// The interior nodes of rows j_begin .. j_end - 1 (1-based rows, 2 <= j_begin, j_end <= Ny), for
// a sweep whose row j_begin - 1 is already final and whose row j_end is still the old one.
template <bool Uniform>
void interior_wavefront(double* t, const Interior<Uniform>& c, std::ptrdiff_t nx, int j_begin, int j_end) {
    // Enough rows in flight to cover the latency of one update (a multiply, three subtractions
    // and a division in a chain through the west neighbour) with the other rows' updates.
    constexpr int kRows = 8;
    const std::ptrdiff_t m = nx - 2;  // interior nodes per row
    if (m <= 0) return;
    int j0 = j_begin;
    for (; j0 + kRows <= j_end; j0 += kRows) {
        // Interior node i of band row r (both 0-based) is updated at step s = i + r.
        const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(j0 - 1) * nx + 1;  // node (2, j0)
        const std::ptrdiff_t steps = m + kRows - 1;
        for (std::ptrdiff_t s = 0; s < steps; ++s) {
            if (s >= kRows - 1 && s < m) {
#pragma GCC unroll 8
                for (int r = 0; r < kRows; ++r) update(t, c, nx, first + r * nx + s - r);
            } else {
                for (int r = 0; r < kRows; ++r)
                    if (s - r >= 0 && s - r < m) update(t, c, nx, first + r * nx + s - r);
            }
        }
    }
    // Rows left over after the last full band: one after the other.
    for (int j = j0; j < j_end; ++j) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
        for (std::ptrdiff_t k = row + 1; k < row + nx - 1; ++k) update(t, c, nx, k);
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

    // Node 1 and the rest of the south row. At k = Nx the east value is the first node of the
    // second row; its coefficient is zero in every assembled system.
    auto south_row = [&] {
        t[0] = ((f[0] - aE[0] * t[1]) - aN[0] * t[nx]) / aP[0];
        for (std::ptrdiff_t k = 1; k < nx; ++k)
            t[k] = (((f[k] - aW[k] * t[k - 1]) - aE[k] * t[k + 1]) - aN[k] * t[k + nx]) / aP[k];
    };
    // Interior nodes. The method defines this pass column by column; the passes below give the
    // same bits, because every interior node still reads its west and south neighbours after
    // their update in this sweep and its east and north neighbours before it, and the west and
    // east boundary columns are not updated by the pass at all. Rows are swept in bands of eight
    // as a skewed wavefront: row j+1 runs one node behind row j, so that the eight updates of a
    // step are independent and their divisions overlap.
    const bool uniform = a.interior_aE.has_value() && a.interior_aN.has_value();
    const Interior<true> uniform_interior{f, aS, aW, aP, aE, aN, a.interior_aE.value_or(0.0), a.interior_aN.value_or(0.0)};
    const Interior<false> general_interior{f, aS, aW, aP, aE, aN, 0.0, 0.0};
    auto interior = [&](int j_begin, int j_end) {
        if (uniform)
            interior_wavefront(t, uniform_interior, nx, j_begin, j_end);
        else
            interior_wavefront(t, general_interior, nx, j_begin, j_end);
    };
    // North row except its last node (its first node's west value is node (Nx, Ny-1)), then node N.
    auto north_row = [&] {
        for (std::ptrdiff_t k = n - nx; k < n - 1; ++k)
            t[k] = (((f[k] - aS[k] * t[k - nx]) - aW[k] * t[k - 1]) - aE[k] * t[k + 1]) / aP[k];
        t[n - 1] = ((f[n - 1] - aS[n - 1] * t[n - 1 - nx]) - aW[n - 1] * t[n - 2]) / aP[n - 1];
    };

    int sweep = 0;
    // Two sweeps at a time, the second running a few rows behind the first, so that each row is
    // brought into the cache once for both. The second sweep updates row j only once the first
    // has finished row j+1 (the values the second sweep reads as north neighbours) and the first
    // no longer needs row j (it reads row j only as south neighbour of row j+1): every node reads
    // exactly the values it reads when the sweeps run one after the other.
    constexpr int kLeadRows = 8;
    for (; sweep + 2 <= sweep_count; sweep += 2) {
        south_row();
        int first = 2;        // next interior row of the first sweep
        int second = 2;       // next interior row of the second sweep
        bool second_started = false;
        while (first <= Ny - 1) {
            const int end = std::min(first + kLeadRows, Ny);
            interior(first, end);
            first = end;
            if (!second_started) {  // the first sweep has finished row 2
                south_row();
                second_started = true;
            }
            if (first - 1 > second) {
                interior(second, first - 1);
                second = first - 1;
            }
        }
        north_row();
        if (!second_started) south_row();
        interior(second, Ny);
        north_row();
    }
    for (; sweep < sweep_count; ++sweep) {
        south_row();
        interior(2, Ny);
        north_row();
    }
}

}  // namespace advdiff::solvers
