#pragma once
// The main sequence: read the input files, run the whole simulation again and again until the
// timing window has closed, then write the report of the last repetition.

#include <cstdint>
#include <vector>

#include "output/run_outputs.hpp"
#include "platform/text_file.hpp"
#include "state/problem_state.hpp"

namespace advdiff::run {

struct ProgramOptions {
    double window_seconds = 10.0;  // length of the timing window; at least one repetition runs
    bool edit = true;              // open the input files and the report in the user's editor
    bool strict = false;           // refuse codes that select nothing; a run that does not converge
                                   // ends with kNotConverged
    bool monitor = false;          // each norm of the first repetition on stderr, as it comes
    bool verdict = false;          // one line on stdout: converged or not, and why
    bool profile = false;          // where the time of one simulation goes: a table on stdout and
                                   // the summary's "profile"
    output::OutputRequest outputs; // files written beside the report on request
};

// The exit status of a run that did not converge (stop reason iteration_bound_reached or
// norm_not_finite) under --strict, once the report and every requested output are written.
constexpr int kNotConverged = 3;

// Runs the program in the working directory and returns its exit status: 0, or kNotConverged.
// Throws RunError on any failure; nothing is written then.
int run_program(const ProgramOptions& options);

// The bytes of memory the run of run_program(options) would need at most: its arrays, the outputs'
// buffers and the norm history of max_iterations iterations. Reads the input files (never in an
// editor) and makes every check the run makes before computing, throwing its errors, but compares
// nothing with the memory available.
std::uint64_t memory_needed(const ProgramOptions& options);

// One repetition: reference set-up and driver (and, for multigrid, the hierarchy set-up).
void run_repetition(ProblemState& state);

// Fills state.reference_solution from exata<reference_file_index> for the current finest grid
// (state.Nx, state.Ny: from the settings in single-grid mode, from level 1 in multigrid mode).
void load_reference_solution(ProblemState& state);

// The user's input files (dados1.ent, both parameter files, whichever mode runs, and the reference
// file the run reads), which no output of the run may replace; for platform::check_output_target.
std::vector<platform::ProtectedFile> files_the_run_reads(const ProblemState& state);

// Bytes of memory one repetition of the run described by the settings needs at its peak, with
// what the requested extra outputs hold while they are written.
std::uint64_t bytes_needed(const ProblemState& state, const output::OutputRequest& outputs = {});

}  // namespace advdiff::run
