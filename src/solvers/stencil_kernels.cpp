// The two stencil kernels of the FAS cycle besides the smoothers: the level residual and the FAS
// right-hand side. The plain loop of each is the ArrayStencil instantiation (every coefficient
// from its array); the production one reads the uniform coefficients as numbers, which are the
// same doubles, so the same bits.

#include <cstddef>

#include "solvers/kernels.hpp"
#include "state/problem_state.hpp"

namespace advdiff::solvers {

namespace {

// f(k) = (A X)(k) + r(k) for every node of the coarse level, where r is the finer level's residual
// at the coincident node (its injection) and each neighbour term is present only when its index
// lies inside the level, west and east terms wrapping across row ends with whatever coefficient
// the node carries. The interior nodes of a row have all four neighbours inside, and there the
// stencil's applied value (the same sum in the same order) serves, reading the uniform
// coefficients as numbers.
template <class S>
void fas_right_hand_side_with(const S& interior, int Nx, int Ny, int N, const model::StencilView& a,
                              std::span<const double> X, std::span<const double> fine_residual, int nf,
                              std::span<double> f) {
    const std::ptrdiff_t nx = Nx, n = N;
    const double* x = X.data();
    auto edge = [&](int ic, int jc) {
        const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(node(ic, jc, Nx));
        double value = a.aP[k] * x[k];
        if (k >= 1) value = value + a.aW[k] * x[k - 1];
        if (k + 1 < n) value = value + a.aE[k] * x[k + 1];
        if (k >= nx) value = value + a.aS[k] * x[k - nx];
        if (k + nx < n) value = value + a.aN[k] * x[k + nx];
        f[k] = value + fine_residual[node(2 * ic - 1, 2 * jc - 1, nf)];
    };
    for (int jc = 1; jc <= Ny; ++jc) {
        if (jc == 1 || jc == Ny) {
            for (int ic = 1; ic <= Nx; ++ic) edge(ic, jc);
            continue;
        }
        edge(1, jc);
        const double* r = fine_residual.data() + node(1, 2 * jc - 1, nf);
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(jc - 1) * nx;
        for (std::ptrdiff_t i = 1; i < nx - 1; ++i)
            f[row + i] = applied_value(interior, x, nx, row + i) + r[2 * i];
        if (Nx > 1) edge(Nx, jc);
    }
}

// r = f - aS X(k-Nx) - aW X(k-1) - aP X(k) - aE X(k+1) - aN X(k+Nx), subtracted in this order, from
// the first interior node (2, 2) to the last (Nx-1, Ny-1) in node order; that range includes the
// west and east boundary nodes of the rows between, whose coefficients come from the arrays.
// Positions outside it keep their zero. Each position is written once from values the pass does
// not write, so the order of the visits has no effect.
template <class S>
void level_residual_with(const S& interior, int Ny, int N, const model::StencilView& a, std::ptrdiff_t nx,
                         std::span<const double> X, std::span<const double> f, std::span<double> r) {
    const ArrayStencil arrays = array_stencil(a);
    const std::ptrdiff_t n = N;
    const double* x = X.data();
    const double* b = f.data();
    const std::ptrdiff_t first = nx + 1, last = n - nx - 2;
    for (int j = 2; j <= Ny - 1; ++j) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
        for (std::ptrdiff_t k = row + 1; k < row + nx - 1; ++k) r[k] = residual_value(interior, b, x, nx, k);
        // The east node of this row and the west node of the next, where they lie in the range.
        for (std::ptrdiff_t k : {row + nx - 1, row + nx})
            if (k >= first && k <= last) r[k] = residual_value(arrays, b, x, nx, k);
    }
}

}  // namespace

void level_residual(int Nx, int Ny, int N, const model::StencilView& a, const UniformInterior& uniform,
                    std::span<const double> X, std::span<const double> f, std::span<double> r) {
    with_stencil(a, uniform, [&](const auto& s) { level_residual_with(s, Ny, N, a, Nx, X, f, r); });
}

void fas_right_hand_side(int Nx, int Ny, int N, const model::StencilView& a, const UniformInterior& uniform,
                         std::span<const double> X, std::span<const double> fine_residual, int nf,
                         std::span<double> f) {
    with_stencil(a, uniform, [&](const auto& s) { fas_right_hand_side_with(s, Nx, Ny, N, a, X, fine_residual, nf, f); });
}

}  // namespace advdiff::solvers
