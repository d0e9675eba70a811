// How a finished run is judged: whether it converged and why it stopped, and the two forms of
// the last iteration's rate.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "report/run_results.hpp"

namespace advdiff::report {
namespace {

// A finished 2 x 2 run whose norms are `norms` (entry 0 the initial estimate).
ProblemState finished(int run_mode, int solver_kind, std::vector<double> norms, double tolerance = 1e-3) {
    ProblemState s;
    s.settings.run_mode = run_mode;
    s.settings.solver_kind = solver_kind;
    s.settings.problem_kind = 2;
    s.settings.tolerance = tolerance;
    s.settings.max_iterations = static_cast<int>(norms.size()) - 1;
    s.Nx = s.Ny = 2;
    s.N = 4;
    s.hx = s.hy = 1.0;
    s.TNum.assign(4, 0.0);
    s.stats.iteration_count = static_cast<int>(norms.size()) - 1;
    s.stats.norm_history = std::move(norms);
    s.stats.norm_history.resize(s.stats.norm_history.size() + 5, 0.0);  // room the run did not use
    return s;
}

TEST(RunResults, StopReasonFollowsTheFinalNorm) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        ProblemState state;
        StopReason reason;
        bool converged;
    };
    const Case cases[] = {
        {finished(kMultigrid, kGaussSeidel, {1.0, 1e-2, 1e-4}), StopReason::tolerance_reached, true},
        // Equal to the tolerance: the drivers stop there too.
        {finished(kSingleGrid, kGaussSeidel, {1.0, 0.5, 1e-3}), StopReason::tolerance_reached, true},
        {finished(kSingleGrid, kMsi, {1.0, 0.5, 0.25}), StopReason::iteration_bound_reached, false},
        {finished(kSingleGrid, kAdi, {1.0, 1e10, nan}), StopReason::norm_not_finite, false},
        {finished(kMultigrid, kGaussSeidel, {1.0, inf, inf}), StopReason::norm_not_finite, false},
        // Elimination solves the system whatever the tolerance says about the reference.
        {finished(kSingleGrid, kElimGauss, {1.0, 0.5}, 1e-12), StopReason::direct_solve, true},
        {finished(kSingleGrid, kElimGauss, {1.0, nan}), StopReason::norm_not_finite, false},
        // No iteration allowed: judged by the initial estimate alone.
        {finished(kSingleGrid, kElimGauss, {1.0}), StopReason::iteration_bound_reached, false},
        {finished(kSingleGrid, kGaussSeidel, {1e-5}), StopReason::tolerance_reached, true},
        // In multigrid, code 4 smooths nothing: an iteration like any other.
        {finished(kMultigrid, kElimGauss, {1.0, 1.0}), StopReason::iteration_bound_reached, false},
    };
    for (const Case& c : cases) {
        const RunResults r = derive_run_results(c.state);
        EXPECT_EQ(r.stop_reason, c.reason) << stop_reason_name(r.stop_reason) << " after "
                                           << c.state.stats.iteration_count;
        EXPECT_EQ(r.converged, c.converged) << stop_reason_name(r.stop_reason);
    }
}

TEST(RunResults, LastIterationRateAndReductionFactor) {
    // n = 1, 0.5, 0.125: d1 = -0.375, d2 = -0.5, rate 4/3; reduction 0.25.
    const RunResults r = derive_run_results(finished(kSingleGrid, kGaussSeidel, {1.0, 0.5, 0.125}));
    ASSERT_TRUE(r.last_iteration_rate && r.reduction_factor);
    EXPECT_EQ(*r.last_iteration_rate, -0.5 / -0.375);
    EXPECT_EQ(*r.reduction_factor, 0.25);
    EXPECT_TRUE(r.rate_printed);
    EXPECT_EQ(r.initial_norm, 1.0);
    EXPECT_EQ(r.final_norm, 0.125);

    const RunResults one = derive_run_results(finished(kSingleGrid, kGaussSeidel, {1.0, 0.5}));
    EXPECT_FALSE(one.last_iteration_rate);  // the report shows asterisks
    EXPECT_EQ(one.reduction_factor.value_or(-1), 0.5);
    const RunResults none = derive_run_results(finished(kSingleGrid, kGaussSeidel, {1.0}));
    EXPECT_FALSE(none.reduction_factor);

    // A stalled iteration divides by zero, as the report does.
    const RunResults stalled = derive_run_results(finished(kSingleGrid, kGaussSeidel, {1.0, 0.5, 0.5}));
    EXPECT_TRUE(std::isinf(*stalled.last_iteration_rate));

    EXPECT_FALSE(derive_run_results(finished(kMultigrid, kGaussSeidel, {1.0, 0.5, 0.1})).rate_printed);
    EXPECT_FALSE(derive_run_results(finished(kSingleGrid, kElimGauss, {1.0, 0.5, 0.5})).rate_printed);
}

TEST(RunResults, AccuracyOfTheRotatingFlowCountsTheBoundaryNodes) {
    // The rotating flow's solution is 0 on the boundary: on a 2 x 2 grid every node is boundary,
    // so the errors are |TNum| themselves. The maximum ignores NaN after the first node.
    ProblemState s = finished(kSingleGrid, kGaussSeidel, {1.0});
    s.TNum = {0.5, -2.0, std::nan(""), 1.0};
    const RunResults r = derive_run_results(s);
    EXPECT_EQ(r.analytic, (std::vector<double>{0.0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(r.linf_error, 2.0);
    EXPECT_TRUE(std::isnan(r.discretisation_error));
}

}  // namespace
}  // namespace advdiff::report
