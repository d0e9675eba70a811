#include "report/run_results.hpp"

#include <cmath>
#include <limits>

#include "model/model_problem.hpp"
#include "model/norm.hpp"

namespace advdiff::report {

namespace {

// Entry `index` of the norm history, if the run wrote it.
std::optional<double> norm_at(const RunStatistics& stats, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= stats.norm_history.size()) return std::nullopt;
    return stats.norm_history[static_cast<std::size_t>(index)];
}

}  // namespace

std::string_view stop_reason_name(StopReason reason) {
    switch (reason) {
        case StopReason::tolerance_reached: return "tolerance_reached";
        case StopReason::iteration_bound_reached: return "iteration_bound_reached";
        case StopReason::norm_not_finite: return "norm_not_finite";
        case StopReason::direct_solve: return "direct_solve";
    }
    return "iteration_bound_reached";
}

RunResults derive_run_results(const ProblemState& state) {
    const SimulationSettings& s = state.settings;
    const RunStatistics& stats = state.stats;
    RunResults r;

    // Accuracy: the analytic solution at every node, i outer and j inner; the mean absolute
    // difference summed in that order; the maximum over ascending node numbers, replaced only by a
    // strictly greater value (so NaN never replaces it), starting from the most negative double.
    const int Nx = state.Nx, Ny = state.Ny, N = state.N;
    // The drivers leave hx, hy = spacing(Nx), spacing(Ny), the grid's own.
    const model::GridValues values(model::make_model_case(s), Nx, Ny);
    r.analytic.assign(static_cast<std::size_t>(N > 0 ? N : 0), 0.0);
    for (int i = 1; i <= Nx; ++i)
        for (int j = 1; j <= Ny; ++j) r.analytic[node(i, j, Nx)] = values.analytic(i, j);
    r.discretisation_error = model::l1_mean_difference(Nx, Ny, N, state.TNum, r.analytic);
    r.linf_error = -std::numeric_limits<double>::max();
    for (int k = 0; k < N; ++k) {
        const double error =
            std::fabs(r.analytic[static_cast<std::size_t>(k)] - state.TNum[static_cast<std::size_t>(k)]);
        if (k == 0 || error > r.linf_error) r.linf_error = error;
    }

    const int k = stats.iteration_count;
    r.initial_norm = norm_at(stats, 0).value_or(0.0);
    r.final_norm = norm_at(stats, k).value_or(0.0);
    if (k >= 2) {
        const double d1 = stats.norm_history[static_cast<std::size_t>(k)] - stats.norm_history[static_cast<std::size_t>(k - 1)];
        const double d2 = stats.norm_history[static_cast<std::size_t>(k - 1)] - stats.norm_history[static_cast<std::size_t>(k - 2)];
        r.last_iteration_rate = d2 / d1;
    }
    r.rate_printed = s.run_mode == kSingleGrid && s.solver_kind != kElimGauss;
    if (const auto previous = norm_at(stats, k - 1); k >= 1 && previous) r.reduction_factor = r.final_norm / *previous;

    // The drivers stop at the tolerance or at the bound; a NaN norm never meets the tolerance, so a
    // diverged run runs to its bound and is told apart here by its final norm.
    if (!std::isfinite(r.final_norm)) {
        r.stop_reason = StopReason::norm_not_finite;
    } else if (s.run_mode == kSingleGrid && s.solver_kind == kElimGauss && k >= 1) {
        r.stop_reason = StopReason::direct_solve;
    } else if (r.final_norm <= s.tolerance) {
        r.stop_reason = StopReason::tolerance_reached;
    } else {
        r.stop_reason = StopReason::iteration_bound_reached;
    }
    r.converged = r.stop_reason == StopReason::tolerance_reached || r.stop_reason == StopReason::direct_solve;
    return r;
}

}  // namespace advdiff::report
