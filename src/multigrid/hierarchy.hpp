#pragma once
// The grid hierarchy of the multigrid mode: node counts of every level, finest (level 1) first.

#include <optional>
#include <string>

#include "state/problem_state.hpp"

namespace advdiff::multigrid {

// Node counts from the coarse end: level L = level_count has coarsest_nx x coarsest_ny nodes and
// each finer level k has trunc((n(k+1) - 1) * p + 1.0) nodes in each direction (truncation, not
// rounding). On success returns the tables; when a node count, a level's node total or the sum
// over all levels does not fit a 32-bit signed integer, returns nothing and sets `why`.
// Preconditions checked by the caller: level_count >= 1.
std::optional<GridHierarchy> setup_hierarchy(int level_count, int coarsest_nx, int coarsest_ny,
                                             double coarsening_p, std::string* why = nullptr);

}  // namespace advdiff::multigrid
