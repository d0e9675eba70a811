#pragma once
// Point Gauss-Seidel relaxation of the five-point system.

#include <span>

#include "model/coefficients.hpp"

namespace advdiff::solvers {

// `sweep_count` lexicographic sweeps over T (nothing when below 1). Each sweep updates, in this
// order: node 1; the rest of the south row; the interior nodes; the north row but its last node;
// node N. Every update uses the newest neighbour values and evaluates
//   T(k) = ((((b - aS T(k-Nx)) - aW T(k-1)) - aE T(k+1)) - aN T(k+Nx)) / aP
// leaving out the terms whose neighbour lies outside the array. The west and east columns of the
// interior rows are never visited: they keep the values they had.
void gauss_seidel_sweeps(int Nx, int Ny, int N, int sweep_count, const model::StencilView& a,
                         std::span<const double> b, std::span<double> T);

}  // namespace advdiff::solvers
