#pragma once
// The run summary: one JSON document with the settings, the grid, the timing, the convergence
// and the accuracy of a finished run, for programs to read. The README lists every field.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "output/console.hpp"
#include "report/run_results.hpp"
#include "state/problem_state.hpp"

namespace advdiff::output {

// A setting as the input files gave it (a text setting as stored: blank-padded).
struct NamedSetting {
    std::string name;
    std::variant<int, double, std::string> value;
};

// What the summary states beyond the problem state.
struct SummaryContext {
    std::string report_file;             // the report's file name as written
    double window_seconds = 0.0;         // length of the timing window
    std::vector<NamedSetting> settings;  // the run's settings in file order, named as the input tables name them
    const ProfileOfOneRun* profile = nullptr;  // --profile: where the time of one simulation went
};

// The test case in words: "rotating flow", "pure diffusion", "constant velocity, 30 degrees",
// "constant velocity, 45 degrees, Peclet code 10"; combinations the velocity table does not list
// say so ("..., not in the velocity table: no advection").
std::string test_case_name(const SimulationSettings& settings);

// The solver as the summary names it: "Gauss-Seidel", "MSI", "ADI", "Gauss elimination" (single
// grid only), "none" for a code that selects no solver step.
std::string solver_name(const SimulationSettings& settings);

// Writes the summary through `out` in pieces as it is composed (a long norm history is never one
// string): at most JsonWriter::kStreamingBytes are held at a time.
void write_summary(const ProblemState& state, const report::RunResults& results, const SummaryContext& context,
                   const std::function<void(std::string_view)>& out);

// Bytes write_summary holds while it writes, whatever the length of the run.
std::uint64_t summary_bytes();

// The whole summary as one string.
std::string compose_summary(const ProblemState& state, const report::RunResults& results,
                            const SummaryContext& context);

}  // namespace advdiff::output
