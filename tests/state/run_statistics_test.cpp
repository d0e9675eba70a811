// The iteration-norm list starts short and grows as a run writes further entries.
#include <gtest/gtest.h>

#include <climits>

#include "run/input_files.hpp"
#include "state/problem_state.hpp"

namespace {

TEST(RunStatistics, RecordNormGrowsTheListAndKeepsEarlierEntries) {
    advdiff::RunStatistics stats;
    stats.norm_history.assign(2, 0.0);
    stats.record_norm(0, 1.5);
    stats.record_norm(1, 2.5);
    stats.record_norm(100, 3.5);
    ASSERT_GE(stats.norm_history.size(), 101u);
    EXPECT_EQ(stats.norm_history[0], 1.5);
    EXPECT_EQ(stats.norm_history[1], 2.5);
    EXPECT_EQ(stats.norm_history[100], 3.5);
    EXPECT_EQ(stats.norm_history[50], 0.0);
}

}  // namespace
