#pragma once
// The numerical kernels, all in one place: each takes sizes and spans (and, where it may use them,
// the coefficients found uniform over the interior), touches nothing else, prints nothing and
// returns nothing but its result. Grids are Nx x Ny nodes in node order k = (j-1) Nx + i. The
// drivers (single grid, FAS cycle) call these and nothing below them.
//
// Every kernel's file opens with its plain loop in the order that defines its result; a faster
// path beside it is provably bit-identical (the proof is the comment next to it) and tested bit
// for bit against the plain loop.

#include <span>

#include "model/coefficients.hpp"
#include "model/norm.hpp"              // l1_mean_difference: the iteration-error norm
#include "solvers/adi.hpp"             // adi_solve: row and column line passes
#include "solvers/five_point.hpp"      // the stencil and UniformInterior
#include "solvers/gauss_elimination.hpp"  // gauss_elimination: band elimination
#include "solvers/gauss_seidel.hpp"    // gauss_seidel_sweeps
#include "solvers/msi.hpp"             // msi_factorise, msi_solve, msi_residual

namespace advdiff::solvers {

// The residual r = ((((f - aS X(k-Nx)) - aW X(k-1)) - aP X(k)) - aE X(k+1)) - aN X(k+Nx) from the
// first interior node (2, 2) to the last (Nx-1, Ny-1) in node order (the west and east boundary
// nodes of the rows between included); the other positions of r are not written. The interior
// nodes read the coefficients in `uniform` as numbers; pass UniformInterior{} for the plain loop.
void level_residual(int Nx, int Ny, int N, const model::StencilView& a, const UniformInterior& uniform,
                    std::span<const double> X, std::span<const double> f, std::span<double> r);

// The FAS right-hand side of a coarse Nx x Ny level: f(k) = (A X)(k) + r(k) at every node, with r
// the finer level's residual (row length nf) at the coincident node and (A X)(k) summed as
// (((aP X(k) + aW X(k-1)) + aE X(k+1)) + aS X(k-Nx)) + aN X(k+Nx), each neighbour term only where
// its index lies inside the level. `uniform` as above.
void fas_right_hand_side(int Nx, int Ny, int N, const model::StencilView& a, const UniformInterior& uniform,
                         std::span<const double> X, std::span<const double> fine_residual, int nf,
                         std::span<double> f);

}  // namespace advdiff::solvers

namespace advdiff::multigrid {

// Injection: every coarse node of an Nx x Ny level, boundary included, takes the value of its
// coincident node (2 ic - 1, 2 jc - 1) of the finer level (row length nf). No averaging.
void inject(int Nx, int Ny, std::span<const double> fine, int nf, std::span<double> coarse);

// Bilinear prolongation of a coarse correction (row length nc), added to the interior nodes of a
// fine level of nf x ny_f nodes: coincident nodes gain E, edge midpoints the mean of two coarse
// values, cell centres the mean of four (summed left to right, then weighted). Fine boundary
// nodes are not changed.
void prolongate_correction(int nf, int ny_f, std::span<const double> correction, int nc, std::span<double> solution);

}  // namespace advdiff::multigrid
