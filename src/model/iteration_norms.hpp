#pragma once
// The iteration-error norms of a run (single-grid iterations or V-cycles), taken exactly where
// something reads them and otherwise bounded from below.
//
// What reads them: the report's history table (the iterations it lists), its final norm,
// reduction factor and last rate (the last three iterations) and the verdict; a summary or the
// monitor reads every one. Any other norm only decides whether the run stops, and a lower bound of
// it above the tolerance decides that as the norm would: such a norm is taken as the bound, in a
// fraction of the time, and recorded as that bound. From 64 rows on, the bound over every eighth
// row, which costs an eighth of the one over all rows, is tried first.
//
// Whether an iteration is one of the last three is known only when the run stops. So a norm is
// taken exactly from the moment its first bound, brought two iterations on at the smaller of the
// last two rates of that bound (the same rows each time, from iteration 0 on; iteration 1 has one
// rate), comes within kMargin times the tolerance, where that rate is unknown, and near the
// iteration limit. A run that stops all the same with one of its last three norms bounded (over
// two iterations its norm fell by more than kMargin times the square of the recent rate) says so
// (last_three_exact), and its driver runs it again with every norm exact: the report, the verdict
// and the outputs are the same either way.

#include <limits>
#include <span>

#include "state/problem_state.hpp"

namespace advdiff::model {

class IterationNorms {
public:
    // Norms of fields against state.reference_solution on the state's Nx x Ny grid. Every norm is
    // exact when `every_norm_exact` is set, a summary reads the whole history or the monitor watches.
    IterationNorms(const ProblemState& state, bool every_norm_exact);

    // The norm of iteration 0, the initial estimate (always exact: the report reads it).
    double initial(std::span<const double> field);
    // The norm of iteration n >= 1 (the field after it), or a lower bound of it above the tolerance.
    double of(int n, std::span<const double> field);
    // Iteration n repeats the norm of iteration n - 1 (no solver step).
    void repeat(int n) {
        if (last_bounded_ == n - 1) last_bounded_ = n;
    }
    // Whether the last three norms of a run that stopped after `last` iterations are exact.
    bool last_three_exact(int last) const { return last_bounded_ < last - 2; }

private:
    // Whether the norm of iteration n is taken exactly whatever its bound.
    bool read(long long n) const;
    // The lower bound of the field's norm over rows 0, row_step, 2 row_step, ...
    double bound(std::span<const double> field, int row_step) const;

    static constexpr int kSampleRowStep = 8;
    static constexpr int kSampledFrom = 64;  // rows; on fewer the bound over all of them is cheap
    static constexpr double kMargin = 16.0;
    const ProblemState& state_;
    const bool every_norm_exact_;
    const int row_step_;  // of the bound tried first and followed for the rate
    double previous_ = std::numeric_limits<double>::quiet_NaN();  // the first bounds of the last
    double before_ = std::numeric_limits<double>::quiet_NaN();    // two iterations
    int last_bounded_ = std::numeric_limits<int>::min();  // the last iteration whose norm is a bound
};

}  // namespace advdiff::model
