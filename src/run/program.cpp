#include "run/program.hpp"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "model/model_problem.hpp"
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
#include "solvers/kernels.hpp"
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
        // state.hierarchy: built from the settings once, when they were read (a pure function of
        // them, so every repetition would build the same tables).
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
    std::uint64_t finest = 0, driver = 0, report_values = 0;
    if (s.run_mode == kMultigrid) {
        const GridHierarchy& h = state.hierarchy;
        if (h.level_count() < 1) return 0;
        finest = static_cast<std::uint64_t>(h.level_nodes[0]);
        driver = multigrid::multigrid_run_bytes(h, s.solver_kind);
        report_values = model::GridValues::bytes(h.level_nx[0], h.level_ny[0]);
    } else {
        finest = static_cast<std::uint64_t>(s.Nx) * static_cast<std::uint64_t>(s.Ny);
        driver = single_grid_bytes(s.Nx, s.Ny, s.solver_kind);
        report_values = model::GridValues::bytes(s.Nx, s.Ny);
    }
    // The reference solution, the report's analytic field and its boundary-value tables, and the
    // extra outputs' buffers beside what the driver states.
    return saturating_sum({driver, reference_solution_bytes(finest), bytes_of(finest), report_values,
                           output::output_bytes(outputs)});
}

std::vector<platform::ProtectedFile> files_the_run_reads(const ProblemState& state) {
    // Both parameter files, whichever mode runs: the other one is as much the user's input.
    std::vector<platform::ProtectedFile> files;
    for (const InputFile* file : {&kModeFile, &kMultigridFile, &kSingleGridFile}) {
        std::string description = std::string("the input file ") + file->name;
        if (file != &kModeFile && file != &parameter_file(state.settings.run_mode))
            description += file == &kMultigridFile ? " of multigrid runs" : " of single-grid runs";
        files.push_back({file->name, description});
    }
    const std::string reference = reference_file_name(state.settings.reference_file_index);
    files.push_back({reference, "the reference file " + reference});
    return files;
}

namespace {

// Bytes a report line of the iteration-norm table takes while the report is composed (the line,
// its ISO 8859-1 copy and the growth of the text), rounded up.
constexpr std::uint64_t kHistoryRowBytes = 3 * 34;

// Bytes one entry of the norm history takes at most: its 8 bytes three times (the list doubles as
// it grows: while it moves, the old list, the new one and the earlier ones, which the allocator
// keeps for reuse, take up to three times its length) and its share of the report's table. The
// summary writes the history in pieces and adds nothing per entry.
std::uint64_t history_entry_bytes(const SimulationSettings& s) {
    std::uint64_t per_entry = 3 * sizeof(double);
    const std::uint64_t interval = static_cast<std::uint64_t>(std::llabs(static_cast<long long>(s.history_interval)));
    if (s.print_history == 1 && interval != 0) per_entry += (kHistoryRowBytes + interval - 1) / interval;
    return per_entry;
}

// How many norms the history of the run may hold in `room` bytes.
std::size_t norm_history_limit(const SimulationSettings& s, std::uint64_t room) {
    const std::uint64_t entries = room / history_entry_bytes(s);
    return entries > std::numeric_limits<std::size_t>::max() ? std::numeric_limits<std::size_t>::max()
                                                             : static_cast<std::size_t>(entries);
}

// Bytes the norm history takes when the run uses up max_iterations: entries 0 .. max_iterations.
std::uint64_t most_history_bytes(const SimulationSettings& s) {
    const std::uint64_t entries = s.max_iterations < 0 ? 0 : static_cast<std::uint64_t>(s.max_iterations) + 1;
    return entries * history_entry_bytes(s);  // below 2^31 * 2^7: no overflow
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

// What the checks before computing establish about a run.
struct CheckedRun {
    std::string report_path;
    std::uint64_t bytes = 0;       // bytes_needed: the arrays of a repetition and the outputs' buffers
    std::string what;              // the run as memory messages describe it: "a 2049 x 2049 grid"
    const char* size_setting = ""; // the setting that sizes the grid, which memory messages name
    SettingSource size_source;
};

// Every check the program makes before computing, for a run and for --memory-needed alike:
// problems that would only show after hours of computing are reported now, before anything is
// allocated: a report name that cannot be written or would replace one of the user's input files,
// an output name of the same kinds, a reference file that cannot be read. Compares nothing with
// the memory available.
CheckedRun check_before_computing(const ProblemState& state, const ProgramOptions& options) {
    CheckedRun run;
    const SettingSource name_source = state.source_of("report_file_name");
    run.report_path = report::report_path(state.settings);
    std::vector<platform::ProtectedFile> run_files = files_the_run_reads(state);
    platform::check_output_target(run.report_path, run_files, name_source.file, name_source.line, "report_file_name");
    run_files.push_back({run.report_path, "the report file"});
    output::check_output_targets(options.outputs, run_files);
    const std::string reference = reference_file_name(state.settings.reference_file_index);
    platform::check_readable_file(reference, reference);

    const SimulationSettings& s = state.settings;
    const bool multigrid = s.run_mode == kMultigrid;
    run.size_setting = multigrid ? "coarsest_nx" : "Nx";
    run.size_source = state.source_of(run.size_setting);
    run.what = multigrid ? "a multigrid run of " + std::to_string(s.level_count) + " levels"
                         : "a " + std::to_string(s.Nx) + " x " + std::to_string(s.Ny) + " grid";
    if (!multigrid && s.solver_kind == kElimGauss) run.what += " solved by Gauss elimination";
    run.bytes = bytes_needed(state, options.outputs);
    return run;
}

// With no figure of the memory available at all (no MemAvailable, no memory limit of a cgroup or of
// ulimit), nothing would stop a history that outgrows the machine before the system ends the
// program without a word. Such a run goes ahead only when it fits the machine's installed memory
// even with max_iterations used up; otherwise it is refused now, with what to do about it.
void require_memory_without_budget(const ProblemState& state, const CheckedRun& run) {
    const std::optional<std::uint64_t> installed = platform::installed_memory_bytes();
    if (!installed) return;  // nothing to compare with
    const std::string unknown =
        "and the memory available cannot be read (no MemAvailable, no memory limit of a cgroup or of ulimit)";
    if (run.bytes > *installed)
        throw RunError(run.size_source.file, run.size_source.line, run.size_setting,
                       run.what + " needs " + platform::format_bytes(run.bytes) + " of memory, more than the machine's " +
                           platform::format_bytes(*installed) + ", " + unknown);
    const std::uint64_t history = most_history_bytes(state.settings);
    if (saturating_sum({run.bytes, history}) <= *installed) return;
    const SettingSource source = state.source_of("max_iterations");
    throw RunError(source.file, source.line, "max_iterations",
                   "the norms of " + std::to_string(state.settings.max_iterations) + " iterations may take " +
                       platform::format_bytes(history) + " beside the run's " + platform::format_bytes(run.bytes) +
                       ", more than the machine's " + platform::format_bytes(*installed) + ", " + unknown +
                       ": give the run a limit (ulimit -v) or fewer iterations");
}

}  // namespace

std::uint64_t memory_needed(const ProgramOptions& options) {
    ProblemState state;
    read_input_files(state, false, options.strict);
    const CheckedRun run = check_before_computing(state, options);
    return saturating_sum({run.bytes, most_history_bytes(state.settings)});
}

int run_program(const ProgramOptions& options) {
    ProblemState state;
    read_input_files(state, options.edit, options.strict);
    const CheckedRun run = check_before_computing(state, options);
    const SimulationSettings& s = state.settings;
    const bool multigrid = s.run_mode == kMultigrid;

    // A run larger than the memory it may have is refused now; the norm history, whose length only
    // the run decides, may take three quarters of what is left (the machine's figure is an
    // estimate, and other programs need memory too).
    const std::optional<platform::MemoryBudget> budget = platform::memory_budget();
    if (budget) {
        platform::require_memory(run.bytes, run.what, run.size_source.file, run.size_source.line, run.size_setting);
        const std::uint64_t room = budget->bytes > run.bytes ? budget->bytes - run.bytes : 0;
        state.stats.norm_history_limit = norm_history_limit(s, room - room / 4);
    } else {
        require_memory_without_budget(state, run);
    }

    // The messages of the ways a run can run out of memory after all, composed while there is
    // memory for them.
    const SettingSource iterations_source = state.source_of("max_iterations");
    const std::string history_bound =
        budget ? " (" + platform::format_bytes(budget->bytes) + ": " + budget->bound + ")" : std::string();
    const RunError out_of_memory(run.size_source.file, run.size_source.line, run.size_setting,
                                 "out of memory: " + run.what + " needs about " + platform::format_bytes(run.bytes) +
                                     " of memory");
    const auto history_outgrows_memory = [&](const std::string& when) {
        return RunError(iterations_source.file, iterations_source.line, "max_iterations",
                        "the run stopped " + when + " without reaching the tolerance: the norms of its iterations "
                        "outgrow the memory the run may have" + history_bound);
    };

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
    state.stats.whole_history_read = !options.outputs.summary_path.empty();

    bool converged = true;
    try {
        platform::prepare_heap(run.bytes);
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
        output::SummaryContext summary{run.report_path, options.window_seconds, {}};
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
        // The history is to blame where it holds more than the run's arrays (with its share of the
        // report, as history_entry_bytes counts it).
        const std::size_t entries = state.stats.norm_history.size();
        const bool history_to_blame = entries * history_entry_bytes(s) > run.bytes;
        state = ProblemState{};  // the run's memory back before anything else is done
        if (!history_to_blame) throw out_of_memory;
        throw history_outgrows_memory("out of memory after about " + std::to_string(entries) + " iterations");
    } catch (const NormHistoryFull& full) {
        state = ProblemState{};
        throw history_outgrows_memory("at iteration " + std::to_string(full.iteration()));
    }
    platform::open_in_editor(run.report_path, options.edit);
    return options.strict && !converged ? kNotConverged : 0;
}

}  // namespace advdiff::run
