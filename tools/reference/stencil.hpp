#pragma once
// What the parts of the reference tool share: grid sizes and their text, saturating byte counts,
// and the operations on the five-point system of one grid (the residual b - A x and the
// Gauss-Seidel sweeps). Boundary nodes carry identity equations; a coefficient whose neighbour
// lies outside the grid is never used.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include "model/coefficients.hpp"

namespace advdiff::reference {

struct GridSize {
    int nx;
    int ny;
};

// "17 x 9", as the tool's messages and its summary line show a grid.
inline std::string grid_text(int Nx, int Ny) { return std::to_string(Nx) + " x " + std::to_string(Ny); }

// a * b for byte and element counts, saturating at the largest uint64 instead of wrapping.
inline std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

inline std::uint64_t saturating_sum(std::uint64_t a, std::uint64_t b) {
    return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

// max(norm, |value|), where a value that is not a number wins, so that a broken solution shows.
inline double max_magnitude(double norm, double value) {
    const double magnitude = std::fabs(value);
    return (magnitude <= norm) ? norm : magnitude;
}

// r = b - A x for every node, the sum of each row accumulated in Real (long double for the final
// residual and the refinement, double inside the multigrid cycle). Returns max |r|. `r` may be
// empty when only the norm is wanted.
template <class Real>
double residual(const model::StencilView& a, std::span<const double> b, int Nx, int Ny, std::span<const double> x,
                std::span<double> r) {
    const std::ptrdiff_t nx = Nx;
    double norm = 0.0;
    for (int j = 1; j <= Ny; ++j) {
        const bool has_south = j > 1, has_north = j < Ny;
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
        for (std::ptrdiff_t i = 0; i < nx; ++i) {
            const std::ptrdiff_t k = row + i;
            Real sum = static_cast<Real>(a.aP[k]) * x[k];
            if (i > 0) sum += static_cast<Real>(a.aW[k]) * x[k - 1];
            if (i + 1 < nx) sum += static_cast<Real>(a.aE[k]) * x[k + 1];
            if (has_south) sum += static_cast<Real>(a.aS[k]) * x[k - nx];
            if (has_north) sum += static_cast<Real>(a.aN[k]) * x[k + nx];
            const double value = static_cast<double>(static_cast<Real>(b[k]) - sum);
            if (!r.empty()) r[k] = value;
            norm = max_magnitude(norm, value);
        }
    }
    return norm;
}

// The size of the terms of the equations at x: max over the nodes of |b| + sum |a_nb x_nb|. A
// residual that is a small multiple of the unit round-off times this is as small as it can get.
double equation_scale(const model::StencilView& a, std::span<const double> b, int Nx, int Ny,
                      std::span<const double> x);

// One Gauss-Seidel sweep over the interior nodes with over-relaxation factor omega, in node order
// (forward: i fastest, j outer) or in the reverse order. Boundary values are left as they are.
// Returns the largest change of a node value.
double gauss_seidel_sweep(const model::StencilView& a, std::span<const double> b, int Nx, int Ny,
                          std::span<double> x, bool forward, double omega = 1.0);

}  // namespace advdiff::reference
