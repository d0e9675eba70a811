#pragma once
// The multigrid driver: full approximation scheme, V-cycles from level 1 (finest) down to the
// coarsest level and back up, injection and bilinear prolongation, the solver selected by
// solver_kind as smoother on every level (inner_iterations iterations per visit; Gauss
// elimination and unknown codes smooth nothing).

#include "state/problem_state.hpp"

namespace advdiff::multigrid {

// One complete multigrid run. Preconditions: state.hierarchy holds at least two levels with
// level_nx(k) - 1 = 2 (level_nx(k+1) - 1) (likewise y); state.reference_solution holds the
// finest grid's reference; state.stats.norm_history has max_iterations + 1 >= 2 entries.
// On return: Nx, Ny, N, hx, hy describe level 1; TNum is the finest solution after the last
// cycle; T_Analitica as the initial estimate left it; iteration_count and norm_history(0 ..
// iteration_count) are set.
void run_multigrid(ProblemState& state);

}  // namespace advdiff::multigrid
