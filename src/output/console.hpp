#pragma once
// The lines the program prints on request while and after it runs: the norm of every iteration
// (--monitor), the verdict (--verdict) and where the time of one simulation goes (--profile).
// Numbers are written with std::to_chars, the same text on every platform.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/run_results.hpp"
#include "state/problem_state.hpp"

namespace advdiff::output {

// "V-cycle      3  norm 1.2345678901234567e-05  ratio 1.8355e-01": the norm in the shortest form
// that reads back to the same double (the summary's norm_history holds the same values), the
// ratio to the previous norm with five digits. No ratio for the initial estimate (iteration 0).
std::string monitor_line(bool multigrid, int iteration, double norm, std::optional<double> previous);

// "converged (tolerance_reached): 7 V-cycles, final norm 4.1855e-11 <= tolerance 1.0000e-10": whether
// the run converged and why (the summary's stop_reason), its iterations, and the final norm
// against the tolerance, with the report's five digits.
std::string verdict_line(const ProblemState& state, const report::RunResults& results);

struct ProfileOfOneRun {
    double seconds = 0.0;  // one simulation; the phases add up to it
    std::array<double, RunProfile::kPhaseCount> phases{};
    struct Level {
        int level;  // 1 = finest
        int Nx, Ny;
        std::int64_t nodes;
        double seconds;
    };
    std::vector<Level> levels;  // multigrid only
    int repetitions = 0;
    int iterations = 0;              // outer iterations or V-cycles of one simulation
    std::int64_t unknowns = 0;       // nodes of the finest grid
    bool multigrid = false;
};

// `profile` holds the sums over `state.stats.repetition_count` repetitions whose whole time was
// `total_ticks`, of `seconds_per_tick` each; "other" is what the named phases leave of it.
ProfileOfOneRun profile_of_one_run(const RunProfile& profile, double total_ticks, double seconds_per_tick,
                                   const ProblemState& state);

// The table --profile prints: phases with their share, then (multigrid) the levels, each with
// unknowns per second.
std::string profile_table(const ProfileOfOneRun& p);

}  // namespace advdiff::output
