#pragma once
// Solving the five-point system to the last bit: iterative refinement in which the residual is
// formed in twice the precision of a double and the solution is accumulated as an unevaluated
// sum hi + lo, while each correction comes from a cycle of preconditioned GMRES in plain double.
// The corrections shrink by about the GMRES tolerance from one step to the next, down to about
// 1e-25 of the solution; hi is then the double nearest to the exact solution of the system (but for a
// near-tie), whatever the preconditioner, as long as the system is not too ill-conditioned for
// double arithmetic to make progress at all.

#include <functional>
#include <span>
#include <string>

#include "krylov.hpp"
#include "model/coefficients.hpp"
#include "preconditioner.hpp"

namespace advdiff::reference {

struct RefinementOptions {
    int restart = 10;             // GMRES iterations per refinement step at most
    // Residual reduction that ends a GMRES cycle early. The refinement stops once three steps
    // have brought the corrections down to 2^-80 (8e-25) of the solution; a step's error shrinks up
    // to some 50 times less than its residual where the residual is smooth (pure diffusion), and
    // 5e-10 still gets there in three steps. A tighter tolerance only adds V-cycles; a looser one
    // costs such cases a fourth step.
    double tolerance = 5e-10;
    int max_steps = 40;           // refinement steps before giving up
};

struct RefinementProgress {
    int step = 0;             // refinement step, from 1
    int cycles = 0;           // preconditioner applications so far
    double residual = 0.0;    // the step's max residual times the reduction GMRES reports so far
};

struct RefinementResult {
    bool converged = false;
    std::string failure;         // why not, when not: "the residual is not finite", ...
    int steps = 0;               // refinement steps (residuals formed and corrected)
    int cycles = 0;              // preconditioner applications
    double last_correction = 0.0;  // max |correction| of the last step / max |x|
};

// Bytes the refinement needs beyond the system, x and the preconditioner.
std::uint64_t refinement_bytes(const GridSize& g, const RefinementOptions& options);

// Solves A x = b into x (N values, node order) with preconditioner M.
RefinementResult refine(const model::StencilView& a, std::span<const double> b, int Nx, int Ny, Preconditioner& M,
                        std::span<double> x, const RefinementOptions& options = {},
                        const std::function<void(const RefinementProgress&)>& progress = {});

}  // namespace advdiff::reference
