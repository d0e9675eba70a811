// The level residual and the FAS right-hand side. The plain loop of each reads every coefficient
// from its array; the production one reads those uniform over the interior as numbers at interior
// nodes: the same doubles, so the same bits. Each position is written once from values the pass
// does not write, so the order of the visits has no effect; rows are walked in storage order.

#include <cstddef>

#include "solvers/kernels.hpp"

namespace advdiff::solvers {

namespace {

// Positions from node (2, 2) to (Nx-1, Ny-1) whose 0-based row and column are multiples of `every`;
// the range includes the west and east boundary nodes of the rows between, which read the arrays.
template <class S>
ADVDIFF_WIDE_KERNEL void residual(const S& interior, const GridSystem& s, const double* f, const double* x, double* r,
                                  int every) {
    const ArrayStencil a = array_stencil(s.view());
    const std::ptrdiff_t nx = s.grid.Nx, n = s.grid.N(), step = every > 1 ? every : 1;
    const std::ptrdiff_t first = nx + 1, last = n - nx - 2;
    for (std::ptrdiff_t row = step * nx; row < n - nx; row += step * nx) {
        if (row >= first) r[row] = residual_value(a, f, x, nx, row);
        for (std::ptrdiff_t k = row + step; k < row + nx - 1; k += step) r[k] = residual_value(interior, f, x, nx, k);
        if ((nx - 1) % step == 0 && row + nx - 1 <= last) r[row + nx - 1] = residual_value(a, f, x, nx, row + nx - 1);
    }
}

// Every node of the coarse level, each neighbour term present where its index lies inside the
// level (the west and east terms of a middle row's ends wrap to the rows beside it).
template <class S>
ADVDIFF_WIDE_KERNEL void fas(const S& interior, const GridSystem& s, const double* fine, std::ptrdiff_t nf,
                             const double* x, double* f) {
    const ArrayStencil a = array_stencil(s.view());
    const std::ptrdiff_t nx = s.grid.Nx, ny = s.grid.Ny, n = s.grid.N();
    // The finer level's node coincident with coarse node k of row `row`.
    auto at = [&](std::ptrdiff_t row, std::ptrdiff_t k) { return fine[2 * row * nf + 2 * (k - row * nx)]; };
    auto edge = [&]<unsigned Has>(std::ptrdiff_t k) { f[k] = applied_value<Has>(a, x, nx, k) + at(k / nx, k); };
    for_nodes(nx, n, 0, nx, edge);
    for (std::ptrdiff_t row = 1; row < ny - 1; ++row) {
        const std::ptrdiff_t begin = row * nx, end = begin + nx - 1;
        f[begin] = applied_value(a, x, nx, begin) + at(row, begin);
        for (std::ptrdiff_t k = begin + 1; k < end; ++k) f[k] = applied_value(interior, x, nx, k) + at(row, k);
        f[end] = applied_value(a, x, nx, end) + at(row, end);
    }
    for_nodes(nx, n, n - nx, n, edge);
}

}  // namespace

void level_residual(const StencilParams& p, const GridSystem& s, std::span<const double> f,
                    std::span<const double> X, std::span<double> r) {
    with_stencil(s.view(), s.uniform_for(p.path),
                 [&](const auto& interior) { residual(interior, s, f.data(), X.data(), r.data(), p.every); });
}

void fas_right_hand_side(const StencilParams& p, const GridSystem& s, std::span<const double> fine_residual,
                         std::span<const double> X, std::span<double> f) {
    with_stencil(s.view(), s.uniform_for(p.path),
                 [&](const auto& interior) { fas(interior, s, fine_residual.data(), p.fine_nx, X.data(), f.data()); });
}

}  // namespace advdiff::solvers
