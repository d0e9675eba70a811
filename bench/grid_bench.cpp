// Whole-grid kernels outside the solvers: coefficient assembly, the iteration-error norm, and the
// multigrid transfers (injection to the next coarser level, prolongation of a coarse correction
// to the size given, the boundary values of a level).

#include <cmath>
#include <string>

#include "bench_support.hpp"
#include "model/norm.hpp"
#include "multigrid/transfer.hpp"

namespace advdiff::bench {

namespace {

int size_of(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

// A smooth field with values of ordinary size (no zeros, no subnormals).
Field smooth_field(int nx, int ny) {
    Field v(static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny));
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i)
            v[node(i, j, nx)] = 1.0 + 0.25 * std::sin(0.01 * i) * std::cos(0.013 * j);
    return v;
}

void assemble_bench(benchmark::State& state) {
    const int n = size_of(state);
    const model::ModelCase c = model::make_model_case(rotating_flow_settings());
    model::StencilCoefficients coefficients;
    coefficients.resize(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        model::assemble_coefficients(c, n, n, coefficients);
        benchmark::ClobberMemory();
    }
    set_node_counters(state, static_cast<double>(n) * n, thread_cpu_seconds() - t0);
}

void norm_bench(benchmark::State& state) {
    const int n = size_of(state);
    const Field A = smooth_field(n, n);
    Field B = A;
    for (double& x : B) x *= 1.0001;
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) benchmark::DoNotOptimize(model::l1_mean_difference(n, n, n * n, A, B));
    set_node_counters(state, static_cast<double>(n) * n, thread_cpu_seconds() - t0);
}

// Size = the finer level; a node update is one coarse node written.
void inject_bench(benchmark::State& state) {
    const int nf = size_of(state);
    const int nc = (nf - 1) / 2 + 1;
    const Field fine = smooth_field(nf, nf);
    Field coarse(static_cast<std::size_t>(nc) * static_cast<std::size_t>(nc), 0.0);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        multigrid::inject(nc, nc, fine, nf, coarse);
        benchmark::ClobberMemory();
    }
    set_node_counters(state, static_cast<double>(nc) * nc, thread_cpu_seconds() - t0);
}

// Size = the finer level; a node update is one interior fine node corrected. The correction is
// tiny, so the solution stays of ordinary size however many calls run.
void prolongate_bench(benchmark::State& state) {
    const int nf = size_of(state);
    const int nc = (nf - 1) / 2 + 1;
    Field correction = smooth_field(nc, nc);
    for (double& x : correction) x *= 1e-12;
    Field solution = smooth_field(nf, nf);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        multigrid::prolongate_correction(nf, nf, correction, nc, solution);
        benchmark::ClobberMemory();
    }
    set_node_counters(state, static_cast<double>(nf - 2) * (nf - 2), thread_cpu_seconds() - t0);
}

// A node update is one boundary node written (each corner counted once).
void boundary_bench(benchmark::State& state) {
    const int n = size_of(state);
    const model::ModelCase c = model::make_model_case(rotating_flow_settings());
    Field X = smooth_field(n, n);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        multigrid::apply_boundary_values(c, n, n, X);
        benchmark::ClobberMemory();
    }
    set_node_counters(state, 4.0 * (n - 1), thread_cpu_seconds() - t0);
}

}  // namespace

void register_grid_benchmarks() {
    for (int n : kAllSizes)
        benchmark::RegisterBenchmark("assemble_coefficients", assemble_bench)->Arg(n)->Unit(benchmark::kMicrosecond);
    for (int n : kAllSizes)
        benchmark::RegisterBenchmark("norm_l1_mean", norm_bench)->Arg(n)->Unit(benchmark::kMicrosecond);
    for (int n : kAllSizes)
        benchmark::RegisterBenchmark("inject_to_coarse", inject_bench)->Arg(n)->Unit(benchmark::kMicrosecond);
    for (int n : kAllSizes)
        benchmark::RegisterBenchmark("prolongate_correction", prolongate_bench)->Arg(n)->Unit(benchmark::kMicrosecond);
    for (int n : kAllSizes)
        benchmark::RegisterBenchmark("apply_boundary_values", boundary_bench)->Arg(n)->Unit(benchmark::kMicrosecond);
}

}  // namespace advdiff::bench
