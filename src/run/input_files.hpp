#pragma once
// read_input_files: dados1.ent, then MG2D_000.ent (run_mode 1) or SG2D_000.ent, from the working
// directory, each opened in the editor first (when enabled). Fills state.settings, records the
// line of every setting in state.setting_sources, validates the values the program cannot run
// with, and allocates state.stats.norm_history (max_iterations + 1 entries, zero-filled).

#include "state/problem_state.hpp"

namespace advdiff::run {

// Throws RunError(file, line, setting, message) for every unreadable file or value and for every
// rejected value; nothing is created or written.
void read_input_files(ProblemState& state, bool edit);

}  // namespace advdiff::run
