#pragma once
// The boundary values of a level. The operators between levels (fixed ratio two: coarse node
// (ic, jc) coincides with fine node (2 ic - 1, 2 jc - 1)) are declared with the other kernels.

#include <span>

#include "model/model_problem.hpp"
#include "solvers/kernels.hpp"  // inject, prolongate_correction

namespace advdiff::multigrid {

// Writes the Dirichlet values of the case into the boundary nodes of X (the level of `values`):
// north row, south row, west column, east column, in this order, so that each corner keeps the
// value of the side written last. Interior nodes are not changed. The values come from the
// level's table, made once per run: no sin is evaluated in a cycle.
void apply_boundary_values(const model::GridValues& values, std::span<double> X);

}  // namespace advdiff::multigrid
