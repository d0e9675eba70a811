#pragma once
// The boundary values of a level. The operators between levels (fixed ratio two: coarse node
// (ic, jc) coincides with fine node (2 ic - 1, 2 jc - 1)) are declared with the other kernels.

#include <span>

#include "model/model_problem.hpp"
#include "solvers/kernels.hpp"  // inject, prolongate_correction

namespace advdiff::multigrid {

// Writes the Dirichlet values of the case into the boundary nodes of X (an Nx x Ny level): north
// row, south row, west column, east column, in this order, so that each corner keeps the value of
// the side written last. Interior nodes are not changed.
void apply_boundary_values(const model::ModelCase& c, int Nx, int Ny, std::span<double> X);

}  // namespace advdiff::multigrid
