#include "solvers/gauss_seidel.hpp"

#include <cstddef>

namespace advdiff::solvers {

namespace {

// The interior nodes of rows j_begin .. j_end - 1 (1-based rows), row after row.
//
// The sweep is defined column by column over the interior; row by row gives the same bits,
// because every interior node still reads its west and south neighbours after their update in
// this sweep and its east and north neighbours before it, and the west and east boundary columns
// are not updated by the pass at all.
template <class S>
void interior_rows(const S& a, const double* f, double* t, std::ptrdiff_t nx, int j_begin, int j_end) {
    for (int j = j_begin; j < j_end; ++j) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
        for (std::ptrdiff_t k = row + 1; k < row + nx - 1; ++k) t[k] = relaxed_value(a, f, t, nx, k);
    }
}

// The same rows as a skewed wavefront of eight: row j+1 runs one node behind row j, so the eight
// updates of a step are independent and their divisions overlap. Each node still reads its west
// and south neighbours after, its east and north neighbours before their update in this sweep.
template <class S>
void interior_wavefront(const S& a, const double* f, double* t, std::ptrdiff_t nx, int j_begin, int j_end) {
    constexpr int kRows = 8;
    const std::ptrdiff_t m = nx - 2;  // interior nodes per row
    if (m <= 0) return;
    int j0 = j_begin;
    for (; j0 + kRows <= j_end; j0 += kRows) {
        // Interior node i of band row r (both 0-based) is updated at step s = i + r.
        const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(j0 - 1) * nx + 1;
        const std::ptrdiff_t steps = m + kRows - 1;
        for (std::ptrdiff_t s = 0; s < steps; ++s) {
            if (s >= kRows - 1 && s < m) {
#pragma GCC unroll 8
                for (int r = 0; r < kRows; ++r) {
                    const std::ptrdiff_t k = first + r * nx + s - r;
                    t[k] = relaxed_value(a, f, t, nx, k);
                }
            } else {
                for (int r = 0; r < kRows; ++r)
                    if (s - r >= 0 && s - r < m) {
                        const std::ptrdiff_t k = first + r * nx + s - r;
                        t[k] = relaxed_value(a, f, t, nx, k);
                    }
            }
        }
    }
    interior_rows(a, f, t, nx, j0, j_end);
}

// Node 1 and the rest of the south row. At k = Nx the east value is the first node of the second
// row, with whatever coefficient node Nx carries.
void south_row(const model::StencilView& a, const double* f, double* t, std::ptrdiff_t nx) {
    const double *aW = a.aW.data(), *aP = a.aP.data(), *aE = a.aE.data(), *aN = a.aN.data();
    t[0] = ((f[0] - aE[0] * t[1]) - aN[0] * t[nx]) / aP[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k)
        t[k] = (((f[k] - aW[k] * t[k - 1]) - aE[k] * t[k + 1]) - aN[k] * t[k + nx]) / aP[k];
}

// The north row except its last node (its first node's west value is node (Nx, Ny-1)), then node N.
void north_row(const model::StencilView& a, const double* f, double* t, std::ptrdiff_t nx, std::ptrdiff_t n) {
    const double *aS = a.aS.data(), *aW = a.aW.data(), *aP = a.aP.data(), *aE = a.aE.data();
    for (std::ptrdiff_t k = n - nx; k < n - 1; ++k)
        t[k] = (((f[k] - aS[k] * t[k - nx]) - aW[k] * t[k - 1]) - aE[k] * t[k + 1]) / aP[k];
    t[n - 1] = ((f[n - 1] - aS[n - 1] * t[n - 1 - nx]) - aW[n - 1] * t[n - 2]) / aP[n - 1];
}

template <class S>
void sweeps(detail::SweepPasses passes, const S& interior_stencil, int Nx, int Ny, int N, int sweep_count,
            const model::StencilView& a, const double* f, double* t) {
    const std::ptrdiff_t nx = Nx, n = N;
    auto interior = [&](int j_begin, int j_end) {
        if (passes.wavefront) interior_wavefront(interior_stencil, f, t, nx, j_begin, j_end);
        else interior_rows(interior_stencil, f, t, nx, j_begin, j_end);
    };
    int sweep = 0;
    // Two sweeps at a time, the second a band of rows behind the first, so that each row is
    // brought from memory once for both. The second sweep updates row j only once the first has
    // finished row j+1 (which the second reads as north neighbours) and after the first has read
    // row j for the last time (as south neighbours of row j+1): every node reads exactly the
    // values it reads when the sweeps run one after the other.
    constexpr int kLeadRows = 8;
    if (passes.paired) {
        for (; sweep + 2 <= sweep_count; sweep += 2) {
            south_row(a, f, t, nx);
            int first = 2;   // next interior row of the first sweep
            int second = 2;  // next interior row of the second sweep
            bool second_started = false;
            while (first <= Ny - 1) {
                const int end = first + kLeadRows < Ny ? first + kLeadRows : Ny;
                interior(first, end);
                first = end;
                if (!second_started) {  // the first sweep has finished row 2
                    south_row(a, f, t, nx);
                    second_started = true;
                }
                if (first - 1 > second) {
                    interior(second, first - 1);
                    second = first - 1;
                }
            }
            north_row(a, f, t, nx, n);
            if (!second_started) south_row(a, f, t, nx);
            interior(second, Ny);
            north_row(a, f, t, nx, n);
        }
    }
    for (; sweep < sweep_count; ++sweep) {
        south_row(a, f, t, nx);
        interior(2, Ny);
        north_row(a, f, t, nx, n);
    }
}

}  // namespace

void gauss_seidel_sweeps(int Nx, int Ny, int N, int sweep_count, const model::StencilView& a,
                         std::span<const double> b, std::span<double> T) {
    sweeps(detail::SweepPasses{}, array_stencil(a), Nx, Ny, N, sweep_count, a, b.data(), T.data());
}

namespace detail {
void gauss_seidel_sweeps_with(SweepPasses passes, int Nx, int Ny, int N, int sweep_count, const model::StencilView& a,
                              const UniformInterior& uniform, std::span<const double> b, std::span<double> T) {
    with_stencil(a, uniform, [&](const auto& s) { sweeps(passes, s, Nx, Ny, N, sweep_count, a, b.data(), T.data()); });
}
}  // namespace detail

// The benchmark (two sweeps per call, this machine type, 33 x 33 to 2049 x 2049): the wavefront
// takes a quarter to a half of the plain loop's time at every size, because the row loop waits
// for each division before the next node can start. Pairing the sweeps pays from 257 x 257 on
// where three coefficient arrays are read (the rotating flow: 2.35 against 2.66 ns per node at
// 257 x 257, 5.4 against 6.8 at 2049 x 2049) and not where every coefficient is a number (1.75
// against 1.62 at 1025 x 1025), nor on smaller grids.
constexpr std::ptrdiff_t kPairedFromNodes = std::ptrdiff_t{1} << 16;

void gauss_seidel_sweeps(int Nx, int Ny, int N, int sweep_count, const model::StencilView& a,
                         const UniformInterior& uniform, std::span<const double> b, std::span<double> T) {
    const detail::SweepPasses passes{true, N >= kPairedFromNodes && !uniform.all()};
    detail::gauss_seidel_sweeps_with(passes, Nx, Ny, N, sweep_count, a, uniform, b, T);
}

}  // namespace advdiff::solvers
