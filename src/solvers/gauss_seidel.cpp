#include "solvers/gauss_seidel.hpp"

#include <cstddef>

namespace advdiff::solvers {

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

        // Interior nodes, row by row. The method defines this pass column by column; row order
        // gives the same bits, because every interior node still reads its west and south
        // neighbours after and its east and north neighbours before their update in this sweep,
        // and the west and east boundary columns are not updated by the pass at all.
        for (int j = 2; j <= Ny - 1; ++j) {
            const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
            for (std::ptrdiff_t k = row + 1; k < row + nx - 1; ++k)
                t[k] = ((((f[k] - aS[k] * t[k - nx]) - aW[k] * t[k - 1]) - aE[k] * t[k + 1]) - aN[k] * t[k + nx]) /
                       aP[k];
        }

        // North row except its last node; its first node's west value is node (Nx, Ny-1).
        for (std::ptrdiff_t k = n - nx; k < n - 1; ++k)
            t[k] = (((f[k] - aS[k] * t[k - nx]) - aW[k] * t[k - 1]) - aE[k] * t[k + 1]) / aP[k];
        t[n - 1] = ((f[n - 1] - aS[n - 1] * t[n - 1 - nx]) - aW[n - 1] * t[n - 2]) / aP[n - 1];
    }
}

}  // namespace advdiff::solvers
