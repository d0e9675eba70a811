// The Gauss-Seidel kernel (MSI, ADI and the band elimination are in msi_adi_bench.cpp). Each
// benchmark is named KERNEL/PATH (PATH "plain" is the kernel's plain loop, "production" what the
// drivers call) and takes the grid side as its argument, so that the tables list the paths of a
// kernel next to each other size by size.
//
// Gauss-Seidel runs two sweeps per call (what a multigrid visit does with two inner iterations)
// on two systems: the rotating flow, whose east and north coefficients are one value, and the
// constant velocity, whose five coefficients all are.

#include <string>

#include "bench_support.hpp"
#include "solvers/gauss_seidel.hpp"

namespace advdiff::bench {

namespace {

int size_of(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

// Bytes per node of a Gauss-Seidel interior update: b and the field read, the field written,
// and every coefficient read from its array rather than held as a number.
double gauss_seidel_bytes(const solvers::UniformInterior* u) {
    int arrays = 5;
    if (u != nullptr)
        for (const auto& c : {u->aS, u->aW, u->aP, u->aE, u->aN}) arrays -= c.has_value() ? 1 : 0;
    return 8.0 * (arrays + 3);
}

enum class Path { plain, wavefront, wavefront_paired, production };

template <const RotatingFlowGrid& (*Grid)(int), Path P>
void gauss_seidel_bench(benchmark::State& state) {
    const RotatingFlowGrid& g = Grid(size_of(state));
    Field T = g.initial;
    const model::StencilView a = g.view();
    const std::span<const double> b(g.coefficients.b);
    constexpr int kSweeps = 2;
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        if constexpr (P == Path::plain) {
            solvers::gauss_seidel_sweeps(g.Nx, g.Ny, g.N, kSweeps, a, b, T);
        } else if constexpr (P == Path::production) {
            solvers::gauss_seidel_sweeps(g.Nx, g.Ny, g.N, kSweeps, a, g.uniform, b, T);
        } else {
            const solvers::detail::SweepPasses passes{true, P == Path::wavefront_paired};
            solvers::detail::gauss_seidel_sweeps_with(passes, g.Nx, g.Ny, g.N, kSweeps, a, g.uniform, b, T);
        }
        benchmark::ClobberMemory();
    }
    const double bytes = gauss_seidel_bytes(P == Path::plain ? nullptr : &g.uniform);
    set_kernel_counters(state, static_cast<double>(g.N) * kSweeps, bytes, thread_cpu_seconds() - t0);
}

}  // namespace

void register_solver_benchmarks() {
    for (int n : kAllSizes) {
        auto add = [n](const char* name, auto f) { benchmark::RegisterBenchmark(name, f)->Arg(n)->Unit(benchmark::kMicrosecond); };
        add("gauss_seidel_rotating/plain", gauss_seidel_bench<rotating_flow_grid, Path::plain>);
        add("gauss_seidel_rotating/wavefront", gauss_seidel_bench<rotating_flow_grid, Path::wavefront>);
        add("gauss_seidel_rotating/wavefront_paired", gauss_seidel_bench<rotating_flow_grid, Path::wavefront_paired>);
        add("gauss_seidel_rotating/production", gauss_seidel_bench<rotating_flow_grid, Path::production>);
        add("gauss_seidel_constant/plain", gauss_seidel_bench<constant_flow_grid, Path::plain>);
        add("gauss_seidel_constant/wavefront", gauss_seidel_bench<constant_flow_grid, Path::wavefront>);
        add("gauss_seidel_constant/wavefront_paired", gauss_seidel_bench<constant_flow_grid, Path::wavefront_paired>);
        add("gauss_seidel_constant/production", gauss_seidel_bench<constant_flow_grid, Path::production>);
    }
}

}  // namespace advdiff::bench
