#include "output/summary.hpp"

#include <string_view>
#include <variant>

#include "model/model_problem.hpp"
#include "output/json.hpp"
#include "state/utf8.hpp"

namespace advdiff::output {

namespace {

constexpr int kFormatVersion = 1;

// A file name as JSON text: a name that is well-formed UTF-8 stays as it is, so that it names the
// same file; any other is read, as a whole, as ISO 8859-1, the report's character set (each byte
// one character U+0000..U+00FF). file_name_hex gives the bytes themselves.
std::string file_name_text(std::string_view name) {
    if (is_utf8(name)) return std::string(name);
    std::string utf8;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            utf8 += ch;
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

// The bytes of a file name as lower-case hexadecimal digits, two a byte: the name exactly, for a
// program to find the file whatever the name's encoding.
std::string file_name_hex(std::string_view name) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        hex += kHex[c >> 4];
        hex += kHex[c & 0xF];
    }
    return hex;
}

std::string without_trailing_blanks(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

void write_settings(JsonWriter& json, const std::vector<NamedSetting>& settings) {
    json.begin_object();
    for (const NamedSetting& setting : settings) {
        json.key(setting.name);
        std::visit(
            [&](const auto& value) {
                using T = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<T, int>) json.integer(value);
                else if constexpr (std::is_same_v<T, double>) json.number(value);
                else json.string(file_name_text(without_trailing_blanks(value)));
            },
            setting.value);
    }
    json.end_object();
}

// Seconds of one simulation by phase (they add up to "seconds") and, for multigrid, by level.
void write_profile(JsonWriter& json, const ProfileOfOneRun& p) {
    const auto per_second = [&](double count, double seconds) {
        if (seconds > 0) json.number(count / seconds);
        else json.null();
    };
    json.key("profile").begin_object();
    json.key("seconds").number(p.seconds);
    json.key("repetitions").integer(p.repetitions);
    json.key("unknowns_per_second");
    per_second(static_cast<double>(p.unknowns), p.seconds);
    json.key("phases").begin_object();
    for (int k = 0; k < RunProfile::kPhaseCount; ++k)
        json.key(RunProfile::kPhaseNames[k]).number(p.phases[static_cast<std::size_t>(k)]);
    json.end_object();
    json.key("levels").begin_array();
    for (const ProfileOfOneRun::Level& l : p.levels) {
        json.begin_object(true).key("level").integer(l.level).key("Nx").integer(l.Nx).key("Ny").integer(l.Ny);
        json.key("N").integer(l.nodes).key("seconds").number(l.seconds).key("unknowns_per_second");
        per_second(static_cast<double>(l.nodes) * p.iterations, l.seconds);
        json.end_object();
    }
    json.end_array();
    json.end_object();
}

void optional_number(JsonWriter& json, const std::optional<double>& value) {
    if (value) json.number(*value);
    else json.null();
}

}  // namespace

std::string test_case_name(const SimulationSettings& s) {
    if (s.problem_kind != 1) return "rotating flow";
    if (s.flow_angle == 3) return "pure diffusion";
    std::string name = "constant velocity, " + std::to_string(s.flow_angle) + " degrees";
    if (s.flow_angle == 45) name += ", Peclet code " + std::to_string(s.peclet_code);
    if (model::find_velocity(s.flow_angle, s.peclet_code) == nullptr) name += ", not in the velocity table: no advection";
    return name;
}

std::string solver_name(const SimulationSettings& s) {
    switch (s.solver_kind) {
        case kGaussSeidel: return "Gauss-Seidel";
        case kMsi: return "MSI";
        case kAdi: return "ADI";
        case kElimGauss: return s.run_mode == kSingleGrid ? "Gauss elimination" : "none";
        default: return "none";
    }
}

std::uint64_t summary_bytes() {
    // The writer's pieces, and the settings and names it copies on the way.
    return JsonWriter::kStreamingBytes + 4096;
}

std::string compose_summary(const ProblemState& state, const report::RunResults& results,
                            const SummaryContext& context) {
    std::string text;
    write_summary(state, results, context, [&](std::string_view piece) { text += piece; });
    return text;
}

void write_summary(const ProblemState& state, const report::RunResults& results, const SummaryContext& context,
                   const std::function<void(std::string_view)>& out) {
    const SimulationSettings& s = state.settings;
    const RunStatistics& stats = state.stats;
    JsonWriter json(out);
    json.begin_object();
    json.key("format").string("advdiff2d-summary");
    json.key("format_version").integer(kFormatVersion);
    json.key("program").string("advdiff2d");
    json.key("version").string(ADVDIFF_VERSION);
    json.key("report_file").string(file_name_text(context.report_file));
    json.key("report_file_bytes").string(file_name_hex(context.report_file));
    json.key("run_mode").integer(s.run_mode);
    json.key("run_mode_name").string(s.run_mode == kMultigrid ? "multigrid" : "single-grid");
    json.key("solver_kind").integer(s.solver_kind);
    json.key("solver_name").string(solver_name(s));
    json.key("test_case").string(test_case_name(s));
    json.key("settings");
    write_settings(json, context.settings);

    json.key("grid").begin_object();
    json.key("Nx").integer(state.Nx);
    json.key("Ny").integer(state.Ny);
    json.key("N").integer(state.N);
    json.key("hx").number(state.hx);
    json.key("hy").number(state.hy);
    json.end_object();

    // Finest first; a single-grid run has one level.
    json.key("levels").begin_array();
    const auto level = [&](std::int64_t nx, std::int64_t ny, std::int64_t n) {
        json.begin_object(true).key("Nx").integer(nx).key("Ny").integer(ny).key("N").integer(n).end_object();
    };
    if (s.run_mode == kMultigrid) {
        const GridHierarchy& h = state.hierarchy;
        for (int m = 0; m < h.level_count(); ++m)
            level(h.level_nx[static_cast<std::size_t>(m)], h.level_ny[static_cast<std::size_t>(m)],
                  h.level_nodes[static_cast<std::size_t>(m)]);
    } else {
        level(state.Nx, state.Ny, state.N);
    }
    json.end_array();

    json.key("timing").begin_object();
    json.key("repetition_count").integer(stats.repetition_count);
    json.key("elapsed_seconds").number(stats.elapsed_seconds);
    json.key("seconds_per_run").number(stats.seconds_per_run);
    json.key("window_seconds").number(context.window_seconds);
    json.end_object();
    if (context.profile != nullptr) write_profile(json, *context.profile);

    json.key("iteration_count").integer(stats.iteration_count);
    json.key("initial_norm").number(results.initial_norm);
    json.key("final_norm").number(results.final_norm);
    json.key("tolerance").number(s.tolerance);
    json.key("converged").boolean(results.converged);
    json.key("stop_reason").string(report::stop_reason_name(results.stop_reason));
    json.key("discretisation_error").number(results.discretisation_error);
    json.key("linf_error").number(results.linf_error);

    json.key("last_iteration_rate").begin_object();
    json.key("printed");
    optional_number(json, results.rate_printed ? results.last_iteration_rate : std::nullopt);
    json.key("reduction_factor");
    optional_number(json, results.reduction_factor);
    json.end_object();

    // Entries 0 .. iteration_count (entry 0: the initial estimate).
    json.key("norm_history").begin_array(true);
    for (int n = 0; n <= stats.iteration_count && static_cast<std::size_t>(n) < stats.norm_history.size(); ++n)
        json.number(stats.norm_history[static_cast<std::size_t>(n)]);
    json.end_array();

    json.end_object();
    json.finish();
}

}  // namespace advdiff::output
