#include "reference_tool.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>

#include "band_solver.hpp"
#include "exact_arithmetic.hpp"
#include "model/coefficients.hpp"
#include "multigrid.hpp"
#include "multigrid/hierarchy.hpp"
#include "platform/clock.hpp"
#include "platform/memory.hpp"
#include "platform/terminal.hpp"
#include "platform/text_file.hpp"
#include "run/input_files.hpp"
#include "run/reference_file.hpp"
#include "state/run_error.hpp"

namespace advdiff::reference {

namespace {

// Automatic choice: the banded LU wherever its factorisation takes at most about this many
// floating-point operations (70 x 70 takes 9e7, a few hundredths of a second); multigrid beyond,
// where the band's cost grows with the square of the nodes.
constexpr double kLargestAutomaticBand = 1e8;

// Accepted max |b - A x| relative to the largest terms of the equations. The refinement leaves
// about 1e-16 of them; the bound only catches a solution that is plainly not one.
constexpr double kLargestRelativeResidual = 1e-10;

std::string plural(long count, const std::string& word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string scientific(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1e", value);
    return text;
}

// "(12, 7)". Appended piece by piece: GCC 12 takes "(" + std::string for an overlapping copy
// (-Wrestrict).
std::string node_text(int i, int j) {
    std::string text = "(";
    text += std::to_string(i);
    text += ", ";
    text += std::to_string(j);
    text += ')';
    return text;
}

[[noreturn]] void fail(const Blame& blame, const std::string& message) {
    throw RunError(blame.file, blame.line, blame.setting, message);
}

// The system's coefficients and right-hand side, x and the solution's dd tail, GMRES.
std::uint64_t solve_bytes(const GridSize& g, const RefinementOptions& options) {
    return saturating_sum(field_bytes(7, g), refinement_bytes(g, options));
}

// Refuses equations that no method can solve: a coefficient that is not finite, and an interior
// equation without any term (pure diffusion with gamma 0), which makes the system singular.
void check_equations(const model::StencilCoefficients& a, int Nx, int Ny, const Blame& blame) {
    for (int j = 1; j <= Ny; ++j) {
        for (int i = 1; i <= Nx; ++i) {
            const std::size_t k = node(i, j, Nx);
            for (const double value : {a.aP[k], a.aW[k], a.aE[k], a.aS[k], a.aN[k], a.b[k]}) {
                if (!std::isfinite(value))
                    fail(blame, "the equation of node " + node_text(i, j) + " has a coefficient that is not finite");
                if (!(std::fabs(value) < kLargestSplittable))
                    fail(blame, "the equation of node " + node_text(i, j) + " has a coefficient of " +
                                    scientific(value) + ", too large for the exact residual (at most " +
                                    scientific(kLargestSplittable) + ")");
            }
        }
    }
    for (int j = 2; j <= Ny - 1; ++j) {
        for (int i = 2; i <= Nx - 1; ++i) {
            const std::size_t k = node(i, j, Nx);
            if (a.aP[k] == 0.0 && a.aW[k] == 0.0 && a.aE[k] == 0.0 && a.aS[k] == 0.0 && a.aN[k] == 0.0)
                fail(blame, "the system is singular: the equation of node " + node_text(i, j) +
                                " has no terms (no diffusion and no advection)");
        }
    }
}

// One line of progress on stderr, rewritten in place: only when stderr is a terminal and once the
// solution has taken about two seconds, at most ten times a second; erased when done.
class ProgressLine {
public:
    ProgressLine() : enabled_(platform::standard_error_is_terminal()), start_(platform::elapsed_time()) {}
    ~ProgressLine() {
        if (shown_ > 0) std::fprintf(stderr, "\r%*s\r", shown_, "");
    }

    void operator()(const RefinementProgress& p) {
        if (!enabled_) return;
        const double now = platform::elapsed_time();
        if (now - start_ < 2.0 || now - last_ < 0.1) return;
        last_ = now;
        char text[160];
        const int length = std::snprintf(text, sizeof text, "advdiff2d-reference: refinement step %d, cycle %d, residual %.1e",
                                         p.step, p.cycles, p.residual);
        std::fprintf(stderr, "\r%s%*s", text, std::max(0, shown_ - length), "");
        std::fflush(stderr);
        shown_ = std::max(shown_, length);
    }

private:
    bool enabled_;
    double start_;
    double last_ = -1.0;
    int shown_ = 0;
};

}  // namespace

GridSize finest_grid(const SimulationSettings& s) {
    if (s.run_mode != kMultigrid) return {s.Nx, s.Ny};
    std::string why;
    const std::optional<GridHierarchy> h =
        multigrid::setup_hierarchy(s.level_count, s.coarsest_nx, s.coarsest_ny, s.coarsening_p, &why);
    if (!h) throw RunError("the grid hierarchy cannot be built: " + why);
    return {h->level_nx.front(), h->level_ny.front()};
}

Method resolve_method(Method method, int Nx, int Ny) {
    if (method != Method::automatic) return method;
    return BandLU::factor_operations({Nx, Ny}) <= kLargestAutomaticBand ? Method::band : Method::multigrid;
}

ReferenceSolution solve_reference(const model::ModelCase& c, int Nx, int Ny, Method method, const Blames& blames,
                                  const SolveOptions& options) {
    const GridSize g{Nx, Ny};
    const std::string grid = "a " + grid_text(Nx, Ny) + " grid";
    method = resolve_method(method, Nx, Ny);
    const bool band = method == Method::band;
    const std::string what = (band ? "the banded LU of " : "the multigrid solution of ") + grid;
    auto require = [&](std::uint64_t bytes) {
        platform::require_memory(bytes, what, blames.grid.file, blames.grid.line, blames.grid.setting);
    };

    // The system first (its size alone may be too much), then all the method needs: whether the
    // finest multigrid level needs equations of its own is known once the system is assembled.
    const std::uint64_t base = solve_bytes(g, options.refinement);
    require(base);
    ReferenceSolution solution;
    model::StencilCoefficients coefficients;
    try {
        coefficients.resize(g.nodes());
        solution.T.assign(g.nodes(), 0.0);
    } catch (const std::bad_alloc&) {
        fail(blames.grid, "not enough memory for the system of " + grid);
    }
    model::assemble_coefficients(c, Nx, Ny, coefficients);
    check_equations(coefficients, Nx, Ny, blames.equations);
    const model::StencilView a(coefficients);

    const std::vector<GridSize> levels = multigrid_levels(Nx, Ny);
    const bool own_finest = !band && Multigrid::finest_needs_own_equations(a, Nx, Ny);
    require(saturating_sum(base, band ? BandLU::bytes(g) : multigrid_bytes(levels, own_finest)));

    std::unique_ptr<Preconditioner> inner;
    std::string method_text;
    RefinementResult refined;
    try {
        if (band) {
            inner = std::make_unique<BandLU>(a, Nx, Ny);
        } else {
            auto mg = std::make_unique<Multigrid>(c, coefficients, Nx, Ny);
            method_text = "multigrid GMRES (" + plural(static_cast<long>(mg->level_count()), "level") + ", coarsest " +
                          grid_text(mg->coarsest().nx, mg->coarsest().ny) +
                          (mg->diffused_levels() > 0
                               ? ", " + std::to_string(mg->diffused_levels()) + " with added diffusion"
                               : std::string()) +
                          ")";
            inner = std::move(mg);
        }
        refined = refine(a, coefficients.b, Nx, Ny, *inner, solution.T, options.refinement, options.progress);
    } catch (const std::bad_alloc&) {
        fail(blames.grid, "not enough memory for " + what);
    } catch (const RunError& e) {
        fail(blames.equations, e.message());  // a singular matrix
    }
    inner.reset();
    if (band) method_text = "banded LU";
    method_text += ", " + (band ? std::string() : plural(refined.cycles, "cycle") + " in ") +
                   plural(refined.steps, "refinement step");
    if (!refined.converged) {
        std::string message = what + " did not converge: " + refined.failure + " (" + method_text +
                              ", last correction " + scientific(refined.last_correction) + " of the solution); ";
        if (band)
            message += "the system is too ill-conditioned to be solved in double precision";
        else
            message += "--method band, which solves any system that double precision can, would need " +
                       platform::format_bytes(saturating_sum(base, BandLU::bytes(g))) + " of memory";
        fail(blames.equations, message);
    }

    // The check every written file passes: finite values, and a residual at round-off level.
    const double scale = equation_scale(a, coefficients.b, Nx, Ny, solution.T);
    solution.max_residual = exact_residual(a, coefficients.b, Nx, Ny, solution.T, {}, {});
    if (!std::isfinite(max_norm(solution.T)) || !std::isfinite(solution.max_residual))
        fail(blames.equations, what + " is not finite (" + method_text + ")");
    if (!(solution.max_residual <= kLargestRelativeResidual * scale))
        fail(blames.equations, what + " is inaccurate (" + method_text + ", max residual " +
                                   scientific(solution.max_residual) + ", equation terms up to " + scientific(scale) +
                                   ")");
    solution.method = method_text;
    return solution;
}

std::string make_reference_file(Method method) {
    ProblemState state;
    run::read_input_files(state, false);
    const SimulationSettings& s = state.settings;
    // A target that cannot be written is reported now, not after the solve.
    const std::string file = run::reference_file_name(s.reference_file_index);
    const SettingSource index_source = state.source_of("reference_file_index");
    platform::check_writable_target(file, index_source.file, index_source.line, "reference_file_index");

    const GridSize grid = finest_grid(s);
    const std::string grid_setting = s.run_mode == kMultigrid ? "level_count" : "Ny";
    const SettingSource grid_source = state.source_of(grid_setting);
    const SettingSource gamma_source = state.source_of("gamma");
    const Blames blames{{grid_source.file, grid_source.line, grid_setting},
                        {gamma_source.file, gamma_source.line, "gamma"}};

    ReferenceSolution solution;
    {
        ProgressLine progress;
        SolveOptions options;
        options.progress = [&](const RefinementProgress& p) { progress(p); };
        solution = solve_reference(model::make_model_case(s), grid.nx, grid.ny, method, blames, options);
    }
    run::write_reference_values(file, grid.nx, grid.ny, solution.T);
    return file + ": " + grid_text(grid.nx, grid.ny) + " grid, " + solution.method + ", max residual " +
           scientific(solution.max_residual);
}

}  // namespace advdiff::reference
