// Gaussian elimination without pivoting, defined on the dense N x (N+1) augmented matrix (the plain
// loop below). Every fill-in stays inside the band |column - row| <= Nx, and the dense algorithm only
// subtracts f * 0 from the entries outside it. The production path stores the band and the
// right-hand side (memory O(N Nx), time O(N Nx^2)) and performs the dense algorithm's operations on
// every entry inside the band: the same bits (at most the sign of a zero can differ). Where f * 0
// is not zero (a zero or NaN pivot, an infinite or NaN value meeting a zero) it reproduces the
// effect: the whole solution NaN, or, in the back substitution, every T(k) whose row meets a
// non-finite T(l) beyond its band.

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "solvers/kernels.hpp"

namespace advdiff::solvers {

namespace {

// Row k of the matrix, 0-based: at(k, c) := the coefficient of each neighbour whose column c lies
// inside 0 .. n-1.
template <class At>
void place_row(const model::StencilView& a, std::ptrdiff_t n, std::ptrdiff_t nx, std::ptrdiff_t k, At&& at) {
    if (k >= nx) at(k, k - nx) = a.aS[k];
    if (k >= 1) at(k, k - 1) = a.aW[k];
    at(k, k) = a.aP[k];
    if (k + 1 < n) at(k, k + 1) = a.aE[k];
    if (k + nx < n) at(k, k + nx) = a.aN[k];
}

// The plain elimination, as defined: the dense N x (N+1) augmented matrix, stored column after
// column, every row below each pivot eliminated over every column from the pivot on, back
// substitution over the whole row.
void dense(int N, int Nx, const model::StencilView& a, std::span<const double> b, std::span<double> T) {
    const auto n = static_cast<std::size_t>(N);
    std::vector<double> dense_matrix(n * (n + 1), 0.0);
    auto at = [&](int r, int c) -> double& { return dense_matrix[static_cast<std::size_t>(c - 1) * n + (r - 1)]; };
    auto t = [&](int k) -> double& { return T[static_cast<std::size_t>(k - 1)]; };
    for (int k = 1; k <= N; ++k) {
        place_row(a, N, Nx, k - 1, [&](std::ptrdiff_t r, std::ptrdiff_t c) -> double& { return at(r + 1, c + 1); });
        at(k, N + 1) = b[static_cast<std::size_t>(k - 1)];
    }
    for (int p = 1; p <= N - 1; ++p)
        for (int r = p + 1; r <= N; ++r) {
            const double f = at(r, p) / at(p, p);
            for (int c = p; c <= N + 1; ++c) at(r, c) = at(r, c) - f * at(p, c);
        }
    t(N) = at(N, N + 1) / at(N, N);
    for (int k = N - 1; k >= 1; --k) {
        double s = 0.0;
        for (int l = k + 1; l <= N; ++l) s = s + at(k, l) * t(l);
        t(k) = (at(k, N + 1) - s) / at(k, k);
    }
}

}  // namespace

void gauss_elimination(const EliminationParams& params, const GridSystem& s, std::span<const double> b,
                       std::span<double> T, Scratch& scratch) {
    const model::StencilView a = s.view();
    if (params.path == Path::plain) return dense(s.grid.N(), s.grid.Nx, a, b, T);
    const std::ptrdiff_t n = s.grid.N(), nx = s.grid.Nx, width = 2 * nx + 1;
    // The band (row r, column c at r (2 Nx + 1) + (c - r + Nx)) and column N+1 of the matrix.
    std::fill(scratch.v[0].begin(), scratch.v[0].begin() + n * width, 0.0);
    std::copy(b.begin(), b.begin() + n, scratch.v[1].begin());
    double *band = scratch.v[0].data(), *rhs = scratch.v[1].data();
    // Entry (row r, column c), 0-based, |c - r| <= Nx.
    auto at = [&](std::ptrdiff_t r, std::ptrdiff_t c) -> double& { return band[r * width + (c - r + nx)]; };
    for (std::ptrdiff_t k = 0; k < n; ++k) place_row(a, n, nx, k, at);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    bool poisoned = false;  // the dense algorithm would have turned the whole solution into NaN

    // Forward elimination. The update of the pivot column itself (A(r,p) - f A(p,p)) is left
    // out: the dense algorithm writes it but never reads it again.
    for (std::ptrdiff_t p = 0; p + 1 < n && !poisoned; ++p) {
        const double pivot = at(p, p);
        const std::ptrdiff_t last = std::min(p + nx, n - 1);  // last row and column of the band
        // Rows and columns beyond the band exist: there the dense algorithm computes f * A(p,c)
        // with A(r,p) = 0 or A(p,c) = 0, which is NaN when the pivot is 0 or NaN, when a value of
        // the pivot row is not finite, or when a multiplier is not finite.
        const bool outside = p + nx < n - 1;
        if (outside) {
            if (pivot == 0.0 || std::isnan(pivot) || !std::isfinite(rhs[p])) poisoned = true;
            for (std::ptrdiff_t c = p + 1; c <= last && !poisoned; ++c)
                if (!std::isfinite(at(p, c))) poisoned = true;
        }
        const double* pivot_row = &at(p, p);
        for (std::ptrdiff_t r = p + 1; r <= last && !poisoned; ++r) {
            const double f = at(r, p) / pivot;
            if (outside && !std::isfinite(f)) poisoned = true;
            double* row = &at(r, p);
            for (std::ptrdiff_t c = 1; c <= last - p; ++c) row[c] = row[c] - f * pivot_row[c];
            rhs[r] = rhs[r] - f * rhs[p];
        }
    }
    if (poisoned) { std::fill(T.begin(), T.begin() + n, nan); return; }

    // Back substitution. Beyond the band the dense sum adds 0 * T(l), which is NaN as soon as
    // some T(l) there is not finite. Row N has no sum: rhs - 0.0 is rhs, bit for bit.
    std::ptrdiff_t highest_non_finite = -1;
    for (std::ptrdiff_t k = n - 1; k >= 0; --k) {
        double value = nan;
        if (highest_non_finite <= k + nx) {
            const std::ptrdiff_t last = std::min(k + nx, n - 1);
            const double* row = &at(k, k);
            double sum = 0.0;
            for (std::ptrdiff_t l = k + 1; l <= last; ++l) sum = sum + row[l - k] * T[static_cast<std::size_t>(l)];
            value = (rhs[k] - sum) / row[0];
        }
        T[static_cast<std::size_t>(k)] = value;
        if (!std::isfinite(value) && highest_non_finite < 0) highest_non_finite = k;
    }
}

}  // namespace advdiff::solvers
