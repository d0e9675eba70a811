#pragma once
// The operators between levels (fixed ratio two: coarse node (ic, jc) coincides with fine node
// (2 ic - 1, 2 jc - 1)) and the boundary values of a level.

#include <span>

#include "model/model_problem.hpp"

namespace advdiff::multigrid {

// Injection: every coarse node of an Nx x Ny level, boundary included, takes the value of its
// coincident node (2 ic - 1, 2 jc - 1) of the finer level (row length nf). No averaging.
void inject(int Nx, int Ny, std::span<const double> fine, int nf, std::span<double> coarse);

// Bilinear prolongation of a coarse correction (row length nc), added to the interior nodes of a
// fine level of nf x ny_f nodes: coincident nodes gain E, edge midpoints the mean of two coarse
// values, cell centres the mean of four (summed left to right, then weighted). Fine boundary
// nodes are not changed.
void prolongate_correction(int nf, int ny_f, std::span<const double> correction, int nc, std::span<double> solution);

// Writes the Dirichlet values of the case into the boundary nodes of X (the level of `values`):
// north row, south row, west column, east column, in this order, so that each corner keeps the
// value of the side written last. Interior nodes are not changed. The values come from the
// level's table, made once per run: no sin is evaluated in a cycle.
void apply_boundary_values(const model::GridValues& values, std::span<double> X);

}  // namespace advdiff::multigrid
