#pragma once
// The single-grid driver: one complete simulation on the Nx x Ny grid of the settings.

#include <cstdint>

#include "state/problem_state.hpp"

namespace advdiff::run {

// Builds the system and the initial estimate, then performs outer iterations of the solver
// selected by solver_kind (one sweep or one iteration each; Gauss elimination solves directly)
// until the L1 mean iteration error against state.reference_solution is <= tolerance or
// max_iterations outer iterations have run. Preconditions: state.Nx, state.Ny set;
// reference_solution holds Nx*Ny values; norm_history has max_iterations + 1 entries.
void run_single_grid(ProblemState& state);

// Bytes run_single_grid allocates for an Nx x Ny grid: TNum, T_Analitica, the system and the
// solver's work vectors or the elimination band (the largest figure when it does not fit).
std::uint64_t single_grid_bytes(int Nx, int Ny, int solver_kind);

}  // namespace advdiff::run
