#include "run/program.hpp"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "multigrid/fas_cycle.hpp"
#include "multigrid/hierarchy.hpp"
#include "output/console.hpp"
#include "platform/clock.hpp"
#include "platform/editor.hpp"
#include "platform/memory.hpp"
#include "platform/text_file.hpp"
#include "report/report.hpp"
#include "run/input_files.hpp"
#include "run/reference_file.hpp"
#include "run/single_grid.hpp"
#include "solvers/gauss_elimination.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {

void load_reference_solution(ProblemState& state) {
    if (state.settings.run_mode == kMultigrid) {
        state.Nx = state.hierarchy.level_nx[0];
        state.Ny = state.hierarchy.level_ny[0];
    }
    state.N = state.Nx * state.Ny;
    state.reference_solution.assign(static_cast<std::size_t>(state.N), 0.0);
    read_reference_values(reference_file_name(state.settings.reference_file_index), state.Nx, state.Ny,
                          state.reference_solution);
}

void run_repetition(ProblemState& state) {
    PhaseClock clock(state.profile);
    const SimulationSettings& s = state.settings;
    if (s.run_mode == kMultigrid) {
        // Validated when the input was read; computed again as every repetition starts afresh.
        std::string why;
        auto hierarchy = multigrid::setup_hierarchy(s.level_count, s.coarsest_nx, s.coarsest_ny, s.coarsening_p, &why);
        if (!hierarchy) throw RunError("MG2D_000.ent", 0, "level_count", why);
        state.hierarchy = std::move(*hierarchy);
        clock.charge(RunProfile::setup_and_assembly);
        load_reference_solution(state);
        clock.charge(RunProfile::reference_reading);
        multigrid::run_multigrid(state);
    } else {
        state.Nx = s.Nx;
        state.Ny = s.Ny;
        load_reference_solution(state);
        clock.charge(RunProfile::reference_reading);
        run_single_grid(state);
    }
}

std::uint64_t bytes_needed(const ProblemState& state, const output::OutputRequest& outputs) {
    const SimulationSettings& s = state.settings;
    std::uint64_t finest = 0, driver = 0;
    if (s.run_mode == kMultigrid) {
        std::string why;
        const auto h = multigrid::setup_hierarchy(s.level_count, s.coarsest_nx, s.coarsest_ny, s.coarsening_p, &why);
        if (!h) return 0;
        finest = static_cast<std::uint64_t>(h->level_nodes[0]);
        driver = multigrid::multigrid_run_bytes(*h, s.solver_kind);
    } else {
        finest = static_cast<std::uint64_t>(s.Nx) * static_cast<std::uint64_t>(s.Ny);
        driver = single_grid_bytes(s.Nx, s.Ny, s.solver_kind);
    }
    // The reference solution, the report's analytic field and the extra outputs' buffers beside
    // what the driver states.
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t extra = output::output_bytes(outputs, finest);
    const std::uint64_t fields = reference_solution_bytes(finest) + finest * sizeof(double);
    if (extra > most - fields) return most;
    return driver > most - fields - extra ? most : driver + fields + extra;
}

std::vector<platform::ProtectedFile> files_the_run_reads(const ProblemState& state) {
    std::vector<platform::ProtectedFile> files;
    for (const char* first_setting : {"run_mode", "solver_kind"}) {
        const std::string file = state.source_of(first_setting).file;
        if (!file.empty()) files.push_back({file, "the input file " + file});
    }
    const std::string reference = reference_file_name(state.settings.reference_file_index);
    files.push_back({reference, "the reference file " + reference});
    return files;
}

namespace {

// Bytes a report line of the iteration-norm table takes while the report is composed (the line,
// its ISO 8859-1 copy and the growth of the text), rounded up.
constexpr std::uint64_t kHistoryRowBytes = 3 * 34;

// How many norms the history of the run may hold: what the memory left beside the run's arrays
// (`room`) holds, counting for every entry its 8 bytes three times (the list doubles as it grows:
// while it moves, the old list, the new one and the earlier ones, which the allocator keeps for
// reuse, take up to three times its length) and its share of the report's table.
std::size_t norm_history_limit(const SimulationSettings& s, std::uint64_t room) {
    std::uint64_t per_entry = 3 * sizeof(double);
    const std::uint64_t interval = static_cast<std::uint64_t>(std::llabs(static_cast<long long>(s.history_interval)));
    if (s.print_history == 1 && interval != 0) per_entry += (kHistoryRowBytes + interval - 1) / interval;
    const std::uint64_t entries = room / per_entry;
    return entries > std::numeric_limits<std::size_t>::max() ? std::numeric_limits<std::size_t>::max()
                                                             : static_cast<std::size_t>(entries);
}

// --monitor: a line on stderr for every norm of the run, flushed as it is recorded.
std::function<void(int, double)> norm_monitor(bool multigrid) {
    return [multigrid, previous = std::optional<double>()](int iteration, double norm) mutable {
        const std::string line =
            output::monitor_line(multigrid, iteration, norm, iteration > 0 ? previous : std::nullopt) + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        previous = norm;
    };
}

}  // namespace

int run_program(const ProgramOptions& options) {
    ProblemState state;
    read_input_files(state, options.edit, options.strict);

    // Problems that would only show after hours of computing are reported now, before anything is
    // allocated: a report name that cannot be written or would replace a file the run reads, a
    // reference file that cannot be read, a run larger than the memory it may have.
    const SettingSource name_source = state.source_of("report_file_name");
    const std::string report_path = report::report_path(state.settings);
    std::vector<platform::ProtectedFile> run_files = files_the_run_reads(state);
    platform::check_output_target(report_path, run_files, name_source.file, name_source.line, "report_file_name");
    run_files.push_back({report_path, "the report file"});
    output::check_output_targets(options.outputs, run_files);
    const std::string reference = reference_file_name(state.settings.reference_file_index);
    platform::check_readable_file(reference, reference);

    const SimulationSettings& s = state.settings;
    const bool multigrid = s.run_mode == kMultigrid;
    const char* const size_setting = multigrid ? "coarsest_nx" : "Nx";
    const SettingSource size_source = state.source_of(size_setting);
    std::string what = multigrid ? "a multigrid run of " + std::to_string(s.level_count) + " levels"
                                 : "a " + std::to_string(s.Nx) + " x " + std::to_string(s.Ny) + " grid";
    if (!multigrid && s.solver_kind == kElimGauss) what += " solved by Gauss elimination";
    const std::uint64_t bytes = bytes_needed(state, options.outputs);
    platform::require_memory(bytes, what, size_source.file, size_source.line, size_setting);
    const std::optional<platform::MemoryBudget> budget = platform::memory_budget();
    // Three quarters of what is left: the machine's figure is an estimate, and other programs
    // need memory too.
    const std::uint64_t room = budget && budget->bytes > bytes ? budget->bytes - bytes : 0;
    if (budget) state.stats.norm_history_limit = norm_history_limit(s, room - room / 4);

    // The messages of the two ways a run can run out of memory after all, composed while there is
    // memory for them.
    const SettingSource iterations_source = state.source_of("max_iterations");
    const std::string history_bound =
        budget ? " (" + platform::format_bytes(budget->bytes) + ": " + budget->bound + ")" : std::string();
    const RunError out_of_memory(size_source.file, size_source.line, size_setting,
                                 "out of memory: " + what + " needs about " + platform::format_bytes(bytes) +
                                     " of memory");

    // Asked-for instruments: the profile's clock is read only when one is kept, the monitor
    // watches the first repetition only (every repetition computes the same norms).
    RunProfile profile;
    double profiled_ticks = 0.0;
    std::optional<platform::TickRate> tick_rate;
    if (options.profile) {
        profile.clock = platform::profile_ticks;
        state.profile = &profile;
        tick_rate.emplace();
    }
    if (options.monitor) state.stats.on_norm = norm_monitor(multigrid);

    bool converged = true;
    try {
        platform::prepare_heap(bytes);
        RunStatistics& stats = state.stats;
        stats.repetition_count = 0;
        stats.elapsed_seconds = platform::elapsed_time();
        // At least one repetition always runs; the window closes when the clock reaches its length.
        do {
            const double start = options.profile ? profile.clock() : 0.0;
            run_repetition(state);
            if (options.profile) profiled_ticks += profile.clock() - start;
            stats.on_norm = nullptr;
            stats.elapsed_seconds = platform::elapsed_time();
            ++stats.repetition_count;
            stats.seconds_per_run = stats.elapsed_seconds / stats.repetition_count;
        } while (stats.elapsed_seconds < options.window_seconds);

        // The extra outputs follow the report and carry the same derived values; the editor opens
        // once every file is in place.
        const report::RunResults results = report::derive_run_results(state);
        report::write_report(state, results, false);
        output::SummaryContext summary{report_path, options.window_seconds, {}};
        for_each_setting(state.settings, [&](std::string_view name, const auto& value) {
            summary.settings.push_back({std::string(name), value});
        });
        std::optional<output::ProfileOfOneRun> one_run;
        if (options.profile) {
            one_run = output::profile_of_one_run(profile, profiled_ticks, tick_rate->seconds_per_tick(), state);
            summary.profile = &*one_run;
        }
        output::write_outputs(options.outputs, state, results, summary);

        // The console lines, once every file is in place: the profile, then the verdict. Under
        // --strict a run that did not converge says why even without --verdict.
        converged = results.converged;
        if (one_run) std::fputs(output::profile_table(*one_run).c_str(), stdout);
        const std::string verdict = output::verdict_line(state, results);
        if (options.verdict) std::printf("%s\n", verdict.c_str());
        else if (options.strict && !converged) std::fprintf(stderr, "advdiff2d: %s (--strict)\n", verdict.c_str());
        state.profile = nullptr;
    } catch (const std::bad_alloc&) {
        state = ProblemState{};  // the run's memory back before anything else is done
        throw out_of_memory;
    } catch (const NormHistoryFull& full) {
        state = ProblemState{};
        throw RunError(iterations_source.file, iterations_source.line, "max_iterations",
                       "the run stopped at iteration " + std::to_string(full.iteration()) +
                           " without reaching the tolerance: the norms of its iterations outgrow the memory "
                           "the run may have" + history_bound);
    }
    platform::open_in_editor(report_path, options.edit);
    return options.strict && !converged ? kNotConverged : 0;
}

}  // namespace advdiff::run
