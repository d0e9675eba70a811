#include "run/single_grid.hpp"

#include <cstddef>
#include <limits>

#include "model/coefficients.hpp"
#include "model/model_problem.hpp"
#include "model/norm.hpp"
#include "solvers/gauss_elimination.hpp"
#include "solvers/relaxation.hpp"

namespace advdiff::run {

std::uint64_t single_grid_bytes(int Nx, int Ny, int solver_kind) {
    const std::uint64_t n = static_cast<std::uint64_t>(Nx) * static_cast<std::uint64_t>(Ny);
    // TNum and T_Analitica, the system, the solver's work vectors.
    std::uint64_t bytes = 2 * n * sizeof(double) + solvers::GridSystem::bytes(n, solver_kind) +
                          solvers::SolverWorkspace::bytes(n, solver_kind);
    if (solver_kind == kElimGauss) {
        // The band of a grid near the 32-bit node limit can pass 2^64 bytes: such a size stands
        // as the largest figure rather than wrapping round to a small one.
        constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
        const std::uint64_t row_bytes = (2 * static_cast<std::uint64_t>(Nx) + 2) * sizeof(double);
        const std::uint64_t band = n > most / row_bytes ? most : solvers::band_elimination_bytes(n, static_cast<std::uint64_t>(Nx));
        bytes = band > most - bytes ? most : bytes + band;
    }
    return bytes;
}

void run_single_grid(ProblemState& state) {
    PhaseClock clock(state.profile);
    const SimulationSettings& s = state.settings;
    const int Nx = state.Nx, Ny = state.Ny;
    state.N = Nx * Ny;
    const int N = state.N;
    const auto n = static_cast<std::size_t>(N);

    const model::ModelCase model_case = model::make_model_case(s);
    state.TNum.assign(n, 0.0);
    state.T_Analitica.assign(n, 0.0);
    solvers::GridSystem system;
    // The coefficients do not depend on the field: they are assembled once; reassembling them
    // after every outer iteration would rewrite the same values.
    system.assemble(model_case, Nx, Ny);
    state.hx = model::spacing(Nx);
    state.hy = model::spacing(Ny);
    model::initialise_field(model_case, s.initial_estimate, Nx, Ny, state.TNum, state.T_Analitica);

    std::vector<double>& norm_history = state.stats.norm_history;
    auto iteration_error = [&] {
        return model::l1_mean_difference(Nx, Ny, N, state.TNum, state.reference_solution);
    };
    clock.charge(RunProfile::setup_and_assembly);
    const double initial_norm = iteration_error();
    clock.charge(RunProfile::norm);
    state.stats.record_norm(0, initial_norm);
    if (state.stats.on_norm) clock.skip();

    solvers::SolverWorkspace work;
    work.resize(n, s.solver_kind);
    const solvers::Relaxation one_iteration = solvers::Relaxation::of(s.solver_kind, 1, s.msi_tolerance);
    solvers::BandWork band;
    if (s.solver_kind == kElimGauss) {
        // Sized here so that the iteration loop allocates nothing.
        band.band.resize(n * (2 * static_cast<std::size_t>(Nx) + 1));
        band.rhs.resize(n);
    }
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
                solvers::gauss_elimination(N, Nx, system.view(), b, state.TNum, band);
                clock.charge(RunProfile::smoothing);
                norm = iteration_error();
            } else {
                norm = norm_history[static_cast<std::size_t>(iteration_count - 1)];
            }
        } else if (solvers::relax(one_iteration, system, b, state.TNum, work)) {
            clock.charge(RunProfile::smoothing);
            norm = iteration_error();
        } else {
            // No solver step: the field, and so its norm, stay as they were.
            norm = norm_history[static_cast<std::size_t>(iteration_count - 1)];
        }
        clock.charge(RunProfile::norm);
        state.stats.record_norm(iteration_count, norm);
        if (state.stats.on_norm) clock.skip();  // the monitor's line counts as "other"
        if (norm <= s.tolerance) break;
        ++iteration_count;
    }
    if (iteration_count > s.max_iterations) iteration_count = s.max_iterations;
}

}  // namespace advdiff::run
