#pragma once
// The outputs a run writes beside its report on request: the JSON summary (--summary) and the
// fields file (--fields). Neither is written unless asked for.

#include <cstdint>
#include <string>
#include <vector>

#include "output/summary.hpp"
#include "platform/text_file.hpp"
#include "report/run_results.hpp"
#include "state/problem_state.hpp"

namespace advdiff::output {

struct OutputRequest {
    std::string summary_path;  // --summary FILE; empty: none
    std::string fields_path;   // --fields FILE; empty: none
};

// Checks, before any computing, that each requested file can be written and replaces none of
// `run_files` (the report and the files the run reads: platform::check_output_target), and that
// the two requested files differ. Throws RunError naming the option.
void check_output_targets(const OutputRequest& request, const std::vector<platform::ProtectedFile>& run_files);

// Bytes the requested outputs hold in memory while they are written, beside the run's own arrays:
// both are written in pieces as they are composed, so the figure does not grow with the grid or
// the norm history.
std::uint64_t output_bytes(const OutputRequest& request);

// Writes the requested files, each atomically and in pieces, from the state of the finished run.
void write_outputs(const OutputRequest& request, const ProblemState& state, const report::RunResults& results,
                   const SummaryContext& summary);

}  // namespace advdiff::output
