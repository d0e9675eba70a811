#pragma once
// Point Gauss-Seidel relaxation of the five-point system.

#include <span>

#include "model/coefficients.hpp"
#include "solvers/five_point.hpp"

namespace advdiff::solvers {

// `sweep_count` lexicographic sweeps over T (nothing when below 1). Each sweep updates, in this
// order: node 1; the rest of the south row; the interior nodes; the north row but its last node;
// node N. Every update uses the newest neighbour values and evaluates
//   T(k) = ((((b - aS T(k-Nx)) - aW T(k-1)) - aE T(k+1)) - aN T(k+Nx)) / aP
// leaving out the terms whose neighbour lies outside the array. The west and east columns of the
// interior rows are never visited: they keep the values they had.
//
// The plain loop: every coefficient from its array, the interior row by row, one sweep after the
// other. It is the definition the faster path below is tested against bit for bit.
void gauss_seidel_sweeps(int Nx, int Ny, int N, int sweep_count, const model::StencilView& a,
                         std::span<const double> b, std::span<double> T);

// The same sweeps, reading the coefficients in `uniform` as numbers rather than arrays (same
// bits: the same doubles), and with the interior pass chosen for the grid size.
void gauss_seidel_sweeps(int Nx, int Ny, int N, int sweep_count, const model::StencilView& a,
                         const UniformInterior& uniform, std::span<const double> b, std::span<double> T);

namespace detail {
// The interior passes a sweep may use, for the benchmark and the tests: rows one after the other,
// or eight rows as a skewed wavefront; and two sweeps at a time, the second one row behind.
struct SweepPasses {
    bool wavefront = false;
    bool paired = false;
};
void gauss_seidel_sweeps_with(SweepPasses passes, int Nx, int Ny, int N, int sweep_count, const model::StencilView& a,
                              const UniformInterior& uniform, std::span<const double> b, std::span<double> T);
}  // namespace detail

}  // namespace advdiff::solvers
