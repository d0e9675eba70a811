#include "reference_tool.hpp"

#include <algorithm>
#include <cstdio>
#include <new>
#include <optional>
#include <vector>

#include "band_solver.hpp"
#include "model/coefficients.hpp"
#include "multigrid/hierarchy.hpp"
#include "platform/memory.hpp"
#include "platform/text_file.hpp"
#include "run/input_files.hpp"
#include "run/reference_file.hpp"
#include "state/run_error.hpp"
#include "stencil.hpp"

namespace advdiff::reference {

namespace {

// Automatic choice: a grid that can be coarsened is solved by banded LU only while the band has
// at most this many elements (257 x 257 has 51 million; the factorisation takes seconds then, and
// minutes at twice the size).
constexpr std::uint64_t kLargestAutomaticBand = std::uint64_t{64} << 20;

// Accepted max |b - A x| relative to the largest terms of the equations; round-off leaves about
// 1e-16 of them, a converged iteration 1e-13 at most.
constexpr double kLargestRelativeResidual = 1e-10;

std::string plural(long count, const std::string& word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// The coefficient arrays and the solution: what every method needs.
std::uint64_t system_bytes(int Nx, int Ny) {
    const std::uint64_t n = static_cast<std::uint64_t>(Nx) * static_cast<std::uint64_t>(Ny);
    return saturating_product(7 * sizeof(double), n);
}

void require(std::uint64_t bytes, const std::string& what, const GridSource& source) {
    platform::require_memory(bytes, what, source.file, source.line, source.setting);
}

std::string band_text(const BandResult& r) {
    return "banded LU with " + plural(r.refinement_steps, "refinement step");
}

std::string iterative_text(const IterativeResult& r) {
    if (r.levels == 1) return "over-relaxation with " + plural(r.cycles, "sweep");
    return "multigrid with " + plural(r.levels, "level") + " (coarsest " + grid_text(r.coarsest.nx, r.coarsest.ny) +
           (r.coarsest_direct ? " by banded LU" : " by relaxation") + "), " + plural(r.cycles, "V-cycle");
}

}  // namespace

GridSize finest_grid(const SimulationSettings& s) {
    if (s.run_mode != kMultigrid) return {s.Nx, s.Ny};
    std::string why;
    const std::optional<GridHierarchy> h =
        multigrid::setup_hierarchy(s.level_count, s.coarsest_nx, s.coarsest_ny, s.coarsening_p, &why);
    if (!h) throw RunError("the grid hierarchy cannot be built: " + why);
    return {h->level_nx.front(), h->level_ny.front()};
}

ReferenceSolution solve_reference(const model::ModelCase& c, int Nx, int Ny, Method method, const GridSource& source,
                                  const IterativeOptions& options) {
    const std::string grid = "a " + grid_text(Nx, Ny) + " grid";
    auto fail = [&](const std::string& message) { throw RunError(source.file, source.line, source.setting, message); };

    const std::uint64_t base = system_bytes(Nx, Ny);
    const bool band_possible = BandLU::band_elements(Nx, Ny) != 0;
    const std::uint64_t band_total = saturating_sum(base, band_solve_bytes(Nx, Ny));
    const std::uint64_t iterative_total = saturating_sum(base, iterative_solve_bytes(Nx, Ny, options));
    const std::optional<std::uint64_t> available = platform::available_memory_bytes();
    const bool band_fits = band_possible && (!available || band_total <= *available);

    // The methods to try, in order; each one that fails hands over to the next.
    enum class Way { band, iterative };
    std::vector<Way> ways;
    switch (method) {
        case Method::band: ways = {Way::band}; break;
        case Method::iterative: ways = {Way::iterative}; break;
        case Method::automatic: {
            // The band's factorisation grows with the fourth power of the grid size; a grid that
            // multigrid can take is given to it once the band gets large. The band is tried only
            // where it fits.
            const bool coarsenable = multigrid_levels(Nx, Ny, options).size() > 1;
            if (band_fits && (!coarsenable || BandLU::band_elements(Nx, Ny) <= kLargestAutomaticBand))
                ways = {Way::band, Way::iterative};
            else if (band_fits)
                ways = {Way::iterative, Way::band};
            else
                ways = {Way::iterative};
            break;
        }
    }
    const bool band_offered = std::find(ways.begin(), ways.end(), Way::band) != ways.end();
    // A method whose memory is known not to be there is refused before anything is computed.
    auto refuse_unless_it_fits = [&](Way way) {
        if (way == Way::iterative) {
            require(iterative_total, "the iterative solution of " + grid, source);
        } else if (method == Method::band) {
            if (!band_possible) fail("the banded LU of " + grid + " exceeds the 32-bit sizes of LAPACK");
            require(band_total, "the banded LU of " + grid, source);
        }
    };
    refuse_unless_it_fits(ways.front());

    const std::size_t n = static_cast<std::size_t>(Nx) * static_cast<std::size_t>(Ny);
    ReferenceSolution solution;
    model::StencilCoefficients coefficients;
    try {
        coefficients.resize(n);
        solution.T.assign(n, 0.0);
    } catch (const std::bad_alloc&) {
        fail("not enough memory for the system of " + grid);
    }
    model::assemble_coefficients(c, Nx, Ny, coefficients);
    const model::StencilView a(coefficients);
    // A solution whose residual is far above the round-off of its equations is not written.
    auto converged = [&](double max_residual) {
        return max_residual <= kLargestRelativeResidual * equation_scale(a, coefficients.b, Nx, Ny, solution.T);
    };
    auto residual_text = [&](double max_residual) {
        char text[96];
        std::snprintf(text, sizeof text, "max residual %.1e, equation terms up to %.1e", max_residual,
                      equation_scale(a, coefficients.b, Nx, Ny, solution.T));
        return std::string(text);
    };

    // What is reported when every method has failed: why the iteration failed, if it was tried
    // (a band that did not fit after all says less), else why the band did. A banded LU that
    // misses the residual bound ends the list: no iteration does better than the exact method.
    std::string failure;
    for (std::size_t k = 0; k < ways.size(); ++k) {
        const bool band = ways[k] == Way::band;
        if (k > 0) refuse_unless_it_fits(ways[k]);
        const std::string what = (band ? "the banded LU of " : "the iterative solution of ") + grid;
        try {
            if (band) {
                const BandResult r = solve_band(coefficients, Nx, Ny, solution.T);
                solution.method = band_text(r);
                solution.max_residual = r.max_residual;
            } else {
                const IterativeResult r = solve_iterative(c, coefficients, Nx, Ny, solution.T, options);
                solution.method = iterative_text(r);
                solution.max_residual = r.max_residual;
            }
            if (converged(solution.max_residual)) return solution;
            failure = what + (band ? " is inaccurate (" : " did not converge (") + solution.method + ", " +
                      residual_text(solution.max_residual) + ")";
            if (band) break;
            if (method == Method::automatic && !band_offered)
                failure += "; the banded LU would need " + platform::format_bytes(band_total) + " of memory";
        } catch (const std::bad_alloc&) {
            if (!band || failure.empty())
                failure = "not enough memory for " + what + " (" +
                          platform::format_bytes(band ? band_total : iterative_total) + ")";
        }
    }
    throw RunError(source.file, source.line, source.setting, failure);
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
    const SettingSource where = state.source_of(grid_setting);
    const GridSource source{where.file, where.line, grid_setting};

    const ReferenceSolution solution =
        solve_reference(model::make_model_case(s), grid.nx, grid.ny, method, source);
    run::write_reference_values(file, grid.nx, grid.ny, solution.T);

    char residual_text[32];
    std::snprintf(residual_text, sizeof residual_text, "%.1e", solution.max_residual);
    return file + ": " + grid_text(grid.nx, grid.ny) + " grid, " + solution.method + ", max residual " +
           residual_text;
}

}  // namespace advdiff::reference
