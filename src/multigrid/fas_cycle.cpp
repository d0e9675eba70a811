#include "multigrid/fas_cycle.hpp"

#include <cstddef>
#include <span>
#include <vector>

#include "model/coefficients.hpp"
#include "model/model_problem.hpp"
#include "model/norm.hpp"
#include "multigrid/transfer.hpp"
#include "solvers/relaxation.hpp"

namespace advdiff::multigrid {

namespace {

// f(k) = (A X)(k) + r(k) for every node of the coarse level, where r is the finer level's residual
// at the coincident node (its injection) and each neighbour term is present only when its index
// lies inside the level, west and east terms wrapping across row ends with whatever coefficient
// the node carries.
void fas_right_hand_side(const solvers::LinearSystem& level, std::span<const double> X, std::span<const double> fine_residual,
                         int nf, std::span<double> f) {
    const model::StencilCoefficients& a = level.coefficients;
    const std::ptrdiff_t nx = level.Nx, n = level.N;
    for (int jc = 1; jc <= level.Ny; ++jc) {
        for (int ic = 1; ic <= level.Nx; ++ic) {
            const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(node(ic, jc, level.Nx));
            double value = a.aP[k] * X[k];
            if (k >= 1) value = value + a.aW[k] * X[k - 1];
            if (k + 1 < n) value = value + a.aE[k] * X[k + 1];
            if (k >= nx) value = value + a.aS[k] * X[k - nx];
            if (k + nx < n) value = value + a.aN[k] * X[k + nx];
            f[k] = value + fine_residual[node(2 * ic - 1, 2 * jc - 1, nf)];
        }
    }
}

// r = f - aS X(k-Nx) - aW X(k-1) - aP X(k) - aE X(k+1) - aN X(k+Nx), subtracted in this order, from
// the first interior node (2, 2) to the last (Nx-1, Ny-1) in node order; that range includes the
// west and east boundary nodes of the rows between. Positions outside it keep their zero.
void level_residual(const solvers::LinearSystem& level, std::span<const double> X, std::span<const double> f, std::span<double> r) {
    const model::StencilCoefficients& a = level.coefficients;
    const std::ptrdiff_t nx = level.Nx, n = level.N;
    for (std::ptrdiff_t k = nx + 1; k <= n - nx - 2; ++k)
        r[k] = ((((f[k] - a.aS[k] * X[k - nx]) - a.aW[k] * X[k - 1]) - a.aP[k] * X[k]) - a.aE[k] * X[k + 1]) -
               a.aN[k] * X[k + nx];
}

}  // namespace

FasCycle::FasCycle(const GridHierarchy& h, const model::ModelCase& model_case, int solver_kind, int inner_iterations,
                   double msi_tolerance)
    : model_case_(model_case),
      solver_kind_(solver_kind),
      inner_iterations_(inner_iterations),
      msi_tolerance_(msi_tolerance),
      levels_(static_cast<std::size_t>(h.level_count())) {
    std::size_t total = 0;
    for (int lev = 1; lev <= h.level_count(); ++lev) {
        Level& l = level(lev);
        l.nx = h.level_nx[static_cast<std::size_t>(lev - 1)];
        l.ny = h.level_ny[static_cast<std::size_t>(lev - 1)];
        l.n = h.level_nodes[static_cast<std::size_t>(lev - 1)];
        l.offset = total;
        total += static_cast<std::size_t>(l.n);
        // The coefficients of a level depend only on its size and the case, so each level is
        // assembled once instead of on every visit.
        solvers::LinearSystem& sys = l.system;
        sys.Nx = l.nx;
        sys.Ny = l.ny;
        sys.N = l.n;
        sys.coefficients.resize(static_cast<std::size_t>(l.n));
        model::assemble_coefficients(model_case_, l.nx, l.ny, sys.coefficients);
        sys.find_uniform_coefficients();
    }
    for (Field* f : {&solution_, &rhs_, &residual_, &correction_}) f->assign(total, 0.0);
    work_.resize(static_cast<std::size_t>(level(1).n));
    // The finest right-hand side is the source vector, the same in every cycle.
    const Field& source = level(1).system.coefficients.b;
    std::copy(source.begin(), source.end(), level(1).segment(rhs_).begin());
}

std::span<double> FasCycle::finest_solution() { return level(1).segment(solution_); }

const solvers::LinearSystem& FasCycle::finest_system() const { return levels_.front().system; }

void FasCycle::smooth(Level& l, std::span<double> X) {
    solvers::relax(solver_kind_, inner_iterations_, msi_tolerance_, l.system, l.segment(rhs_), X, work_);
}

void FasCycle::cycle() {
    const int L = static_cast<int>(levels_.size());
    for (int lev = 1; lev <= L; ++lev) {
        Level& l = level(lev);
        const std::span<double> X = l.segment(solution_);
        if (lev > 1) {
            Level& fine = level(lev - 1);
            inject(l.nx, l.ny, fine.segment(solution_), fine.nx, X);
            fas_right_hand_side(l.system, X, fine.segment(residual_), fine.nx, l.segment(rhs_));
            const std::span<double> injected = l.segment(correction_);
            std::copy(X.begin(), X.end(), injected.begin());
        }
        smooth(l, X);
        apply_boundary_values(model_case_, l.nx, l.ny, X);
        if (lev < L) {
            // The coarsest level's residual would never be read.
            level_residual(l.system, X, l.segment(rhs_), l.segment(residual_));
        } else {
            const std::span<double> e = l.segment(correction_);
            for (std::size_t k = 0; k < e.size(); ++k) e[k] = X[k] - e[k];
        }
    }
    for (int lev = L - 1; lev >= 1; --lev) {
        Level& l = level(lev);
        Level& coarse = level(lev + 1);
        const std::span<double> X = l.segment(solution_);
        prolongate_correction(l.nx, l.ny, coarse.segment(correction_), coarse.nx, X);
        apply_boundary_values(model_case_, l.nx, l.ny, X);
        smooth(l, X);
        apply_boundary_values(model_case_, l.nx, l.ny, X);
        if (lev > 1) {
            const std::span<double> e = l.segment(correction_);
            for (std::size_t k = 0; k < e.size(); ++k) e[k] = X[k] - e[k];
        }
    }
}

void run_multigrid(ProblemState& state) {
    const SimulationSettings& s = state.settings;
    const model::ModelCase model_case = model::make_model_case(s);
    FasCycle fas(state.hierarchy, model_case, s.solver_kind, s.inner_iterations, s.msi_tolerance);
    const solvers::LinearSystem& finest = fas.finest_system();

    // Start of the run on level 1: initial estimate and its norm.
    state.Nx = finest.Nx;
    state.Ny = finest.Ny;
    state.N = finest.N;
    state.hx = model::spacing(finest.Nx);
    state.hy = model::spacing(finest.Ny);
    state.TNum.assign(static_cast<std::size_t>(finest.N), 0.0);
    state.T_Analitica.assign(static_cast<std::size_t>(finest.N), 0.0);
    model::initialise_field(model_case, s.initial_estimate, finest.Nx, finest.Ny, state.TNum, state.T_Analitica);
    state.stats.norm_entry(0) = model::l1_mean_difference(finest.Nx, finest.Ny, finest.N, state.TNum, state.reference_solution);
    const std::span<double> X = fas.finest_solution();
    std::copy(state.TNum.begin(), state.TNum.end(), X.begin());

    // Each cycle ends on level 1 with the convergence test: the norm equal to the tolerance ends
    // the run, a NaN norm never does; the cycle limit ends it in any case.
    int& iteration_count = state.stats.iteration_count;
    iteration_count = 1;
    for (int remaining = s.max_iterations; remaining >= 1; --remaining) {
        fas.cycle();
        const double norm = model::l1_mean_difference(finest.Nx, finest.Ny, finest.N, X, state.reference_solution);
        state.stats.norm_entry(iteration_count) = norm;
        if (iteration_count >= s.max_iterations || norm <= s.tolerance) break;
        ++iteration_count;
    }
    if (iteration_count > s.max_iterations) iteration_count = s.max_iterations;
    std::copy(X.begin(), X.end(), state.TNum.begin());
}

}  // namespace advdiff::multigrid
