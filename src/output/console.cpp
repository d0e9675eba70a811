#include "output/console.hpp"

#include <charconv>
#include <cmath>

namespace advdiff::output {

namespace {

// A number in fixed or scientific notation, the same text on every platform.
std::string fixed(double value, int decimals) {
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc{} ? std::string(buffer, r.ptr) : std::string("*");
}

std::string scientific(double value, int decimals) {
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, decimals);
    return std::string(buffer, r.ptr);
}

std::string right(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string left(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string share(double part, double whole) { return whole > 0 ? fixed(100.0 * part / whole, 1) + "%" : "-"; }

std::string per_second(double count, double seconds) { return seconds > 0 ? scientific(count / seconds, 2) : "-"; }

std::string words(const char* name) {
    std::string text = name;
    for (char& c : text)
        if (c == '_') c = ' ';
    return text;
}

// The report's and the summary's words for a value that is not a number.
std::string norm_text(double value, int decimals) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    return scientific(value, decimals);
}

std::string shortest(double value) {
    if (!std::isfinite(value)) return norm_text(value, 0);
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    return std::string(buffer, r.ptr);
}

std::string counted(int count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string monitor_line(bool multigrid, int iteration, double norm, std::optional<double> previous) {
    std::string line = std::string(multigrid ? "V-cycle " : "iteration ") + right(std::to_string(iteration), 6) +
                       "  norm " + shortest(norm);
    if (previous) line = left(line, 48) + "  ratio " + norm_text(norm / *previous, 4);
    return line;
}

std::string verdict_line(const ProblemState& state, const report::RunResults& results) {
    const bool multigrid = state.settings.run_mode == kMultigrid;
    const int iterations = state.stats.iteration_count;
    std::string line = std::string(results.converged ? "converged (" : "not converged (") +
                       std::string(report::stop_reason_name(results.stop_reason)) + "): " +
                       (multigrid ? counted(iterations, "V-cycle", "V-cycles")
                                  : counted(iterations, "iteration", "iterations")) +
                       ", final norm " + norm_text(results.final_norm, 4);
    const std::string tolerance = norm_text(state.settings.tolerance, 4);
    if (results.final_norm <= state.settings.tolerance) line += " <= tolerance " + tolerance;
    else if (results.final_norm > state.settings.tolerance) line += " > tolerance " + tolerance;
    else line += ", tolerance " + tolerance;
    return line;
}

ProfileOfOneRun profile_of_one_run(const RunProfile& profile, double total_ticks, double seconds_per_tick,
                                   const ProblemState& state) {
    ProfileOfOneRun p;
    p.repetitions = state.stats.repetition_count;
    p.iterations = state.stats.iteration_count;
    p.unknowns = static_cast<std::int64_t>(state.Nx) * state.Ny;
    p.multigrid = state.settings.run_mode == kMultigrid;
    // Seconds of one simulation per tick summed over the repetitions.
    const double scale = seconds_per_tick / (p.repetitions > 0 ? p.repetitions : 1);
    p.seconds = total_ticks * scale;
    double named = 0.0;
    for (int k = 0; k < RunProfile::kPhaseCount; ++k) {
        if (k == RunProfile::other) continue;
        p.phases[static_cast<std::size_t>(k)] = profile.ticks[static_cast<std::size_t>(k)] * scale;
        named += p.phases[static_cast<std::size_t>(k)];
    }
    // What the named phases leave: boundary values, copies, allocation and release, the clock.
    p.phases[RunProfile::other] = p.seconds - named;
    if (p.multigrid) {
        const GridHierarchy& h = state.hierarchy;
        for (int m = 0; m < h.level_count(); ++m) {
            const auto k = static_cast<std::size_t>(m);
            p.levels.push_back({m + 1, h.level_nx[k], h.level_ny[k], h.level_nodes[k],
                                k < profile.level_ticks.size() ? profile.level_ticks[k] * scale : 0.0});
        }
    }
    return p;
}

std::string profile_table(const ProfileOfOneRun& p) {
    std::string out = "Time of one simulation: " + fixed(p.seconds, 6) + " s (mean of " + std::to_string(p.repetitions) +
                      (p.repetitions == 1 ? " repetition), " : " repetitions), ") +
                      per_second(static_cast<double>(p.unknowns), p.seconds) + " unknowns per second\n";
    out += "  " + left("phase", 26) + right("seconds", 12) + right("share", 9) + "\n";
    for (int k = 0; k < RunProfile::kPhaseCount; ++k) {
        const double s = p.phases[static_cast<std::size_t>(k)];
        out += "  " + left(words(RunProfile::kPhaseNames[k]), 26) + right(fixed(s, 6), 12) + right(share(s, p.seconds), 9) +
               "\n";
    }
    if (!p.multigrid) return out;
    out += "V-cycles by level (" + std::to_string(p.iterations) + (p.iterations == 1 ? " cycle" : " cycles") +
           " per simulation):\n";
    out += "  " + right("level", 5) + right("grid", 15) + right("nodes", 12) + right("seconds", 12) + right("share", 9) +
           right("unknowns/s", 12) + "\n";
    for (const ProfileOfOneRun::Level& l : p.levels) {
        const std::string grid = std::to_string(l.Nx) + " x " + std::to_string(l.Ny);
        out += "  " + right(std::to_string(l.level), 5) + right(grid, 15) + right(std::to_string(l.nodes), 12) +
               right(fixed(l.seconds, 6), 12) + right(share(l.seconds, p.seconds), 9) +
               right(per_second(static_cast<double>(l.nodes) * p.iterations, l.seconds), 12) + "\n";
    }
    return out;
}

}  // namespace advdiff::output
