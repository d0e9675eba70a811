#include "solvers/adi.hpp"

namespace advdiff::solvers {

void adi_solve(int Nx, int Ny, int N, int count, const model::StencilView& a, std::span<const double> b,
               std::span<double> T, AdiWork& work) {
    const double* aS = a.aS.data();
    const double* aW = a.aW.data();
    const double* aP = a.aP.data();
    const double* aE = a.aE.data();
    const double* aN = a.aN.data();
    const double* f = b.data();
    double* t = T.data();
    double* p = work.p.data();
    double* q = work.q.data();
    const std::ptrdiff_t nx = Nx, ny = Ny, n = N;

    for (int iteration = 0; iteration < count; ++iteration) {
        // Row half-sweep: forward pass of every row before T changes. Each row continues from
        // the last node of the row below through aW of its west node, which is zero in every
        // assembled system, so each row starts afresh.
        p[0] = -aE[0] / aP[0];
        q[0] = (f[0] - aN[0] * t[nx]) / aP[0];
        for (std::ptrdiff_t k = 1; k < nx; ++k) {
            const double d = aP[k] + aW[k] * p[k - 1];
            p[k] = -aE[k] / d;
            q[k] = ((f[k] - aN[k] * t[k + nx]) - aW[k] * q[k - 1]) / d;
        }
        for (std::ptrdiff_t k = nx; k < n - nx; ++k) {
            const double d = aW[k] * p[k - 1] + aP[k];
            p[k] = -aE[k] / d;
            q[k] = ((f[k] - (aS[k] * t[k - nx] + aN[k] * t[k + nx])) - aW[k] * q[k - 1]) / d;
        }
        for (std::ptrdiff_t k = n - nx; k < n; ++k) {
            const double d = aW[k] * p[k - 1] + aP[k];
            p[k] = -aE[k] / d;
            q[k] = ((f[k] - aS[k] * t[k - nx]) - aW[k] * q[k - 1]) / d;
        }
        // Back substitution of every row.
        for (std::ptrdiff_t j = 0; j < ny; ++j) {
            const std::ptrdiff_t last = j * nx + nx - 1;
            t[last] = q[last];
        }
        for (std::ptrdiff_t j = 0; j < ny; ++j) {
            const std::ptrdiff_t row = j * nx;
            for (std::ptrdiff_t k = row + nx - 2; k >= row; --k) t[k] = p[k] * t[k + 1] + q[k];
        }

        // Column half-sweep: the south row starts every column.
        p[0] = -aN[0] / aP[0];
        q[0] = (f[0] - aE[0] * t[1]) / aP[0];
        for (std::ptrdiff_t k = 1; k < nx; ++k) {
            p[k] = -aN[k] / aP[k];
            q[k] = (f[k] - (aW[k] * t[k - 1] + aE[k] * t[k + 1])) / aP[k];
        }
        // The columns are independent lines; walking the rows in order (instead of column by
        // column) performs the same operations on the same values.
        for (std::ptrdiff_t k = nx; k < n - 1; ++k) {
            const double d = aS[k] * p[k - nx] + aP[k];
            p[k] = -aN[k] / d;
            q[k] = ((f[k] - (aW[k] * t[k - 1] + aE[k] * t[k + 1])) - aS[k] * q[k - nx]) / d;
        }
        {
            const std::ptrdiff_t k = n - 1;
            const double d = aS[k] * p[k - nx] + aP[k];
            p[k] = -aN[k] / d;
            q[k] = ((f[k] - aW[k] * t[k - 1]) - aS[k] * q[k - nx]) / d;
        }
        for (std::ptrdiff_t k = n - nx; k < n; ++k) t[k] = q[k];
        for (std::ptrdiff_t k = n - nx - 1; k >= 0; --k) t[k] = p[k] * t[k + nx] + q[k];
    }
}

}  // namespace advdiff::solvers
