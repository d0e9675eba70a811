#pragma once
// Iterative solution of the five-point system for grids whose banded LU does not fit in memory.
//
// Grids odd-sized in both directions are solved by a geometric multigrid V-cycle in correction
// form: the residual of the finest grid is formed in long double, one V-cycle approximates the
// correction, and the correction is added. Each coarser grid has (n - 1)/2 + 1 nodes in each
// direction and its own five-point system from assemble_coefficients; residuals go down by full
// weighting, corrections come up by the program's bilinear prolongation (see reference_tool.hpp),
// every level is smoothed by one forward and one backward Gauss-Seidel sweep before and after its
// coarse-grid correction, and the coarsest level is solved by banded LU (or, when even that does
// not fit, by relaxation).
// Gauss-Seidel smooths only equations whose neighbour coefficients are all <= 0; the first level
// where the rotating flow breaks that (cells too coarse for gamma) becomes the coarsest level.
// Cycles go on until the correction no longer shrinks; a few more polish the solution.
//
// A grid that cannot be coarsened is solved by successive over-relaxation alone.

#include <cstdint>
#include <span>
#include <vector>

#include "model/coefficients.hpp"
#include "model/model_problem.hpp"
#include "stencil.hpp"

namespace advdiff::reference {

struct IterativeOptions {
    // The hierarchy is coarsened until a level's band storage ((3 nx + 1) nx ny elements) is at
    // most this many elements, or until it cannot be coarsened further; that level is the
    // coarsest and is solved directly. The finest grid is always coarsened when it can be.
    std::uint64_t direct_band_elements = std::uint64_t{1} << 22;
    int max_cycles = 100;   // V-cycles before the polishing ones
    int polish_cycles = 2;  // V-cycles after the correction has stopped shrinking
};

struct IterativeResult {
    int levels = 1;             // grids of the multigrid hierarchy; 1: over-relaxation alone
    GridSize coarsest{0, 0};    // the coarsest grid of the hierarchy
    int cycles = 0;             // V-cycles, or relaxation sweeps when levels == 1
    bool coarsest_direct = false;
    double max_residual = 0.0;  // max |b - A x| of the returned solution (long double sums)
    double first_update = 0.0;  // max |correction| of the first cycle or sweep
    double last_update = 0.0;   // max |correction| of the last cycle or sweep
};

// Node counts of the multigrid levels, finest first (a single entry: no coarsening possible).
// The solver may end the hierarchy earlier, at the first level that cannot be smoothed.
std::vector<GridSize> multigrid_levels(int Nx, int Ny, const IterativeOptions& options = {});

// Bytes solve_iterative needs beyond the finest coefficient arrays and x, without the band of the
// coarsest level (which is used only when it fits).
std::uint64_t iterative_solve_bytes(int Nx, int Ny, const IterativeOptions& options = {});

// Solves the system of `fine` (the coefficients of the case on the Nx x Ny grid) into x.
IterativeResult solve_iterative(const model::ModelCase& c, const model::StencilCoefficients& fine, int Nx, int Ny,
                                std::span<double> x, const IterativeOptions& options = {});

}  // namespace advdiff::reference
