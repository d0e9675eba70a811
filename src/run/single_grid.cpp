#include "run/single_grid.hpp"

#include <cstddef>
#include <limits>

#include "model/coefficients.hpp"
#include "model/model_problem.hpp"
#include "model/norm.hpp"
#include "report/report.hpp"
#include "solvers/kernels.hpp"

namespace advdiff::run {

std::uint64_t single_grid_bytes(int Nx, int Ny, int solver_kind) {
    const Grid grid{Nx, Ny};
    // TNum and T_Analitica, the prepared system, the boundary values, the solver's scratch.
    const auto n = static_cast<std::uint64_t>(Nx) * static_cast<std::uint64_t>(Ny);
    return saturating_sum({bytes_of(2 * n), solvers::GridSystem::bytes(grid, solver_kind),
                           model::GridValues::bytes(Nx, Ny), solvers::Scratch::bytes(grid, solver_kind)});
}

namespace {

// The norms of the outer iterations. What reads them: the report's history table (the iterations
// it lists), its final norm, reduction factor and last rate (the last three iterations) and the
// verdict; a summary or the monitor reads every one. Any other norm only decides whether the run
// stops, and a lower bound of it above the tolerance decides that as the norm would: such a norm
// is taken as a bound, in a fraction of the time, and recorded as that bound. The bound over every
// eighth row costs an eighth of the one over all rows, which is tried next.
// Whether an iteration is one of the last three is known only when the run stops. So a norm is
// taken exactly from the moment its bound, brought two iterations on at the smaller of the last
// two rates (of the bound over every eighth row, the same rows each time), comes within four times
// the tolerance, and near the iteration limit; a run that stops all the same with one of its last
// three norms bounded reports that, and the driver runs it again with every norm exact. A run
// gives the same norms either way.
class IterationNorms {
public:
    IterationNorms(const ProblemState& state, bool every_norm_exact)
        : state_(state), every_norm_exact_(every_norm_exact) {}

    double of(int n) {
        const SimulationSettings& s = state_.settings;
        const auto A = std::span<const double>(state_.TNum), B = std::span<const double>(state_.reference_solution);
        const auto bound = [&](int row_step) {
            return model::l1_mean_difference_lower_bound(state_.Nx, state_.Ny, state_.N, A, B, row_step);
        };
        if (!every_norm_exact_) {
            const double sample = bound(kSampleRows);
            double rate = 1.0;
            for (const double r : {sample / previous_, previous_ / before_})
                if (r < rate) rate = r;
            before_ = previous_;
            previous_ = sample;
            const bool read = n <= 2 || n >= static_cast<long long>(s.max_iterations) - 2 ||
                              s.solver_kind == kElimGauss || report::history_lists(s, n, 0);
            const auto decides = [&](double b) { return b > s.tolerance && b * rate * rate > 4.0 * s.tolerance; };
            if (!read) {
                if (decides(sample)) return bounded(n, sample);
                if (const double all_rows = bound(1); decides(all_rows)) return bounded(n, all_rows);
            }
        }
        return model::l1_mean_difference(state_.Nx, state_.Ny, state_.N, A, B);
    }
    // Iteration n repeats the norm of iteration n - 1.
    void repeat(int n) {
        if (last_bounded_ == n - 1) last_bounded_ = n;
    }
    // Whether the last three norms of a run that stopped after `last` iterations are exact.
    bool last_three_exact(int last) const { return last_bounded_ < last - 2; }

private:
    static constexpr int kSampleRows = 8;
    double bounded(int n, double bound) {
        last_bounded_ = n;
        return bound;
    }
    const ProblemState& state_;
    const bool every_norm_exact_;
    double previous_ = std::numeric_limits<double>::quiet_NaN(), before_ = std::numeric_limits<double>::quiet_NaN();
    int last_bounded_ = -1;
};

// One run; false when it stopped with one of its last three norms bounded.
bool run_single_grid_once(ProblemState& state, bool every_norm_exact) {
    PhaseClock clock(state.profile);
    const SimulationSettings& s = state.settings;
    const int Nx = state.Nx, Ny = state.Ny;
    state.N = Nx * Ny;
    const int N = state.N;
    const auto n = static_cast<std::size_t>(N);

    const model::ModelCase model_case = model::make_model_case(s);
    state.TNum.assign(n, 0.0);
    state.T_Analitica.assign(n, 0.0);
    const Grid grid{Nx, Ny};
    solvers::GridSystem system;
    // The coefficients do not depend on the field: they are assembled (and the solver's factors
    // derived from them) once; reassembling them after every outer iteration would rewrite the
    // same values.
    system.assemble(model_case, grid, s.solver_kind);
    state.hx = model::spacing(Nx);
    state.hy = model::spacing(Ny);
    model::initialise_field(model::GridValues(model_case, Nx, Ny), s.initial_estimate, state.TNum, state.T_Analitica);

    std::vector<double>& norm_history = state.stats.norm_history;
    IterationNorms norms(state, every_norm_exact);
    clock.charge(RunProfile::setup_and_assembly);
    const double initial_norm = model::l1_mean_difference(Nx, Ny, N, state.TNum, state.reference_solution);
    clock.charge(RunProfile::norm);
    state.stats.record_norm(0, initial_norm);
    if (state.stats.on_norm) clock.skip();

    solvers::Scratch scratch;
    scratch.prepare(grid, s.solver_kind);  // here, so that the iteration loop allocates nothing
    const solvers::Relaxation one_iteration = solvers::Relaxation::of(s.solver_kind, 1, s.msi_tolerance);
    clock.charge(RunProfile::setup_and_assembly);

    int& iteration_count = state.stats.iteration_count;
    iteration_count = 1;
    const std::span<const double> b(system.coefficients.b);
    for (int outer = 1; outer <= s.max_iterations; ++outer) {
        double norm;
        if (s.solver_kind == kElimGauss) {
            // Elimination does not read the field: every outer iteration after the first would
            // write the same solution again, and its norm is the same value.
            if (outer == 1) {
                solvers::gauss_elimination({}, system, b, state.TNum, scratch);
                clock.charge(RunProfile::smoothing);
                norm = norms.of(iteration_count);
            } else {
                norm = norm_history[static_cast<std::size_t>(iteration_count - 1)];
            }
        } else if (solvers::relax(one_iteration, system, b, state.TNum, scratch)) {
            clock.charge(RunProfile::smoothing);
            norm = norms.of(iteration_count);
        } else {
            // No solver step: the field, and so its norm, stay as they were.
            norm = norm_history[static_cast<std::size_t>(iteration_count - 1)];
            norms.repeat(iteration_count);
        }
        clock.charge(RunProfile::norm);
        state.stats.record_norm(iteration_count, norm);
        if (state.stats.on_norm) clock.skip();  // the monitor's line counts as "other"
        if (norm <= s.tolerance) break;
        ++iteration_count;
    }
    if (iteration_count > s.max_iterations) iteration_count = s.max_iterations;
    return norms.last_three_exact(iteration_count);
}

}  // namespace

void run_single_grid(ProblemState& state) {
    const bool every_norm_read = state.stats.on_norm || state.stats.whole_history_read;
    if (!run_single_grid_once(state, every_norm_read)) run_single_grid_once(state, true);
}

}  // namespace advdiff::run
