#pragma once
// Straightforward versions of optimised kernels, written the way the method defines them, so that
// the benchmark table shows each production kernel next to the plain code it must agree with to
// the last bit. Nothing here is tuned: the point is the comparison.

#include <cstddef>
#include <span>

#include "model/coefficients.hpp"

namespace advdiff::bench {

// `sweep_count` point Gauss-Seidel sweeps in the defining order: node 1; the rest of the south
// row; the interior nodes column by column (i = 2..Nx-1 outer, j = 2..Ny-1 inner); the north row
// but its last node; node N. Every update uses the newest neighbour values, subtracts the products
// in the order south, west, east, north (leaving out the neighbours that lie outside the array)
// and divides by aP last. The west and east columns of the interior rows are not visited.
// Nodes are numbered from 1 as in the formulas, k = (j-1)*Nx + i; grids of at least 2 x 2.
inline void plain_gauss_seidel_sweeps(int Nx, int Ny, int N, int sweep_count, const model::StencilView& a,
                                      std::span<const double> b, std::span<double> T) {
    auto idx = [](int k) { return static_cast<std::size_t>(k - 1); };
    auto aS = [&](int k) { return a.aS[idx(k)]; };
    auto aW = [&](int k) { return a.aW[idx(k)]; };
    auto aP = [&](int k) { return a.aP[idx(k)]; };
    auto aE = [&](int k) { return a.aE[idx(k)]; };
    auto aN = [&](int k) { return a.aN[idx(k)]; };
    auto f = [&](int k) { return b[idx(k)]; };
    auto t = [&](int k) -> double& { return T[idx(k)]; };

    for (int sweep = 1; sweep <= sweep_count; ++sweep) {
        // 1. First node.
        t(1) = ((f(1) - aE(1) * t(2)) - aN(1) * t(1 + Nx)) / aP(1);

        // 2. Rest of the south row; at k = Nx the east neighbour is the first node of row 2.
        for (int k = 2; k <= Nx; ++k)
            t(k) = (((f(k) - aW(k) * t(k - 1)) - aE(k) * t(k + 1)) - aN(k) * t(k + Nx)) / aP(k);

        // 3. Interior nodes, column by column.
        for (int i = 2; i <= Nx - 1; ++i) {
            for (int j = 2; j <= Ny - 1; ++j) {
                const int k = (j - 1) * Nx + i;
                t(k) = ((((f(k) - aS(k) * t(k - Nx)) - aW(k) * t(k - 1)) - aE(k) * t(k + 1)) - aN(k) * t(k + Nx)) /
                       aP(k);
            }
        }

        // 4. North row except its last node; the first one's west neighbour is node (Nx, Ny-1).
        for (int k = (Ny - 1) * Nx + 1; k <= N - 1; ++k)
            t(k) = (((f(k) - aS(k) * t(k - Nx)) - aW(k) * t(k - 1)) - aE(k) * t(k + 1)) / aP(k);

        // 5. Last node.
        t(N) = ((f(N) - aS(N) * t(N - Nx)) - aW(N) * t(N - 1)) / aP(N);
    }
}

}  // namespace advdiff::bench
