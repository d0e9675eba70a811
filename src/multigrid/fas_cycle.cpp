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

// The arrays of the whole hierarchy: every level's segment one after the other, finest first.
struct LevelArrays {
    Field solution;    // u: level 1 carries the iterate from cycle to cycle
    Field rhs;         // f: level 1 the source vector, coarser levels the FAS right-hand side
    Field residual;    // f - A u after the down-going smoothing (0 outside the interior range)
    Field correction;  // coarser levels: first R u, then u - R u
};

struct Level {
    int nx = 0, ny = 0, n = 0;
    std::size_t offset = 0;
    solvers::LinearSystem system;  // the level's coefficients, assembled once per run

    std::span<double> segment(Field& array) const { return {array.data() + offset, static_cast<std::size_t>(n)}; }
};

// f(k) = (A X)(k) + r(k) for every node of the coarse level, where r is the finer level's residual
// at the coincident node (its injection) and each neighbour term is present only when its index
// lies inside the level, west and east terms wrapping across row ends with whatever coefficient
// the node carries.
void fas_right_hand_side(const Level& level, std::span<const double> X, std::span<const double> fine_residual,
                         int nf, std::span<double> f) {
    const model::StencilCoefficients& a = level.system.coefficients;
    const std::ptrdiff_t nx = level.nx, n = level.n;
    for (int jc = 1; jc <= level.ny; ++jc) {
        for (int ic = 1; ic <= level.nx; ++ic) {
            const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(node(ic, jc, level.nx));
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
void level_residual(const Level& level, std::span<const double> X, std::span<const double> f, std::span<double> r) {
    const model::StencilCoefficients& a = level.system.coefficients;
    const std::ptrdiff_t nx = level.nx, n = level.n;
    for (std::ptrdiff_t k = nx + 1; k <= n - nx - 2; ++k)
        r[k] = ((((f[k] - a.aS[k] * X[k - nx]) - a.aW[k] * X[k - 1]) - a.aP[k] * X[k]) - a.aE[k] * X[k + 1]) -
               a.aN[k] * X[k + nx];
}

}  // namespace

void run_multigrid(ProblemState& state) {
    const SimulationSettings& s = state.settings;
    const GridHierarchy& h = state.hierarchy;
    const int L = h.level_count();
    const model::ModelCase model_case = model::make_model_case(s);

    std::vector<Level> levels(static_cast<std::size_t>(L));
    std::size_t total = 0;
    for (int lev = 1; lev <= L; ++lev) {
        Level& level = levels[static_cast<std::size_t>(lev - 1)];
        level.nx = h.level_nx[static_cast<std::size_t>(lev - 1)];
        level.ny = h.level_ny[static_cast<std::size_t>(lev - 1)];
        level.n = h.level_nodes[static_cast<std::size_t>(lev - 1)];
        level.offset = total;
        total += static_cast<std::size_t>(level.n);
        // The coefficients of a level depend only on its size and the case, so each level is
        // assembled once per run instead of on every visit.
        solvers::LinearSystem& sys = level.system;
        sys.Nx = level.nx;
        sys.Ny = level.ny;
        sys.N = level.n;
        sys.coefficients.resize(static_cast<std::size_t>(level.n));
        model::assemble_coefficients(model_case, level.nx, level.ny, sys.coefficients);
    }
    auto level_of = [&](int lev) -> Level& { return levels[static_cast<std::size_t>(lev - 1)]; };

    LevelArrays arrays;
    for (Field* f : {&arrays.solution, &arrays.rhs, &arrays.residual, &arrays.correction}) f->assign(total, 0.0);
    solvers::SolverWorkspace work;
    work.resize(static_cast<std::size_t>(level_of(1).n));

    // Start of the run on level 1: initial estimate, its norm, and the source vector as the
    // finest right-hand side (the same in every cycle).
    Level& finest = level_of(1);
    state.Nx = finest.nx;
    state.Ny = finest.ny;
    state.N = finest.n;
    state.hx = model::spacing(finest.nx);
    state.hy = model::spacing(finest.ny);
    state.TNum.assign(static_cast<std::size_t>(finest.n), 0.0);
    state.T_Analitica.assign(static_cast<std::size_t>(finest.n), 0.0);
    model::initialise_field(model_case, s.initial_estimate, finest.nx, finest.ny, state.TNum, state.T_Analitica);
    std::vector<double>& norm_history = state.stats.norm_history;
    norm_history[0] = model::l1_mean_difference(finest.nx, finest.ny, finest.n, state.TNum, state.reference_solution);
    std::copy(state.TNum.begin(), state.TNum.end(), finest.segment(arrays.solution).begin());
    const Field& source = finest.system.coefficients.b;
    std::copy(source.begin(), source.end(), finest.segment(arrays.rhs).begin());

    auto smooth = [&](Level& level, std::span<double> X) {
        solvers::relax(s.solver_kind, s.inner_iterations, s.msi_tolerance, level.system, level.segment(arrays.rhs), X,
                       work);
    };

    int& iteration_count = state.stats.iteration_count;
    iteration_count = 1;
    for (int remaining = s.max_iterations; remaining >= 1; --remaining) {
        // Going down: smooth every level, starting each coarser one from the injected finer
        // solution with the FAS right-hand side.
        for (int lev = 1; lev <= L; ++lev) {
            Level& level = level_of(lev);
            const std::span<double> X = level.segment(arrays.solution);
            if (lev > 1) {
                const Level& fine = level_of(lev - 1);
                inject(level.nx, level.ny, fine.segment(arrays.solution), fine.nx, X);
                fas_right_hand_side(level, X, fine.segment(arrays.residual), fine.nx, level.segment(arrays.rhs));
                const std::span<double> injected = level.segment(arrays.correction);
                std::copy(X.begin(), X.end(), injected.begin());
            }
            smooth(level, X);
            apply_boundary_values(model_case, level.nx, level.ny, X);
            if (lev < L) {
                // The coarsest level's residual would never be read.
                level_residual(level, X, level.segment(arrays.rhs), level.segment(arrays.residual));
            } else {
                const std::span<double> e = level.segment(arrays.correction);
                for (std::size_t k = 0; k < e.size(); ++k) e[k] = X[k] - e[k];
            }
        }
        // Going up: correct each level from the next coarser one and smooth again.
        for (int lev = L - 1; lev >= 1; --lev) {
            Level& level = level_of(lev);
            const Level& coarse = level_of(lev + 1);
            const std::span<double> X = level.segment(arrays.solution);
            prolongate_correction(level.nx, level.ny, coarse.segment(arrays.correction), coarse.nx, X);
            apply_boundary_values(model_case, level.nx, level.ny, X);
            smooth(level, X);
            apply_boundary_values(model_case, level.nx, level.ny, X);
            if (lev > 1) {
                const std::span<double> e = level.segment(arrays.correction);
                for (std::size_t k = 0; k < e.size(); ++k) e[k] = X[k] - e[k];
                continue;
            }
            // Level 1 ends the cycle with the convergence test.
            norm_history[static_cast<std::size_t>(iteration_count)] =
                model::l1_mean_difference(level.nx, level.ny, level.n, X, state.reference_solution);
            const double norm = norm_history[static_cast<std::size_t>(iteration_count)];
            if (iteration_count >= s.max_iterations || norm <= s.tolerance) {
                std::copy(X.begin(), X.end(), state.TNum.begin());
                return;
            }
        }
        ++iteration_count;
    }
    if (iteration_count > s.max_iterations) iteration_count = s.max_iterations;
    const std::span<double> X = finest.segment(arrays.solution);
    std::copy(X.begin(), X.end(), state.TNum.begin());
}

}  // namespace advdiff::multigrid
