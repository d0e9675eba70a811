#include "run/input_files.hpp"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

#include "multigrid/hierarchy.hpp"
#include "platform/editor.hpp"
#include "run/free_format.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {

namespace {

constexpr const char* kModeFile = "dados1.ent";
constexpr const char* kMultigridFile = "MG2D_000.ent";
constexpr const char* kSingleGridFile = "SG2D_000.ent";

// Reads values in file order and records where each setting stands.
class SettingReader {
public:
    SettingReader(ProblemState& state, FreeFormatReader& reader) : state_(state), reader_(reader) {}

    void integer(const char* setting, int& value) {
        reader_.read_int(setting, value);
        record(setting);
    }
    void real(const char* setting, double& value) {
        reader_.read_double(setting, value);
        record(setting);
    }
    void text(const char* setting, std::string& value, std::size_t width) {
        reader_.read_text(setting, value, width);
        record(setting);
    }

private:
    void record(const char* setting) {
        SettingSource source{reader_.file_name(), reader_.line()};
        for (auto& [name, known] : state_.setting_sources) {
            if (name == setting) {
                known = std::move(source);
                return;
            }
        }
        state_.setting_sources.emplace_back(setting, std::move(source));
    }

    ProblemState& state_;
    FreeFormatReader& reader_;
};

[[noreturn]] void reject(const ProblemState& state, const std::string& setting, const std::string& message) {
    const SettingSource source = state.source_of(setting);
    throw RunError(source.file, source.line, setting, message);
}

std::string shortest(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

void require_at_least(const ProblemState& state, const std::string& setting, int value, int least) {
    if (value < least)
        reject(state, setting, "must be at least " + std::to_string(least) + ", found " + std::to_string(value));
}

void check_report_name(const ProblemState& state) {
    if (state.settings.report_file_name.find_first_not_of(' ') == std::string::npos)
        reject(state, "report_file_name", "the report file name is empty");
}

void check_reference_index(const ProblemState& state) {
    const int index = state.settings.reference_file_index;
    if (index < 1 || index > 11)
        reject(state, "reference_file_index",
               "must be from 1 to 11 (reference files exata1 to exata11), found " + std::to_string(index));
}

void read_multigrid_file(ProblemState& state, FreeFormatReader& file) {
    SimulationSettings& s = state.settings;
    SettingReader in(state, file);
    in.integer("solver_kind", s.solver_kind);
    in.text("report_file_name", s.report_file_name, kReportNameWidth);
    in.integer("level_count", s.level_count);
    in.integer("reference_file_index", s.reference_file_index);
    in.integer("coarsest_nx", s.coarsest_nx);
    in.integer("coarsest_ny", s.coarsest_ny);
    in.integer("problem_kind", s.problem_kind);
    in.integer("flow_angle", s.flow_angle);
    in.integer("peclet_code", s.peclet_code);
    in.real("coarsening_p", s.coarsening_p);
    in.real("coarsening_q", s.coarsening_q);
    in.real("gamma", s.gamma);
    in.integer("max_iterations", s.max_iterations);
    in.integer("inner_iterations", s.inner_iterations);
    in.real("tolerance", s.tolerance);
    in.real("msi_tolerance", s.msi_tolerance);
    in.integer("initial_estimate", s.initial_estimate);
    in.integer("print_history", s.print_history);
    in.integer("history_interval", s.history_interval);
    int unused = 0;
    in.integer("unused_value_20", unused);
    in.integer("unused_value_21", unused);

    // In the order of the file, so that the first bad line is the one reported.
    check_report_name(state);
    require_at_least(state, "level_count", s.level_count, 2);
    check_reference_index(state);
    require_at_least(state, "coarsest_nx", s.coarsest_nx, 2);
    require_at_least(state, "coarsest_ny", s.coarsest_ny, 2);
    if (s.coarsening_p != 2.0)
        reject(state, "coarsening_p",
               "must be 2 (the multigrid halves the grid spacing from level to level), found " +
                   shortest(s.coarsening_p));
    // Every value the hierarchy depends on is valid now; its node counts must still fit.
    std::string why;
    if (!multigrid::setup_hierarchy(s.level_count, s.coarsest_nx, s.coarsest_ny, s.coarsening_p, &why))
        reject(state, "level_count", "the grid hierarchy is too large: " + why);
    require_at_least(state, "max_iterations", s.max_iterations, 1);
}

void read_single_grid_file(ProblemState& state, FreeFormatReader& file) {
    SimulationSettings& s = state.settings;
    SettingReader in(state, file);
    in.integer("solver_kind", s.solver_kind);
    in.text("report_file_name", s.report_file_name, kReportNameWidth);
    in.integer("Nx", s.Nx);
    in.integer("Ny", s.Ny);
    in.integer("reference_file_index", s.reference_file_index);
    in.integer("problem_kind", s.problem_kind);
    in.integer("flow_angle", s.flow_angle);
    in.integer("peclet_code", s.peclet_code);
    in.real("gamma", s.gamma);
    in.integer("max_iterations", s.max_iterations);
    in.real("tolerance", s.tolerance);
    in.real("msi_tolerance", s.msi_tolerance);
    in.integer("initial_estimate", s.initial_estimate);
    in.integer("print_history", s.print_history);
    in.integer("history_interval", s.history_interval);
    int unused = 0;
    in.integer("unused_value_16", unused);
    in.integer("unused_value_17", unused);

    check_report_name(state);
    require_at_least(state, "Nx", s.Nx, 2);
    require_at_least(state, "Ny", s.Ny, 2);
    const std::int64_t nodes = static_cast<std::int64_t>(s.Nx) * s.Ny;
    if (nodes > std::numeric_limits<int>::max())
        reject(state, "Ny",
               "the grid of Nx x Ny = " + std::to_string(s.Nx) + " x " + std::to_string(s.Ny) + " = " +
                   std::to_string(nodes) + " nodes has more than 2147483647 nodes");
    check_reference_index(state);
    require_at_least(state, "max_iterations", s.max_iterations, 0);
}

// The iteration norms of a run: room for the first iterations now, more as a run needs it
// (RunStatistics::norm_entry), so that a huge max_iterations costs nothing up front.
void allocate_norm_history(ProblemState& state) {
    constexpr std::size_t kInitialEntries = 1 << 16;
    const int max_iterations = state.settings.max_iterations;
    const std::size_t entries = max_iterations < 0 ? 0 : static_cast<std::size_t>(max_iterations) + 1;
    state.stats.norm_history.assign(std::min(entries, kInitialEntries), 0.0);
}

}  // namespace

void read_input_files(ProblemState& state, bool edit) {
    // Every setting starts as zero (the report name as empty); a null value keeps that.
    state.settings = SimulationSettings{};
    state.setting_sources.clear();
    state.stats.norm_history.clear();

    platform::open_in_editor(kModeFile, edit);
    {
        FreeFormatReader file = FreeFormatReader::open(kModeFile, kModeFile);
        file.skip_line("title");
        SettingReader in(state, file);
        in.integer("run_mode", state.settings.run_mode);
        const int mode = state.settings.run_mode;
        if (mode != kMultigrid && mode != kSingleGrid)
            reject(state, "run_mode", "must be 1 (multigrid) or 2 (single grid), found " + std::to_string(mode));
    }

    const char* const parameter_file = state.settings.run_mode == kMultigrid ? kMultigridFile : kSingleGridFile;
    platform::open_in_editor(parameter_file, edit);
    FreeFormatReader file = FreeFormatReader::open(parameter_file, parameter_file);
    if (state.settings.run_mode == kMultigrid) {
        read_multigrid_file(state, file);
    } else {
        read_single_grid_file(state, file);
        state.Nx = state.settings.Nx;
        state.Ny = state.settings.Ny;
    }

    allocate_norm_history(state);
}

}  // namespace advdiff::run
