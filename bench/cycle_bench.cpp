// The machine's memory bandwidth (a copy between two arrays, as the STREAM copy) and one V-cycle's
// time by level and by kernel.

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>
#include <vector>

#include "bench_support.hpp"
#include "multigrid/fas_cycle.hpp"
#include "multigrid/hierarchy.hpp"

namespace advdiff::bench {

namespace {

constexpr int kMemoryGrid = 6145;

// a(k) := b(k) over n*n doubles: 16 bytes per node, 8 read and 8 written.
void memory_copy_bench(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<double> a(n * n, 1.0), b(n * n, 2.0);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        double* x = a.data();
        const double* y = b.data();
        for (std::size_t k = 0; k < n * n; ++k) x[k] = y[k];
        benchmark::ClobberMemory();
    }
    set_kernel_counters(state, static_cast<double>(n * n), 16.0, thread_cpu_seconds() - t0);
}

// The sum of b(k) + c(k) over n*n doubles of each: 16 bytes per node, all read. Eight running sums,
// so that the additions keep up with the loads: what one core's loads reach, the ceiling of the
// passes that mostly read (the copy's stores need no read of the line they fill).
void memory_read_bench(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<double> b(n * n, 1.0), c(n * n, 2.0);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        double sums[8] = {};
        std::size_t k = 0;
        for (; k + 8 <= n * n; k += 8)
            for (std::size_t i = 0; i < 8; ++i) sums[i] += b[k + i] + c[k + i];
        for (; k < n * n; ++k) sums[0] += b[k] + c[k];
        benchmark::DoNotOptimize(sums);
    }
    set_kernel_counters(state, static_cast<double>(n * n), 16.0, thread_cpu_seconds() - t0);
}

}  // namespace

void register_memory_benchmarks() {
    // The kernel sizes, 4097, and one grid of 6145 x 6145 (two arrays of 300 MB) that no cache holds:
    // the bandwidth the tables compare with is the copy's rate there.
    const std::pair<const char*, void (*)(benchmark::State&)> streams[] = {{"memory_copy/stream", memory_copy_bench},
                                                                            {"memory_read/stream", memory_read_bench}};
    std::vector<int> sizes(std::begin(kAllSizes), std::end(kAllSizes));
    sizes.insert(sizes.end(), {kLargeSize, kMemoryGrid});
    for (const auto& [name, bench] : streams)
        for (int n : sizes) benchmark::RegisterBenchmark(name, bench)->Arg(n)->Unit(benchmark::kMicrosecond);
}

void print_cycle_level_table(std::ostream& out, int n) {
    int levels = 1;
    while (((n - 1) >> levels) >= 2 && ((n - 1) >> levels) << levels == n - 1) ++levels;
    const auto h = multigrid::setup_hierarchy(levels, ((n - 1) >> (levels - 1)) + 1, ((n - 1) >> (levels - 1)) + 1, 2.0);
    if (!h || h->level_nx[0] != n) return;
    const model::ModelCase c = model::make_model_case(rotating_flow_settings());
    multigrid::FasCycle fas(*h, c, 1, 2, 1e-3);
    const std::span<double> u = fas.finest_solution();
    std::fill(u.begin(), u.end(), 0.0);  // the zero estimate; the rotating flow is 0 on the boundary
    multigrid::CycleTimes warm, times;
    warm.clock = times.clock = thread_cpu_seconds;
    fas.cycle(&warm);
    constexpr int kCycles = 5;
    for (int i = 0; i < kCycles; ++i) fas.cycle(&times);

    char line[256];
    std::snprintf(line, sizeof line, "\nOne V-cycle, multigrid Gauss-Seidel, 2 sweeps per visit, %d x %d, %d levels "
                  "(mean of %d cycles, CPU ms; ns per node of the level in brackets)\n", n, n, levels, kCycles);
    out << line;
    std::snprintf(line, sizeof line, "%5s %11s", "level", "grid");
    out << line;
    for (const char* name : multigrid::CycleTimes::kNames) {
        std::snprintf(line, sizeof line, " %15s", name);
        out << line;
    }
    out << "           total\n";
    std::vector<double> column(multigrid::CycleTimes::kKernelCount, 0.0);
    double all = 0.0;
    for (int lev = 1; lev <= levels; ++lev) {
        const int nx = h->level_nx[static_cast<std::size_t>(lev - 1)];
        const double nodes = static_cast<double>(h->level_nodes[static_cast<std::size_t>(lev - 1)]);
        std::snprintf(line, sizeof line, "%5d %5d x %-4d", lev, nx, nx);
        out << line;
        double total = 0.0;
        for (int k = 0; k < multigrid::CycleTimes::kKernelCount; ++k) {
            const double s = times.seconds[static_cast<std::size_t>(lev - 1)][static_cast<std::size_t>(k)] / kCycles;
            column[static_cast<std::size_t>(k)] += s;
            total += s;
            std::snprintf(line, sizeof line, " %7.3f [%5.1f]", 1e3 * s, 1e9 * s / nodes);
            out << line;
        }
        all += total;
        std::snprintf(line, sizeof line, " %7.3f [%5.1f]\n", 1e3 * total, 1e9 * total / nodes);
        out << line;
    }
    std::snprintf(line, sizeof line, "%17s", "all levels");
    out << line;
    for (double s : column) {
        std::snprintf(line, sizeof line, " %7.3f %7s", 1e3 * s, "");
        out << line;
    }
    std::snprintf(line, sizeof line, " %7.3f\n", 1e3 * all);
    out << line;
    out.flush();
}

}  // namespace advdiff::bench
