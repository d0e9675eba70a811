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


namespace advdiff::bench {

SimulationSettings rotating_flow_settings() {
    SimulationSettings s;
    s.problem_kind = 2;
    s.gamma = 1.0;
    s.initial_estimate = 1;
    return s;
}

namespace {
const RotatingFlowGrid& grid_of(std::map<int, std::unique_ptr<RotatingFlowGrid>>& grids, const SimulationSettings& s,
                                int n) {
    auto& slot = grids[n];
    if (!slot) {
        auto g = std::make_unique<RotatingFlowGrid>();
        g->Nx = g->Ny = n;
        g->N = n * n;
        g->model_case = model::make_model_case(s);
        g->coefficients.resize(static_cast<std::size_t>(g->N));
        model::assemble_coefficients(g->model_case, n, n, g->coefficients);
        g->uniform = solvers::UniformInterior::find(g->view(), n, n);
        g->initial.assign(static_cast<std::size_t>(g->N), 0.0);
        Field analytic(static_cast<std::size_t>(g->N), 0.0);
        model::initialise_field(model::GridValues(g->model_case, n, n), 1, g->initial, analytic);
        slot = std::move(g);
    }
    return *slot;
}
}  // namespace

const RotatingFlowGrid& rotating_flow_grid(int n) {
    static std::map<int, std::unique_ptr<RotatingFlowGrid>> grids;
    return grid_of(grids, rotating_flow_settings(), n);
}

const RotatingFlowGrid& constant_flow_grid(int n) {
    static std::map<int, std::unique_ptr<RotatingFlowGrid>> grids;
    SimulationSettings s = rotating_flow_settings();
    s.problem_kind = 1;
    s.flow_angle = 45;
    s.peclet_code = 1;
    return grid_of(grids, s, n);
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
