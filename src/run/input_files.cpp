#include "run/input_files.hpp"

#include <algorithm>
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

using S = SimulationSettings;

[[noreturn]] void reject(const ProblemState& state, const std::string& setting, const std::string& message) {
    const SettingSource source = state.source_of(setting);
    throw RunError(source.file, source.line, setting, message);
}

std::string shortest(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

void run_mode_is_known(ProblemState& state, const char* setting) {
    const int mode = state.settings.run_mode;
    if (mode != kMultigrid && mode != kSingleGrid)
        reject(state, setting, "must be 1 (multigrid) or 2 (single grid), found " + std::to_string(mode));
}

void report_name_is_not_empty(ProblemState& state, const char* setting) {
    if (state.settings.report_file_name.find_first_not_of(' ') == std::string::npos)
        reject(state, setting, "the report file name is empty");
}

void reference_file_exists_by_name(ProblemState& state, const char* setting) {
    const int index = state.settings.reference_file_index;
    if (index < 1 || index > 11)
        reject(state, setting,
               "must be from 1 to 11 (reference files exata1 to exata11), found " + std::to_string(index));
}

// The last value the hierarchy depends on: once it is valid, the node counts must still fit. The
// hierarchy built here is the run's (state.hierarchy).
void coarsening_halves_and_hierarchy_fits(ProblemState& state, const char* setting) {
    const S& s = state.settings;
    if (s.coarsening_p != 2.0)
        reject(state, setting,
               "must be 2 (the multigrid halves the grid spacing from level to level), found " +
                   shortest(s.coarsening_p));
    std::string why;
    auto hierarchy = multigrid::setup_hierarchy(s.level_count, s.coarsest_nx, s.coarsest_ny, s.coarsening_p, &why);
    if (!hierarchy) reject(state, "level_count", "the grid hierarchy is too large: " + why);
    state.hierarchy = std::move(*hierarchy);
}

void grid_nodes_fit(ProblemState& state, const char* setting) {
    const S& s = state.settings;
    const std::int64_t nodes = static_cast<std::int64_t>(s.Nx) * s.Ny;
    if (nodes > std::numeric_limits<int>::max())
        reject(state, setting,
               "the grid of Nx x Ny = " + std::to_string(s.Nx) + " x " + std::to_string(s.Ny) + " = " +
                   std::to_string(nodes) + " nodes has more than 2147483647 nodes");
}

constexpr InputSetting kModeSettings[] = {
    {1, "title", TitleLine{}},
    {2, "run_mode", &S::run_mode, kNoLowerBound, run_mode_is_known},
};

constexpr InputSetting kMultigridSettings[] = {
    {1, "solver_kind", &S::solver_kind},
    {2, "report_file_name", &S::report_file_name, kNoLowerBound, report_name_is_not_empty},
    {3, "level_count", &S::level_count, 2},
    {4, "reference_file_index", &S::reference_file_index, kNoLowerBound, reference_file_exists_by_name},
    {5, "coarsest_nx", &S::coarsest_nx, 2},
    {6, "coarsest_ny", &S::coarsest_ny, 2},
    {7, "problem_kind", &S::problem_kind},
    {8, "flow_angle", &S::flow_angle},
    {9, "peclet_code", &S::peclet_code},
    {10, "coarsening_p", &S::coarsening_p, kNoLowerBound, coarsening_halves_and_hierarchy_fits},
    {11, "coarsening_q", &S::coarsening_q},
    {12, "gamma", &S::gamma},
    {13, "max_iterations", &S::max_iterations, 1},
    {14, "inner_iterations", &S::inner_iterations},
    {15, "tolerance", &S::tolerance},
    {16, "msi_tolerance", &S::msi_tolerance},
    {17, "initial_estimate", &S::initial_estimate},
    {18, "print_history", &S::print_history},
    {19, "history_interval", &S::history_interval},
    {20, "unused_value_20", UnusedInteger{}},
    {21, "unused_value_21", UnusedInteger{}},
};

constexpr InputSetting kSingleGridSettings[] = {
    {1, "solver_kind", &S::solver_kind},
    {2, "report_file_name", &S::report_file_name, kNoLowerBound, report_name_is_not_empty},
    {3, "Nx", &S::Nx, 2},
    {4, "Ny", &S::Ny, 2, grid_nodes_fit},
    {5, "reference_file_index", &S::reference_file_index, kNoLowerBound, reference_file_exists_by_name},
    {6, "problem_kind", &S::problem_kind},
    {7, "flow_angle", &S::flow_angle},
    {8, "peclet_code", &S::peclet_code},
    {9, "gamma", &S::gamma},
    {10, "max_iterations", &S::max_iterations, 0},
    {11, "tolerance", &S::tolerance},
    {12, "msi_tolerance", &S::msi_tolerance},
    {13, "initial_estimate", &S::initial_estimate},
    {14, "print_history", &S::print_history},
    {15, "history_interval", &S::history_interval},
    {16, "unused_value_16", UnusedInteger{}},
    {17, "unused_value_17", UnusedInteger{}},
};

// A lower bound only makes sense on an integer setting; positions count 1, 2, 3, ...
constexpr bool well_formed(std::span<const InputSetting> table) {
    for (std::size_t k = 0; k < table.size(); ++k) {
        if (table[k].position != static_cast<int>(k) + 1) return false;
        if (table[k].at_least != kNoLowerBound && !std::holds_alternative<int S::*>(table[k].field)) return false;
    }
    return true;
}
static_assert(well_formed(kModeSettings) && well_formed(kMultigridSettings) && well_formed(kSingleGridSettings));

void record_source(ProblemState& state, const FreeFormatReader& reader, const char* setting) {
    SettingSource source{reader.file_name(), reader.line()};
    for (auto& [name, known] : state.setting_sources) {
        if (name == setting) {
            known = std::move(source);
            return;
        }
    }
    state.setting_sources.emplace_back(setting, std::move(source));
}

void read_value(ProblemState& state, FreeFormatReader& reader, const InputSetting& row) {
    S& s = state.settings;
    std::visit(
        [&](auto field) {
            using Field = decltype(field);
            if constexpr (std::is_same_v<Field, TitleLine>) {
                reader.skip_line(row.name);
                return;
            } else if constexpr (std::is_same_v<Field, UnusedInteger>) {
                int unused = 0;
                reader.read_int(row.name, unused);
            } else if constexpr (std::is_same_v<Field, int S::*>) {
                reader.read_int(row.name, s.*field);
            } else if constexpr (std::is_same_v<Field, double S::*>) {
                reader.read_double(row.name, s.*field);
            } else {
                reader.read_text(row.name, s.*field, kReportNameWidth);
            }
            record_source(state, reader, row.name);
        },
        row.field);
}

void check_value(ProblemState& state, const InputSetting& row) {
    if (row.at_least != kNoLowerBound) {
        const int value = state.settings.*std::get<int S::*>(row.field);
        if (value < row.at_least)
            reject(state, row.name,
                   "must be at least " + std::to_string(row.at_least) + ", found " + std::to_string(value));
    }
    if (row.check) row.check(state, row.name);
}

// Opens the file in the editor, reads every value of its table, then checks them in file order.
void read_input_file(ProblemState& state, const InputFile& file, bool edit) {
    platform::open_in_editor(file.name, edit);
    FreeFormatReader reader = FreeFormatReader::open(file.name, file.name);
    for (const InputSetting& row : file.settings) read_value(state, reader, row);
    for (const InputSetting& row : file.settings) check_value(state, row);
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

const InputFile kModeFile{"dados1.ent", kModeSettings};
const InputFile kMultigridFile{"MG2D_000.ent", kMultigridSettings};
const InputFile kSingleGridFile{"SG2D_000.ent", kSingleGridSettings};

const InputFile& parameter_file(int run_mode) { return run_mode == kMultigrid ? kMultigridFile : kSingleGridFile; }

void read_input_files(ProblemState& state, bool edit) {
    // Every setting starts as zero (the report name as empty); a null value keeps that.
    state.settings = SimulationSettings{};
    state.setting_sources.clear();
    state.stats.norm_history.clear();
    state.hierarchy = {};

    read_input_file(state, kModeFile, edit);
    read_input_file(state, parameter_file(state.settings.run_mode), edit);
    if (state.settings.run_mode != kMultigrid) {
        state.Nx = state.settings.Nx;
        state.Ny = state.settings.Ny;
    }
    allocate_norm_history(state);
}

}  // namespace advdiff::run
