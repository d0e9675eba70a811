#include "refinement.hpp"

#include <cmath>
#include <limits>

#include "exact_arithmetic.hpp"

namespace advdiff::reference {

namespace {

// The refinement has converged when the correction just added is below 2^-50 of the solution
// (under half an ulp) and the next one, predicted from the ratio of the last two, is below 2^-80
// (about 1e-24: a value then rounds wrongly only if the exact one lies that close to half-way
// between two doubles).
constexpr double kSmallCorrection = 0x1p-50;
constexpr double kNegligibleCorrection = 0x1p-80;

// A step that does not halve the correction counts as stalled; so many in a row end the
// refinement.
constexpr int kStalledSteps = 3;

// x := 0, except where an equation has no neighbour term (the boundary nodes): there x is its
// solution b / aP, to twice the precision of a double. Their residuals are then zero (exactly
// for the identity equations of the boundary), and so are the corrections the preconditioners
// give them: an exact zero on the boundary stays an exact zero.
void start_from_lone_equations(const model::StencilView& a, std::span<const double> b, int Nx, int Ny,
                               std::span<double> x_hi, std::span<double> x_lo) {
    for (int j = 1; j <= Ny; ++j) {
        for (int i = 1; i <= Nx; ++i) {
            const std::size_t k = node(i, j, Nx);
            const bool alone = (i == 1 || a.aW[k] == 0.0) && (i == Nx || a.aE[k] == 0.0) &&
                               (j == 1 || a.aS[k] == 0.0) && (j == Ny || a.aN[k] == 0.0);
            x_hi[k] = 0.0;
            x_lo[k] = 0.0;
            if (!alone || a.aP[k] == 0.0) continue;
            const double q = b[k] / a.aP[k];
            const DoubleDouble p = two_product(a.aP[k], q);
            x_hi[k] = q;
            x_lo[k] = ((b[k] - p.hi) - p.lo) / a.aP[k];
        }
    }
}

}  // namespace

std::uint64_t refinement_bytes(const GridSize& g, const RefinementOptions& options) {
    return saturating_sum(field_bytes(1, g), Gmres::bytes(g, options.restart));  // x_lo, GMRES
}

RefinementResult refine(const model::StencilView& a, std::span<const double> b, int Nx, int Ny, Preconditioner& M,
                        std::span<double> x, const RefinementOptions& options,
                        const std::function<void(const RefinementProgress&)>& progress) {
    const std::size_t n = GridSize{Nx, Ny}.nodes();
    RefinementResult result;
    Field x_lo(n, 0.0);
    start_from_lone_equations(a, b, Nx, Ny, x, x_lo);
    Gmres gmres(a, Nx, Ny, options.restart);

    double previous = std::numeric_limits<double>::infinity();
    int stalled = 0;
    while (result.steps < options.max_steps) {
        const double residual = exact_residual(a, b, Nx, Ny, x, x_lo, gmres.rhs());
        if (!std::isfinite(residual)) {
            result.failure = "the residual is not finite";
            return result;
        }
        if (residual == 0.0) {
            result.converged = true;
            return result;
        }
        ++result.steps;
        GmresResult cycle;
        RefinementProgress report{result.steps, result.cycles, 1.0};
        const std::span<const double> d = gmres.solve(M, options.tolerance, cycle, [&](int k, double reduction) {
            if (!progress) return;
            report.cycles = result.cycles + k;
            report.residual = reduction * residual;
            progress(report);
        });
        result.cycles += cycle.iterations;
        double correction = 0.0, solution = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            const DoubleDouble sum = add({x[k], x_lo[k]}, d[k]);
            x[k] = sum.hi;
            x_lo[k] = sum.lo;
            correction = max_magnitude(correction, d[k]);
            solution = max_magnitude(solution, sum.hi);
        }
        if (!std::isfinite(correction) || !std::isfinite(solution)) {
            result.failure = "the solution is not finite";
            return result;
        }
        result.last_correction = solution > 0.0 ? correction / solution : 0.0;
        const double predicted = correction * std::min(1.0, correction / previous);
        if (correction <= kSmallCorrection * solution && predicted <= kNegligibleCorrection * solution) {
            result.converged = true;
            return result;
        }
        stalled = correction > 0.5 * previous ? stalled + 1 : 0;
        if (stalled >= kStalledSteps) {
            result.failure = "the corrections stopped shrinking";
            return result;
        }
        previous = correction;
    }
    result.failure = "the corrections did not become negligible in " + std::to_string(options.max_steps) + " steps";
    return result;
}

}  // namespace advdiff::reference
