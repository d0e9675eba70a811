// Kernels of the reference tool's multigrid: the Gauss-Seidel sweeps of one level in single
// precision (a forward and a backward sweep), the plain loops against the paired rows that the
// tool runs. The equations are the rotating flow's on an n x n grid, rounded to single precision,
// with the east and north coefficients one value each, as the tool keeps them.

#include <vector>

#include "bench_support.hpp"
#include "smoother.hpp"

namespace advdiff::bench {

namespace {

template <bool Paired>
void reference_smoother_bench(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const solvers::GridSystem& grid = bench_system(Flow::rotating, n, kGaussSeidel);
    const std::size_t nodes = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    auto rounded = [&](const auto& from) { return std::vector<float>(from.begin(), from.end()); };
    const std::vector<float> aS = rounded(grid.coefficients.aS), aW = rounded(grid.coefficients.aW),
                             aP = rounded(grid.coefficients.aP), F = rounded(grid.coefficients.b);
    std::vector<float> inverse(nodes), X(nodes, 0.0f);
    for (std::size_t k = 0; k < nodes; ++k) inverse[k] = static_cast<float>(1.0 / grid.coefficients.aP[k]);
    const std::size_t centre = node(2, 2, n);
    const reference::LevelEquations<true> a{aS.data(), aW.data(), aP.data(), nullptr, nullptr, inverse.data(),
                                            static_cast<float>(grid.coefficients.aE[centre]),
                                            static_cast<float>(grid.coefficients.aN[centre])};
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        if constexpr (Paired) reference::gauss_seidel_pairs(a, F.data(), X.data(), n, n);
        else reference::gauss_seidel_plain(a, F.data(), X.data(), n, n);
        benchmark::ClobberMemory();
    }
    // Two sweeps, each reading aS, aW, the inverse diagonal, F and X and writing X (4 bytes each).
    set_kernel_counters(state, 2.0 * static_cast<double>(nodes), 4.0 * 6, thread_cpu_seconds() - t0);
}

}  // namespace

void register_reference_benchmarks() {
    for (int n : kAllSizes) {
        benchmark::RegisterBenchmark("reference_smoother/plain", reference_smoother_bench<false>)
            ->Arg(n)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("reference_smoother/production", reference_smoother_bench<true>)
            ->Arg(n)
            ->Unit(benchmark::kMicrosecond);
    }
}

}  // namespace advdiff::bench
