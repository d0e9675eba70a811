#pragma once
// advdiff2d-reference: computes the exact solution of the discrete system of a run (the same
// input files, the same finest grid, the same five-point equations as advdiff2d) and writes it
// as the reference file exata<reference_file_index> that the run compares its iterates with.
//
// What it shares with the program and what it keeps apart. It takes the program's input reading,
// its hierarchy sizes and its coefficients, because the reference must solve the very system the
// program solves, and in its multigrid the program's bilinear prolongation, which decides only
// how fast a cycle converges. Everything that decides whether an answer is right is its own: the
// banded LU, the smoother, the restriction and the residual check (its own stencil product,
// summed in long double) by which every answer is accepted or refused. So a fault in the
// program's solvers cannot reappear in the reference that exposes it; a fault in the shared
// prolongation at worst slows the tool down or makes it refuse.

#include <string>

#include "iterative_solver.hpp"
#include "model/model_problem.hpp"
#include "state/problem_state.hpp"

namespace advdiff::reference {

enum class Method {
    automatic,  // banded LU up to about 257 x 257 nodes (and, on grids that cannot be coarsened,
                // while the band fits in memory), the iterative solver beyond; an iteration that
                // does not converge hands over to the banded LU if that fits
    band,
    iterative,
};

// The finest grid of the run the settings describe: Nx x Ny of a single-grid run, level 1 of the
// hierarchy of a multigrid run.
GridSize finest_grid(const SimulationSettings& settings);

// Where a grid that is too large came from, for the error message.
struct GridSource {
    std::string file;
    long line = 0;
    std::string setting;
};

struct ReferenceSolution {
    Field T;                   // node order, 0-based k = (j-1)*Nx + (i-1)
    std::string method;        // "banded LU with 2 refinement steps", ...
    double max_residual = 0.0; // max |b - A T|
};

// Builds the five-point system of the case on the Nx x Ny grid and solves it. Throws RunError
// (naming `source`) when not even the iterative solver fits in memory, or when the forced band
// does not.
ReferenceSolution solve_reference(const model::ModelCase& c, int Nx, int Ny, Method method,
                                  const GridSource& source = {}, const IterativeOptions& options = {});

// The tool: reads the input files of the working directory (no editor), solves, writes
// exata<index> and returns the one-line summary
//   "exata1: 65 x 65 grid, banded LU with 2 refinement steps, max residual 3.6e-15".
// Throws RunError for every input or resource problem; then no file is written.
std::string make_reference_file(Method method);

}  // namespace advdiff::reference
