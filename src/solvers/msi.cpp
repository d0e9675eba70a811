// The modified strongly implicit procedure: an incomplete L U factorisation of the five-point
// matrix with partial cancellation (alpha = 0.5, 0 at boundary nodes) in a residual-correction
// iteration. The plain loops come first: the factorisation (prepared once per grid), the residual
// (msi_residual_value) with its sum of squares, the substitutions node by node.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <type_traits>

#include "solvers/bands.hpp"
#include "solvers/kernels.hpp"

namespace advdiff::solvers {

void msi_factorise(const model::StencilView& a, Grid g, MsiFactors& f) {
    for (SizedField* x : {&f.L1, &f.L2, &f.L3, &f.L4, &f.U1, &f.U2, &f.U3}) x->resize(static_cast<std::size_t>(g.N()));
    double *L1 = f.L1.data(), *L2 = f.L2.data(), *L3 = f.L3.data(), *L4 = f.L4.data();
    double *U1 = f.U1.data(), *U2 = f.U2.data(), *U3 = f.U3.data();
    const std::ptrdiff_t nx = g.Nx;
    constexpr double kMsiAlpha = 0.5;
    for (int j = 1; j <= g.Ny; ++j) {
        for (int i = 1; i <= g.Nx; ++i) {
            const auto k = static_cast<std::ptrdiff_t>(node(i, j, g.Nx));
            const double S = a.aS[k], W = a.aW[k], P = a.aP[k], E = a.aE[k], Nn = a.aN[k];
            const double alpha = (j == 1 || j == g.Ny || i == 1 || i == g.Nx) ? 0.0 : kMsiAlpha;
            if (k == 0) {
                L4[k] = S, L3[k] = 0.0, L2[k] = W, L1[k] = P;
                U1[k] = E / L1[k], U2[k] = 0.0, U3[k] = Nn / L1[k];
                continue;
            }
            if (k < nx) {
                L4[k] = S, L3[k] = 0.0;
                L2[k] = W / (1 + (2 * alpha) * U2[k - 1]);
                L1[k] = (P - L2[k] * U1[k - 1]) + ((2 * alpha) * L2[k]) * U2[k - 1];
                U1[k] = E / L1[k];
            } else {
                const std::ptrdiff_t s = k - nx, se = k - nx + 1;
                L4[k] = S / (1 - (alpha * U1[s]) * U1[se]);
                L3[k] = -L4[k] * U1[s];
                L2[k] = (W - L4[k] * U2[s]) / (1 + (2 * alpha) * U2[k - 1]);
                L1[k] = (((P - L4[k] * U3[s]) - L3[k] * U2[se]) - L2[k] * U1[k - 1]) +
                        alpha * ((2 * L3[k]) * U1[se] + (2 * L2[k]) * U2[k - 1]);
                U1[k] = ((E - L3[k] * U3[se]) - ((2 * alpha) * L3[k]) * U1[se]) / L1[k];
            }
            U2[k] = (-L2[k] * U3[k - 1]) / L1[k];
            U3[k] = (Nn - (alpha * L2[k]) * U2[k - 1]) / L1[k];
        }
    }
    // The held set: the factors of the middle node of the last middle row, where they have
    // settled the longest; in each row, the first run of columns that holds it, if long enough to
    // be worth a band's steps.
    constexpr std::ptrdiff_t kShortestRun = 16;
    f.held_runs.clear();
    if (g.Nx < kShortestRun + 2 || g.Ny < 3) return;
    const double* arrays[7] = {L1, L2, L3, L4, U1, U2, U3};
    const std::ptrdiff_t middle = static_cast<std::ptrdiff_t>(g.Ny - 2) * nx + nx / 2;
    for (std::size_t c = 0; c < 7; ++c) f.held[c] = arrays[c][middle];
    auto is_held = [&](std::ptrdiff_t k) {
        for (std::size_t c = 0; c < 7; ++c)
            if (!same_bits(arrays[c][k], f.held[c])) return false;
        return true;
    };
    bool any = false;
    f.held_runs.assign(static_cast<std::size_t>(g.Ny), {0, 0});
    for (std::ptrdiff_t row = 0, i = 0; row < g.Ny; ++row, i = 0) {
        for (; i < nx && !is_held(row * nx + i); ++i) {}
        const std::ptrdiff_t first = i;
        for (; i < nx && is_held(row * nx + i); ++i) {}
        if (i - first >= kShortestRun) f.held_runs[static_cast<std::size_t>(row)] = {first, i}, any = true;
    }
    if (!any) f.held_runs.clear();
}

namespace {

// The factors, and the forward substitution's node: w(k) = (((r - L2 w(k-1)) - L3 w(k-Nx+1)) -
// L4 w(k-Nx)) / L1, from its partial value r - L2 w(k-1).
struct Factors {
    const double *L1, *L2, *L3, *L4, *U1, *U2, *U3;
    const MsiFactors* f;
    explicit Factors(const MsiFactors& factors)
        : L1(factors.L1.data()), L2(factors.L2.data()), L3(factors.L3.data()), L4(factors.L4.data()),
          U1(factors.U1.data()), U2(factors.U2.data()), U3(factors.U3.data()), f(&factors) {}
    double forward(double partial, const double* w, std::ptrdiff_t nx, std::ptrdiff_t k) const {
        return ((partial - L3[k] * w[k - nx + 1]) - L4[k] * w[k - nx]) / L1[k];
    }
    double back(double partial, const double* d, std::ptrdiff_t nx, std::ptrdiff_t k) const {
        return (partial - U2[k] * d[k + nx - 1]) - U3[k] * d[k + nx];
    }
    std::pair<std::ptrdiff_t, std::ptrdiff_t> held(std::ptrdiff_t row) const {
        return f->held_runs.empty() ? std::pair<std::ptrdiff_t, std::ptrdiff_t>{0, 0} : f->held_runs[row];
    }
};

// L w = r over the first row, the terms whose index lies below 1 left out (r may be w).
void first_row_forward(const Factors& F, std::ptrdiff_t nx, const double* r, double* w) {
    w[0] = r[0] / F.L1[0];
    for (std::ptrdiff_t k = 1; k < nx - 1; ++k) w[k] = (r[k] - F.L2[k] * w[k - 1]) / F.L1[k];
    w[nx - 1] = ((r[nx - 1] - F.L2[nx - 1] * w[nx - 2]) - F.L3[nx - 1] * w[0]) / F.L1[nx - 1];
}
// U delta = w over the top row, the terms whose index lies beyond N left out, and T += delta there.
void top_row_back(const Factors& F, std::ptrdiff_t nx, std::ptrdiff_t n, const double* w, double* d, double* t) {
    d[n - 1] = w[n - 1];
    for (std::ptrdiff_t k = n - 2; k > n - nx; --k) d[k] = w[k] - F.U1[k] * d[k + 1];
    d[n - nx] = (w[n - nx] - F.U1[n - nx] * d[n - nx + 1]) - F.U2[n - nx] * d[n - 1];
    for (std::ptrdiff_t k = n - nx; k < n; ++k) t[k] = t[k] + d[k];
}

// The residual r, then L w = r, k = 1..N; returns the sum of the squares of r in node order.
double plain_forward(const ArrayStencil& a, const Factors& F, const double* f, const double* t, std::ptrdiff_t nx,
                     std::ptrdiff_t n, double* r, double* w) {
    double sum = 0.0;
    for_nodes(nx, n, 0, n, [&]<unsigned Has>(std::ptrdiff_t k) {
        r[k] = msi_residual_value<Has>(a, f, t, nx, k);
        sum += r[k] * r[k];
    });
    first_row_forward(F, nx, r, w);
    for (std::ptrdiff_t k = nx; k < n; ++k) w[k] = F.forward(r[k] - F.L2[k] * w[k - 1], w, nx, k);
    return sum;
}

// U delta = w, k = N..1, with T(k) := T(k) + delta(k) as soon as delta(k) is known (delta does
// not depend on T, and T(k) is read nowhere else in the pass).
void plain_back(const Factors& F, std::ptrdiff_t nx, std::ptrdiff_t n, const double* w, double* d, double* t) {
    top_row_back(F, nx, n, w, d, t);
    for (std::ptrdiff_t k = n - nx - 1; k >= 0; --k) {
        d[k] = F.back(w[k] - F.U1[k] * d[k + 1], d, nx, k);
        t[k] = t[k] + d[k];
    }
}

// The banded iteration keeps four rows in flight: enough to overlap the chain of one node (a
// multiplication, up to three subtractions and, forward, a division) with the other rows', few
// enough that the band's streams of factors stay in the cache. Where the factors are held as
// numbers there are no such streams over most of the band, and eight rows measured faster.
constexpr int kFewRows = 4, kManyRows = 8;

// The residual and the forward substitution in one pass over the middle rows, in bands (each row
// two nodes behind the one below: w(k) reads w(k-Nx+1)). A band's residuals go first, row by row,
// into one half of `ring` (2 kRows Nx values): they depend on T alone, which the pass does not
// change, and within a row they are independent (two nodes to an instruction). With Norm, the
// squares are summed in node order, the previous band's while this band's steps run, kRows a
// step, so that the chain of additions overlaps the substitution's chains.
template <int kRows, class S, bool Norm>
struct ForwardPass : BandPass {
    S interior;
    ArrayStencil a;
    Factors F;
    const double *f, *t;
    double *w, *ring;
    std::ptrdiff_t nx;
    double sum = 0.0;
    double* current = nullptr;  // this band's residuals (`rows` rows from r0); its squares not yet summed
    const double* previous = nullptr;
    std::ptrdiff_t r0 = 0, rows = 0, summed = 0, pending = 0;

    double square(double v) { return Norm ? (sum += v * v, v) : v; }
    // Sums the squares still pending; the current band's become pending, `next` is the current band.
    void shift(double* next, int next_rows) {
        while (summed < pending) step();
        previous = current;
        pending = Norm && previous ? rows * nx : 0;
        summed = 0;
        current = next, rows = next_rows;
    }
    void flush() { shift(nullptr, 0), shift(nullptr, 0); }  // every square in hand summed, no band in hand
    void band(std::ptrdiff_t row0, int count) {
        shift(ring + (current == ring ? kRows * nx : 0), count);
        r0 = row0;
        for (int b = 0; b < count; ++b) {
            const std::ptrdiff_t begin = (r0 + b) * nx;
            double* __restrict r = current + b * nx;
            r[0] = msi_residual_value(a, f, t, nx, begin);
            for (std::ptrdiff_t i = 1; i < nx - 1; ++i) r[i] = msi_residual_value(interior, f, t, nx, begin + i);
            r[nx - 1] = msi_residual_value(a, f, t, nx, begin + nx - 1);
        }
    }
    void step() {
        if constexpr (Norm)
            for (int u = 0; u < kRows && summed < pending; ++u, ++summed) sum += previous[summed] * previous[summed];
    }
    double partial(std::ptrdiff_t row, std::ptrdiff_t i, double west) const {
        const std::ptrdiff_t k = row * nx + i;
        return current[(row - r0) * nx + i] - F.L2[k] * west;
    }
    void node(std::ptrdiff_t row, std::ptrdiff_t i) {
        const std::ptrdiff_t k = row * nx + i;
        w[k] = F.forward(partial(row, i, i == 0 ? 0.0 : w[k - 1]), w, nx, k);
    }
    std::pair<std::ptrdiff_t, std::ptrdiff_t> held(std::ptrdiff_t row) const { return F.held(row); }
    void held_node(std::ptrdiff_t row, std::ptrdiff_t i) {
        const std::ptrdiff_t k = row * nx + i;
        const std::array<double, 7>& h = F.f->held;
        const double p = current[(row - r0) * nx + i] - h[1] * w[k - 1];
        w[k] = ((p - h[2] * w[k - nx + 1]) - h[3] * w[k - nx]) / h[0];
    }
    bool start_holds(std::ptrdiff_t row) { return same_bits(partial(row, 0, 0.0), partial(row, 0, w[row * nx - 1])); }
    void row(std::ptrdiff_t row) {  // a row of the band in hand
        for (std::ptrdiff_t k = row * nx; k < (row + 1) * nx; ++k)
            w[k] = F.forward(current[k - r0 * nx] - F.L2[k] * w[k - 1], w, nx, k);
    }
};

template <int kRows, bool Norm, class S>
ADVDIFF_WIDE_KERNEL double residual_and_forward(const S& interior, const GridSystem& s, const double* f,
                                                const double* t, double* ring, double* w) {
    const std::ptrdiff_t nx = s.grid.Nx, ny = s.grid.Ny, n = s.grid.N();
    ForwardPass<kRows, S, Norm> pass{{}, interior, array_stencil(s.view()), Factors(s.msi), f, t, w, ring, nx};
    const ArrayStencil& a = pass.a;
    const Factors& F = pass.F;
    for_nodes(nx, n, 0, nx,
              [&]<unsigned Has>(std::ptrdiff_t k) { w[k] = pass.square(msi_residual_value<Has>(a, f, t, nx, k)); });
    first_row_forward(F, nx, w, w);  // the first row's residuals are in w
    run_in_bands<kRows, 2>(pass, 1, ny - 1, nx, nx);
    pass.flush();
    for_nodes(nx, n, n - nx, n, [&]<unsigned Has>(std::ptrdiff_t k) {
        w[k] = F.forward(pass.square(msi_residual_value<Has>(a, f, t, nx, k)) - F.L2[k] * w[k - 1], w, nx, k);
    });
    return pass.sum;
}

// The back substitution with T(k) += delta(k), the mirror image of the forward pass: rows from the
// top, each from its east end, each row two nodes behind the one above (delta(k) reads
// delta(k+Nx-1)). Pass row r is grid row Ny-2-r (0-based), position i column Nx-1-i; the link is
// the east term U1 delta(k+1) of a row's last node. delta(k) is read only by its own row and the
// row below, so it is kept for the rows in hand and the row above them only: `buffer` holds grid
// rows low .. low + kRows, and d points to where node 0 would be. T is updated once a band is
// final: a row computed again would otherwise add its correction twice.
template <int kRows>
struct BackPass : BandPass {
    Factors F;
    const double* w;
    double *buffer, *d, *t;
    std::ptrdiff_t nx, ny, low;
    std::ptrdiff_t at(std::ptrdiff_t r, std::ptrdiff_t i) const { return (ny - 2 - r) * nx + nx - 1 - i; }
    double partial(std::ptrdiff_t k, double east) const { return w[k] - F.U1[k] * east; }
    // Makes grid rows new_low .. low the rows in hand: the lowest row in hand is the row above them.
    void hand_down(std::ptrdiff_t new_low) {
        if (new_low >= low) return;
        std::copy(buffer, buffer + nx, buffer + (low - new_low) * nx);
        low = new_low;
        d = buffer - low * nx;
    }
    void band(std::ptrdiff_t r0, int rows) { hand_down(ny - 1 - r0 - rows); }
    [[gnu::always_inline]] void node(std::ptrdiff_t r, std::ptrdiff_t i) {  // in the ramps too: SG MSI 3% faster
        const std::ptrdiff_t k = at(r, i);
        d[k] = F.back(partial(k, i == 0 ? 0.0 : d[k + 1]), d, nx, k);
    }
    std::pair<std::ptrdiff_t, std::ptrdiff_t> held(std::ptrdiff_t r) const {
        const auto [first, end] = F.held(ny - 2 - r);
        return {nx - end, nx - first};
    }
    void held_node(std::ptrdiff_t r, std::ptrdiff_t i) {
        const std::ptrdiff_t k = at(r, i);
        const std::array<double, 7>& h = F.f->held;
        d[k] = ((w[k] - h[4] * d[k + 1]) - h[5] * d[k + nx - 1]) - h[6] * d[k + nx];
    }
    bool start_holds(std::ptrdiff_t r) {
        const std::ptrdiff_t k = at(r, 0);
        return same_bits(partial(k, 0.0), partial(k, d[k + 1]));
    }
    void row(std::ptrdiff_t r) {
        hand_down(ny - 2 - r);
        for (std::ptrdiff_t k = at(r, 0); k >= at(r, nx - 1); --k) d[k] = F.back(partial(k, d[k + 1]), d, nx, k);
    }
    void done(std::ptrdiff_t r0, std::ptrdiff_t r1) {
        for (std::ptrdiff_t k = at(r1 - 1, nx - 1); k <= at(r0, 0); ++k) t[k] = t[k] + d[k];
    }
};

template <int kRows>
ADVDIFF_WIDE_KERNEL void back_substitution(const GridSystem& s, const double* w, double* buffer, double* t) {
    const std::ptrdiff_t nx = s.grid.Nx, ny = s.grid.Ny, n = s.grid.N();
    BackPass<kRows> pass{{}, Factors(s.msi), w, buffer, buffer - (ny - 1) * nx, t, nx, ny, ny - 1};
    top_row_back(pass.F, nx, n, w, pass.d, t);
    run_in_bands<kRows, 2>(pass, 0, ny - 1, nx, nx);
}

}  // namespace

void msi_solve(const MsiParams& p, const GridSystem& s, std::span<const double> b, std::span<double> T,
               Scratch& scratch) {
    const int limit = p.iteration_limit < 1 ? 1 : p.iteration_limit;
    const std::ptrdiff_t nx = s.grid.Nx, n = s.grid.N();
    double *r = scratch.v[0].data(), *w = scratch.v[1].data(), *d = scratch.v[2].data();
    // The residual after correction m serves the tolerance test and, if the iteration goes on,
    // correction m+1: forward(norm), the residual (its sum of squares in node order if norm()) and
    // the forward substitution, is therefore done before the test, and its result dropped when the
    // test ends the iteration (it has not touched T). r0 and the residual after a correction only
    // serve the test, which is not reached when the correction is the last one the limit allows.
    auto iterate = [&](auto&& forward, auto&& back) {
        const double r0 = limit > 1 ? std::sqrt(forward(std::true_type{})) : (forward(std::false_type{}), 0.0);
        for (int m = 1;; ++m) {
            back();
            if (m >= limit || std::sqrt(forward(std::true_type{})) <= r0 * p.tolerance) break;
        }
    };
    if (p.path == Path::plain || s.grid.Ny < 2 * kFewRows) {  // the ring of two bands fits in r
        const ArrayStencil a = array_stencil(s.view());
        const Factors F(s.msi);
        iterate([&](auto) { return plain_forward(a, F, b.data(), T.data(), nx, n, r, w); },
                [&] { plain_back(F, nx, n, w, d, T.data()); });
        return;
    }
    // The banded path computes each residual inside its forward substitution (residual_and_forward).
    auto banded = [&](auto rows, const auto& interior) {
        constexpr int kRows = decltype(rows)::value;
        iterate(
            [&](auto norm) { return residual_and_forward<kRows, norm()>(interior, s, b.data(), T.data(), r, w); },
            [&] { back_substitution<kRows>(s, w, d, T.data()); });
    };
    with_stencil(s.view(), s.uniform, [&](const auto& interior) {
        if (!s.msi.held_runs.empty() && s.grid.Ny >= 2 * kManyRows)
            banded(std::integral_constant<int, kManyRows>{}, interior);
        else
            banded(std::integral_constant<int, kFewRows>{}, interior);
    });
}

}  // namespace advdiff::solvers
