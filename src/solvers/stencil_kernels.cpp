// The level residual and the FAS right-hand side. The plain loop of each reads every coefficient
// from its array; the production one reads those uniform over the interior as numbers at interior
// nodes: the same doubles, so the same bits. Each position is written once from values the pass
// does not write, so the order of the visits has no effect; rows are walked in storage order.

#include <cstddef>

#include "solvers/kernels.hpp"

namespace advdiff::solvers {

namespace {

// The nodes from (2, 2) to (Nx-1, Ny-1) whose 0-based row and column are multiples of `every`, the
// range including the west and east boundary nodes of the rows between (which read the arrays);
// node (step c, step m) is stored at r[m columns + c].
template <class S>
ADVDIFF_WIDE_KERNEL void residual(const S& interior, const GridSystem& s, const double* f, const double* x, double* r,
                                  int every) {
    const ArrayStencil a = array_stencil(s.view());
    const std::ptrdiff_t nx = s.grid.Nx, n = s.grid.N(), step = every > 1 ? every : 1, columns = (nx - 1) / step + 1;
    const std::ptrdiff_t first = nx + 1, last = n - nx - 2;
    for (std::ptrdiff_t row = step * nx, m = 1; row < n - nx; row += step * nx, ++m) {
        double* o = r + m * columns;  // this row's samples
        if (row >= first) o[0] = residual_value(a, f, x, nx, row);
        for (std::ptrdiff_t c = 1; step * c < nx - 1; ++c) o[c] = residual_value(interior, f, x, nx, row + step * c);
        if ((nx - 1) % step == 0 && row + nx - 1 <= last) o[columns - 1] = residual_value(a, f, x, nx, row + nx - 1);
    }
}

// Every node of the coarse level, each neighbour term present where its index lies inside the
// level (the west and east terms of a middle row's ends wrap to the rows beside it).
template <class S>
ADVDIFF_WIDE_KERNEL void fas(const S& interior, const GridSystem& s, const double* r, const double* x, double* f) {
    const ArrayStencil a = array_stencil(s.view());
    const std::ptrdiff_t nx = s.grid.Nx, ny = s.grid.Ny, n = s.grid.N();
    auto edge = [&]<unsigned Has>(std::ptrdiff_t k) { f[k] = applied_value<Has>(a, x, nx, k) + r[k]; };
    for_nodes(nx, n, 0, nx, edge);
    for (std::ptrdiff_t row = 1; row < ny - 1; ++row) {
        const std::ptrdiff_t begin = row * nx, end = begin + nx - 1;
        f[begin] = applied_value(a, x, nx, begin) + r[begin];
        for (std::ptrdiff_t k = begin + 1; k < end; ++k) f[k] = applied_value(interior, x, nx, k) + r[k];
        f[end] = applied_value(a, x, nx, end) + r[end];
    }
    for_nodes(nx, n, n - nx, n, edge);
}

}  // namespace

void level_residual(const StencilParams& p, const GridSystem& s, std::span<const double> f,
                    std::span<const double> X, std::span<double> r) {
    with_stencil(s.view(), s.uniform_for(p.path),
                 [&](const auto& interior) { residual(interior, s, f.data(), X.data(), r.data(), p.every); });
}

void fas_right_hand_side(const StencilParams& p, const GridSystem& s, std::span<const double> injected_residual,
                         std::span<const double> X, std::span<double> f) {
    with_stencil(s.view(), s.uniform_for(p.path),
                 [&](const auto& interior) { fas(interior, s, injected_residual.data(), X.data(), f.data()); });
}

}  // namespace advdiff::solvers
