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

void run_mode_is_known(const ProblemState& state, const char* setting) {
    const int mode = state.settings.run_mode;
    if (mode != kMultigrid && mode != kSingleGrid)
        reject(state, setting, "must be 1 (multigrid) or 2 (single grid), found " + std::to_string(mode));
}

void report_name_is_not_empty(const ProblemState& state, const char* setting) {
    if (state.settings.report_file_name.find_first_not_of(' ') == std::string::npos)
        reject(state, setting, "the report file name is empty");
}

// The last value the hierarchy depends on: once it is valid, the node counts must still fit.
void coarsening_halves_and_hierarchy_fits(const ProblemState& state, const char* setting) {
    const S& s = state.settings;
    if (s.coarsening_p != 2.0)
        reject(state, setting,
               "must be 2 (the multigrid halves the grid spacing from level to level), found " +
                   shortest(s.coarsening_p));
    std::string why;
    if (!multigrid::setup_hierarchy(s.level_count, s.coarsest_nx, s.coarsest_ny, s.coarsening_p, &why))
        reject(state, "level_count", "the grid hierarchy is too large: " + why);
}

void grid_nodes_fit(const ProblemState& state, const char* setting) {
    const S& s = state.settings;
    const std::int64_t nodes = static_cast<std::int64_t>(s.Nx) * s.Ny;
    if (nodes > std::numeric_limits<int>::max())
        reject(state, setting,
               "the grid of Nx x Ny = " + std::to_string(s.Nx) + " x " + std::to_string(s.Ny) + " = " +
                   std::to_string(nodes) + " nodes has more than 2147483647 nodes");
}

bool constant_velocity(const S& s) { return s.problem_kind == 1; }
bool constant_velocity_at_45_degrees(const S& s) { return s.problem_kind == 1 && s.flow_angle == 45; }

constexpr SettingCode kRunModes[] = {
    {kMultigrid, "multigrid, reads MG2D_000.ent"},
    {kSingleGrid, "single grid, reads SG2D_000.ent"},
};
constexpr SettingCode kSmoothers[] = {
    {kGaussSeidel, "Gauss-Seidel"},
    {kMsi, "MSI, modified strongly implicit"},
    {kAdi, "ADI, alternating-direction line relaxation"},
};
constexpr SettingCode kSolvers[] = {
    {kGaussSeidel, "Gauss-Seidel"},
    {kMsi, "MSI, modified strongly implicit"},
    {kAdi, "ADI, alternating-direction line relaxation"},
    {kElimGauss, "Gauss elimination, a direct solve"},
};
constexpr SettingCode kProblemKinds[] = {
    {1, "constant velocity family: flow_angle and peclet_code select the case"},
    {2, "rotating flow"},
};
// The flow angles and the Peclet codes of the velocity table (model::kVelocityTable).
constexpr SettingCode kFlowAngles[] = {
    {0, "0 degrees"},
    {3, "pure diffusion, no advection"},
    {30, "30 degrees"},
    {45, "45 degrees, the magnitude chosen by peclet_code"},
    {60, "60 degrees"},
    {90, "90 degrees"},
};
constexpr SettingCode kPecletCodes[] = {
    {0, "Pex = Pey = 1"},
    {1, "Pex = Pey = cos 45 degrees, magnitude 1"},
    {2, "Pex = Pey = 3 cos 45 degrees, magnitude 3"},
    {10, "Pex = Pey = 10 cos 45 degrees, magnitude 10"},
    {100, "Pex = Pey = 100 cos 45 degrees, magnitude 100"},
    {1000, "Pex = Pey = 1000 cos 45 degrees, magnitude 1000"},
};
constexpr SettingCode kInitialEstimates[] = {
    {1, "zero, then the boundary values"},
    {2, "the analytic solution, then the boundary values"},
    {3, "one half, then the boundary values of the constant-velocity cases"},
};
constexpr SettingCode kCoarseningRatios[] = {
    {2, "the grid spacing halves from each level to the next finer one"},
};

constexpr Relevance kWithConstantVelocity{constant_velocity, "problem_kind 1"};
constexpr Relevance kWithConstantVelocityAt45{constant_velocity_at_45_degrees, "problem_kind 1 and flow_angle 45"};

// What the settings mean: solver_kind in each parameter file, and the settings both files hold.
constexpr const char* kSmootherMeaning =
    "The smoother of every level, run inner_iterations times per visit of a level. 4 (Gauss elimination) "
    "and other codes smooth nothing: the cycles then only move values between the levels.";
constexpr const char* kSolverMeaning =
    "The solver; each outer iteration is one sweep or one iteration of it. Other codes select no solver "
    "step: the field stays at its initial estimate.";
constexpr const char* kReportNameMeaning =
    "Name of the report file, written in the working directory (ISO 8859-1 text, replaced if it exists). "
    "At most 35 characters: a longer name keeps its first 35.";
constexpr const char* kReferenceMeaning =
    "The reference solution (the exact solution of the finest grid's discrete system, which the iteration "
    "error is measured against) is read from the file exata<index>; advdiff2d-reference writes it.";
constexpr const char* kProblemKindMeaning = "The test case family.";
constexpr const char* kFlowAngleMeaning =
    "With problem_kind 1: the direction of the constant velocity (u, v) = (Pex, Pey), in degrees.";
constexpr const char* kPecletCodeMeaning =
    "With problem_kind 1 and flow_angle 45: the magnitude of the velocity; with gamma 1 it is the Peclet "
    "number of the unit square.";
constexpr const char* kGammaMeaning =
    "Diffusion coefficient gamma multiplying both second derivatives. Every test case's analytic solution "
    "holds for any gamma (only the rotating flow's source term contains it); gamma sets the cell Peclet "
    "numbers u hx / gamma and v hy / gamma, and so how much the advection dominates.";
constexpr const char* kMultigridMsiToleranceMeaning =
    "MSI only: each smoothing by MSI stops after inner_iterations corrections, or earlier once the residual "
    "norm has fallen to this fraction of its value on entry. Printed in the report for solver_kind 2.";
constexpr const char* kSingleGridMsiToleranceMeaning =
    "Printed in the report for solver_kind 2. An outer iteration of MSI applies one correction whatever its "
    "value (it matters to the multigrid smoother only).";
constexpr const char* kInitialEstimateMeaning =
    "The starting field TNum; any other code leaves it 0 everywhere, boundary nodes included.";
constexpr const char* kMultigridToleranceMeaning =
    "The run stops when the iteration-error norm, the mean over all nodes of |reference - TNum|, is at most "
    "this; tested after every V-cycle.";
constexpr const char* kSingleGridToleranceMeaning =
    "The run stops when the iteration-error norm, the mean over all nodes of |reference - TNum|, is at most "
    "this; tested after every outer iteration.";
constexpr const char* kPrintHistoryMeaning =
    "1: the report lists the iteration-error norm after the listed iterations; any other value: no list.";
constexpr const char* kHistoryIntervalMeaning =
    "The list holds every iteration that is a multiple of this (a negative value acts as its absolute "
    "value), and always the first and the last; 0 lists only those two.";
constexpr const char* kUnusedMeaning = "Read (it must be an integer) and not used.";

// The settings both parameter files hold, placed at their position in each by at(); solver_kind,
// first in both, with the meaning and codes of each.
constexpr InputSetting at(int position, InputSetting row) {
    row.position = position;
    return row;
}
constexpr InputSetting solver_kind(const char* meaning, std::span<const SettingCode> codes) {
    return {.position = 1, .name = "solver_kind", .field = &S::solver_kind, .meaning = meaning, .codes = codes,
            .unlisted = UnlistedCode::selects_nothing};
}
constexpr InputSetting kReportFileName{.name = "report_file_name", .field = &S::report_file_name,
                                       .check = report_name_is_not_empty, .meaning = kReportNameMeaning};
constexpr InputSetting kReferenceFileIndex{.name = "reference_file_index", .field = &S::reference_file_index,
                                           .at_least = 1, .at_most = 11, .meaning = kReferenceMeaning};
constexpr InputSetting kProblemKind{.name = "problem_kind", .field = &S::problem_kind, .meaning = kProblemKindMeaning,
                                    .codes = kProblemKinds, .unlisted = UnlistedCode::rotating_flow};
constexpr InputSetting kFlowAngle{.name = "flow_angle", .field = &S::flow_angle, .meaning = kFlowAngleMeaning,
                                  .codes = kFlowAngles, .unlisted = UnlistedCode::selects_nothing,
                                  .relevant = kWithConstantVelocity};
constexpr InputSetting kPecletCode{.name = "peclet_code", .field = &S::peclet_code, .meaning = kPecletCodeMeaning,
                                   .codes = kPecletCodes, .unlisted = UnlistedCode::selects_nothing,
                                   .relevant = kWithConstantVelocityAt45};
constexpr InputSetting kGamma{.name = "gamma", .field = &S::gamma, .meaning = kGammaMeaning};
constexpr InputSetting kInitialEstimate{.name = "initial_estimate", .field = &S::initial_estimate,
                                        .meaning = kInitialEstimateMeaning, .codes = kInitialEstimates,
                                        .unlisted = UnlistedCode::selects_nothing};
constexpr InputSetting kPrintHistory{.name = "print_history", .field = &S::print_history,
                                     .meaning = kPrintHistoryMeaning};
constexpr InputSetting kHistoryInterval{.name = "history_interval", .field = &S::history_interval,
                                        .meaning = kHistoryIntervalMeaning};
constexpr InputSetting kModeSettings[] = {
    {.position = 1, .name = "title", .field = TitleLine{}, .meaning = "A title line, skipped whatever it holds."},
    {.position = 2, .name = "run_mode", .field = &S::run_mode, .check = run_mode_is_known,
     .meaning = "The kind of run, and so the parameter file read next.", .codes = kRunModes,
     .unlisted = UnlistedCode::refused},
};

constexpr InputSetting kMultigridSettings[] = {
    solver_kind(kSmootherMeaning, kSmoothers), at(2, kReportFileName),
    {.position = 3, .name = "level_count", .field = &S::level_count, .at_least = 2,
     .meaning = "Number of grids of the hierarchy; level 1 is the finest, level level_count the coarsest."},
    at(4, kReferenceFileIndex),
    {.position = 5, .name = "coarsest_nx", .field = &S::coarsest_nx, .at_least = 2,
     .meaning = "Nodes in x of the coarsest grid, boundary nodes included."},
    {.position = 6, .name = "coarsest_ny", .field = &S::coarsest_ny, .at_least = 2,
     .meaning = "Nodes in y of the coarsest grid, boundary nodes included."},
    at(7, kProblemKind),
    at(8, kFlowAngle),
    at(9, kPecletCode),
    {.position = 10, .name = "coarsening_p", .field = &S::coarsening_p, .check = coarsening_halves_and_hierarchy_fits,
     .meaning = "Numerator p of the coarsening ratio p/q: each finer level has p times the intervals of the next "
                "coarser one.",
     .codes = kCoarseningRatios, .unlisted = UnlistedCode::refused},
    {.position = 11, .name = "coarsening_q", .field = &S::coarsening_q,
     .meaning = "Denominator q of the coarsening ratio; printed in the report only."},
    at(12, kGamma),
    {.position = 13, .name = "max_iterations", .field = &S::max_iterations, .at_least = 1,
     .meaning = "The most V-cycles; the run stops earlier once the iteration-error norm is at most tolerance."},
    {.position = 14, .name = "inner_iterations", .field = &S::inner_iterations,
     .meaning = "Smoother iterations per visit of a level (Gauss-Seidel sweeps, MSI or ADI iterations)."},
    {.position = 15, .name = "tolerance", .field = &S::tolerance, .meaning = kMultigridToleranceMeaning},
    {.position = 16, .name = "msi_tolerance", .field = &S::msi_tolerance, .meaning = kMultigridMsiToleranceMeaning},
    at(17, kInitialEstimate), at(18, kPrintHistory), at(19, kHistoryInterval),
    {.position = 20, .name = "unused_value_20", .field = UnusedInteger{}, .meaning = kUnusedMeaning},
    {.position = 21, .name = "unused_value_21", .field = UnusedInteger{}, .meaning = kUnusedMeaning},
};

constexpr InputSetting kSingleGridSettings[] = {
    solver_kind(kSolverMeaning, kSolvers), at(2, kReportFileName),
    {.position = 3, .name = "Nx", .field = &S::Nx, .at_least = 2,
     .meaning = "Grid nodes in x, boundary nodes included."},
    {.position = 4, .name = "Ny", .field = &S::Ny, .at_least = 2, .check = grid_nodes_fit,
     .meaning = "Grid nodes in y, boundary nodes included; Nx x Ny must not exceed 2147483647 nodes."},
    at(5, kReferenceFileIndex),
    at(6, kProblemKind),
    at(7, kFlowAngle),
    at(8, kPecletCode),
    at(9, kGamma),
    {.position = 10, .name = "max_iterations", .field = &S::max_iterations, .at_least = 0,
     .meaning = "The most outer iterations; the run stops earlier once the iteration-error norm is at most "
                "tolerance."},
    {.position = 11, .name = "tolerance", .field = &S::tolerance, .meaning = kSingleGridToleranceMeaning},
    {.position = 12, .name = "msi_tolerance", .field = &S::msi_tolerance, .meaning = kSingleGridMsiToleranceMeaning},
    at(13, kInitialEstimate), at(14, kPrintHistory), at(15, kHistoryInterval),
    {.position = 16, .name = "unused_value_16", .field = UnusedInteger{}, .meaning = kUnusedMeaning},
    {.position = 17, .name = "unused_value_17", .field = UnusedInteger{}, .meaning = kUnusedMeaning},
};

// Bounds and codes only make sense on an integer setting (coarsening_p's one accepted value
// aside, which its check enforces); positions count 1, 2, 3, ...
constexpr bool well_formed(std::span<const InputSetting> table) {
    for (std::size_t k = 0; k < table.size(); ++k) {
        const InputSetting& row = table[k];
        const bool integer = std::holds_alternative<int S::*>(row.field);
        if (row.position != static_cast<int>(k) + 1) return false;
        if ((row.at_least != kNoLowerBound || row.at_most != kNoUpperBound) && !integer) return false;
        if (row.unlisted != UnlistedCode::refused && row.codes.empty() != (row.unlisted == UnlistedCode::not_coded))
            return false;
        if (row.unlisted != UnlistedCode::not_coded && row.unlisted != UnlistedCode::refused && !integer) return false;
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

std::string code_list(std::span<const SettingCode> codes) {
    std::string list;
    for (const SettingCode& code : codes) {
        if (!list.empty()) list += "; ";
        list += std::to_string(code.value) + " (" + code.meaning + ")";
    }
    return list;
}

// --strict: a code that selects nothing (where the setting's codes matter) is refused, with the
// codes that select something.
void check_code_selects_something(const ProblemState& state, const InputSetting& row) {
    if (row.unlisted != UnlistedCode::selects_nothing && row.unlisted != UnlistedCode::rotating_flow) return;
    if (row.relevant.holds != nullptr && !row.relevant.holds(state.settings)) return;
    const int value = state.settings.*std::get<int S::*>(row.field);
    for (const SettingCode& code : row.codes)
        if (code.value == value) return;
    const std::string effect = row.unlisted == UnlistedCode::rotating_flow ? "selects the rotating flow as 2 does"
                                                                            : "selects nothing";
    const std::string when = row.relevant.text != nullptr ? std::string(" with ") + row.relevant.text : "";
    reject(state, row.name,
           "found " + std::to_string(value) + ", which " + effect + when + " (refused by --strict); accepted: " +
               code_list(row.codes));
}

void check_value(const ProblemState& state, const InputSetting& row, bool strict) {
    if (row.at_least != kNoLowerBound || row.at_most != kNoUpperBound) {
        const int value = state.settings.*std::get<int S::*>(row.field);
        if (row.at_most != kNoUpperBound && (value < row.at_least || value > row.at_most))
            reject(state, row.name,
                   "must be from " + std::to_string(row.at_least) + " to " + std::to_string(row.at_most) + ", found " +
                       std::to_string(value));
        if (value < row.at_least)
            reject(state, row.name,
                   "must be at least " + std::to_string(row.at_least) + ", found " + std::to_string(value));
    }
    if (row.check) row.check(state, row.name);
    if (strict) check_code_selects_something(state, row);
}

// Opens the file in the editor, reads every value of its table, then checks them in file order.
void read_input_file(ProblemState& state, const InputFile& file, bool edit, bool strict) {
    platform::open_in_editor(file.name, edit);
    FreeFormatReader reader = FreeFormatReader::open(file.name, file.name);
    for (const InputSetting& row : file.settings) read_value(state, reader, row);
    for (const InputSetting& row : file.settings) check_value(state, row, strict);
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

const InputFile kModeFile{"dados1.ent", "always", kModeSettings};
const InputFile kMultigridFile{"MG2D_000.ent", "run_mode 1", kMultigridSettings};
const InputFile kSingleGridFile{"SG2D_000.ent", "run_mode 2", kSingleGridSettings};

const InputFile& parameter_file(int run_mode) { return run_mode == kMultigrid ? kMultigridFile : kSingleGridFile; }

void read_input_files(ProblemState& state, bool edit, bool strict) {
    // Every setting starts as zero (the report name as empty); a null value keeps that.
    state.settings = SimulationSettings{};
    state.setting_sources.clear();
    state.stats.norm_history.clear();
    state.hierarchy = {};

    read_input_file(state, kModeFile, edit, strict);
    read_input_file(state, parameter_file(state.settings.run_mode), edit, strict);
    if (state.settings.run_mode != kMultigrid) {
        state.Nx = state.settings.Nx;
        state.Ny = state.settings.Ny;
    } else {
        // The hierarchy the checks found valid, kept for the run: a pure function of the settings,
        // so every repetition would build the same tables.
        const SimulationSettings& s = state.settings;
        state.hierarchy = *multigrid::setup_hierarchy(s.level_count, s.coarsest_nx, s.coarsest_ny, s.coarsening_p);
    }
    allocate_norm_history(state);
}

}  // namespace advdiff::run
