// Kernels that read or produce text: the reference-file reader (a file of Nx*Ny values written in
// the reference layout) and the report (the accuracy pass over the grid plus the formatted text,
// with a 100-row iteration table).

#include <exception>
#include <filesystem>
#include <map>
#include <string>

#include "bench_support.hpp"
#include "platform/local_time.hpp"
#include "report/report.hpp"
#include "run/reference_file.hpp"

namespace advdiff::bench {

namespace {

int size_of(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

// The analytic rotating-flow solution of an n x n grid: full-length values of varying exponents,
// as a real reference file holds.
Field analytic_field(int n) {
    const model::ModelCase c = model::make_model_case(rotating_flow_settings());
    const double h = model::spacing(n);
    Field v(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= n; ++i)
            v[node(i, j, n)] = model::analytic_solution(c, model::coordinate(i, h), model::coordinate(j, h));
    return v;
}

// The reference file of an n x n grid in the scratch folder, written on first use.
const std::string& reference_file(int n) {
    static std::map<int, std::string> paths;
    auto& path = paths[n];
    if (path.empty()) {
        const std::string p = scratch_folder() + "/exata-" + std::to_string(n);
        run::write_reference_values(p, n, n, analytic_field(n));
        path = p;
    }
    return path;
}

void read_reference_bench(benchmark::State& state) {
    const int n = size_of(state);
    std::string path;
    try {
        path = reference_file(n);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    Field out(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        run::read_reference_values(path, n, n, out);
        benchmark::ClobberMemory();
    }
    const double seconds = thread_cpu_seconds() - t0;
    const double file_bytes = static_cast<double>(std::filesystem::file_size(path));
    const double nodes = static_cast<double>(n) * n;
    set_kernel_counters(state, nodes, file_bytes / nodes, seconds);
    state.counters["MB_per_s"] = benchmark::Counter(file_bytes * static_cast<double>(state.iterations()) / seconds / 1e6);
}

// A finished single-grid Gauss-Seidel run of 100 iterations on an n x n grid, every iteration
// listed in the report.
ProblemState finished_run(int n) {
    ProblemState s;
    s.settings = rotating_flow_settings();
    s.settings.run_mode = kSingleGrid;
    s.settings.solver_kind = kGaussSeidel;
    s.settings.report_file_name = "bench_report.txt";
    s.settings.report_file_name.resize(kReportNameWidth, ' ');
    s.settings.Nx = s.settings.Ny = n;
    s.settings.max_iterations = 100;
    s.settings.tolerance = 1e-10;
    s.settings.inner_iterations = 1;
    s.settings.print_history = 1;
    s.settings.history_interval = 1;
    s.Nx = s.Ny = n;
    s.N = n * n;
    s.hx = s.hy = model::spacing(n);
    s.TNum = analytic_field(n);
    for (double& x : s.TNum) x *= 0.999;
    s.stats.repetition_count = 7;
    s.stats.elapsed_seconds = 10.25;
    s.stats.seconds_per_run = 10.25 / 7;
    s.stats.iteration_count = 100;
    s.stats.norm_history.resize(101);
    for (std::size_t k = 0; k < s.stats.norm_history.size(); ++k)
        s.stats.norm_history[k] = 1e-3 / static_cast<double>(k + 1);
    return s;
}

void compose_report_bench(benchmark::State& state) {
    const int n = size_of(state);
    const ProblemState s = finished_run(n);
    const platform::LocalDateTime when{2026, 8, 12, 21, 1, 31};
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        std::string text = report::compose_report(s, when);
        benchmark::DoNotOptimize(text.data());
    }
    set_kernel_counters(state, static_cast<double>(n) * n, 8.0 * 2, thread_cpu_seconds() - t0);
}

}  // namespace

void register_file_benchmarks() {
    // The reader also on 4097 x 4097 (a 400 MB file): it runs in every repetition, and on the
    // largest grids it is a large part of a multigrid run.
    for (int n : kAllSizes)
        benchmark::RegisterBenchmark("read_reference_file/production", read_reference_bench)
            ->Arg(n)
            ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("read_reference_file/production", read_reference_bench)
        ->Arg(4097)
        ->Unit(benchmark::kMicrosecond);
    for (int n : kAllSizes)
        benchmark::RegisterBenchmark("compose_report/production", compose_report_bench)->Arg(n)->Unit(benchmark::kMicrosecond);
}

}  // namespace advdiff::bench
