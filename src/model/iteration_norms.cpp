#include "model/iteration_norms.hpp"

#include "model/norm.hpp"

namespace advdiff::model {

IterationNorms::IterationNorms(const ProblemState& state, bool every_norm_exact)
    : state_(state),
      every_norm_exact_(every_norm_exact || state.stats.whole_history_read || state.stats.on_norm),
      row_step_(state.Ny >= kSampledFrom ? kSampleRowStep : 1) {}

bool IterationNorms::read(long long n) const {
    const SimulationSettings& s = state_.settings;
    return every_norm_exact_ || n >= static_cast<long long>(s.max_iterations) - 2 || s.solver_kind == kElimGauss ||
           history_lists(s, static_cast<int>(n), 0);
}

double IterationNorms::bound(std::span<const double> field, int row_step) const {
    return l1_mean_difference_lower_bound(state_.Nx, state_.Ny, state_.N, field, state_.reference_solution, row_step);
}

double IterationNorms::initial(std::span<const double> field) {
    // The first bound of iteration 0 gives iteration 1 its rate; the one before it counts as equal.
    if (!every_norm_exact_) previous_ = before_ = bound(field, row_step_);
    return l1_mean_difference(state_.Nx, state_.Ny, state_.N, field, state_.reference_solution);
}

double IterationNorms::of(int n, std::span<const double> field) {
    const SimulationSettings& s = state_.settings;
    // The first bound of an iteration whose norm is read serves only the rate of the next two.
    if (!read(n) || !read(n + 1LL) || !read(n + 2LL)) {
        // The rate compares like with like: the same bound, over the same rows, every iteration.
        const double first = bound(field, row_step_);
        double rate = 1.0;
        bool rate_known = true;  // not where a bound was missing (a zero, a NaN or an infinity)
        for (const double r : {first / previous_, previous_ / before_}) {
            if (!(r >= 0.0)) rate_known = false;
            else if (r < rate) rate = r;
        }
        before_ = previous_;
        previous_ = first;
        const auto decides = [&](double b) { return b > s.tolerance && b * rate * rate > kMargin * s.tolerance; };
        if (!read(n) && rate_known) {
            double b = first;
            if (!decides(b) && row_step_ > 1) b = bound(field, 1);
            if (decides(b)) {
                last_bounded_ = n;
                return b;
            }
        }
    }
    return l1_mean_difference(state_.Nx, state_.Ny, state_.N, field, state_.reference_solution);
}

}  // namespace advdiff::model
