#pragma once
// The report: what was simulated and how the run went, in a fixed layout of Portuguese lines
// (ISO 8859-1), followed by the accuracy against the analytic solution and, on request, the
// iteration-error norm of every listed iteration.

#include <string>

#include "platform/local_time.hpp"
#include "report/run_results.hpp"
#include "state/problem_state.hpp"

namespace advdiff::report {

// The whole report as ISO 8859-1 bytes, every line ended by '\n'. Reads the state as the last
// repetition left it; the caller has already set inner_iterations to 1 for single-grid runs.
// The accuracy, norms and rate it prints are those of `results` (derived from the same state);
// the first form derives them itself.
std::string compose_report(const ProblemState& state, const platform::LocalDateTime& when);
std::string compose_report(const ProblemState& state, const RunResults& results,
                           const platform::LocalDateTime& when);

// Sets inner_iterations to 1 for single-grid runs, takes the local date and time, writes the
// report to report_file_name (trailing blanks removed) atomically, then opens it in the editor
// when `edit` is set. Throws RunError when the file cannot be written.
void write_report(ProblemState& state, bool edit);
void write_report(ProblemState& state, const RunResults& results, bool edit);

// The report's file name: report_file_name without its trailing blanks.
std::string report_path(const SimulationSettings& settings);

}  // namespace advdiff::report
