#pragma once
// Shared pieces of the kernel benchmarks: the rotating-flow system of a grid, the CPU clock, the
// two counters every benchmark reports, and a scratch folder for file benchmarks.

#include <benchmark/benchmark.h>

#include <string>

#include "model/coefficients.hpp"
#include "model/model_problem.hpp"
#include "state/problem_state.hpp"

namespace advdiff::bench {

// Grid sizes (nodes per direction, square grids) of the kernels that run on every size.
inline constexpr int kAllSizes[] = {33, 65, 129, 257, 513, 1025};
// Band elimination costs O(N Nx^2): 257 x 257 alone would take seconds per solve.
inline constexpr int kBandSizes[] = {33, 65, 129};

// The five-point system of the rotating flow (problem_kind 2, gamma 1) on an n x n grid and the
// field of initial estimate 1 (all zero: the rotating flow vanishes on the boundary).
struct RotatingFlowGrid {
    int Nx = 0, Ny = 0, N = 0;
    model::ModelCase model_case;
    model::StencilCoefficients coefficients;
    Field initial;

    // As the drivers see the system: with the coefficients that are uniform over the interior.
    model::StencilView view() const {
        model::StencilView v(coefficients);
        v.interior_aE = model::uniform_interior_value(coefficients.aE, Nx, Ny);
        v.interior_aN = model::uniform_interior_value(coefficients.aN, Nx, Ny);
        return v;
    }
};

// Built on first use and kept for the rest of the run (benchmark functions run several times).
const RotatingFlowGrid& rotating_flow_grid(int n);

// The settings that select the rotating flow with gamma 1.
SimulationSettings rotating_flow_settings();

// CPU time of the calling thread in seconds. Cycles are estimated as CPU time times the clock
// rate, not read from the time-stamp counter around the loop: on a shared machine the counter
// also runs while the thread waits for a core, CPU time does not.
double thread_cpu_seconds();
// The clock rate the cycle estimate uses: "cpu MHz" of /proc/cpuinfo, else (x86) the rate of the
// time-stamp counter measured against the steady clock; 0 when neither is known.
double clock_hz();
// One line saying where the cycle counts come from (printed in the benchmark context).
std::string cycle_source_description();

// Sets the counters of a finished benchmark loop that took `cpu_seconds` of thread CPU time:
// "nodes/s" (node updates per second of CPU time) and "cyc/node" (estimated cycles per node
// update; 0 when the clock rate is unknown).
void set_node_counters(benchmark::State& state, double nodes_per_iteration, double cpu_seconds);

// A private folder under the system's temporary folder, created on first use;
// remove_scratch_folder() deletes it with everything in it.
const std::string& scratch_folder();
void remove_scratch_folder();

// Registration of each group, in the order the table lists them.
void register_solver_benchmarks();
void register_grid_benchmarks();
void register_file_benchmarks();

}  // namespace advdiff::bench
