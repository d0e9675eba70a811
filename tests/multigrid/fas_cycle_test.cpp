// The multigrid driver as a whole: agreement with a direct solve, what happens without smoothing,
// and the property multigrid exists for: the number of V-cycles to a fixed tolerance hardly grows
// with the grid, while single-grid Gauss-Seidel needs about four times as many iterations each
// time the grid spacing halves.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "multigrid/fas_cycle.hpp"
#include "multigrid/hierarchy.hpp"
#include "run/single_grid.hpp"
#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

// Rotating flow, gamma 1, zero start, Gauss-Seidel smoother with two sweeps, coarsest grid 3 x 3.
struct MultigridRun {
    int levels = 4;
    int inner_iterations = 2;
    int max_iterations = 100;
    double tolerance = 1e-9;
    int initial_estimate = 1;
};

ProblemState run_multigrid(const MultigridRun& r, const std::vector<double>& reference) {
    ProblemState s;
    SimulationSettings& set = s.settings;
    set.run_mode = kMultigrid;
    set.solver_kind = kGaussSeidel;
    set.inner_iterations = r.inner_iterations;
    set.coarsest_nx = set.coarsest_ny = 3;
    set.level_count = r.levels;
    set.coarsening_p = 2.0;
    set.max_iterations = r.max_iterations;
    set.tolerance = r.tolerance;
    set.initial_estimate = r.initial_estimate;
    set.problem_kind = 2;
    set.gamma = 1.0;
    s.hierarchy = *multigrid::setup_hierarchy(r.levels, 3, 3, 2.0);
    s.reference_solution = reference;
    s.reference_solution.resize(static_cast<std::size_t>(s.hierarchy.level_nodes[0]), 0.0);
    s.stats.norm_history.assign(static_cast<std::size_t>(r.max_iterations) + 1, -1.0);
    s.stats.whole_history_read = true;  // the tests read every norm
    multigrid::run_multigrid(s);
    return s;
}

// The finest solution after enough cycles to reach round-off, whatever the norm says.
std::vector<double> converged_multigrid(int levels) {
    MultigridRun r;
    r.levels = levels;
    r.max_iterations = 40;
    r.tolerance = -1.0;
    return run_multigrid(r, {}).TNum;
}

ProblemState run_single_grid(int solver_kind, int n, int max_iterations, const std::vector<double>& reference) {
    ProblemState s;
    s.settings.run_mode = kSingleGrid;
    s.settings.solver_kind = solver_kind;
    s.settings.Nx = s.settings.Ny = s.Nx = s.Ny = n;
    s.settings.problem_kind = 2;
    s.settings.gamma = 1.0;
    s.settings.initial_estimate = 1;
    s.settings.max_iterations = max_iterations;
    s.settings.tolerance = 1e-9;
    s.reference_solution = reference;
    s.reference_solution.resize(static_cast<std::size_t>(n * n), 0.0);
    s.stats.norm_history.assign(static_cast<std::size_t>(max_iterations) + 1, -1.0);
    run::run_single_grid(s);
    return s;
}

std::vector<double> direct_solution(int n) { return run_single_grid(kElimGauss, n, 1, {}).TNum; }

TEST(MultigridRun, ConvergedCyclesAgreeWithTheDirectSolution) {
    for (int levels : {4, 5}) {
        const std::vector<double> mg = converged_multigrid(levels), direct = direct_solution((2 << (levels - 1)) + 1);
        ASSERT_EQ(mg.size(), direct.size());
        double largest = 0.0, difference = 0.0;
        for (std::size_t k = 0; k < mg.size(); ++k) {
            largest = std::max(largest, std::fabs(direct[k]));
            difference = std::max(difference, std::fabs(mg[k] - direct[k]));
        }
        EXPECT_LT(difference, 1e-13 * largest) << levels << " levels";
    }
}

TEST(MultigridRun, VCycleCountHardlyGrowsWithTheGrid) {
    std::vector<int> cycles;
    for (int levels = 5; levels <= 8; ++levels) {  // finest grid 33, 65, 129, 257
        MultigridRun r;
        r.levels = levels;
        cycles.push_back(run_multigrid(r, converged_multigrid(levels)).stats.iteration_count);
    }
    for (std::size_t k = 0; k < cycles.size(); ++k) {
        EXPECT_LT(cycles[k], 100);
        EXPECT_LE(std::abs(cycles[k] - cycles[0]), 3) << "finest grid " << (32 << k) + 1;
    }
}

TEST(SingleGridRun, GaussSeidelIterationsGrowFourfoldPerRefinement) {
    std::vector<int> iterations;
    for (int n : {17, 33, 65})
        iterations.push_back(run_single_grid(kGaussSeidel, n, 100000, direct_solution(n)).stats.iteration_count);
    for (std::size_t k = 1; k < iterations.size(); ++k) {
        const double growth = static_cast<double>(iterations[k]) / iterations[k - 1];
        EXPECT_GT(growth, 3.0) << iterations[k - 1] << " -> " << iterations[k];
        EXPECT_LT(growth, 5.0) << iterations[k - 1] << " -> " << iterations[k];
    }
}

TEST(MultigridRun, WithoutSmoothingTheIterateOnlyTakesBoundaryValuesAndCorrections) {
    const std::vector<double> reference = converged_multigrid(4);
    for (int estimate : {1, 3}) {
        SCOPED_TRACE("initial estimate " + std::to_string(estimate));
        MultigridRun r;
        r.inner_iterations = 0;
        r.max_iterations = 8;
        r.initial_estimate = estimate;
        const ProblemState s = run_multigrid(r, reference);
        EXPECT_EQ(s.stats.iteration_count, r.max_iterations);
        // The zero start already holds its boundary values; the one-half start gets them, and
        // the corrections they cause, in the first cycle. After that nothing changes.
        const std::vector<double>& n = s.stats.norm_history;
        EXPECT_EQ(n[1] == n[0], estimate == 1);
        for (int k = 2; k <= r.max_iterations; ++k) EXPECT_EQ(n[static_cast<std::size_t>(k)], n[1]) << k;
        EXPECT_GT(n[1], 1e3 * r.tolerance);
        r.inner_iterations = 2;
        EXPECT_LT(run_multigrid(r, reference).stats.iteration_count, r.max_iterations);
    }
}

}  // namespace
}  // namespace advdiff::testing
