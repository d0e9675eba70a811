#include "reference_tool.hpp"

#include <cstdio>
#include <new>
#include <optional>

#include "band_solver.hpp"
#include "model/coefficients.hpp"
#include "multigrid/hierarchy.hpp"
#include "platform/memory.hpp"
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

std::string grid_text(int Nx, int Ny) { return std::to_string(Nx) + " x " + std::to_string(Ny); }

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

    bool use_band = method == Method::band;
    if (method == Method::band) {
        if (!band_possible) fail("the banded LU of " + grid + " exceeds the 32-bit sizes of LAPACK");
        require(band_total, "the banded LU of " + grid, source);
    } else if (method == Method::automatic) {
        // The band's factorisation grows with the fourth power of the grid size; a grid that
        // multigrid can take is given to it once the band gets large.
        const bool coarsenable = multigrid_levels(Nx, Ny, options).size() > 1;
        use_band = band_fits && (!coarsenable || BandLU::band_elements(Nx, Ny) <= kLargestAutomaticBand);
    }
    if (!use_band) require(iterative_total, "the iterative solution of " + grid, source);

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

    if (!use_band) {
        try {
            const IterativeResult r = solve_iterative(c, coefficients, Nx, Ny, solution.T, options);
            solution.method = iterative_text(r);
            solution.max_residual = r.max_residual;
            if (converged(r.max_residual)) return solution;
            if (method == Method::iterative || !band_fits)
                fail("the iterative solution of " + grid + " did not converge (" + solution.method + ", " +
                     residual_text(r.max_residual) + ")" +
                     (method == Method::iterative ? "" : "; the banded LU would need " +
                                                             platform::format_bytes(band_total) + " of memory"));
        } catch (const std::bad_alloc&) {
            if (method == Method::iterative || !band_fits)
                fail("not enough memory for the iterative solution of " + grid + " (" +
                     platform::format_bytes(iterative_total) + ")");
        }
        // Automatic choice: the band fits, so it takes over.
    }
    try {
        const BandResult r = solve_band(coefficients, Nx, Ny, solution.T);
        solution.method = band_text(r);
        solution.max_residual = r.max_residual;
        if (!converged(r.max_residual))
            fail("the banded LU of " + grid + " is inaccurate (" + solution.method + ", " +
                 residual_text(r.max_residual) + ")");
        return solution;
    } catch (const std::bad_alloc&) {
        if (method == Method::band)
            fail("not enough memory for the banded LU of " + grid + " (" + platform::format_bytes(band_total) + ")");
    }
    // Automatic choice: the band did not fit after all.
    require(iterative_total, "the iterative solution of " + grid, source);
    try {
        const IterativeResult r = solve_iterative(c, coefficients, Nx, Ny, solution.T, options);
        solution.method = iterative_text(r);
        solution.max_residual = r.max_residual;
        if (!converged(r.max_residual))
            fail("the iterative solution of " + grid + " did not converge (" + solution.method + ", " +
                 residual_text(r.max_residual) + ")");
    } catch (const std::bad_alloc&) {
        fail("not enough memory for the iterative solution of " + grid + " (" +
             platform::format_bytes(iterative_total) + ")");
    }
    return solution;
}

std::string make_reference_file(Method method) {
    ProblemState state;
    run::read_input_files(state, false);
    const SimulationSettings& s = state.settings;
    const GridSize grid = finest_grid(s);
    const std::string grid_setting = s.run_mode == kMultigrid ? "level_count" : "Ny";
    const SettingSource where = state.source_of(grid_setting);
    const GridSource source{where.file, where.line, grid_setting};

    const ReferenceSolution solution =
        solve_reference(model::make_model_case(s), grid.nx, grid.ny, method, source);
    const std::string file = run::reference_file_name(s.reference_file_index);
    run::write_reference_values(file, grid.nx, grid.ny, solution.T);

    char residual_text[32];
    std::snprintf(residual_text, sizeof residual_text, "%.1e", solution.max_residual);
    return file + ": " + grid_text(grid.nx, grid.ny) + " grid, " + solution.method + ", max residual " +
           residual_text;
}

}  // namespace advdiff::reference
