#include "iterative_solver.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <optional>

#include "band_solver.hpp"
#include "model/correctly_rounded.hpp"
#include "multigrid/transfer.hpp"
#include "platform/memory.hpp"
#include "stencil.hpp"

namespace advdiff::reference {

namespace {

bool coarsenable(const GridSize& g) { return g.nx % 2 == 1 && g.ny % 2 == 1 && g.nx >= 5 && g.ny >= 5; }

GridSize coarser(const GridSize& g) { return {(g.nx - 1) / 2 + 1, (g.ny - 1) / 2 + 1}; }

std::uint64_t nodes_of(const GridSize& g) {
    return static_cast<std::uint64_t>(g.nx) * static_cast<std::uint64_t>(g.ny);
}

// x := boundary values (identity equations), interior nodes 0.
void start_from_boundary_values(const model::StencilCoefficients& c, int Nx, int Ny, std::span<double> x) {
    for (int j = 1; j <= Ny; ++j) {
        for (int i = 1; i <= Nx; ++i) {
            const std::size_t k = node(i, j, Nx);
            const bool boundary = i == 1 || i == Nx || j == 1 || j == Ny;
            x[k] = boundary ? c.b[k] / c.aP[k] : 0.0;
        }
    }
}

// Successive over-relaxation of a grid that cannot be coarsened: starts with the factor that is
// optimal for the Laplacian, and falls back to plain Gauss-Seidel (starting afresh) if that
// diverges on a strongly non-symmetric system. Sweeps go on until the largest change has not
// reached a new minimum for a while.
void relax_to_convergence(const model::StencilCoefficients& c, int Nx, int Ny, std::span<double> x,
                          IterativeResult& result) {
    const model::StencilView a(c);
    if (Nx < 3 || Ny < 3) {
        start_from_boundary_values(c, Nx, Ny, x);
        return;
    }
    const int n = std::max(Nx, Ny);
    const double h = 1.0 / static_cast<double>(n - 1);
    const long max_sweeps = 20L * n + 1000;  // over-relaxation needs about 6 n to reach round-off
    const int patience = 50 + n / 8;
    double omega = 2.0 / (1.0 + model::cr_sin(kPi * h));
    long sweeps = 0;
    for (;;) {
        start_from_boundary_values(c, Nx, Ny, x);
        double best = std::numeric_limits<double>::infinity();
        int since_best = 0;
        bool diverged = false;
        for (long s = 0; s < max_sweeps && since_best < patience; ++s) {
            const double update = gauss_seidel_sweep(a, c.b, Nx, Ny, x, true, omega);
            ++sweeps;
            if (s == 0) result.first_update = update;
            result.last_update = update;
            if (!std::isfinite(update) || (s >= 20 && update > 1e3 * best)) {
                diverged = true;
                break;
            }
            if (update < best) {
                best = update;
                since_best = 0;
            } else {
                ++since_best;
            }
            if (update == 0.0) break;
        }
        if (!diverged || omega == 1.0) break;
        omega = 1.0;
    }
    result.cycles = static_cast<int>(std::min<long>(sweeps, std::numeric_limits<int>::max()));
}

struct Level {
    GridSize size;
    model::StencilCoefficients coefficients;  // coarse levels: b holds the restricted residual
    Field rhs_storage;                        // finest level only: the residual of x
    std::span<double> rhs;
    Field e;  // correction
    Field r;  // residual of the correction equation
};

// Whether Gauss-Seidel can smooth the equations of a grid: every neighbour coefficient of every
// interior node is <= 0 (with the row sums of zero this is weak diagonal dominance). A rotating
// flow on a grid whose cells are too coarse for gamma breaks it, because the upwind side is fixed:
// where the flow runs east to west the west coefficient turns positive, and relaxation diverges.
bool smoothable(const model::StencilView& a, int nx, int ny) {
    for (int j = 2; j <= ny - 1; ++j) {
        for (int i = 2; i <= nx - 1; ++i) {
            const std::size_t k = node(i, j, nx);
            if (!(a.aP[k] > 0.0 && a.aW[k] <= 0.0 && a.aE[k] <= 0.0 && a.aS[k] <= 0.0 && a.aN[k] <= 0.0))
                return false;
        }
    }
    return true;
}

class Multigrid {
public:
    // Builds the levels of `candidates` from the finest down; a level that cannot be smoothed
    // ends the hierarchy (it becomes the coarsest level, solved directly), and so does the last
    // candidate.
    Multigrid(const model::ModelCase& c, const model::StencilCoefficients& fine, const std::vector<GridSize>& candidates)
        : fine_(fine) {
        levels_.reserve(candidates.size());  // the rhs spans point into the levels
        for (std::size_t l = 0; l < candidates.size(); ++l) {
            Level& level = levels_.emplace_back();
            level.size = candidates[l];
            const std::size_t n = static_cast<std::size_t>(nodes_of(level.size));
            if (l == 0) {
                level.rhs_storage.assign(n, 0.0);
                level.rhs = level.rhs_storage;
            } else {
                level.coefficients.resize(n);
                model::assemble_coefficients(c, level.size.nx, level.size.ny, level.coefficients);
                level.rhs = level.coefficients.b;
            }
            level.e.assign(n, 0.0);
            if (!smoothable(view(l), level.size.nx, level.size.ny)) break;
        }
        for (std::size_t l = 0; l + 1 < levels_.size(); ++l) levels_[l].r.assign(levels_[l].e.size(), 0.0);

        // The coarsest level is solved by banded LU when its band fits in what memory is left.
        const GridSize& g = levels_.back().size;
        const std::optional<std::uint64_t> available = platform::available_memory_bytes();
        if (levels_.size() > 1 && BandLU::band_elements(g.nx, g.ny) != 0 &&
            (!available || BandLU::bytes(g.nx, g.ny) <= *available)) {
            try {
                coarsest_lu_ = std::make_unique<BandLU>(view(levels_.size() - 1), g.nx, g.ny);
            } catch (const std::bad_alloc&) {
                coarsest_lu_.reset();
            }
        }
    }

    std::size_t level_count() const { return levels_.size(); }
    GridSize coarsest() const { return levels_.back().size; }
    bool coarsest_direct() const { return coarsest_lu_ != nullptr; }

    // One V-cycle for the correction of the finest level; `rhs` of level 0 must hold the
    // residual of x. Returns the correction in levels_[0].e.
    std::span<const double> cycle() {
        v_cycle(0);
        return levels_[0].e;
    }

    std::span<double> finest_rhs() { return levels_[0].rhs; }

private:
    model::StencilView view(std::size_t l) const {
        return model::StencilView(l == 0 ? fine_ : levels_[l].coefficients);
    }

    void smooth(std::size_t l) {
        Level& level = levels_[l];
        gauss_seidel_sweep(view(l), level.rhs, level.size.nx, level.size.ny, level.e, true);
        gauss_seidel_sweep(view(l), level.rhs, level.size.nx, level.size.ny, level.e, false);
    }

    void solve_coarsest(std::size_t l) {
        Level& level = levels_[l];
        const int nx = level.size.nx, ny = level.size.ny;
        if (coarsest_lu_) {
            std::copy(level.rhs.begin(), level.rhs.end(), level.e.begin());
            coarsest_lu_->solve(level.e);
            return;
        }
        // Relaxation until the correction has shrunk by six orders of magnitude.
        std::fill(level.e.begin(), level.e.end(), 0.0);
        const int max_sweeps = 4 * (nx + ny);
        double first = -1.0;
        for (int s = 0; s < max_sweeps; ++s) {
            const double forward = gauss_seidel_sweep(view(l), level.rhs, nx, ny, level.e, true);
            const double update = std::max(forward, gauss_seidel_sweep(view(l), level.rhs, nx, ny, level.e, false));
            if (first < 0.0) first = update;
            if (!(update > 1e-6 * first)) break;
        }
    }

    void v_cycle(std::size_t l) {
        if (l + 1 == levels_.size()) {
            solve_coarsest(l);
            return;
        }
        Level& fine = levels_[l];
        Level& coarse = levels_[l + 1];
        const int nx = fine.size.nx, ny = fine.size.ny;
        const int cx = coarse.size.nx, cy = coarse.size.ny;

        std::fill(fine.e.begin(), fine.e.end(), 0.0);  // every level starts from a zero correction
        smooth(l);
        residual<double>(view(l), fine.rhs, nx, ny, fine.e, fine.r);

        // Full weighting onto the interior coarse nodes; the boundary equations of the
        // correction are homogeneous.
        const std::span<double> r = fine.r;
        auto at = [&](int i, int j) { return r[node(i, j, nx)]; };
        std::fill(coarse.rhs.begin(), coarse.rhs.end(), 0.0);
        for (int J = 2; J <= cy - 1; ++J) {
            const int j = 2 * J - 1;
            for (int I = 2; I <= cx - 1; ++I) {
                const int i = 2 * I - 1;
                const double centre = 4.0 * at(i, j);
                const double sides = 2.0 * (((at(i - 1, j) + at(i + 1, j)) + at(i, j - 1)) + at(i, j + 1));
                const double corners = ((at(i - 1, j - 1) + at(i + 1, j - 1)) + at(i - 1, j + 1)) + at(i + 1, j + 1);
                coarse.rhs[node(I, J, cx)] = ((centre + sides) + corners) / 16.0;
            }
        }

        v_cycle(l + 1);

        // Bilinear interpolation of the coarse correction onto the interior fine nodes.
        multigrid::prolongate_correction(nx, ny, coarse.e, cx, fine.e);

        smooth(l);
    }

    const model::StencilCoefficients& fine_;
    std::vector<Level> levels_;
    std::unique_ptr<BandLU> coarsest_lu_;
};

}  // namespace

std::vector<GridSize> multigrid_levels(int Nx, int Ny, const IterativeOptions& options) {
    std::vector<GridSize> sizes{{Nx, Ny}};
    while (coarsenable(sizes.back())) {
        const GridSize& g = sizes.back();
        const std::uint64_t band = BandLU::band_elements(g.nx, g.ny);
        if (sizes.size() > 1 && band != 0 && band <= options.direct_band_elements) break;
        sizes.push_back(coarser(g));
    }
    return sizes;
}

std::uint64_t iterative_solve_bytes(int Nx, int Ny, const IterativeOptions& options) {
    const std::vector<GridSize> sizes = multigrid_levels(Nx, Ny, options);
    if (sizes.size() == 1) return 0;  // relaxation works on x alone
    // Finest: rhs, correction, residual. Coarser: six coefficient arrays, correction, residual.
    std::uint64_t elements = saturating_product(3, nodes_of(sizes[0]));
    for (std::size_t l = 1; l < sizes.size(); ++l) elements = saturating_sum(elements, 8 * nodes_of(sizes[l]));
    return saturating_product(elements, sizeof(double));
}

IterativeResult solve_iterative(const model::ModelCase& c, const model::StencilCoefficients& fine, int Nx, int Ny,
                                std::span<double> x, const IterativeOptions& options) {
    const model::StencilView a(fine);
    IterativeResult result;
    result.coarsest = {Nx, Ny};
    const std::vector<GridSize> candidates = multigrid_levels(Nx, Ny, options);
    std::unique_ptr<Multigrid> mg;
    if (candidates.size() > 1) {
        mg = std::make_unique<Multigrid>(c, fine, candidates);
        if (mg->level_count() == 1) mg.reset();  // the finest grid itself cannot be smoothed
    }
    if (!mg) {
        relax_to_convergence(fine, Nx, Ny, x, result);
        result.max_residual = residual<long double>(a, fine.b, Nx, Ny, x, {});
        return result;
    }
    result.levels = static_cast<int>(mg->level_count());
    result.coarsest = mg->coarsest();
    result.coarsest_direct = mg->coarsest_direct();

    // Cycles until the correction stops shrinking (once it has come down by six orders of
    // magnitude, so that an uneven start does not end the iteration), then a few more. An
    // iteration that blows up is stopped; the residual shows it.
    start_from_boundary_values(fine, Nx, Ny, x);
    const std::size_t n = static_cast<std::size_t>(Nx) * static_cast<std::size_t>(Ny);
    double previous = std::numeric_limits<double>::infinity();
    double first = -1.0, smallest = std::numeric_limits<double>::infinity();
    int polishing = -1;  // cycles left after the correction stopped shrinking
    while (polishing != 0) {
        residual<long double>(a, fine.b, Nx, Ny, x, mg->finest_rhs());
        const std::span<const double> e = mg->cycle();
        double update = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            x[k] += e[k];
            update = max_magnitude(update, e[k]);
        }
        ++result.cycles;
        result.last_update = update;
        if (first < 0.0) first = result.first_update = update;
        smallest = std::min(smallest, update);
        if (!std::isfinite(update) || update > 1e6 * smallest) break;
        if (polishing > 0) {
            --polishing;
        } else if ((!(update < previous) && update <= 1e-6 * first) || result.cycles >= options.max_cycles) {
            polishing = options.polish_cycles;
        }
        previous = update;
    }
    result.max_residual = residual<long double>(a, fine.b, Nx, Ny, x, {});
    return result;
}

}  // namespace advdiff::reference
