#pragma once
// The values a finished run is judged by, derived once from the state the last repetition left:
// the accuracy of TNum against the analytic solution, the first and final iteration-error norms,
// the convergence rate of the last iteration, and whether (and why) the iteration stopped. The
// report prints them; the summary and the fields file carry the same values.

#include <optional>
#include <string_view>

#include "state/problem_state.hpp"

namespace advdiff::report {

// Why the outer iteration (or the cycling) ended.
enum class StopReason {
    tolerance_reached,        // the final norm is at most the tolerance
    iteration_bound_reached,  // max_iterations used up with the norm above the tolerance
    norm_not_finite,          // the final norm is NaN or infinite: the iteration diverged
    direct_solve,             // single-grid Gauss elimination: the system was solved directly
};

// The stop reason as the summary names it ("tolerance_reached", ...).
std::string_view stop_reason_name(StopReason reason);

struct RunResults {
    // Analytic solution at every node of the finest grid, node order: the T_Analitica the
    // accuracy is measured against.
    Field analytic;
    double discretisation_error = 0.0;  // mean |analytic - TNum| over all nodes
    double linf_error = 0.0;            // largest |analytic - TNum|; NaN never replaces the maximum

    double initial_norm = 0.0;  // norm_history(0); 0 when there is no history
    double final_norm = 0.0;    // norm_history(iteration_count); 0 when that entry does not exist

    // (n(k-1) - n(k-2)) / (n(k) - n(k-1)) with k = iteration_count, evaluated as d1 = n(k) - n(k-1),
    // d2 = n(k-1) - n(k-2), d2 / d1. Empty when k < 2.
    std::optional<double> last_iteration_rate;
    // Whether the report prints the rate line: single-grid runs of an iterative solver.
    bool rate_printed = false;
    // n(k) / n(k-1): the factor by which the last iteration reduced the norm. Empty when k < 1.
    std::optional<double> reduction_factor;

    bool converged = false;
    StopReason stop_reason = StopReason::iteration_bound_reached;
};

RunResults derive_run_results(const ProblemState& state);

}  // namespace advdiff::report
