#pragma once
// advdiff2d-reference: computes the exact solution of the discrete system of a run (the same
// input files, the same finest grid, the same five-point equations as advdiff2d) and writes it
// as the reference file exata<reference_file_index> that the run compares its iterates with.
//
// What it shares with the program and what it keeps apart. It takes the program's input reading,
// its hierarchy sizes, its coefficients (the reference must solve the very system the program
// solves; its multigrid levels are assembled the same way) and its reference-file writer.
// Everything that decides whether an answer is right is its own: the twice-precise residual of
// the refinement, the banded LU, the multigrid, the Krylov iteration and the final check. So a
// fault in the program's solvers cannot reappear in the reference that exposes it.
//
// The written values are a function of the inputs alone: the method and every choice inside it
// follow from the settings and the command line (never from the memory left), and nothing but
// IEEE double operations and sqrt reach them. The refinement makes each value the double nearest
// to the exact solution of the system (but for near-ties), whichever method computed it.

#include <cstdint>
#include <functional>
#include <string>

#include "model/model_problem.hpp"
#include "refinement.hpp"
#include "state/problem_state.hpp"
#include "stencil.hpp"

namespace advdiff::reference {

enum class Method {
    automatic,  // banded LU where its factorisation costs little (up to about 70 x 70 nodes, and
                // thin grids such as 20 x 4000), multigrid beyond
    band,       // banded LU of the whole grid as the inner solver
    multigrid,  // GMRES with a multigrid V-cycle as the inner solver
};

// The finest grid of the run the settings describe: Nx x Ny of a single-grid run, level 1 of the
// hierarchy of a multigrid run.
GridSize finest_grid(const SimulationSettings& settings);

// A setting an error message names: the file and line it was read from.
struct Blame {
    std::string file;
    long line = 0;
    std::string setting;
};

// Which settings a failure is blamed on: the grid size for memory, gamma for the equations
// themselves (singular, not solvable in double precision).
struct Blames {
    Blame grid;
    Blame equations;
};

struct ReferenceSolution {
    Field T;                   // node order, 0-based k = (j-1)*Nx + (i-1)
    std::string method;        // "banded LU, 2 refinement steps", ...
    double max_residual = 0.0; // max |b - A T|, formed with twice the precision of a double
};

struct SolveOptions {
    RefinementOptions refinement;
    std::function<void(const RefinementProgress&)> progress;  // told after every cycle
};

// The method `method` stands for on an Nx x Ny grid.
Method resolve_method(Method method, int Nx, int Ny);

// Builds the five-point system of the case on the Nx x Ny grid and solves it to the last bit.
// Throws RunError (naming one of `blames`) when the memory the method needs is not there, when
// the system is singular or too ill-conditioned, or when the solution is not finite or its
// residual above the bound.
ReferenceSolution solve_reference(const model::ModelCase& c, int Nx, int Ny, Method method, const Blames& blames = {},
                                  const SolveOptions& options = {});

// The tool: reads the input files of the working directory (no editor), solves, writes
// exata<index> and returns the one-line summary
//   "exata1: 65 x 65 grid, banded LU, 2 refinement steps, max residual 3.6e-15".
// Progress goes to stderr when it is a terminal and the solution takes more than about two
// seconds. Throws RunError for every input or resource problem; then no file is written.
std::string make_reference_file(Method method);

}  // namespace advdiff::reference
