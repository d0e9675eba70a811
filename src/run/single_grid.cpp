#include "run/single_grid.hpp"

#include <cstddef>

#include "model/coefficients.hpp"
#include "model/iteration_norms.hpp"
#include "model/model_problem.hpp"
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

// One run; false when it stopped with one of its last three norms bounded (model::IterationNorms),
// and then `again` runs it with every norm exact.
bool run_single_grid_once(ProblemState& state, bool again) {
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
    model::IterationNorms norms(state, again);
    clock.charge(RunProfile::setup_and_assembly);
    const double initial_norm = norms.initial(state.TNum);
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
                norm = norms.of(iteration_count, state.TNum);
            } else {
                norm = norm_history[static_cast<std::size_t>(iteration_count - 1)];
            }
        } else if (solvers::relax(one_iteration, system, b, state.TNum, scratch)) {
            clock.charge(RunProfile::smoothing);
            norm = norms.of(iteration_count, state.TNum);
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
    if (!run_single_grid_once(state, false)) run_single_grid_once(state, true);
}

}  // namespace advdiff::run
