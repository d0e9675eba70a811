#pragma once
// The report: what was simulated and how the run went, in a fixed layout of Portuguese lines
// (ISO 8859-1), followed by the accuracy against the analytic solution and, on request, the
// iteration-error norm of every listed iteration.

#include <string>

#include "platform/local_time.hpp"
#include "state/problem_state.hpp"

namespace advdiff::report {

// Accuracy of TNum against the analytic solution of the case.
struct Accuracy {
    double discretisation_error = 0.0;  // mean |analytic - TNum| over all nodes
    double linf_error = 0.0;            // largest |analytic - TNum|; NaN never replaces the maximum
};

Accuracy compute_accuracy(const ProblemState& state);

// The whole report as ISO 8859-1 bytes, every line ended by '\n'. Reads the state as the last
// repetition left it; the caller has already set inner_iterations to 1 for single-grid runs.
std::string compose_report(const ProblemState& state, const platform::LocalDateTime& when);

// Sets inner_iterations to 1 for single-grid runs, takes the local date and time, writes the
// report to report_file_name (trailing blanks removed) atomically, then opens it in the editor
// when `edit` is set. Throws RunError when the file cannot be written.
void write_report(ProblemState& state, bool edit);

// The report's file name: report_file_name without its trailing blanks.
std::string report_path(const SimulationSettings& settings);

}  // namespace advdiff::report
