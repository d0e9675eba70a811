#include "multigrid.hpp"

#include "smoother.hpp"

#include <algorithm>
#include <optional>

#include "state/run_error.hpp"

namespace advdiff::reference {

namespace {

// The coarsest level is solved by banded LU; at this size that costs less than a sweep of the
// finest grid of any run that needs multigrid.
constexpr std::uint64_t kCoarsestNodes = 33 * 33;

// Assembles the equations of the case on an nx x ny grid into `out`, with gamma raised just
// enough for Gauss-Seidel to smooth them if the case's own cannot be smoothed. Returns the gamma
// used.
//
// Raising gamma by d adds -d/h^2 to the west and south coefficients, so the one that is positive
// where the flow runs against the upwind side turns negative from gamma + aW hx^2 (and
// gamma + aS hy^2) on; the east and north ones need gamma >= 0. A little more than the largest of
// these covers their rounding; should it not, gamma is doubled until it does.
double assemble_smoothable(const model::ModelCase& c, const GridSize& g, model::StencilCoefficients& out) {
    model::ModelCase m = c;
    out.resize(g.nodes());
    model::assemble_coefficients(m, g.nx, g.ny, out);
    if (!first_unsmoothable_node(model::StencilView(out), g.nx, g.ny)) return m.gamma;
    const double hx = model::spacing(g.nx), hy = model::spacing(g.ny);
    double needed = 0.0;
    for (int j = 2; j <= g.ny - 1; ++j) {
        for (int i = 2; i <= g.nx - 1; ++i) {
            const std::size_t k = node(i, j, g.nx);
            needed = std::max({needed, c.gamma + out.aW[k] * (hx * hx), c.gamma + out.aS[k] * (hy * hy)});
        }
    }
    double gamma = needed * (1.0 + 0x1p-20);
    for (int attempt = 0; attempt < 64; ++attempt) {
        m.gamma = gamma;
        model::assemble_coefficients(m, g.nx, g.ny, out);
        if (!first_unsmoothable_node(model::StencilView(out), g.nx, g.ny)) return gamma;
        gamma = gamma > 0.0 ? 2.0 * gamma : 0x1p-40;
    }
    throw RunError("no added diffusion lets Gauss-Seidel smooth the equations of the " + grid_text(g.nx, g.ny) +
                   " multigrid level");
}

}  // namespace

std::vector<GridSize> multigrid_levels(int Nx, int Ny) {
    std::vector<GridSize> levels{{Nx, Ny}};
    for (;;) {
        const GridSize g = levels.back();
        if (g.nodes() <= kCoarsestNodes) break;
        // hx <= 1.5 hy, in whole numbers: 2 (ny - 1) <= 3 (nx - 1).
        const bool can_x = g.nx >= 4, can_y = g.ny >= 4;
        const long long ix = g.nx - 1, iy = g.ny - 1;
        const bool x = can_x && (!can_y || 2 * iy <= 3 * ix);
        const bool y = can_y && (!can_x || 2 * ix <= 3 * iy);
        if (!x && !y) break;
        levels.push_back({x ? g.nx / 2 + 1 : g.nx, y ? g.ny / 2 + 1 : g.ny});
    }
    return levels;
}

std::uint64_t multigrid_bytes(const std::vector<GridSize>& levels, bool own_finest_equations) {
    if (levels.size() == 1) return BandLU::bytes(levels[0]);
    auto floats = [](std::uint64_t count, const GridSize& g) {
        return saturating_product(saturating_product(count, sizeof(float)), g.nodes());
    };
    // Single precision: the finest level's equations, right-hand side and residual (its
    // correction is the caller's); every other level's equations, right-hand side, correction and
    // residual, the coarsest's right-hand side and correction only. The coarsest level's double
    // equations, and the double equations each level is assembled in before it is rounded.
    std::uint64_t bytes = floats(8, levels[0]);
    for (std::size_t l = 1; l + 1 < levels.size(); ++l) bytes = saturating_sum(bytes, floats(9, levels[l]));
    bytes = saturating_sum(bytes, floats(2, levels.back()));
    bytes = saturating_sum(bytes, field_bytes(8, levels.back()));
    bytes = saturating_sum(bytes, BandLU::bytes(levels.back()));
    bytes = saturating_sum(bytes, field_bytes(6, own_finest_equations ? levels[0] : levels[1]));
    return saturating_sum(bytes, saturating_product(2 * sizeof(float), static_cast<std::uint64_t>(levels[0].nx)));
}

Interpolation1D::Interpolation1D(int nf, int nc) {
    const std::size_t fine = static_cast<std::size_t>(nf);
    lower.resize(fine);
    weight.resize(fine);
    std::vector<std::vector<std::pair<int, double>>> columns(static_cast<std::size_t>(nc));
    const long long intervals = nf - 1, coarse_intervals = nc - 1;
    for (int i = 0; i < nf; ++i) {
        // x_i / H = i (nc - 1) / (nf - 1): whole part and fraction, exactly up to one rounding.
        const long long position = static_cast<long long>(i) * coarse_intervals;
        const int I = static_cast<int>(position / intervals);
        const double w = static_cast<double>(position % intervals) / static_cast<double>(intervals);
        lower[static_cast<std::size_t>(i)] = I;
        weight[static_cast<std::size_t>(i)] = w;
        columns[static_cast<std::size_t>(I)].push_back({i, 1.0 - w});
        if (w != 0.0) columns[static_cast<std::size_t>(I) + 1].push_back({i, w});
    }
    first.push_back(0);
    for (const auto& column : columns) {
        for (const auto& [i, w] : column) {
            from_fine.push_back(i);
            from_weight.push_back(w);
        }
        first.push_back(static_cast<int>(from_fine.size()));
    }
}

bool Multigrid::finest_needs_own_equations(const model::StencilView& fine, int Nx, int Ny) {
    return multigrid_levels(Nx, Ny).size() > 1 && first_unsmoothable_node(fine, Nx, Ny).has_value();
}

Multigrid::Equations Multigrid::single_precision(const model::StencilView& a, const GridSize& g) {
    const std::size_t n = g.nodes();
    Equations f;
    auto round = [n](std::span<const double> from, std::vector<float>& to) {
        to.resize(n);
        for (std::size_t k = 0; k < n; ++k) to[k] = static_cast<float>(from[k]);
    };
    round(a.aS, f.aS);
    round(a.aW, f.aW);
    round(a.aP, f.aP);
    f.inverse_diagonal.resize(n);
    for (std::size_t k = 0; k < n; ++k) f.inverse_diagonal[k] = static_cast<float>(1.0 / a.aP[k]);
    const std::optional<double> east = uniform_interior_value(a.aE, g.nx, g.ny);
    const std::optional<double> north = uniform_interior_value(a.aN, g.nx, g.ny);
    f.uniform = east && north;
    if (f.uniform) {
        f.east = static_cast<float>(*east);
        f.north = static_cast<float>(*north);
    } else {
        round(a.aE, f.aE);
        round(a.aN, f.aN);
    }
    return f;
}

Multigrid::Multigrid(const model::ModelCase& c, const model::StencilCoefficients& fine, int Nx, int Ny)
    : gamma_(c.gamma) {
    const std::vector<GridSize> sizes = multigrid_levels(Nx, Ny);
    levels_.resize(sizes.size());
    for (std::size_t l = 0; l < sizes.size(); ++l) {
        Level& level = levels_[l];
        level.size = sizes[l];
        const std::size_t n = level.size.nodes();
        const bool coarsest = l + 1 == sizes.size();
        model::StencilCoefficients assembled;
        model::StencilView a(fine);
        level.gamma = c.gamma;
        if (l > 0 || finest_needs_own_equations(a, Nx, Ny)) {
            level.gamma = assemble_smoothable(c, level.size, assembled);
            a = model::StencilView(assembled);
        }
        level.rhs.assign(n, 0.0f);
        if (l > 0) {
            level.e_storage.assign(n, 0.0f);
            level.e = level.e_storage;
        }
        if (coarsest) {
            // A single level is the finest grid itself, whose equations the caller keeps.
            if (!assembled.aP.empty()) {
                coarsest_equations_ = std::move(assembled);
                a = model::StencilView(coarsest_equations_);
            }
            coarsest_ = std::make_unique<BandLU>(a, level.size.nx, level.size.ny);
            coarsest_rhs_.assign(n, 0.0);
            coarsest_e_.assign(n, 0.0);
        } else {
            level.a = single_precision(a, level.size);
            level.r.assign(n, 0.0f);
            level.to_x = std::make_unique<Interpolation1D>(level.size.nx, sizes[l + 1].nx);
            level.to_y = std::make_unique<Interpolation1D>(level.size.ny, sizes[l + 1].ny);
        }
    }
    row_a_.assign(static_cast<std::size_t>(Nx), 0.0f);
    row_b_.assign(static_cast<std::size_t>(Nx), 0.0f);
}

int Multigrid::diffused_levels() const {
    return static_cast<int>(std::count_if(levels_.begin(), levels_.end(),
                                          [&](const Level& level) { return level.gamma != gamma_; }));
}

void Multigrid::apply(std::span<const double> r, std::span<float> z) {
    Level& finest = levels_[0];
    if (levels_.size() == 1) {
        coarsest_->apply(r, z);
        return;
    }
    for (std::size_t k = 0; k < r.size(); ++k) finest.rhs[k] = static_cast<float>(r[k]);
    finest.e = z;
    v_cycle(0);
}

void Multigrid::v_cycle(std::size_t l) {
    Level& level = levels_[l];
    if (l + 1 == levels_.size()) {
        for (std::size_t k = 0; k < level.rhs.size(); ++k) coarsest_rhs_[k] = level.rhs[k];
        coarsest_->solve(coarsest_rhs_, coarsest_e_);
        for (std::size_t k = 0; k < level.rhs.size(); ++k) level.e[k] = static_cast<float>(coarsest_e_[k]);
        return;
    }
    const int nx = level.size.nx, ny = level.size.ny;
    // Boundary rows are identities: their correction is exact at once. Interior nodes start at 0.
    std::fill(level.e.begin(), level.e.end(), 0.0f);
    auto boundary = [&](std::size_t k) { level.e[k] = level.rhs[k] * level.a.inverse_diagonal[k]; };
    for (int i = 1; i <= nx; ++i) {
        boundary(node(i, 1, nx));
        boundary(node(i, ny, nx));
    }
    for (int j = 2; j <= ny - 1; ++j) {
        boundary(node(1, j, nx));
        boundary(node(nx, j, nx));
    }
    smooth(level, level.r.data());
    restrict_residual(l);
    v_cycle(l + 1);
    prolongate(l);
    smooth(level, nullptr);
}

namespace {

// Calls kernel(equations) with the level's equations in the form the kernels take: east and north
// coefficients as one value each, or as arrays.
template <class Kernel>
void with_equations(const Multigrid::Equations& a, Kernel&& kernel) {
    if (a.uniform)
        kernel(LevelEquations<true>{a.aS.data(), a.aW.data(), a.aP.data(), nullptr, nullptr,
                                    a.inverse_diagonal.data(), a.east, a.north});
    else
        kernel(LevelEquations<false>{a.aS.data(), a.aW.data(), a.aP.data(), a.aE.data(), a.aN.data(),
                                     a.inverse_diagonal.data(), 0.0f, 0.0f});
}

}  // namespace

void Multigrid::smooth(Level& level, float* residual) {
    with_equations(level.a, [&](const auto& a) {
        gauss_seidel_pairs(a, level.rhs.data(), level.e.data(), level.size.nx, level.size.ny, residual);
    });
}

void Multigrid::restrict_residual(std::size_t l) {
    const Level& fine = levels_[l];
    Level& coarse = levels_[l + 1];
    const Interpolation1D& X = *fine.to_x;
    const Interpolation1D& Y = *fine.to_y;
    const std::size_t nfx = static_cast<std::size_t>(fine.size.nx);
    const int ncx = coarse.size.nx, ncy = coarse.size.ny;
    // The transpose of the interpolation, scaled by the ratio of the cell areas so that its
    // weights average: a constant residual restricts to the same constant (full weighting when
    // the grids nest).
    const float scale = static_cast<float>((static_cast<double>(ncx - 1) * static_cast<double>(ncy - 1)) /
                                           (static_cast<double>(fine.size.nx - 1) * static_cast<double>(fine.size.ny - 1)));
    float* f = coarse.rhs.data();
    const float* r = fine.r.data();
    float* row = row_a_.data();
    for (int J = 1; J <= ncy - 2; ++J) {
        std::fill(row, row + nfx, 0.0f);
        for (int t = Y.first[static_cast<std::size_t>(J)]; t < Y.first[static_cast<std::size_t>(J) + 1]; ++t) {
            const float w = static_cast<float>(Y.from_weight[static_cast<std::size_t>(t)]);
            const float* fine_row = r + static_cast<std::size_t>(Y.from_fine[static_cast<std::size_t>(t)]) * nfx;
            for (std::size_t i = 0; i < nfx; ++i) row[i] = row[i] + w * fine_row[i];
        }
        float* coarse_row = f + static_cast<std::size_t>(J) * static_cast<std::size_t>(ncx);
        for (int I = 1; I <= ncx - 2; ++I) {
            float sum = 0.0f;
            for (int t = X.first[static_cast<std::size_t>(I)]; t < X.first[static_cast<std::size_t>(I) + 1]; ++t)
                sum += static_cast<float>(X.from_weight[static_cast<std::size_t>(t)]) *
                       row[X.from_fine[static_cast<std::size_t>(t)]];
            coarse_row[I] = scale * sum;
        }
    }
}

void Multigrid::prolongate(std::size_t l) {
    Level& fine = levels_[l];
    const Level& coarse = levels_[l + 1];
    const Interpolation1D& X = *fine.to_x;
    const Interpolation1D& Y = *fine.to_y;
    const int nfx = fine.size.nx, nfy = fine.size.ny;
    const std::size_t ncx = static_cast<std::size_t>(coarse.size.nx);
    const float* E = coarse.e.data();
    // Coarse row J interpolated to the fine columns, kept while consecutive fine rows need it.
    auto interpolate_row = [&](int J, float* out) {
        const float* c = E + static_cast<std::size_t>(J) * ncx;
        for (int i = 1; i <= nfx - 2; ++i) {
            const std::size_t I = static_cast<std::size_t>(X.lower[static_cast<std::size_t>(i)]);
            const float w = static_cast<float>(X.weight[static_cast<std::size_t>(i)]);
            out[i] = (1.0f - w) * c[I] + w * c[I + 1];
        }
    };
    int held_a = -1, held_b = -1;  // coarse rows now in row_a_ and row_b_
    for (int j = 1; j <= nfy - 2; ++j) {
        const int J = Y.lower[static_cast<std::size_t>(j)];
        const float w = static_cast<float>(Y.weight[static_cast<std::size_t>(j)]);
        if (held_a != J) {
            if (held_b == J) {
                std::swap(row_a_, row_b_);
                std::swap(held_a, held_b);
            } else {
                interpolate_row(J, row_a_.data());
                held_a = J;
            }
        }
        if (w != 0.0f && held_b != J + 1) {
            interpolate_row(J + 1, row_b_.data());
            held_b = J + 1;
        }
        float* e = fine.e.data() + static_cast<std::size_t>(j) * static_cast<std::size_t>(nfx);
        const float* a = row_a_.data();
        const float* b = row_b_.data();
        if (w == 0.0f) {
            for (int i = 1; i <= nfx - 2; ++i) e[i] = e[i] + a[i];
        } else {
            for (int i = 1; i <= nfx - 2; ++i) e[i] = e[i] + ((1.0f - w) * a[i] + w * b[i]);
        }
    }
}

}  // namespace advdiff::reference
