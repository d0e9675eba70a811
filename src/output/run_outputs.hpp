#pragma once
// The outputs a run writes beside its report on request: the JSON summary (--summary) and the
// fields file (--fields). Neither is written unless asked for.

#include <cstdint>
#include <string>
#include <vector>

#include "report/run_results.hpp"
#include "state/problem_state.hpp"

namespace advdiff::output {

struct OutputRequest {
    std::string summary_path;  // --summary FILE; empty: none
    std::string fields_path;   // --fields FILE; empty: none
};

// A file of the run that an output must not replace, and what it is ("the report file").
struct RunFile {
    std::string path;
    std::string role;
};

// Checks, before any computing, that each requested file can be written, is none of `run_files`
// (the report, the input files, the reference file) and is not the other requested file.
// Throws RunError naming the option.
void check_output_targets(const OutputRequest& request, const std::vector<RunFile>& run_files);

// Bytes the requested outputs hold in memory while they are written, for a finest grid of
// `nodes` nodes.
std::uint64_t output_bytes(const OutputRequest& request, std::uint64_t nodes);

// Writes the requested files, each atomically, from the state of the finished run.
void write_outputs(const OutputRequest& request, const ProblemState& state, const report::RunResults& results,
                   const std::string& report_path, double window_seconds);

}  // namespace advdiff::output
