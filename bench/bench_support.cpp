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
#include <tuple>


namespace advdiff::bench {

SimulationSettings rotating_flow_settings() { return flow_settings(Flow::rotating); }

SimulationSettings flow_settings(Flow flow) {
    SimulationSettings s;
    s.problem_kind = flow == Flow::rotating ? 2 : 1;
    s.flow_angle = flow == Flow::rotating ? 0 : 45;
    s.peclet_code = flow == Flow::rotating ? 0 : 1;
    s.gamma = 1.0;
    s.initial_estimate = 1;
    return s;
}

const solvers::GridSystem& bench_system(Flow flow, int n, int solver_kind) {
    static std::map<std::tuple<Flow, int, int>, std::unique_ptr<solvers::GridSystem>> systems;
    auto& slot = systems[{flow, n, solver_kind}];
    if (!slot) {
        slot = std::make_unique<solvers::GridSystem>();
        slot->assemble(model::make_model_case(flow_settings(flow)), {n, n}, solver_kind);
    }
    return *slot;
}

const Field& initial_field(Flow flow, int n) {
    static std::map<std::pair<Flow, int>, Field> fields;
    Field& T = fields[{flow, n}];
    if (T.empty()) {
        T.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
        Field analytic(T.size(), 0.0);
        model::initialise_field(model::GridValues(model::make_model_case(flow_settings(flow)), n, n), 1, T, analytic);
    }
    return T;
}

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

void set_kernel_counters(benchmark::State& state, double nodes_per_iteration, double bytes_per_node,
                         double cpu_seconds) {
    const double nodes = nodes_per_iteration * static_cast<double>(state.iterations());
    if (nodes <= 0.0) return;
    state.counters["ns_per_node"] = benchmark::Counter(cpu_seconds * 1e9 / nodes);
    state.counters["bytes_per_node"] = benchmark::Counter(bytes_per_node);
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
