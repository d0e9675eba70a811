#pragma once
// Shared pieces of the kernel benchmarks: the rotating-flow system of a grid, the CPU clock, the
// two counters every benchmark reports, and a scratch folder for file benchmarks.

#include <benchmark/benchmark.h>

#include <ostream>
#include <string>

#include "model/coefficients.hpp"
#include "model/model_problem.hpp"
#include "solvers/kernels.hpp"
#include "state/problem_state.hpp"

namespace advdiff::bench {

// Grid sizes (nodes per direction, square grids) of the kernels that run on every size, and the
// sizes of the bandwidth table, where the production paths also run.
inline constexpr int kAllSizes[] = {33, 65, 129, 257, 513, 1025, 2049};
inline constexpr int kLargeSize = 4097;
// Band elimination costs O(N Nx^2): 257 x 257 alone would take seconds per solve.
inline constexpr int kBandSizes[] = {33, 65, 129};

// The two systems of the kernel benchmarks: the rotating flow (problem_kind 2, gamma 1), whose
// east and north coefficients are one value over the interior, and the constant velocity at 45
// degrees, Peclet code 1, whose five coefficients all are.
enum class Flow { rotating, constant };
SimulationSettings flow_settings(Flow flow);
SimulationSettings rotating_flow_settings();

// The n x n system of `flow` prepared for solver_kind, and the field of initial estimate 1; built
// on first use and kept for the rest of the run (benchmark functions run several times).
const solvers::GridSystem& bench_system(Flow flow, int n, int solver_kind);
const Field& initial_field(Flow flow, int n);

// CPU time of the calling thread in seconds: on a shared machine the wall clock also runs while
// the thread waits for a core, this clock does not.
double thread_cpu_seconds();

// Sets the two counters every kernel benchmark reports, for a finished loop that took
// `cpu_seconds` of thread CPU time: "ns_per_node" (CPU nanoseconds per node the kernel treats)
// and "bytes_per_node" (the bytes of the arrays it reads and writes per node, counted from the
// kernel's loop: what it must move when the grid is larger than the cache).
void set_kernel_counters(benchmark::State& state, double nodes_per_iteration, double bytes_per_node,
                         double cpu_seconds);

// A private folder under the system's temporary folder, created on first use;
// remove_scratch_folder() deletes it with everything in it.
const std::string& scratch_folder();
void remove_scratch_folder();

// Registration of each group, in the order the table lists them.
void register_solver_benchmarks();
void register_grid_benchmarks();
void register_file_benchmarks();
void register_reference_benchmarks();
void register_memory_benchmarks();

// After the benchmarks: one V-cycle's time by level and by kernel (multigrid Gauss-Seidel, two
// sweeps per visit, finest n x n).
void print_cycle_level_table(std::ostream& out, int n);

}  // namespace advdiff::bench
