#pragma once
// The multigrid method: full approximation scheme, V-cycles from level 1 (finest) down to the
// coarsest level and back up, injection and bilinear prolongation, the solver selected by
// solver_kind as smoother on every level (inner_iterations iterations per visit; Gauss
// elimination and unknown codes smooth nothing).

#include <cstddef>
#include <span>
#include <vector>

#include "model/model_problem.hpp"
#include "solvers/relaxation.hpp"
#include "state/problem_state.hpp"

namespace advdiff::multigrid {

// The hierarchy's arrays and one V-cycle on them. Everything is allocated by the constructor;
// a cycle allocates nothing.
class FasCycle {
public:
    // Requires at least two levels with level_nx(k) - 1 = 2 (level_nx(k+1) - 1), likewise y.
    // Assembles every level's system once; the finest right-hand side is its source vector.
    FasCycle(const GridHierarchy& hierarchy, const model::ModelCase& model_case, int solver_kind,
             int inner_iterations, double msi_tolerance);

    // The iterate of level 1 (node order), which the caller sets before the first cycle.
    std::span<double> finest_solution();
    const solvers::LinearSystem& finest_system() const;

    // One V-cycle. Going down, every level is smoothed, coarser levels starting from the injected
    // finer solution with the FAS right-hand side A(R u) + R(f - A u); going up, each level gets
    // the bilinearly prolongated correction of the next coarser one and is smoothed again, with
    // the boundary values written after every correction and smoothing.
    void cycle();

private:
    struct Level {
        int nx = 0, ny = 0, n = 0;
        std::size_t offset = 0;
        solvers::LinearSystem system;
        std::span<double> segment(Field& array) const {
            return {array.data() + offset, static_cast<std::size_t>(n)};
        }
    };

    Level& level(int lev) { return levels_[static_cast<std::size_t>(lev - 1)]; }
    void smooth(Level& level, std::span<double> X);

    model::ModelCase model_case_;
    int solver_kind_;
    int inner_iterations_;
    double msi_tolerance_;
    std::vector<Level> levels_;
    // Every level's segment one after the other, finest first.
    Field solution_;    // u: level 1 carries the iterate from cycle to cycle
    Field rhs_;         // f: level 1 the source vector, coarser levels the FAS right-hand side
    Field residual_;    // f - A u after the down-going smoothing (0 outside the interior range)
    Field correction_;  // coarser levels: first R u, then u - R u
    solvers::SolverWorkspace work_;
};

// One complete multigrid run. Preconditions: state.hierarchy holds a valid hierarchy;
// state.reference_solution holds the finest grid's reference; state.stats.norm_history has
// max_iterations + 1 >= 2 entries. On return: Nx, Ny, N, hx, hy describe level 1; TNum is the
// finest solution after the last cycle; T_Analitica as the initial estimate left it;
// iteration_count and norm_history(0 .. iteration_count) are set.
void run_multigrid(ProblemState& state);

}  // namespace advdiff::multigrid
