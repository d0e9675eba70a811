// Linear-solver kernels on the rotating-flow system: the Gauss-Seidel sweep (production and
// plain, size by size so the table lists them next to each other), MSI factorisation and one MSI
// correction, one ADI iteration, and the band elimination.

#include <string>

#include "bench_support.hpp"
#include "plain_kernels.hpp"
#include "solvers/adi.hpp"
#include "solvers/gauss_elimination.hpp"
#include "solvers/gauss_seidel.hpp"
#include "solvers/msi.hpp"

namespace advdiff::bench {

namespace {

int size_of(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

// One sweep per iteration, as the single-grid driver calls it; the field keeps converging from
// the zero estimate, which does not change the work of a sweep.
template <auto Sweep>
void gauss_seidel_sweep(benchmark::State& state) {
    const RotatingFlowGrid& g = rotating_flow_grid(size_of(state));
    Field T = g.initial;
    const model::StencilView a = g.view();
    const std::span<const double> b(g.coefficients.b);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        Sweep(g.Nx, g.Ny, g.N, 1, a, b, T);
        benchmark::ClobberMemory();
    }
    set_node_counters(state, g.N, thread_cpu_seconds() - t0);
}

void msi_factorise_bench(benchmark::State& state) {
    const RotatingFlowGrid& g = rotating_flow_grid(size_of(state));
    solvers::MsiFactors f;
    f.resize(static_cast<std::size_t>(g.N));
    const model::StencilView a = g.view();
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        solvers::msi_factorise(a, f, g.N, g.Nx, g.Ny);
        benchmark::ClobberMemory();
    }
    set_node_counters(state, g.N, thread_cpu_seconds() - t0);
}

// One correction per call (limit 1), as the single-grid driver calls it.
void msi_solve_bench(benchmark::State& state) {
    const RotatingFlowGrid& g = rotating_flow_grid(size_of(state));
    const model::StencilView a = g.view();
    solvers::MsiFactors f;
    f.resize(static_cast<std::size_t>(g.N));
    solvers::msi_factorise(a, f, g.N, g.Nx, g.Ny);
    solvers::MsiWork work;
    work.resize(static_cast<std::size_t>(g.N));
    Field T = g.initial;
    const std::span<const double> b(g.coefficients.b);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        solvers::msi_solve(a, f, g.Ny, g.Nx, g.N, T, 1.0e-3, 1, b, work);
        benchmark::ClobberMemory();
    }
    set_node_counters(state, g.N, thread_cpu_seconds() - t0);
}

// One iteration (a row half-sweep and a column half-sweep) per call; a node update is one
// iteration's new value of a node.
void adi_iteration_bench(benchmark::State& state) {
    const RotatingFlowGrid& g = rotating_flow_grid(size_of(state));
    const model::StencilView a = g.view();
    solvers::AdiWork work;
    work.resize(static_cast<std::size_t>(g.N));
    Field T = g.initial;
    const std::span<const double> b(g.coefficients.b);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        solvers::adi_solve(g.Nx, g.Ny, g.N, 1, a, b, T, work);
        benchmark::ClobberMemory();
    }
    set_node_counters(state, g.N, thread_cpu_seconds() - t0);
}

// A whole direct solve per call (band assembly, elimination, back substitution).
void band_elimination_bench(benchmark::State& state) {
    const RotatingFlowGrid& g = rotating_flow_grid(size_of(state));
    const model::StencilView a = g.view();
    solvers::BandWork work;
    Field T = g.initial;
    const std::span<const double> b(g.coefficients.b);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        solvers::gauss_elimination(g.N, g.Nx, a, b, T, work);
        benchmark::ClobberMemory();
    }
    set_node_counters(state, g.N, thread_cpu_seconds() - t0);
}

}  // namespace

void register_solver_benchmarks() {
    for (int n : kAllSizes) {
        benchmark::RegisterBenchmark("gauss_seidel_sweep", gauss_seidel_sweep<&solvers::gauss_seidel_sweeps>)
            ->Arg(n)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("gauss_seidel_sweep_plain", gauss_seidel_sweep<&plain_gauss_seidel_sweeps>)
            ->Arg(n)
            ->Unit(benchmark::kMicrosecond);
    }
    for (int n : kAllSizes)
        benchmark::RegisterBenchmark("msi_factorise", msi_factorise_bench)->Arg(n)->Unit(benchmark::kMicrosecond);
    for (int n : kAllSizes)
        benchmark::RegisterBenchmark("msi_solve_1_correction", msi_solve_bench)->Arg(n)->Unit(benchmark::kMicrosecond);
    for (int n : kAllSizes)
        benchmark::RegisterBenchmark("adi_iteration", adi_iteration_bench)->Arg(n)->Unit(benchmark::kMicrosecond);
    for (int n : kBandSizes)
        benchmark::RegisterBenchmark("band_elimination", band_elimination_bench)->Arg(n)->Unit(benchmark::kMillisecond);
}

}  // namespace advdiff::bench
