#include "multigrid/fas_cycle.hpp"

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "model/coefficients.hpp"
#include "model/iteration_norms.hpp"
#include "model/model_problem.hpp"
#include "multigrid/transfer.hpp"
#include "solvers/kernels.hpp"

namespace advdiff::multigrid {

namespace {

// e := X - e, node by node: the correction u - R u once a level is finished.
void subtract_from(std::span<const double> X, std::span<double> e) {
    for (std::size_t k = 0; k < e.size(); ++k) e[k] = X[k] - e[k];
}

// The cycles' kernels by phase of the run's profile, and their sum by level (in the profile's
// ticks, which the cycle was timed in). Boundary values belong to no phase: they count as "other".
void add_cycle_times(const CycleTimes& times, RunProfile& profile) {
    if (profile.level_ticks.size() < times.seconds.size()) profile.level_ticks.resize(times.seconds.size(), 0.0);
    for (std::size_t m = 0; m < times.seconds.size(); ++m) {
        const auto& t = times.seconds[m];
        profile.ticks[RunProfile::smoothing] += t[CycleTimes::kSmooth];
        profile.ticks[RunProfile::residual_and_restriction] +=
            t[CycleTimes::kInject] + t[CycleTimes::kFasRhs] + t[CycleTimes::kResidual];
        profile.ticks[RunProfile::prolongation] += t[CycleTimes::kProlongate] + t[CycleTimes::kCorrection];
        double level = 0.0;
        for (const double kernel : t) level += kernel;
        profile.level_ticks[m] += level;
    }
}

}  // namespace

FasCycle::FasCycle(const GridHierarchy& h, const model::ModelCase& model_case, int solver_kind, int inner_iterations,
                   double msi_tolerance)
    : model_case_(model_case),
      smoother_(solvers::Relaxation::of(solver_kind, inner_iterations, msi_tolerance)),
      levels_(static_cast<std::size_t>(h.level_count())) {
    for (int lev = 1; lev <= h.level_count(); ++lev) {
        Level& l = level(lev);
        l.nx = h.level_nx[static_cast<std::size_t>(lev - 1)];
        l.ny = h.level_ny[static_cast<std::size_t>(lev - 1)];
        l.n = h.level_nodes[static_cast<std::size_t>(lev - 1)];
        l.offset = static_cast<std::size_t>(h.level_offset(lev));
        // The coefficients of a level depend only on its size and the case, so each level is
        // assembled (and the smoother's factors derived) once instead of on every visit.
        l.system.assemble(model_case_, {l.nx, l.ny}, solver_kind);
        // Likewise its boundary values, which every visit writes again.
        l.values = model::GridValues(model_case_, l.nx, l.ny);
    }
    const auto total = static_cast<std::size_t>(h.total_nodes());
    // new double[n] leaves the values unset: no pass over memory that is written before it is read.
    for (LevelArray* a : {&solution_, &rhs_, &correction_}) a->reset(new double[total]);
    residual_.reset(new double[total - static_cast<std::size_t>(level(1).n)]());  // none for level 1
    scratch_.prepare({level(1).nx, level(1).ny}, solver_kind);
    // The finest right-hand side is the source vector, the same in every cycle.
    const SizedField& source = level(1).system.coefficients.b;
    std::copy(source.begin(), source.end(), level(1).segment(rhs_).begin());
}

std::uint64_t FasCycle::bytes_needed(const GridHierarchy& h, int solver_kind) {
    const auto total = static_cast<std::uint64_t>(h.total_nodes());
    const std::uint64_t finest = h.level_count() >= 1 ? static_cast<std::uint64_t>(h.level_nodes[0]) : 0;
    std::uint64_t bytes = bytes_of(4 * total - finest);  // solution, rhs, correction; residual below level 1
    for (int lev = 1; lev <= h.level_count(); ++lev) {
        const auto k = static_cast<std::size_t>(lev - 1);
        const Grid g{h.level_nx[k], h.level_ny[k]};
        bytes = saturating_sum({bytes, solvers::GridSystem::bytes(g, solver_kind),
                                model::GridValues::bytes(h.level_nx[k], h.level_ny[k])});
    }
    if (h.level_count() >= 1)
        bytes = saturating_sum({bytes, solvers::Scratch::bytes({h.level_nx[0], h.level_ny[0]}, solver_kind)});
    return bytes;
}

std::span<double> FasCycle::finest_solution() { return level(1).segment(solution_); }

const solvers::GridSystem& FasCycle::finest_system() const { return levels_.front().system; }

const model::GridValues& FasCycle::finest_values() const { return levels_.front().values; }

void FasCycle::smooth(Level& l, std::span<double> X) { solvers::relax(smoother_, l.system, l.segment(rhs_), X, scratch_); }

void FasCycle::cycle(CycleTimes* times) {
    const int L = static_cast<int>(levels_.size());
    if (times != nullptr && times->seconds.size() < levels_.size()) times->seconds.resize(levels_.size(), {});
    // Runs one step of the cycle, timing it when asked to: one clock reading per step, each step
    // taking the time since the previous one's end (the steps follow each other directly).
    const bool timed = times != nullptr && times->clock != nullptr;
    double last = timed ? times->clock() : 0.0;
    auto step = [times, timed, &last](int lev, CycleTimes::Kernel kernel, auto&& body) {
        body();
        if (!timed) return;
        const double now = times->clock();
        times->seconds[static_cast<std::size_t>(lev - 1)][kernel] += now - last;
        last = now;
    };
    for (int lev = 1; lev <= L; ++lev) {
        Level& l = level(lev);
        const std::span<double> X = l.segment(solution_);
        if (lev > 1) {
            Level& fine = level(lev - 1);
            step(lev, CycleTimes::kInject, [&] { inject(l.nx, l.ny, fine.segment(solution_), fine.nx, X); });
            step(lev, CycleTimes::kFasRhs, [&] {
                solvers::fas_right_hand_side({}, l.system, injected_residual(l), X, l.segment(rhs_));
                const std::span<double> injected = l.segment(correction_);
                std::copy(X.begin(), X.end(), injected.begin());
            });
        }
        step(lev, CycleTimes::kSmooth, [&] { smooth(l, X); });
        step(lev, CycleTimes::kBoundary, [&] { apply_boundary_values(l.values, X); });
        if (lev < L) {
            // The coarsest level's residual would never be read, nor, on the others, the residual
            // at nodes that have no coarse node on them: the FAS right-hand side injects it.
            step(lev, CycleTimes::kResidual, [&] {
                solvers::level_residual({.every = 2}, l.system, l.segment(rhs_), X, injected_residual(level(lev + 1)));
            });
        } else {
            step(lev, CycleTimes::kCorrection, [&] { subtract_from(X, l.segment(correction_)); });
        }
    }
    for (int lev = L - 1; lev >= 1; --lev) {
        Level& l = level(lev);
        Level& coarse = level(lev + 1);
        const std::span<double> X = l.segment(solution_);
        step(lev, CycleTimes::kProlongate,
             [&] { prolongate_correction(l.nx, l.ny, coarse.segment(correction_), coarse.nx, X); });
        step(lev, CycleTimes::kBoundary, [&] { apply_boundary_values(l.values, X); });
        step(lev, CycleTimes::kSmooth, [&] { smooth(l, X); });
        step(lev, CycleTimes::kBoundary, [&] { apply_boundary_values(l.values, X); });
        if (lev > 1) step(lev, CycleTimes::kCorrection, [&] { subtract_from(X, l.segment(correction_)); });
    }
}

std::uint64_t multigrid_run_bytes(const GridHierarchy& h, int solver_kind) {
    const std::uint64_t finest = h.level_count() >= 1 ? static_cast<std::uint64_t>(h.level_nodes[0]) : 0;
    return saturating_sum({FasCycle::bytes_needed(h, solver_kind), bytes_of(2 * finest)});
}

namespace {

// One run; false when it stopped with one of its last three norms bounded (model::IterationNorms),
// and then `again` runs it with every norm exact.
bool run_multigrid_once(ProblemState& state, bool again) {
    PhaseClock clock(state.profile);
    const SimulationSettings& s = state.settings;
    const model::ModelCase model_case = model::make_model_case(s);
    FasCycle fas(state.hierarchy, model_case, s.solver_kind, s.inner_iterations, s.msi_tolerance);
    const solvers::GridSystem& finest = fas.finest_system();

    // Start of the run on level 1: initial estimate and its norm.
    state.Nx = finest.grid.Nx;
    state.Ny = finest.grid.Ny;
    state.N = finest.grid.N();
    state.hx = model::spacing(finest.grid.Nx);
    state.hy = model::spacing(finest.grid.Ny);
    state.TNum.assign(static_cast<std::size_t>(finest.grid.N()), 0.0);
    state.T_Analitica.assign(static_cast<std::size_t>(finest.grid.N()), 0.0);
    model::initialise_field(fas.finest_values(), s.initial_estimate, state.TNum, state.T_Analitica);
    model::IterationNorms norms(state, again);
    clock.charge(RunProfile::setup_and_assembly);
    const double initial_norm = norms.initial(state.TNum);
    clock.charge(RunProfile::norm);
    state.stats.record_norm(0, initial_norm);
    const std::span<double> X = fas.finest_solution();
    std::copy(state.TNum.begin(), state.TNum.end(), X.begin());

    // The cycles' time by level and kernel, when a profile is kept.
    CycleTimes times;
    if (state.profile != nullptr) times.clock = state.profile->clock;
    CycleTimes* const timed = state.profile != nullptr ? &times : nullptr;

    // Each cycle ends on level 1 with the convergence test: the norm equal to the tolerance ends
    // the run, a NaN norm never does; the cycle limit ends it in any case.
    int& iteration_count = state.stats.iteration_count;
    iteration_count = 1;
    for (int remaining = s.max_iterations; remaining >= 1; --remaining) {
        fas.cycle(timed);
        clock.skip();  // the cycle's own steps are timed
        const double norm = norms.of(iteration_count, X);
        clock.charge(RunProfile::norm);
        state.stats.record_norm(iteration_count, norm);
        if (iteration_count >= s.max_iterations || norm <= s.tolerance) break;
        ++iteration_count;
    }
    if (iteration_count > s.max_iterations) iteration_count = s.max_iterations;
    std::copy(X.begin(), X.end(), state.TNum.begin());
    if (timed != nullptr) add_cycle_times(times, *state.profile);
    return norms.last_three_exact(iteration_count);
}

}  // namespace

void run_multigrid(ProblemState& state) {
    if (!run_multigrid_once(state, false)) run_multigrid_once(state, true);
}

}  // namespace advdiff::multigrid
