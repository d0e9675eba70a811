// Entry point of advdiff2d_bench: registers the kernel benchmarks, runs them with the console
// table, then prints the production Gauss-Seidel sweep side by side with its plain twin.
//
// Defaults: 0.2 s minimum time per benchmark and tabular counters; any --benchmark_* option given
// on the command line overrides them (e.g. --benchmark_filter=gauss_seidel).

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "plain_kernels.hpp"
#include "solvers/gauss_seidel.hpp"

namespace {

using advdiff::Field;
using namespace advdiff::bench;

// Three sweeps of both Gauss-Seidel kernels from the zero estimate on the 65 x 65 system: the
// twins must leave the same bits.
bool gauss_seidel_twins_agree() {
    const RotatingFlowGrid& g = rotating_flow_grid(65);
    Field production = g.initial, plain = g.initial;
    const std::span<const double> b(g.coefficients.b);
    advdiff::solvers::gauss_seidel_sweeps(g.Nx, g.Ny, g.N, 3, g.view(), b, production);
    plain_gauss_seidel_sweeps(g.Nx, g.Ny, g.N, 3, g.view(), b, plain);
    return std::memcmp(production.data(), plain.data(), production.size() * sizeof(double)) == 0;
}

// The console table, and after it the comparison of the two Gauss-Seidel kernels.
class TwinComparingReporter : public benchmark::ConsoleReporter {
public:
    explicit TwinComparingReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            if (name != "gauss_seidel_sweep" && name != "gauss_seidel_sweep_plain") continue;
            const auto rate = run.counters.find("nodes/s");
            const auto cycles = run.counters.find("cyc/node");
            if (rate == run.counters.end() || cycles == run.counters.end()) continue;
            Row& row = rows_[std::stoi(run.run_name.args)];
            (name == "gauss_seidel_sweep" ? row.production : row.plain) = {true, rate->second.value, cycles->second.value};
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        if (rows_.empty()) return;
        std::ostream& out = GetOutputStream();
        char line[200];
        out << "\nGauss-Seidel sweep: production kernel vs plain twin (one sweep per call)\n";
        std::snprintf(line, sizeof line, "%11s  %14s %10s  %14s %10s  %8s\n", "grid", "production", "",
                      "plain", "", "speed-up");
        out << line;
        std::snprintf(line, sizeof line, "%11s  %14s %10s  %14s %10s  %8s\n", "", "Mnode/s", "cyc/node", "Mnode/s",
                      "cyc/node", "");
        out << line;
        for (const auto& [n, row] : rows_) {
            const std::string grid = std::to_string(n) + " x " + std::to_string(n);
            auto rate = [](const Measure& m) { return m.present ? m.rate / 1e6 : 0.0; };
            if (row.production.present && row.plain.present) {
                std::snprintf(line, sizeof line, "%11s  %14.1f %10.2f  %14.1f %10.2f  %7.2fx\n", grid.c_str(),
                              rate(row.production), row.production.cycles, rate(row.plain), row.plain.cycles,
                              row.production.rate / row.plain.rate);
            } else {
                const Measure& m = row.production.present ? row.production : row.plain;
                std::snprintf(line, sizeof line, "%11s  %s %.1f Mnode/s, %.2f cyc/node (the other kernel was not run)\n",
                              grid.c_str(), row.production.present ? "production" : "plain", rate(m), m.cycles);
            }
            out << line;
        }
        out.flush();
    }

private:
    struct Measure {
        bool present = false;
        double rate = 0.0;
        double cycles = 0.0;
    };
    struct Row {
        Measure production, plain;
    };
    std::map<int, Row> rows_;
};

}  // namespace

int main(int argc, char** argv) {
    // Our defaults first, so that the same options given on the command line win.
    static char min_time[] = "--benchmark_min_time=0.2";
    static char tabular[] = "--benchmark_counters_tabular=true";
    std::vector<char*> args{argv[0], min_time, tabular};
    bool console = true;
    for (int i = 1; i < argc; ++i) {
        args.push_back(argv[i]);
        if (std::strncmp(argv[i], "--benchmark_format=", 19) == 0 && std::strcmp(argv[i] + 19, "console") != 0)
            console = false;
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    benchmark::AddCustomContext("problem", "rotating flow (problem_kind 2, gamma 1), square grids n x n");
    benchmark::AddCustomContext("nodes/s", "node updates per second of CPU time (what a node update is: bench/README.md)");
    benchmark::AddCustomContext("cyc/node", cycle_source_description());
    benchmark::AddCustomContext("gauss_seidel_plain_twin",
                                gauss_seidel_twins_agree() ? "same bits as the production sweep (65 x 65, 3 sweeps)"
                                                           : "DIFFERS from the production sweep (65 x 65, 3 sweeps)");

    register_solver_benchmarks();
    register_grid_benchmarks();
    register_file_benchmarks();

    if (console) {
        int options = benchmark::ConsoleReporter::OO_Tabular;
        if (isatty(STDOUT_FILENO)) options |= benchmark::ConsoleReporter::OO_Color;
        TwinComparingReporter reporter(static_cast<benchmark::ConsoleReporter::OutputOptions>(options));
        benchmark::RunSpecifiedBenchmarks(&reporter);
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    remove_scratch_folder();
    return 0;
}
