// Whole-grid kernels outside the solvers: coefficient assembly, the iteration-error norm, the
// multigrid transfers (injection to the next coarser level, prolongation of a coarse correction
// to the size given, the boundary values of a level), and sin and sinh at the grid coordinates.

#include <cmath>
#include <map>
#include <memory>
#include <string>

#include "bench_support.hpp"
#include "model/correctly_rounded.hpp"
#include "model/norm.hpp"
#include "multigrid/fas_cycle.hpp"
#include "multigrid/transfer.hpp"
#include "solvers/kernels.hpp"

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
    set_kernel_counters(state, static_cast<double>(n) * n, 8.0 * 6, thread_cpu_seconds() - t0);
}

template <double (*Norm)(int, int, int, std::span<const double>, std::span<const double>)>
void norm_bench(benchmark::State& state) {
    const int n = size_of(state);
    const Field A = smooth_field(n, n);
    Field B = A;
    for (double& x : B) x *= 1.0001;
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) benchmark::DoNotOptimize(Norm(n, n, n * n, A, B));
    set_kernel_counters(state, static_cast<double>(n) * n, 8.0 * 2, thread_cpu_seconds() - t0);
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
    set_kernel_counters(state, static_cast<double>(nc) * nc, 8.0 * 2, thread_cpu_seconds() - t0);
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
    // The solution read and written, the coarse correction read once per four fine nodes.
    set_kernel_counters(state, static_cast<double>(nf - 2) * (nf - 2), 8.0 * 2.25, thread_cpu_seconds() - t0);
}

// A node update is one boundary node written (each corner counted once).
void boundary_bench(benchmark::State& state) {
    const int n = size_of(state);
    const model::GridValues values(model::make_model_case(rotating_flow_settings()), n, n);
    Field X = smooth_field(n, n);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        multigrid::apply_boundary_values(values, X);
        benchmark::ClobberMemory();
    }
    set_kernel_counters(state, 4.0 * (n - 1), 8.0, thread_cpu_seconds() - t0);
}

// Every = 2: as the cycle calls it, every second row and column only, into the coarse level's layout.
template <bool Uniform, int Every = 1>
void residual_bench(benchmark::State& state) {
    const int n = size_of(state);
    const solvers::GridSystem& system = bench_system(Flow::rotating, n, kGaussSeidel);
    const Field X = smooth_field(n, n);
    Field r(X.size(), 0.0);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        solvers::level_residual({Uniform ? solvers::Path::automatic : solvers::Path::plain, Every}, system,
                                system.coefficients.b, X, r);
        benchmark::ClobberMemory();
    }
    // Coefficients read from arrays and f on the rows sampled, X read, r written at the nodes sampled.
    const double rows = 1.0 / Every, arrays = (Uniform ? 3 : 5) + 1;
    set_kernel_counters(state, static_cast<double>(n) * n, 8.0 * (arrays * rows + 1 + rows * rows),
                        thread_cpu_seconds() - t0);
}

// Size = the coarse level's side; the finer level's residual comes in the coarse level's layout.
template <bool Uniform>
void fas_rhs_bench(benchmark::State& state) {
    const int n = size_of(state);
    const solvers::GridSystem& system = bench_system(Flow::rotating, n, kGaussSeidel);
    const Field X = smooth_field(n, n);
    const Field injected_residual = smooth_field(n, n);
    Field f(X.size(), 0.0);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        solvers::fas_right_hand_side({Uniform ? solvers::Path::automatic : solvers::Path::plain}, system,
                                     injected_residual, X, f);
        benchmark::ClobberMemory();
    }
    set_kernel_counters(state, static_cast<double>(n) * n, 8.0 * ((Uniform ? 3 : 5) + 3), thread_cpu_seconds() - t0);
}

// f(pi x_i) at the coordinates x_i, i = 2 .. n, of an n-node side, as pure diffusion's per-grid
// table evaluates sin and sinh (a "node" is one call; x_1 = 0 is left out, as the multiple-precision
// path takes positive arguments only). The C library's functions are there for scale.
template <double (*F)(double)>
void coordinate_function_bench(benchmark::State& state) {
    const int n = size_of(state);
    const double h = model::spacing(n);
    Field out(static_cast<std::size_t>(n), 0.0);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        for (int i = 2; i <= n; ++i) out[static_cast<std::size_t>(i - 1)] = F(kPi * model::coordinate(i, h));
        benchmark::ClobberMemory();
    }
    set_kernel_counters(state, static_cast<double>(n - 1), 8.0, thread_cpu_seconds() - t0);
}

// The lower bounds the single-grid driver decides its stopping test with.
double all_rows_bound(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B) {
    return model::l1_mean_difference_lower_bound(Nx, Ny, N, A, B, 1);
}
double eighth_rows_bound(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B) {
    return model::l1_mean_difference_lower_bound(Nx, Ny, N, A, B, 8);
}

double c_library_sin(double x) { return std::sin(x); }
double c_library_sinh(double x) { return std::sinh(x); }

}  // namespace

void register_grid_benchmarks() {
    // The production paths also at the largest size of the bandwidth table.
    auto each_size = [](const char* name, auto f) {
        for (int n : kAllSizes) benchmark::RegisterBenchmark(name, f)->Arg(n)->Unit(benchmark::kMicrosecond);
        if (std::string(name).ends_with("/production"))
            benchmark::RegisterBenchmark(name, f)->Arg(kLargeSize)->Unit(benchmark::kMicrosecond);
    };
    each_size("assemble_coefficients/production", assemble_bench);
    each_size("norm_l1_mean/plain", norm_bench<model::detail::l1_mean_difference_plain>);
    each_size("norm_l1_mean/blocked", norm_bench<model::detail::l1_mean_difference_blocked>);
    each_size("norm_l1_mean/streamed", norm_bench<model::detail::l1_mean_difference_streamed>);
    each_size("norm_l1_mean/production", norm_bench<model::l1_mean_difference>);
    each_size("norm_l1_mean/lower_bound", norm_bench<all_rows_bound>);
    each_size("norm_l1_mean/lower_bound_8th_rows", norm_bench<eighth_rows_bound>);
    each_size("inject/production", inject_bench);
    each_size("prolongate_correction/production", prolongate_bench);
    each_size("apply_boundary_values/production", boundary_bench);
    each_size("level_residual/plain", residual_bench<false>);
    each_size("level_residual/production", residual_bench<true>);
    each_size("level_residual_cycle/production", residual_bench<true, 2>);
    each_size("fas_right_hand_side/plain", fas_rhs_bench<false>);
    each_size("fas_right_hand_side/production", fas_rhs_bench<true>);
    each_size("sin_pi_x/c_library", coordinate_function_bench<c_library_sin>);
    each_size("sin_pi_x/multiple_precision", coordinate_function_bench<model::cr_detail::sin_multiprecision>);
    each_size("sin_pi_x/production", coordinate_function_bench<model::cr_sin>);
    each_size("sinh_pi_y/c_library", coordinate_function_bench<c_library_sinh>);
    each_size("sinh_pi_y/multiple_precision", coordinate_function_bench<model::cr_detail::sinh_multiprecision>);
    each_size("sinh_pi_y/production", coordinate_function_bench<model::cr_sinh>);
}

}  // namespace advdiff::bench
