#include "bench_support.hpp"

#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace advdiff::bench {

SimulationSettings rotating_flow_settings() {
    SimulationSettings s;
    s.problem_kind = 2;
    s.gamma = 1.0;
    s.initial_estimate = 1;
    return s;
}

const RotatingFlowGrid& rotating_flow_grid(int n) {
    static std::map<int, std::unique_ptr<RotatingFlowGrid>> grids;
    auto& slot = grids[n];
    if (!slot) {
        auto g = std::make_unique<RotatingFlowGrid>();
        g->Nx = g->Ny = n;
        g->N = n * n;
        g->model_case = model::make_model_case(rotating_flow_settings());
        g->coefficients.resize(static_cast<std::size_t>(g->N));
        model::assemble_coefficients(g->model_case, n, n, g->coefficients);
        g->initial.assign(static_cast<std::size_t>(g->N), 0.0);
        Field analytic(static_cast<std::size_t>(g->N), 0.0);
        model::initialise_field(g->model_case, 1, n, n, g->initial, analytic);
        slot = std::move(g);
    }
    return *slot;
}

namespace {

// CPU clock in MHz from the first "cpu MHz" line of /proc/cpuinfo; 0 when there is none.
double cpuinfo_mhz() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("cpu MHz", 0) != 0) continue;
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        try {
            return std::stod(line.substr(colon + 1));
        } catch (const std::exception&) {
            return 0.0;
        }
    }
    return 0.0;
}

// Time-stamp-counter ticks per second, measured against the steady clock over 100 ms; 0 where
// there is no such counter.
double measured_tsc_hz() {
#if defined(__x86_64__) || defined(__i386__)
    using clock = std::chrono::steady_clock;
    const auto t0 = clock::now();
    const std::uint64_t c0 = __rdtsc();
    while (clock::now() - t0 < std::chrono::milliseconds(100)) {
    }
    const std::uint64_t c1 = __rdtsc();
    const auto t1 = clock::now();
    return static_cast<double>(c1 - c0) / std::chrono::duration<double>(t1 - t0).count();
#else
    return 0.0;
#endif
}

}  // namespace

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double clock_hz() {
    static const double hz = [] {
        const double mhz = cpuinfo_mhz();
        return mhz > 0.0 ? mhz * 1e6 : measured_tsc_hz();
    }();
    return hz;
}

std::string cycle_source_description() {
    char text[240];
    const double mhz = cpuinfo_mhz();
    if (mhz > 0.0) {
        std::snprintf(text, sizeof text,
                      "estimated as thread CPU seconds per node x %.0f MHz (cpu MHz of /proc/cpuinfo; the "
                      "time-stamp counter runs at %.0f MHz)",
                      mhz, measured_tsc_hz() / 1e6);
    } else if (clock_hz() > 0.0) {
        std::snprintf(text, sizeof text,
                      "estimated as thread CPU seconds per node x %.0f MHz (time-stamp counter rate)", clock_hz() / 1e6);
    } else {
        std::snprintf(text, sizeof text, "not available (no clock rate known); shown as 0");
    }
    return text;
}

void set_node_counters(benchmark::State& state, double nodes_per_iteration, double cpu_seconds) {
    const double nodes = nodes_per_iteration * static_cast<double>(state.iterations());
    if (nodes <= 0.0) return;
    state.counters["nodes/s"] = benchmark::Counter(nodes, benchmark::Counter::kIsRate);
    state.counters["cyc/node"] = benchmark::Counter(cpu_seconds * clock_hz() / nodes);
}

namespace {
std::string& scratch_path() {
    static std::string path;
    return path;
}
}  // namespace

const std::string& scratch_folder() {
    std::string& path = scratch_path();
    if (path.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "advdiff2d-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a folder in " + pattern);
        path = pattern;
    }
    return path;
}

void remove_scratch_folder() {
    std::string& path = scratch_path();
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    path.clear();
}

}  // namespace advdiff::bench
