// The MSI, ADI and band-elimination kernels on the rotating-flow system, each production kernel
// beside the plain node-by-node loop it must agree with to the last bit (the plain loops are the
// ones the solvers themselves fall back to). Counters: ns_per_node, thread CPU nanoseconds per
// node and call; bytes_per_node, the bytes of the arrays one call streams per node (each array
// element read or written once, caches aside), so that ns_per_node x bandwidth can be set against
// bytes_per_node.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "bench_support.hpp"
#include "solvers/adi.hpp"
#include "solvers/gauss_elimination.hpp"
#include "solvers/msi.hpp"

namespace advdiff::bench {
namespace {

constexpr int kSizes[] = {33, 65, 129, 257, 513, 1025, 2049};
// Band elimination costs O(N Nx^2): 257 x 257 would take seconds per solve.
constexpr int kEliminationSizes[] = {33, 65, 129};

constexpr double kDouble = sizeof(double);
// Factorisation: five coefficients read, seven factors written.
constexpr double kFactoriseBytes = 12 * kDouble;
// Plain substitutions: forward r, L1..L4 read, w written; back w, U1..U3, T read, delta and T
// written. The banded ones keep delta for the rows in hand only.
constexpr double kPlainSubstitutionBytes = 13 * kDouble;
constexpr double kBandedSubstitutionBytes = 11 * kDouble;
// Plain correction: the residual pass (five coefficients, b, T read, r written) and the above.
constexpr double kPlainCorrectionBytes = 8 * kDouble + kPlainSubstitutionBytes;
// Production correction on the rotating flow (aE, aN held as numbers): the forward pass reads aS,
// aW, aP, b, T and L1..L4 and writes w, no r; the back substitution w, U1..U3, T read, T written.
constexpr double kCorrectionBytes = 10 * kDouble + 6 * kDouble;
// Half-sweep: forward five coefficients, b, T read, p and q written; back p, q read, T written.
constexpr double kHalfSweepBytes = 12 * kDouble;

int size_of(const benchmark::State& state) { return static_cast<int>(state.range(0)); }

void set_counters(benchmark::State& state, double nodes_per_call, double cpu_seconds, double bytes_per_node) {
    const double nodes = nodes_per_call * static_cast<double>(state.iterations());
    if (nodes <= 0.0) return;
    state.counters["ns_per_node"] = benchmark::Counter(cpu_seconds * 1e9 / nodes);
    state.counters["bytes_per_node"] = benchmark::Counter(bytes_per_node);
}

// The constant-velocity case of 30 degrees, gamma 0.1, on an n x n grid from the zero field: every
// coefficient is one value over the interior, which the production kernels exploit.
struct ConstantVelocityGrid {
    int Nx = 0, Ny = 0, N = 0;
    model::StencilCoefficients coefficients;
    Field initial;
    model::StencilView view() const {
        model::StencilView v(coefficients);
        return v;
    }
};

const ConstantVelocityGrid& constant_velocity_grid(int n) {
    static std::map<int, std::unique_ptr<ConstantVelocityGrid>> grids;
    auto& slot = grids[n];
    if (!slot) {
        auto g = std::make_unique<ConstantVelocityGrid>();
        g->Nx = g->Ny = n;
        g->N = n * n;
        SimulationSettings s;
        s.problem_kind = 1;
        s.flow_angle = 30;
        s.gamma = 0.1;
        g->coefficients.resize(static_cast<std::size_t>(g->N));
        model::assemble_coefficients(model::make_model_case(s), n, n, g->coefficients);
        g->initial.assign(static_cast<std::size_t>(g->N), 0.0);
        slot = std::move(g);
    }
    return *slot;
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
    set_counters(state, g.N, thread_cpu_seconds() - t0, kFactoriseBytes);
}

// One correction as the single-grid driver asks for it (iteration limit 1): the residual of T and
// both substitutions.
template <auto Solve, auto Grid = &rotating_flow_grid>
void msi_correction_bench(benchmark::State& state, double bytes_per_node) {
    const RotatingFlowGrid& g = Grid(size_of(state));
    const model::StencilView a = g.view();
    const auto n = static_cast<std::size_t>(g.N);
    solvers::MsiFactors f;
    f.resize(n);
    solvers::msi_factorise(a, f, g.N, g.Nx, g.Ny);
    solvers::MsiWork work;
    work.resize(n);
    Field T = g.initial;
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        Solve(a, f, g.Nx, g.N, T, g.coefficients.b, work);
        benchmark::ClobberMemory();
    }
    set_counters(state, g.N, thread_cpu_seconds() - t0, bytes_per_node);
}

void msi_correction_production(const model::StencilView& a, const solvers::MsiFactors& f, int Nx, int N,
                               std::span<double> T, std::span<const double> b, solvers::MsiWork& work) {
    solvers::msi_solve(a, f, N / Nx, Nx, N, T, 0.0, 1, b, work);
}
void msi_correction_plain(const model::StencilView& a, const solvers::MsiFactors& f, int Nx, int N,
                          std::span<double> T, std::span<const double> b, solvers::MsiWork& work) {
    solvers::msi_solve_plain(a, f, Nx, N, T, 0.0, 1, b, work);
}

// Both substitutions alone, on the residual of the initial field.
template <auto Substitute, double kBytes>
void msi_substitution_bench(benchmark::State& state) {
    const RotatingFlowGrid& g = rotating_flow_grid(size_of(state));
    const model::StencilView a = g.view();
    const auto n = static_cast<std::size_t>(g.N);
    solvers::MsiFactors f;
    f.resize(n);
    solvers::msi_factorise(a, f, g.N, g.Nx, g.Ny);
    solvers::MsiWork work;
    work.resize(n);
    Field T = g.initial;
    solvers::msi_residual(a, g.Nx, g.N, T, g.coefficients.b, work.r);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        Substitute(f, g.Nx, g.N, work.r, work.w, work.delta, T);
        benchmark::ClobberMemory();
    }
    set_counters(state, g.N, thread_cpu_seconds() - t0, kBytes);
}

using HalfSweep = void (*)(int, int, const model::StencilView&, std::span<const double>, std::span<double>,
                           solvers::AdiWork&);

// `Iteration` once per call on the grid `Grid` returns (the rotating flow or a constant velocity).
template <auto Grid, class Iteration>
void adi_run(benchmark::State& state, double bytes_per_node, Iteration iteration) {
    const auto& g = Grid(size_of(state));
    const model::StencilView a = g.view();
    solvers::AdiWork work;
    work.resize(static_cast<std::size_t>(g.N));
    Field T = g.initial;
    const std::span<const double> b(g.coefficients.b);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        iteration(g, a, b, T, work);
        benchmark::ClobberMemory();
    }
    set_counters(state, g.N, thread_cpu_seconds() - t0, bytes_per_node);
}

template <HalfSweep... Sweeps>
void adi_bench(benchmark::State& state, double bytes_per_node) {
    adi_run<&rotating_flow_grid>(state, bytes_per_node, [](const auto& g, const auto& a, auto b, auto& T, auto& work) {
        (Sweeps(g.Nx, g.Ny, a, b, T, work), ...);
    });
}

// The row and/or column half-sweep on the rotating flow with the grid's line factors computed
// beforehand, as the drivers hold them after a grid's first ADI call.
template <bool Rows, bool Columns>
void adi_lines_bench(benchmark::State& state, double bytes_per_node) {
    const auto& grid = rotating_flow_grid(size_of(state));
    solvers::AdiLineFactors lines;
    lines.compute(grid.view(), grid.Nx, grid.Ny);
    adi_run<&rotating_flow_grid>(state, bytes_per_node, [&](const auto& g, const auto& a, auto b, auto& T, auto& work) {
        if constexpr (Rows) solvers::adi_row_sweep_held(g.Nx, g.Ny, a, g.uniform, lines, b, T, work);
        if constexpr (Columns) solvers::adi_column_sweep_held(g.Nx, g.Ny, a, lines, b, T, work);
    });
}

// One ADI iteration on the constant-velocity grid: production (adi_solve) or plain.
// Production with the grid's uniform values found once beforehand (as the drivers hold them), or
// finding them itself on every call.
enum class Adi { kPlain, kProduction, kProductionKnownUniform };
template <Adi Kind>
void adi_constant_velocity_bench(benchmark::State& state, double bytes_per_node) {
    const ConstantVelocityGrid& grid = constant_velocity_grid(size_of(state));
    const solvers::UniformInterior uniform = solvers::UniformInterior::find(grid.view(), grid.Nx, grid.Ny);
    adi_run<&constant_velocity_grid>(state, bytes_per_node,
                                     [&](const auto& g, const auto& a, auto b, auto& T, auto& work) {
                                         if constexpr (Kind == Adi::kProduction)
                                             solvers::adi_solve(g.Nx, g.Ny, g.N, 1, a, b, T, work);
                                         else if constexpr (Kind == Adi::kProductionKnownUniform)
                                             solvers::adi_solve(g.Nx, g.Ny, g.N, 1, a, uniform, b, T, work);
                                         else
                                             solvers::adi_solve_plain(g.Nx, g.Ny, 1, a, b, T, work);
                                     });
}

// A whole direct solve per call (band assembly, elimination, back substitution); bytes_per_node
// is the band storage per node, which the elimination sweeps Nx times.
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
    set_counters(state, g.N, thread_cpu_seconds() - t0,
                 static_cast<double>(solvers::band_elimination_bytes(g.N, g.Nx)) / g.N);
}

// The dense algorithm the band elimination reproduces, on the grids where its N^2 matrix and N^3
// work stay small.
void dense_elimination_bench(benchmark::State& state) {
    const RotatingFlowGrid& g = rotating_flow_grid(size_of(state));
    const model::StencilView a = g.view();
    std::vector<double> matrix;
    Field T = g.initial;
    const std::span<const double> b(g.coefficients.b);
    const double t0 = thread_cpu_seconds();
    for (auto _ : state) {
        solvers::gauss_elimination_dense(g.N, g.Nx, a, b, T, matrix);
        benchmark::ClobberMemory();
    }
    set_counters(state, g.N, thread_cpu_seconds() - t0, (g.N + 1.0) * kDouble);
}

void add(const char* name, auto function, int n, benchmark::TimeUnit unit = benchmark::kMicrosecond) {
    benchmark::RegisterBenchmark(name, function)->Arg(n)->Unit(unit);
}

const bool registered = [] {
    using namespace solvers;
    for (int n : kSizes) add("msi_factorise", msi_factorise_bench, n);
    for (int n : kSizes) {
        add("msi_correction", [](benchmark::State& s) {
            msi_correction_bench<&msi_correction_production>(s, kCorrectionBytes); }, n);
        add("msi_correction_plain", [](benchmark::State& s) {
            msi_correction_bench<&msi_correction_plain>(s, kPlainCorrectionBytes); }, n);
        // 45 degrees, Peclet code 1: every coefficient uniform, the factors held over most of the
        // interior (the forward pass reads b, T, writes w; the back pass reads w and T, writes T).
        add("msi_correction_constant_velocity", [](benchmark::State& s) {
            msi_correction_bench<&msi_correction_production, &constant_flow_grid>(s, 6 * kDouble); }, n);
        add("msi_correction_constant_velocity_plain", [](benchmark::State& s) {
            msi_correction_bench<&msi_correction_plain, &constant_flow_grid>(s, kPlainCorrectionBytes); }, n);
        add("msi_substitutions_plain", msi_substitution_bench<&msi_substitute_plain, kPlainSubstitutionBytes>, n);
        add("msi_substitutions_banded", msi_substitution_bench<&msi_substitute_banded, kBandedSubstitutionBytes>, n);
    }
    for (int n : kSizes) {
        add("adi_row_pass", [](benchmark::State& s) { adi_bench<&adi_row_sweep>(s, kHalfSweepBytes); }, n);
        add("adi_row_pass_plain", [](benchmark::State& s) { adi_bench<&adi_row_sweep_plain>(s, kHalfSweepBytes); }, n);
        add("adi_row_pass_banded", [](benchmark::State& s) { adi_bench<&adi_row_sweep_banded>(s, kHalfSweepBytes); },
            n);
    }
    for (int n : kSizes)
        add("adi_row_pass_held", [](benchmark::State& s) {
            adi_run<&rotating_flow_grid>(s, kHalfSweepBytes - 2 * kDouble, [](const auto& g, const auto& a, auto b, auto& T, auto& work) {
                solvers::adi_row_sweep_banded(g.Nx, g.Ny, a, g.uniform, b, T, work);
            });
        }, n);
    for (int n : kSizes)
        add("adi_row_pass_held_lines", [](benchmark::State& s) { adi_lines_bench<true, false>(s, 9 * kDouble); }, n);
    for (int n : kSizes)
        add("adi_column_pass_held_lines", [](benchmark::State& s) { adi_lines_bench<false, true>(s, 10 * kDouble); },
            n);
    for (int n : kSizes)
        add("adi_column_pass", [](benchmark::State& s) { adi_bench<&adi_column_sweep>(s, kHalfSweepBytes); }, n);
    for (int n : kSizes) {
        add("adi_iteration",
            [](benchmark::State& s) { adi_bench<&adi_row_sweep, &adi_column_sweep>(s, 2 * kHalfSweepBytes); }, n);
        // adi_solve with aE and aN, uniform over the interior, held as numbers, and no line factors.
        add("adi_iteration_production", [](benchmark::State& s) {
            adi_run<&rotating_flow_grid>(s, 2 * kHalfSweepBytes - 2 * kDouble, [](const auto& g, const auto& a, auto b, auto& T, auto& work) {
                solvers::adi_solve(g.Nx, g.Ny, g.N, 1, a, g.uniform, b, T, work);
            });
        }, n);
        // With the line factors held (as the drivers have them after the first call): the row pass
        // reads aS, aW, b, d, T and writes q, then reads p, q and writes T; the column pass reads aS,
        // aW, aE, b, d, T and writes q, then reads p, q and writes T.
        add("adi_iteration_held_lines", [](benchmark::State& s) { adi_lines_bench<true, true>(s, 19 * kDouble); }, n);
        add("adi_iteration_plain",
            [](benchmark::State& s) { adi_bench<&adi_row_sweep_plain, &adi_column_sweep>(s, 2 * kHalfSweepBytes); },
            n);
    }
    for (int n : kSizes) {
        // Production: the uniformity check (five coefficients read), then b and T read and q
        // written in the forward passes, q read and T written in the back substitutions; with the
        // uniform values given, no check.
        add("adi_iteration_constant_velocity",
            [](benchmark::State& s) { adi_constant_velocity_bench<Adi::kProduction>(s, 5 * kDouble + 8 * kDouble); },
            n);
        add("adi_iteration_constant_velocity_known_uniform",
            [](benchmark::State& s) { adi_constant_velocity_bench<Adi::kProductionKnownUniform>(s, 8 * kDouble); }, n);
        add("adi_iteration_constant_velocity_plain",
            [](benchmark::State& s) { adi_constant_velocity_bench<Adi::kPlain>(s, 2 * kHalfSweepBytes); }, n);
    }
    for (int n : kEliminationSizes) add("band_elimination", band_elimination_bench, n, benchmark::kMillisecond);
    add("band_elimination_plain", dense_elimination_bench, 17, benchmark::kMillisecond);
    add("band_elimination", band_elimination_bench, 17, benchmark::kMillisecond);
    add("band_elimination_plain", dense_elimination_bench, 33, benchmark::kMillisecond);
    return true;
}();

}  // namespace
}  // namespace advdiff::bench
