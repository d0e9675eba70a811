#include "band_solver.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "state/run_error.hpp"

namespace advdiff::reference {

namespace {

// Interior nodes along x and y (none for a grid of fewer than three nodes across).
std::uint64_t interior(int n) { return n > 2 ? static_cast<std::uint64_t>(n - 2) : 0; }

}  // namespace

std::uint64_t BandLU::band_elements(const GridSize& g) {
    const std::uint64_t mx = interior(g.nx), my = interior(g.ny);
    return saturating_product(3 * std::min(mx, my) + 1, mx * my);
}

std::uint64_t BandLU::bytes(const GridSize& g) {
    const std::uint64_t band = saturating_product(band_elements(g), sizeof(double));
    return saturating_sum(band, field_bytes(3, g));  // pivots (size_t), the work field, apply's result
}

double BandLU::factor_operations(const GridSize& g) {
    const double mx = static_cast<double>(interior(g.nx)), my = static_cast<double>(interior(g.ny));
    const double bandwidth = std::min(mx, my);
    return 4.0 * mx * my * bandwidth * bandwidth;
}

std::size_t BandLU::position(int i, int j) const {
    const std::size_t mx = static_cast<std::size_t>(Nx_ - 2), my = static_cast<std::size_t>(Ny_ - 2);
    const std::size_t x = static_cast<std::size_t>(i - 2), y = static_cast<std::size_t>(j - 2);
    return transposed_ ? x * my + y : y * mx + x;
}

BandLU::BandLU(const model::StencilView& a, int Nx, int Ny)
    : a_(a),
      n_(static_cast<std::size_t>(interior(Nx) * interior(Ny))),
      bandwidth_(static_cast<std::size_t>(std::min(interior(Nx), interior(Ny)))),
      ldab_(3 * bandwidth_ + 1),
      Nx_(Nx),
      Ny_(Ny),
      transposed_(Nx > Ny) {
    const std::uint64_t elements = band_elements({Nx, Ny});
    if (elements > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max() / sizeof(double)))
        throw std::bad_alloc();
    ab_.assign(static_cast<std::size_t>(elements), 0.0);
    pivot_.assign(n_, 0);
    work_.assign(n_, 0.0);
    if (n_ == 0) return;

    // Column-major band storage: A(r, c) (0-based) is at ab[(kv + r - c) + c * ldab] with
    // kv = 2 bandwidth; the first `bandwidth` rows stay free for the fill-in of pivoting.
    const std::size_t kv = 2 * bandwidth_;
    auto put = [&](std::size_t r, std::size_t c, double value) { ab_[(kv + r) - c + c * ldab_] = value; };
    for (int j = 2; j <= Ny - 1; ++j) {
        for (int i = 2; i <= Nx - 1; ++i) {
            const std::size_t k = node(i, j, Nx);
            const std::size_t r = position(i, j);
            put(r, r, a.aP[k]);
            if (i > 2) put(r, position(i - 1, j), a.aW[k]);
            if (i < Nx - 1) put(r, position(i + 1, j), a.aE[k]);
            if (j > 2) put(r, position(i, j - 1), a.aS[k]);
            if (j < Ny - 1) put(r, position(i, j + 1), a.aN[k]);
        }
    }

    // Column by column: pick the largest entry of the column on or below the diagonal (the first
    // of equal ones) as pivot, interchange rows, store the multipliers below the diagonal and
    // update the columns that the pivot row reaches.
    const std::size_t kl = bandwidth_;
    std::size_t last_column = 0;  // the rightmost column touched by an interchange so far
    for (std::size_t j = 0; j < n_; ++j) {
        double* column = ab_.data() + j * ldab_ + kv;  // column[t] = A(j + t, j)
        const std::size_t below = std::min(kl, n_ - 1 - j);
        std::size_t p = 0;
        for (std::size_t t = 1; t <= below; ++t)
            if (std::fabs(column[t]) > std::fabs(column[p])) p = t;
        pivot_[j] = j + p;
        if (!(column[p] != 0.0) || !std::isfinite(column[p])) {
            const std::size_t along = transposed_ ? static_cast<std::size_t>(Ny - 2) : static_cast<std::size_t>(Nx - 2);
            const std::size_t first = j % along + 2, second = j / along + 2;
            const std::size_t i = transposed_ ? second : first, jj = transposed_ ? first : second;
            throw RunError("the five-point system of the " + grid_text(Nx, Ny) + " grid is singular: zero pivot at node (" +
                           std::to_string(i) + ", " + std::to_string(jj) + ")");
        }
        last_column = std::max(last_column, std::min(j + kl + p, n_ - 1));
        if (p != 0) {
            for (std::size_t c = j; c <= last_column; ++c) {
                double* base = ab_.data() + c * ldab_ + kv - c;
                std::swap(base[j], base[j + p]);
            }
        }
        if (below == 0) continue;
        const double diagonal = column[0];
        for (std::size_t t = 1; t <= below; ++t) column[t] = column[t] / diagonal;
        for (std::size_t c = j + 1; c <= last_column; ++c) {
            double* target = ab_.data() + c * ldab_ + kv + j - c;  // target[t] = A(j + t, c)
            const double u = target[0];
            if (u == 0.0) continue;
            for (std::size_t t = 1; t <= below; ++t) target[t] = target[t] - column[t] * u;
        }
    }
}

void BandLU::solve(std::span<const double> r, std::span<double> z) {
    const int Nx = Nx_, Ny = Ny_;
    // The boundary values first; the interior right-hand side carries their terms.
    for (int j = 1; j <= Ny; ++j) {
        for (int i = 1; i <= Nx; ++i) {
            if (i == 1 || i == Nx || j == 1 || j == Ny) {
                const std::size_t k = node(i, j, Nx);
                z[k] = r[k] / a_.aP[k];
            }
        }
    }
    if (n_ == 0) return;
    double* y = work_.data();
    for (int j = 2; j <= Ny - 1; ++j) {
        for (int i = 2; i <= Nx - 1; ++i) {
            const std::size_t k = node(i, j, Nx);
            double value = r[k];
            if (i == 2) value -= a_.aW[k] * z[k - 1];
            if (i == Nx - 1) value -= a_.aE[k] * z[k + 1];
            if (j == 2) value -= a_.aS[k] * z[k - static_cast<std::size_t>(Nx)];
            if (j == Ny - 1) value -= a_.aN[k] * z[k + static_cast<std::size_t>(Nx)];
            y[position(i, j)] = value;
        }
    }
    const std::size_t kv = 2 * bandwidth_;
    const std::size_t kl = bandwidth_;
    // L y' = P y, column by column.
    for (std::size_t j = 0; j + 1 < n_; ++j) {
        const std::size_t p = pivot_[j];
        if (p != j) std::swap(y[j], y[p]);
        const double* column = ab_.data() + j * ldab_ + kv;
        const std::size_t below = std::min(kl, n_ - 1 - j);
        const double value = y[j];
        if (value != 0.0)
            for (std::size_t t = 1; t <= below; ++t) y[j + t] = y[j + t] - column[t] * value;
    }
    // U x = y', column by column from the last.
    for (std::size_t j = n_; j-- > 0;) {
        const double* column = ab_.data() + j * ldab_ + kv;  // column[-t] = A(j - t, j)
        y[j] = y[j] / column[0];
        const double value = y[j];
        const std::size_t above = std::min(kv, j);
        if (value != 0.0)
            for (std::size_t t = 1; t <= above; ++t) y[j - t] = y[j - t] - column[-static_cast<std::ptrdiff_t>(t)] * value;
    }
    for (int j = 2; j <= Ny - 1; ++j)
        for (int i = 2; i <= Nx - 1; ++i) z[node(i, j, Nx)] = y[position(i, j)];
}

void BandLU::apply(std::span<const double> r, std::span<float> z) {
    full_.resize(r.size());
    solve(r, full_);
    for (std::size_t k = 0; k < r.size(); ++k) z[k] = static_cast<float>(full_[k]);
}

}  // namespace advdiff::reference
