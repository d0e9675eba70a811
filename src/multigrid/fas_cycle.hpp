#pragma once
// The multigrid method: full approximation scheme, V-cycles from level 1 (finest) down to the
// coarsest level and back up, injection and bilinear prolongation, the solver selected by
// solver_kind as smoother on every level (inner_iterations iterations per visit; Gauss
// elimination and unknown codes smooth nothing).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "model/model_problem.hpp"
#include "solvers/kernels.hpp"
#include "state/problem_state.hpp"

namespace advdiff::multigrid {

// Where one V-cycle's time goes, by level (index 0 = level 1) and by kernel; filled only when a
// caller asks (the benchmark's level table, the run's profile), in the unit of the caller's clock.
struct CycleTimes {
    double (*clock)() = nullptr;  // the benchmark passes the thread's CPU clock in seconds
    enum Kernel { kInject, kFasRhs, kSmooth, kBoundary, kResidual, kCorrection, kProlongate, kKernelCount };
    static constexpr const char* kNames[kKernelCount] = {"inject", "fas_rhs", "smooth", "boundary",
                                                         "residual", "correction", "prolongate"};
    std::vector<std::array<double, kKernelCount>> seconds;  // per level
};

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
    const solvers::GridSystem& finest_system() const;
    const model::GridValues& finest_values() const;

    // Bytes the cycle allocates for the hierarchy: the four level arrays, every level's prepared
    // system and boundary values, and the solver's scratch for the finest level.
    static std::uint64_t bytes_needed(const GridHierarchy& hierarchy, int solver_kind);

    // One V-cycle. Going down, every level is smoothed, coarser levels starting from the injected
    // finer solution with the FAS right-hand side A(R u) + R(f - A u); going up, each level gets
    // the bilinearly prolongated correction of the next coarser one and is smoothed again, with
    // the boundary values written after every correction and smoothing.
    void cycle(CycleTimes* times = nullptr);

private:
    using LevelArray = std::unique_ptr<double[]>;
    struct Level {
        int nx = 0, ny = 0, n = 0;
        std::size_t offset = 0;
        solvers::GridSystem system;  // prepared once, by the constructor
        model::GridValues values;    // the level's boundary values (and analytic solution)
        std::span<double> segment(LevelArray& array) const {
            return {array.get() + offset, static_cast<std::size_t>(n)};
        }
    };

    Level& level(int lev) { return levels_[static_cast<std::size_t>(lev - 1)]; }
    // Level l's place in residual_ (l >= 2), which has none for level 1.
    std::span<double> injected_residual(const Level& l) {
        const std::size_t below_level_1 = l.offset - static_cast<std::size_t>(levels_.front().n);
        return {residual_.get() + below_level_1, static_cast<std::size_t>(l.n)};
    }
    void smooth(Level& level, std::span<double> X);

    model::ModelCase model_case_;
    solvers::Relaxation smoother_;
    std::vector<Level> levels_;
    // Every level's segment one after the other, finest first. Each array is written where it is
    // read before it is read, except the residual's positions outside the interior range, which
    // are read (injected) as zeros: only that array is cleared. A level's residual is computed
    // only at the nodes the coarser level lies on, and stored in the coarser level's place.
    LevelArray solution_;    // u: level 1 set by the caller, coarser levels by the injection
    LevelArray rhs_;         // f: level 1 the source vector, coarser levels the FAS right-hand side
    LevelArray residual_;    // levels 2..L: f - A u of the finer level after its down-going smoothing
    LevelArray correction_;  // coarser levels: first R u (a copy of the injected u), then u - R u
    solvers::Scratch scratch_;
};

// One complete multigrid run. Preconditions: state.hierarchy holds a valid hierarchy;
// state.reference_solution holds the finest grid's reference; state.stats.norm_history has
// max_iterations + 1 >= 2 entries. On return: Nx, Ny, N, hx, hy describe level 1; TNum is the
// finest solution after the last cycle; T_Analitica as the initial estimate left it;
// iteration_count and norm_history(0 .. iteration_count) are set.
void run_multigrid(ProblemState& state);

// Bytes run_multigrid allocates: the cycle's (FasCycle::bytes_needed) and the finest grid's TNum
// and T_Analitica.
std::uint64_t multigrid_run_bytes(const GridHierarchy& hierarchy, int solver_kind);

}  // namespace advdiff::multigrid
