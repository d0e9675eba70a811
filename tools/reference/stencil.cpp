#include "stencil.hpp"

namespace advdiff::reference {

double equation_scale(const model::StencilView& a, std::span<const double> b, int Nx, int Ny,
                      std::span<const double> x) {
    const std::ptrdiff_t nx = Nx;
    double scale = 0.0;
    for (int j = 1; j <= Ny; ++j) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
        for (std::ptrdiff_t i = 0; i < nx; ++i) {
            const std::ptrdiff_t k = row + i;
            double sum = std::fabs(b[k]) + std::fabs(a.aP[k] * x[k]);
            if (i > 0) sum += std::fabs(a.aW[k] * x[k - 1]);
            if (i + 1 < nx) sum += std::fabs(a.aE[k] * x[k + 1]);
            if (j > 1) sum += std::fabs(a.aS[k] * x[k - nx]);
            if (j < Ny) sum += std::fabs(a.aN[k] * x[k + nx]);
            scale = max_magnitude(scale, sum);
        }
    }
    return scale;
}

double gauss_seidel_sweep(const model::StencilView& a, std::span<const double> b, int Nx, int Ny,
                          std::span<double> x, bool forward, double omega) {
    const std::ptrdiff_t nx = Nx;
    const double* aP = a.aP.data();
    const double* aW = a.aW.data();
    const double* aE = a.aE.data();
    const double* aS = a.aS.data();
    const double* aN = a.aN.data();
    const double* rhs = b.data();
    double* T = x.data();
    const bool relaxed = omega != 1.0;
    double change = 0.0;
    // The neighbour updated just before (west going forward, east going backward) comes last, so
    // that the other terms need not wait for it.
    auto relax = [&](std::ptrdiff_t k) {
        const double north_south = aS[k] * T[k - nx] + aN[k] * T[k + nx];
        const double value = forward ? ((rhs[k] - aE[k] * T[k + 1]) - north_south - aW[k] * T[k - 1]) / aP[k]
                                     : ((rhs[k] - aW[k] * T[k - 1]) - north_south - aE[k] * T[k + 1]) / aP[k];
        const double updated = relaxed ? T[k] + omega * (value - T[k]) : value;
        change = max_magnitude(change, updated - T[k]);
        T[k] = updated;
    };
    if (forward) {
        for (int j = 2; j <= Ny - 1; ++j) {
            const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
            for (std::ptrdiff_t k = row + 1; k < row + nx - 1; ++k) relax(k);
        }
    } else {
        for (int j = Ny - 1; j >= 2; --j) {
            const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
            for (std::ptrdiff_t k = row + nx - 2; k > row; --k) relax(k);
        }
    }
    return change;
}

}  // namespace advdiff::reference
