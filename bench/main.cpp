// Entry point of advdiff2d_bench: registers the kernel benchmarks, runs them with the console
// table, then prints one table per kernel (ns and bytes per node against grid size, its paths side
// by side, each path's distance from the measured memory bandwidth) and one V-cycle's time by
// level and by kernel.
//
// Defaults: 0.1 s minimum time per benchmark and tabular counters; any --benchmark_* option given
// on the command line overrides them (e.g. --benchmark_filter=gauss_seidel).

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "bench_support.hpp"
#include "platform/memory.hpp"

namespace {

using namespace advdiff::bench;

// Benchmarks are named KERNEL/PATH, or KERNEL_plain, KERNEL_banded and KERNEL for the plain, banded
// and production paths, and take the grid side as their argument.
class KernelTableReporter : public benchmark::ConsoleReporter {
public:
    explicit KernelTableReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            const auto ns = run.counters.find("ns_per_node");
            const auto bytes = run.counters.find("bytes_per_node");
            if (ns == run.counters.end() || bytes == run.counters.end()) continue;
            auto [kernel_name, path] = split_name(name);
            Kernel& kernel = kernels_[kernel_name];
            if (std::find(kernel.paths.begin(), kernel.paths.end(), path) == kernel.paths.end())
                kernel.paths.push_back(path);
            kernel.cells[std::stoi(run.run_name.args)][path] = {ns->second.value, bytes->second.value};
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        // The bandwidth: the copy's rate on its largest grid, which no cache holds.
        double bandwidth = 0.0;
        if (const auto copy = kernels_.find("memory_copy"); copy != kernels_.end() && !copy->second.cells.empty()) {
            const Cell& c = copy->second.cells.rbegin()->second.begin()->second;
            bandwidth = c.bytes / c.ns;  // bytes per ns = GB/s
        }
        char line[256];
        if (bandwidth > 0.0) {
            std::snprintf(line, sizeof line, "\nMemory bandwidth (copy of %d x %d doubles, 16 bytes per node): %.1f GB/s\n",
                          kernels_.at("memory_copy").cells.rbegin()->first, kernels_.at("memory_copy").cells.rbegin()->first,
                          bandwidth);
            out << line;
        }
        out << "Per kernel and path: ns per node, bytes per node, GB/s moved, share of that bandwidth\n";
        for (const auto& [name, kernel] : kernels_) {
            out << "\n" << name << "\n";
            std::snprintf(line, sizeof line, "%6s", "n");
            out << line;
            for (const std::string& path : kernel.paths) {
                std::snprintf(line, sizeof line, " | %-26s", path.c_str());
                out << line;
            }
            out << "\n";
            for (const auto& [n, row] : kernel.cells) {
                std::snprintf(line, sizeof line, "%6d", n);
                out << line;
                for (const std::string& path : kernel.paths) {
                    const auto cell = row.find(path);
                    if (cell == row.end()) {
                        std::snprintf(line, sizeof line, " | %-26s", "-");
                    } else {
                        const Cell& c = cell->second;
                        const double rate = c.bytes / c.ns;
                        std::snprintf(line, sizeof line, " | %6.2f %4.0f %5.1f %5.0f%%", c.ns, c.bytes, rate,
                                      bandwidth > 0.0 ? 100.0 * rate / bandwidth : 0.0);
                    }
                    out << line;
                }
                out << "\n";
            }
        }
        out.flush();
    }

private:
    static std::pair<std::string, std::string> split_name(const std::string& name) {
        if (const auto slash = name.find('/'); slash != std::string::npos)
            return {name.substr(0, slash), name.substr(slash + 1)};
        for (const char* suffix : {"_plain", "_banded"}) {
            const std::string s = suffix;
            if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0)
                return {name.substr(0, name.size() - s.size()), s.substr(1)};
        }
        return {name, "production"};
    }

    struct Cell {
        double ns = 0.0, bytes = 0.0;
    };
    struct Kernel {
        std::vector<std::string> paths;                    // in the order first seen
        std::map<int, std::map<std::string, Cell>> cells;  // by grid side, by path
    };
    std::map<std::string, Kernel> kernels_;
};

}  // namespace

int main(int argc, char** argv) {
    // Our defaults first, so that the same options given on the command line win.
    static char min_time[] = "--benchmark_min_time=0.1";
    static char tabular[] = "--benchmark_counters_tabular=true";
    std::vector<char*> args{argv[0], min_time, tabular};
    bool console = true;
    int cycle_grid = 1025;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--cycle_grid=", 13) == 0) {
            cycle_grid = std::atoi(argv[i] + 13);
            continue;
        }
        args.push_back(argv[i]);
        if (std::strncmp(argv[i], "--benchmark_format=", 19) == 0 && std::strcmp(argv[i] + 19, "console") != 0)
            console = false;
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    // The heap as the program prepares it for a large run: freed memory kept for the next use and
    // backed by huge pages, so that the kernels here meet memory as they do in a run.
    advdiff::platform::keep_freed_memory_for_reuse();
    advdiff::platform::prepare_heap(std::uint64_t{4} << 30);

    benchmark::AddCustomContext("grids", "square, n x n; rotating flow (problem_kind 2, gamma 1) unless named");
    benchmark::AddCustomContext("ns_per_node", "thread CPU nanoseconds per node treated");
    benchmark::AddCustomContext("bytes_per_node", "array bytes read and written per node (bench/README.md)");

    register_memory_benchmarks();
    register_solver_benchmarks();
    register_grid_benchmarks();
    register_file_benchmarks();
    register_reference_benchmarks();

    if (console) {
        int options = benchmark::ConsoleReporter::OO_Tabular;
        if (isatty(STDOUT_FILENO)) options |= benchmark::ConsoleReporter::OO_Color;
        KernelTableReporter reporter(static_cast<benchmark::ConsoleReporter::OutputOptions>(options));
        benchmark::RunSpecifiedBenchmarks(&reporter);
        if (cycle_grid > 0) print_cycle_level_table(std::cout, cycle_grid);
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    remove_scratch_folder();
    return 0;
}
