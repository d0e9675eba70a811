#pragma once
// The problem state: everything the phases of a run share. One instance lives for the whole
// program run; the phases (input reading, reference set-up, drivers, report) take it by reference,
// the numerical kernels take only the sizes and arrays they work on.
//
// Grid fields are stored 0-based; the formulas of the method number nodes from 1 as
// k = (j-1)*Nx + i. node(i, j, Nx) converts 1-based (i, j) to the 0-based storage index so that a
// line of code can be read against its formula.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "state/run_error.hpp"

namespace advdiff {

using Field = std::vector<double>;

// A vector that leaves its new elements uninitialised where it is only sized (resize(n)), for the
// large arrays of every repetition whose every element is written before it is read (a grid's
// assembled coefficients, MSI's factors): no pass of zeros over memory about to be overwritten.
// assign(n, v) and resize(n, v) still write v.
template <class T>
struct SizedOnlyAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = SizedOnlyAllocator<U>;
    };
    SizedOnlyAllocator() = default;
    template <class U>
    SizedOnlyAllocator(const SizedOnlyAllocator<U>&) {}
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        if constexpr (sizeof...(Args) == 0) ::new (static_cast<void*>(p)) U;
        else ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using SizedField = std::vector<double, SizedOnlyAllocator<double>>;

// 1-based grid node (i, j) -> 0-based storage index.
constexpr std::size_t node(int i, int j, int Nx) {
    return static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(Nx) + static_cast<std::size_t>(i - 1);
}

// The node counts of one grid: Nx x Ny nodes, N of them, in node order k = (j-1) Nx + i.
struct Grid {
    int Nx = 0;
    int Ny = 0;
    int N() const { return Nx * Ny; }
};

// Counts for the memory check, which sums what each owner counts: a product or sum that would
// wrap around gives the largest value instead.
constexpr std::uint64_t kMostCount = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t saturating_times(std::uint64_t a, std::uint64_t b) {
    return b != 0 && a > kMostCount / b ? kMostCount : a * b;
}
constexpr std::uint64_t bytes_of(std::uint64_t doubles) { return saturating_times(doubles, sizeof(double)); }
constexpr std::uint64_t saturating_sum(std::initializer_list<std::uint64_t> parts) {
    std::uint64_t total = 0;
    for (std::uint64_t part : parts) total = total > kMostCount - part ? kMostCount : total + part;
    return total;
}

// Length of the report name field.
constexpr std::size_t kReportNameWidth = 35;

// The value of pi the model problem uses everywhere.
constexpr double kPi = 3.141592653589793;

// Run modes and solver codes read from the input files. Unlisted codes are accepted where the
// program accepts them and select no action.
enum RunMode : int { kMultigrid = 1, kSingleGrid = 2 };
enum SolverKind : int { kGaussSeidel = 1, kMsi = 2, kAdi = 3, kElimGauss = 4 };

// Every value read from the input files.
struct SimulationSettings {
    int run_mode = 0;                 // 1 multigrid, 2 single-grid
    int solver_kind = 0;              // 1 Gauss-Seidel, 2 MSI, 3 ADI, 4 Gauss elimination
    std::string report_file_name;     // exactly 35 characters (ISO 8859-1 bytes), blank-padded
    int level_count = 0;              // multigrid: number of grids, finest = level 1
    int reference_file_index = 0;     // 1..11: the reference solution is read from exata<index>
    int coarsest_nx = 0;              // multigrid: nodes in x of the coarsest grid
    int coarsest_ny = 0;              // multigrid: nodes in y of the coarsest grid
    int Nx = 0;                       // single-grid: nodes in x, boundary included
    int Ny = 0;                       // single-grid: nodes in y, boundary included
    int problem_kind = 0;             // 1 constant velocity family, otherwise rotating flow
    int flow_angle = 0;               // degrees; 3 selects pure diffusion
    int peclet_code = 0;              // Peclet magnitude code used with flow_angle 45
    double coarsening_p = 0.0;        // multigrid: numerator of the coarsening ratio
    double coarsening_q = 0.0;        // multigrid: denominator (printed only)
    double gamma = 0.0;               // diffusion coefficient
    int max_iterations = 0;           // outer iterations (single-grid) or V-cycles (multigrid)
    int inner_iterations = 0;         // smoother iterations per level visit (multigrid)
    double tolerance = 0.0;           // stopping tolerance on the L1 mean iteration error
    double msi_tolerance = 0.0;       // relative residual tolerance inside MSI
    int initial_estimate = 0;         // 1 zero, 2 analytic, 3 one half
    int print_history = 0;            // 1: the report lists the iteration norms
    int history_interval = 0;         // every how many iterations a row is listed
};

// Whether the report's iteration-norm table lists iteration n of a run that stopped after `last`:
// with print_history 1, iteration 1, every multiple of the interval (a negative interval acts as
// its absolute value; 0 lists only the first and the last), and the last. Gauss elimination's
// runs have no table.
inline bool history_lists(const SimulationSettings& s, int n, int last) {
    if (s.solver_kind == kElimGauss || s.print_history != 1) return false;
    const long long interval = s.history_interval < 0 ? -static_cast<long long>(s.history_interval) : s.history_interval;
    return n == 1 || n == last || (interval != 0 && n % interval == 0);
}

// Where each setting came from, so that later checks can name the file and line.
struct SettingSource {
    std::string file;   // file name as the user knows it (e.g. "SG2D_000.ent")
    long line = 0;      // 1-based physical line
};

// Timing and convergence results of the last repetition.
struct RunStatistics {
    int repetition_count = 0;              // complete simulations in the timing window
    double elapsed_seconds = 0.0;          // last reading of the elapsed-time clock
    double seconds_per_run = 0.0;          // elapsed_seconds / repetition_count
    int iteration_count = 0;               // outer iterations or cycles of the last run
    std::vector<double> norm_history;      // index 0..iteration_count: L1 mean iteration error
    double average_convergence_rate = 0.0; // printed, never assigned by any step

    // Most entries norm_history may grow to: what the memory left beside the run's arrays holds.
    std::size_t norm_history_limit = std::numeric_limits<std::size_t>::max();

    // Whether something reads every entry of norm_history (the summary). Otherwise only the
    // entries the report reads are the exact norms; the others may be lower bounds of them.
    bool whole_history_read = false;

    // Called with every norm as it is recorded (--monitor); empty: nobody watches.
    std::function<void(int iteration, double norm)> on_norm;

    // Records norm_history(index) := norm. The list starts short and grows as a run needs it: a
    // limit of two billion iterations must not cost 16 GiB before the first one. Growing past
    // norm_history_limit throws NormHistoryFull instead of taking memory the machine does not have.
    void record_norm(int index, double norm) {
        const auto i = static_cast<std::size_t>(index);
        if (i >= norm_history.size()) {
            if (i >= norm_history_limit) throw NormHistoryFull(index);
            norm_history.resize(std::min(std::max(i + 1, 2 * norm_history.size()), norm_history_limit), 0.0);
        }
        norm_history[i] = norm;
        if (on_norm) on_norm(index, norm);
    }
};

// Where the time of the simulations goes, kept on request (--profile): the time summed over the
// profiled repetitions, by phase and, for multigrid, by level, in ticks of a counter that is cheap
// to read (the caller knows their length in seconds). The drivers charge their phases through a
// PhaseClock; what no phase claims is "other".
struct RunProfile {
    enum Phase {
        reference_reading,         // the reference file
        setup_and_assembly,        // hierarchy, arrays, coefficients, initial estimate
        smoothing,                 // the solver or smoother
        residual_and_restriction,  // multigrid: level residuals, injection, FAS right-hand sides
        prolongation,              // multigrid: corrections u - R u and their interpolation
        norm,                      // the iteration-error norm
        other,                     // the rest: boundary values, copies, releasing memory
        kPhaseCount
    };
    static constexpr const char* kPhaseNames[kPhaseCount] = {
        "reference_reading", "setup_and_assembly", "smoothing", "residual_and_restriction",
        "prolongation",      "norm",               "other"};

    double (*clock)() = nullptr;            // a steady counter; its ticks are the unit below
    std::array<double, kPhaseCount> ticks{};  // summed over the repetitions
    std::vector<double> level_ticks;        // multigrid V-cycles, by level (index 0 = level 1)
};

// Charges the time since it was started, or since its last charge, to a phase of a profile; reads
// no clock without one. One clock reading per charge: consecutive phases share their boundary.
class PhaseClock {
public:
    explicit PhaseClock(RunProfile* profile) : profile_(profile), last_(profile != nullptr ? profile->clock() : 0.0) {}
    void charge(RunProfile::Phase phase) {
        if (profile_ == nullptr) return;
        const double now = profile_->clock();
        profile_->ticks[phase] += now - last_;
        last_ = now;
    }
    // Starts the next charge now: the time since the last one belongs to no phase (or is
    // measured elsewhere).
    void skip() {
        if (profile_ != nullptr) last_ = profile_->clock();
    }

private:
    RunProfile* profile_;
    double last_;
};

// Node counts of the multigrid hierarchy, level 1 (finest) first; index 0 holds level 1.
struct GridHierarchy {
    std::vector<int> level_nx;
    std::vector<int> level_ny;
    std::vector<int> level_nodes;
    int level_count() const { return static_cast<int>(level_nx.size()); }
    // Sum of level_nodes(1 .. lev-1), lev 1-based.
    std::int64_t level_offset(int lev) const {
        std::int64_t offset = 0;
        for (int m = 1; m < lev; ++m) offset += level_nodes[static_cast<std::size_t>(m - 1)];
        return offset;
    }
    std::int64_t total_nodes() const { return level_offset(level_count() + 1); }
};

struct ProblemState {
    SimulationSettings settings;
    // Line of each setting in its file, keyed by the setting's name (for later validation).
    std::vector<std::pair<std::string, SettingSource>> setting_sources;

    // Current grid: the finest grid once a run has finished.
    int Nx = 0;
    int Ny = 0;
    int N = 0;
    double hx = 0.0;
    double hy = 0.0;

    // Grid fields of the current grid, node order.
    Field TNum;                // numerical field
    Field T_Analitica;         // analytic solution (filled only by initial estimate 2)
    Field reference_solution;  // exact solution of the discrete system, from exata<index>

    GridHierarchy hierarchy;   // multigrid only
    RunStatistics stats;
    RunProfile* profile = nullptr;  // kept only when asked for (--profile)

    // Where a setting was read; a default (empty) source if it is unknown.
    SettingSource source_of(const std::string& setting) const {
        for (const auto& [name, source] : setting_sources)
            if (name == setting) return source;
        return {};
    }
};

}  // namespace advdiff
