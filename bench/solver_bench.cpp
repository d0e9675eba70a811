// The solver kernels: Gauss-Seidel (two sweeps per call, as a multigrid visit with two inner
// iterations), one MSI correction and one ADI iteration (as the single-grid driver asks for them),
// and the Gauss elimination. Each benchmark is named KERNEL_FLOW/PATH: `plain` is the kernel's
// plain loop, `production` the path the drivers take (Path::automatic), the others the faster
// paths it picks from; the argument is the grid side. Systems: the rotating flow and the constant
// velocity (bench_support.hpp), prepared as the drivers prepare them.
//
// bytes_per_node counts the arrays one call streams per node (each element read or written once,
// caches aside; a coefficient read as a number counts nothing).

#include <string>

#include "bench_support.hpp"

namespace advdiff::bench {

namespace {

constexpr double kDouble = sizeof(double);

template <class Call>
void run_kernel(benchmark::State& state, Flow flow, int solver_kind, double calls_per_node, double bytes_per_node,
                Call call) {
    const int n = static_cast<int>(state.range(0));
    const solvers::GridSystem& s = bench_system(flow, n, solver_kind);
    Field T = initial_field(flow, n);
    solvers::Scratch scratch;
    scratch.prepare(s.grid, solver_kind);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        call(s, T, scratch);
        benchmark::ClobberMemory();
    }
    set_kernel_counters(state, static_cast<double>(s.grid.N()) * calls_per_node, bytes_per_node,
                        thread_cpu_seconds() - t0);
}

// Arrays of the coefficients a path reads rather than holds as numbers.
int arrays_read(Flow flow, solvers::Path path) {
    if (path == solvers::Path::plain) return 5;
    return flow == Flow::rotating ? 3 : 0;
}

const char* name_of(solvers::Path path) {
    switch (path) {
        case solvers::Path::plain: return "plain";
        case solvers::Path::banded: return "banded";
        case solvers::Path::paired: return "paired";
        default: return "production";
    }
}

void add(const std::string& name, int n, auto function) {
    benchmark::RegisterBenchmark(name.c_str(), function)->Arg(n)->Unit(benchmark::kMicrosecond);
}

}  // namespace

void register_solver_benchmarks() {
    using solvers::Path;
    std::vector<int> sizes(std::begin(kAllSizes), std::end(kAllSizes));
    sizes.push_back(kLargeSize);
    for (Flow flow : {Flow::rotating, Flow::constant}) {
        const std::string suffix = flow == Flow::rotating ? "_rotating/" : "_constant/";
        for (int n : sizes) {
            const bool large = n == kLargeSize;
            for (Path path : {Path::plain, Path::banded, Path::paired, Path::automatic}) {
                if (large && (path == Path::banded || path == Path::paired)) continue;
                // b and the field read, the field written, and the coefficient arrays.
                const double bytes = kDouble * (arrays_read(flow, path) + 3);
                add("gauss_seidel" + suffix + name_of(path), n, [=](benchmark::State& st) {
                    run_kernel(st, flow, kGaussSeidel, 2, bytes, [&](const auto& s, auto& T, auto&) {
                        solvers::gauss_seidel_sweeps({2, path}, s, s.coefficients.b, T);
                    });
                });
            }
            for (Path path : {Path::plain, Path::automatic}) {
                // Plain: the residual pass (coefficients, b, T read, r written), forward (r, L1..L4
                // read, w written), back (w, U1..U3, T read, delta and T written). Production: the
                // residual in the cache, delta written and read back while in it.
                const double msi = kDouble * (path == Path::plain ? 21 : arrays_read(flow, path) + 14);
                add("msi_correction" + suffix + name_of(path), n, [=](benchmark::State& st) {
                    run_kernel(st, flow, kMsi, 1, msi, [&](const auto& s, auto& T, auto& scratch) {
                        solvers::msi_solve({1, 0.0, path}, s, s.coefficients.b, T, scratch);
                    });
                });
            }
            for (Path path : {Path::plain, Path::banded, Path::paired, Path::automatic}) {
                if (large && (path == Path::banded || path == Path::paired)) continue;
                // Plain: each half-sweep reads the five coefficients, b and T, writes p and q, then
                // reads p and q and writes T. The others: p and d held, so each half-sweep reads b, d,
                // T and two coefficients (the rotating flow), writes q, then reads p, q, writes T.
                const double adi = kDouble * (path == Path::plain ? 24 : 14 + (flow == Flow::rotating ? 4 : 0));
                add("adi_iteration" + suffix + name_of(path), n, [=](benchmark::State& st) {
                    run_kernel(st, flow, kAdi, 1, adi, [&](const auto& s, auto& T, auto& scratch) {
                        solvers::adi_solve({1, path}, s, s.coefficients.b, T, scratch);
                    });
                });
            }
        }
    }
    // A whole direct solve per call; bytes_per_node is the band storage per node, which the
    // elimination sweeps Nx times. The dense plain loop only where its N^2 matrix stays small.
    for (int n : {17, 33, 65, 129})
        for (Path path : {Path::plain, Path::automatic}) {
            if (path == Path::plain && n > 33) continue;
            const double bytes = kDouble * (path == Path::plain ? n * n + 1 : 2 * n + 2);
            benchmark::RegisterBenchmark((std::string("band_elimination/") + name_of(path)).c_str(),
                                         [=](benchmark::State& st) {
                                             run_kernel(st, Flow::rotating, kElimGauss, 1, bytes,
                                                        [&](const auto& s, auto& T, auto& scratch) {
                                                            solvers::gauss_elimination({path}, s, s.coefficients.b, T,
                                                                                       scratch);
                                                        });
                                         })
                ->Arg(n)
                ->Unit(benchmark::kMillisecond);
        }
}

}  // namespace advdiff::bench
