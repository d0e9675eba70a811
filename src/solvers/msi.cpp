#include "solvers/msi.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "solvers/five_point.hpp"

namespace advdiff::solvers {

namespace {

// The residual b - A T of a node of a middle row, its products (five_point.hpp) summed in the
// order S, W, N, P, E. With a stencil that holds uniform coefficients as numbers it serves the
// interior nodes only: the values are the arrays' own there, so both give the same bits.
template <class Stencil>
inline double middle_residual(const Stencil& a, const double* f, const double* t, std::ptrdiff_t nx,
                              std::ptrdiff_t k) {
    const Products q = products(a, t, nx, k);
    return f[k] - ((((q.s + q.w) + q.n) + q.p) + q.e);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The plain substitutions, node by node in the defining order. They are the production path on
// grids where the banded one below does not win, and the twin the tests and benchmarks compare
// the banded one with.
//
// The correction is added to T inside the back substitution as soon as delta(k) is known: delta
// does not depend on T, and T(k) is read nowhere else in the pass.
// ---------------------------------------------------------------------------------------------

void msi_substitute_plain(const MsiFactors& f, int Nx, int N, std::span<const double> r, std::span<double> w,
                          std::span<double> delta, std::span<double> T) {
    const double* L1 = f.L1.data();
    const double* L2 = f.L2.data();
    const double* L3 = f.L3.data();
    const double* L4 = f.L4.data();
    const double* U1 = f.U1.data();
    const double* U2 = f.U2.data();
    const double* U3 = f.U3.data();
    const std::ptrdiff_t nx = Nx, n = N;
    double* x = w.data();
    double* d = delta.data();
    double* t = T.data();

    // L w = r, k = 1..N, leaving out the terms whose index is below 1.
    x[0] = r[0] / L1[0];
    for (std::ptrdiff_t k = 1; k < nx - 1 && k < n; ++k) x[k] = (r[k] - L2[k] * x[k - 1]) / L1[k];
    if (nx >= 2 && nx <= n) x[nx - 1] = ((r[nx - 1] - L2[nx - 1] * x[nx - 2]) - L3[nx - 1] * x[0]) / L1[nx - 1];
    for (std::ptrdiff_t k = nx; k < n; ++k)
        x[k] = (((r[k] - L2[k] * x[k - 1]) - L3[k] * x[k - nx + 1]) - L4[k] * x[k - nx]) / L1[k];

    // U delta = w, k = N..1, leaving out the terms whose index exceeds N.
    d[n - 1] = x[n - 1];
    t[n - 1] = t[n - 1] + d[n - 1];
    for (std::ptrdiff_t k = n - 2; k > n - nx && k >= 0; --k) {
        d[k] = x[k] - U1[k] * d[k + 1];
        t[k] = t[k] + d[k];
    }
    if (nx >= 2 && n - nx >= 0) {
        const std::ptrdiff_t k = n - nx;
        d[k] = (x[k] - U1[k] * d[k + 1]) - U2[k] * d[n - 1];
        t[k] = t[k] + d[k];
    }
    for (std::ptrdiff_t k = n - nx - 1; k >= 0; --k) {
        d[k] = ((x[k] - U1[k] * d[k + 1]) - U2[k] * d[k + nx - 1]) - U3[k] * d[k + nx];
        t[k] = t[k] + d[k];
    }
}

namespace {

// Shortest run of held factors worth a row: below it the band's arrays are read anyway.
constexpr std::ptrdiff_t kMsiHeldMinRun = 16;

std::uint64_t bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Takes the factors of the middle node of the last middle row (the furthest from the south side,
// where the factors have settled the longest) as the candidate set and finds, row by row, the first run
// of columns whose seven factors all equal it bit for bit. Only where every coefficient is uniform
// over the interior: elsewhere the factors vary from node to node.
void find_held_factors(MsiFactors& f, int Nx, int Ny) {
    f.held_runs.clear();
    if (!f.uniform.all() || Nx < kMsiHeldMinRun + 2 || Ny < 3) return;
    const std::ptrdiff_t nx = Nx, ny = Ny;
    const double* arrays[7] = {f.L1.data(), f.L2.data(), f.L3.data(), f.L4.data(),
                               f.U1.data(), f.U2.data(), f.U3.data()};
    const std::ptrdiff_t middle = (ny - 2) * nx + nx / 2;
    std::uint64_t held[7];
    for (int c = 0; c < 7; ++c) {
        f.held[static_cast<std::size_t>(c)] = arrays[c][middle];
        held[c] = bits(arrays[c][middle]);
    }
    auto is_held = [&](std::ptrdiff_t k) {
        std::uint64_t differ = 0;
        for (int c = 0; c < 7; ++c) differ |= bits(arrays[c][k]) ^ held[c];
        return differ == 0;
    };
    f.held_runs.assign(static_cast<std::size_t>(ny), MsiFactors::Run{});
    bool any = false;
    for (std::ptrdiff_t row = 0; row < ny; ++row) {
        std::ptrdiff_t i = 0;
        while (i < nx && !is_held(row * nx + i)) ++i;
        const std::ptrdiff_t begin = i;
        while (i < nx && is_held(row * nx + i)) ++i;
        if (i - begin >= kMsiHeldMinRun) {
            f.held_runs[static_cast<std::size_t>(row)] = {begin, i};
            any = true;
        }
    }
    if (!any) f.held_runs.clear();
}

}  // namespace

void msi_factorise(const model::StencilView& a, MsiFactors& f, int N, int Nx, int Ny) {
    double* L1 = f.L1.data();
    double* L2 = f.L2.data();
    double* L3 = f.L3.data();
    double* L4 = f.L4.data();
    double* U1 = f.U1.data();
    double* U2 = f.U2.data();
    double* U3 = f.U3.data();
    (void)N;
    f.uniform = UniformInterior::find(a, Nx, Ny);
    const std::ptrdiff_t nx = Nx;
    for (int j = 1; j <= Ny; ++j) {
        for (int i = 1; i <= Nx; ++i) {
            const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(j - 1) * nx + (i - 1);  // 0-based
            const double S = a.aS[k], W = a.aW[k], P = a.aP[k], E = a.aE[k], Nn = a.aN[k];
            const double alpha = (j == 1 || j == Ny || i == 1 || i == Nx) ? 0.0 : kMsiAlpha;
            if (k == 0) {
                L4[k] = S;
                L3[k] = 0.0;
                L2[k] = W;
                L1[k] = P;
                U1[k] = E / L1[k];
                U2[k] = 0.0;
                U3[k] = Nn / L1[k];
            } else if (k < nx) {
                L4[k] = S;
                L3[k] = 0.0;
                L2[k] = W / (1 + (2 * alpha) * U2[k - 1]);
                L1[k] = (P - L2[k] * U1[k - 1]) + ((2 * alpha) * L2[k]) * U2[k - 1];
                U1[k] = E / L1[k];
                U2[k] = (-L2[k] * U3[k - 1]) / L1[k];
                U3[k] = (Nn - (alpha * L2[k]) * U2[k - 1]) / L1[k];
            } else {
                const std::ptrdiff_t s = k - nx;       // k - Nx
                const std::ptrdiff_t se = k - nx + 1;  // k - Nx + 1
                L4[k] = S / (1 - (alpha * U1[s]) * U1[se]);
                L3[k] = -L4[k] * U1[s];
                L2[k] = (W - L4[k] * U2[s]) / (1 + (2 * alpha) * U2[k - 1]);
                L1[k] = (((P - L4[k] * U3[s]) - L3[k] * U2[se]) - L2[k] * U1[k - 1]) +
                        alpha * ((2 * L3[k]) * U1[se] + (2 * L2[k]) * U2[k - 1]);
                U1[k] = ((E - L3[k] * U3[se]) - ((2 * alpha) * L3[k]) * U1[se]) / L1[k];
                U2[k] = (-L2[k] * U3[k - 1]) / L1[k];
                U3[k] = (Nn - (alpha * L2[k]) * U2[k - 1]) / L1[k];
            }
        }
    }
    find_held_factors(f, Nx, Ny);
}

void msi_residual(const model::StencilView& a, int Nx, int N, std::span<const double> T, std::span<const double> b,
                  std::span<double> r) {
    const auto [aS, aW, aP, aE, aN] = model::pointers(a);
    const double* t = T.data();
    const double* f = b.data();
    double* res = r.data();
    const std::ptrdiff_t nx = Nx, n = N;
    // Node 1: N, P, E.
    res[0] = f[0] - ((aN[0] * t[nx] + aP[0] * t[0]) + aE[0] * t[1]);
    // Rest of the first row: W, N, P, E.
    for (std::ptrdiff_t k = 1; k < nx; ++k)
        res[k] = f[k] - (((aW[k] * t[k - 1] + aN[k] * t[k + nx]) + aP[k] * t[k]) + aE[k] * t[k + 1]);
    // Middle rows: S, W, N, P, E.
    const ArrayStencil arrays = array_stencil(a);
    for (std::ptrdiff_t k = nx; k < n - nx; ++k) res[k] = middle_residual(arrays, f, t, nx, k);
    // Last row but its last node: S, W, P, E.
    for (std::ptrdiff_t k = n - nx; k < n - 1; ++k)
        res[k] = f[k] - (((aS[k] * t[k - nx] + aW[k] * t[k - 1]) + aP[k] * t[k]) + aE[k] * t[k + 1]);
    // Node N: W, P, S.
    res[n - 1] = f[n - 1] - ((aW[n - 1] * t[n - 2] + aP[n - 1] * t[n - 1]) + aS[n - 1] * t[n - 1 - nx]);
}

// ---------------------------------------------------------------------------------------------
// The banded substitutions: the same node operations, several rows in flight at once.
// ---------------------------------------------------------------------------------------------

// Rows the banded substitutions keep in flight: enough to overlap the latency of one node's chain
// (a multiply and up to three subtractions, and in the forward pass a division) with the other
// rows' nodes, few enough that the band's streams of factors stay in the cache. Where the factors
// are held as numbers there are no such streams over most of the band, and twice as many rows
// measured faster (kMsiHeldBandRows).
constexpr int kMsiBandRows = 4;
constexpr int kMsiHeldBandRows = 8;

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Forward substitution L w = r, kBandRows rows at a time.
//
// Within a row, w(k) needs w(k-1); row j also needs w(k-Nx) and w(k-Nx+1) of row j-1, so row j
// can run two nodes behind row j-1 in a skewed wavefront. The only other link is the first node
// of each row, whose west term L2(k) w(k-1) reaches back to the last node of the row below: its
// coefficient is zero in every assembled system, so the term does not change the partial
// difference r(k) - L2(k) w(k-1) unless that is a zero or w(k-1) is not finite. The wavefront
// starts each row with the partial difference computed from w(k-1) = 0, and once the band is done
// compares it bit for bit with the one computed from the true w(k-1); from the first row where
// they differ, the rows of the band are computed again one after the other. Every w(k) is
// therefore the value of the plain node-by-node substitution.
template <int kBandRows>
void forward_banded(const MsiFactors& f, std::ptrdiff_t nx, std::ptrdiff_t n, const double* r, double* w) {
    const double* L1 = f.L1.data();
    const double* L2 = f.L2.data();
    const double* L3 = f.L3.data();
    const double* L4 = f.L4.data();
    const std::ptrdiff_t ny = n / nx;
    auto node = [&](std::ptrdiff_t k, double partial) {
        w[k] = ((partial - L3[k] * w[k - nx + 1]) - L4[k] * w[k - nx]) / L1[k];
    };
    auto row_in_order = [&](std::ptrdiff_t row) {
        for (std::ptrdiff_t k = row * nx; k < (row + 1) * nx; ++k) node(k, r[k] - L2[k] * w[k - 1]);
    };

    // First row: the terms below node 1 are left out.
    w[0] = r[0] / L1[0];
    for (std::ptrdiff_t k = 1; k < nx - 1; ++k) w[k] = (r[k] - L2[k] * w[k - 1]) / L1[k];
    w[nx - 1] = ((r[nx - 1] - L2[nx - 1] * w[nx - 2]) - L3[nx - 1] * w[0]) / L1[nx - 1];

    std::ptrdiff_t row0 = 1;
    for (; row0 + kBandRows <= ny; row0 += kBandRows) {
        double start[kBandRows];
        for (int b = 0; b < kBandRows; ++b) {
            const std::ptrdiff_t k = (row0 + b) * nx;
            start[b] = r[k] - L2[k] * 0.0;
        }
        const std::ptrdiff_t steps = nx + 2 * (kBandRows - 1);
        for (std::ptrdiff_t s = 0; s < steps; ++s) {
            if (s >= 2 * (kBandRows - 1) && s < nx) {
#pragma GCC unroll 8
                for (int b = 0; b < kBandRows; ++b) {
                    const std::ptrdiff_t i = s - 2 * b;
                    const std::ptrdiff_t k = (row0 + b) * nx + i;
                    node(k, i == 0 ? start[b] : r[k] - L2[k] * w[k - 1]);
                }
            } else {
                for (int b = 0; b < kBandRows; ++b) {
                    const std::ptrdiff_t i = s - 2 * b;
                    if (i < 0 || i >= nx) continue;
                    const std::ptrdiff_t k = (row0 + b) * nx + i;
                    node(k, i == 0 ? start[b] : r[k] - L2[k] * w[k - 1]);
                }
            }
        }
        for (int b = 0; b < kBandRows; ++b) {
            const std::ptrdiff_t k = (row0 + b) * nx;
            if (!same_bits(start[b], r[k] - L2[k] * w[k - 1])) {
                for (std::ptrdiff_t row = row0 + b; row < row0 + kBandRows; ++row) row_in_order(row);
                break;
            }
        }
    }
    for (std::ptrdiff_t row = row0; row < ny; ++row) row_in_order(row);
}

// Back substitution U delta = w with T(k) += delta(k), the mirror image of the forward pass: rows
// from the top, each row from its east end, row j two nodes behind row j+1; the east term
// U1(k) delta(k+1) of a row's last node reaches the first node of the row above and is checked
// the same way.
//
// delta(k) is read only by the nodes of its own row and of the row below, so it is kept for the
// rows of one band and the row above it only, in `buffer` (kBandRows + 1 rows, the lowest row
// first). T is updated once the band's check has passed: a row recomputed after a failed check
// would otherwise add its correction twice (T(k) is read nowhere else in the pass, so the time of
// the addition does not matter).
template <int kBandRows>
void back_banded(const MsiFactors& f, std::ptrdiff_t nx, std::ptrdiff_t n, const double* w, double* buffer,
                 double* t) {
    const double* U1 = f.U1.data();
    const double* U2 = f.U2.data();
    const double* U3 = f.U3.data();
    const std::ptrdiff_t ny = n / nx;
    // The rows low..high are in hand: row r at buffer row r - low, row high + 1 above them.
    std::ptrdiff_t low = ny - 1;
    auto d = [&](std::ptrdiff_t k) -> double& { return buffer[k - low * nx]; };
    auto node = [&](std::ptrdiff_t k, double partial) {
        d(k) = (partial - U2[k] * d(k + nx - 1)) - U3[k] * d(k + nx);
    };
    auto row_in_order = [&](std::ptrdiff_t row) {
        for (std::ptrdiff_t k = (row + 1) * nx - 1; k >= row * nx; --k) node(k, w[k] - U1[k] * d(k + 1));
    };
    auto add_rows = [&](std::ptrdiff_t first, std::ptrdiff_t last) {  // rows first..last
        for (std::ptrdiff_t k = first * nx; k < (last + 1) * nx; ++k) t[k] = t[k] + d(k);
    };
    // Moves the lowest row in hand to where the next group of rows, new_low.. low - 1, finds the
    // row above it.
    auto hand_down = [&](std::ptrdiff_t new_low) {
        std::memcpy(buffer + (low - new_low) * nx, buffer, static_cast<std::size_t>(nx) * sizeof(double));
        low = new_low;
    };

    // Top row: the terms beyond node N are left out.
    d(n - 1) = w[n - 1];
    for (std::ptrdiff_t k = n - 2; k > n - nx; --k) d(k) = w[k] - U1[k] * d(k + 1);
    d(n - nx) = (w[n - nx] - U1[n - nx] * d(n - nx + 1)) - U2[n - nx] * d(n - 1);
    add_rows(ny - 1, ny - 1);

    std::ptrdiff_t top = ny - 2;  // highest row of the next band
    for (; top - kBandRows + 1 >= 0; top -= kBandRows) {
        hand_down(top - kBandRows + 1);
        double start[kBandRows];
        for (int b = 0; b < kBandRows; ++b) {
            const std::ptrdiff_t k = (top - b + 1) * nx - 1;
            start[b] = w[k] - U1[k] * 0.0;
        }
        // Step s holds node Nx-1 - (s - 2b) of band row b (row top - b). The steps after the first
        // that holds every row read the factors through u1..u3: the arrays, or the held values where
        // every row of the band holds them.
        auto inner_steps = [&](std::ptrdiff_t from, std::ptrdiff_t to, const auto& u1, const auto& u2,
                               const auto& u3) {
            for (std::ptrdiff_t s = from; s < to; ++s) {
#pragma GCC unroll 8
                for (int b = 0; b < kBandRows; ++b) {
                    const std::ptrdiff_t i = nx - 1 - (s - 2 * b);
                    const std::ptrdiff_t k = (top - b) * nx + i;
                    d(k) = ((w[k] - u1[k] * d(k + 1)) - u2[k] * d(k + nx - 1)) - u3[k] * d(k + nx);
                }
            }
        };
        auto edge_step = [&](std::ptrdiff_t s) {
            for (int b = 0; b < kBandRows; ++b) {
                const std::ptrdiff_t i = nx - 1 - (s - 2 * b);
                if (i < 0 || i >= nx) continue;
                const std::ptrdiff_t k = (top - b) * nx + i;
                node(k, i == nx - 1 ? start[b] : w[k] - U1[k] * d(k + 1));
            }
        };
        const std::ptrdiff_t steps = nx + 2 * (kBandRows - 1);
        const std::ptrdiff_t first_inner = 2 * (kBandRows - 1) + 1;
        const std::ptrdiff_t end_inner = std::max(first_inner, nx);
        for (std::ptrdiff_t s = 0; s < first_inner; ++s) edge_step(s);
        if (end_inner > first_inner) {
            std::ptrdiff_t held_from = first_inner, held_to = first_inner;
            if (!f.held_runs.empty()) {
                held_to = end_inner;
                for (int b = 0; b < kBandRows; ++b) {
                    // Columns [begin, end) of row top - b are steps [Nx - end + 2b, Nx - begin + 2b).
                    const MsiFactors::Run run = f.held_runs[static_cast<std::size_t>(top - b)];
                    held_from = std::max(held_from, nx - run.end + 2 * b);
                    held_to = std::min(held_to, nx - run.begin + 2 * b);
                }
                held_from = std::min(held_from, end_inner);
                held_to = std::max(held_to, held_from);
            }
            const Coefficient<false> a1{U1}, a2{U2}, a3{U3};
            const Coefficient<true> h1{nullptr, f.held[4]}, h2{nullptr, f.held[5]}, h3{nullptr, f.held[6]};
            inner_steps(first_inner, held_from, a1, a2, a3);
            inner_steps(held_from, held_to, h1, h2, h3);
            inner_steps(held_to, end_inner, a1, a2, a3);
        }
        for (std::ptrdiff_t s = end_inner; s < steps; ++s) edge_step(s);
        for (int b = 0; b < kBandRows; ++b) {
            const std::ptrdiff_t k = (top - b + 1) * nx - 1;
            if (!same_bits(start[b], w[k] - U1[k] * d(k + 1))) {
                for (std::ptrdiff_t row = top - b; row > top - kBandRows; --row) row_in_order(row);
                break;
            }
        }
        add_rows(top - kBandRows + 1, top);
    }
    for (std::ptrdiff_t row = top; row >= 0; --row) {
        hand_down(row);
        row_in_order(row);
        add_rows(row, row);
    }
}

// The residual and the forward substitution in one pass: r(k) is computed band by band just
// before the forward substitution needs it, from T, which the pass does not change, so it is the
// value of the separate residual pass; the substitution is that of forward_banded (the same bands,
// the same check of each row's first node). Each band keeps its residuals in one half of `ring`
// (2 * kBandRows * Nx values, in the cache). When Norm is set, the sum of r(k)^2 is accumulated in
// node order and returned: the squares of the previous band are added while the band runs,
// kBandRows per step, so that the chain of additions overlaps the substitution's chains.
template <int kBandRows, class Held, bool Norm>
double residual_and_forward(const Held& held, const model::StencilView& view, const MsiFactors& f, std::ptrdiff_t nx,
                            std::ptrdiff_t n, const double* t, const double* b, double* ring, double* w) {
    const double* L1 = f.L1.data();
    const double* L2 = f.L2.data();
    const double* L3 = f.L3.data();
    const double* L4 = f.L4.data();
    const ArrayStencil arrays = array_stencil(view);
    const auto [aS, aW, aP, aE, aN] = model::pointers(view);
    const std::ptrdiff_t ny = n / nx;
    const std::ptrdiff_t band_size = kBandRows * nx;
    double sum = 0.0;
    auto square = [&](double value) {
        if constexpr (Norm) sum += value * value;
        return value;
    };
    auto node = [&](std::ptrdiff_t k, double partial) {
        w[k] = ((partial - L3[k] * w[k - nx + 1]) - L4[k] * w[k - nx]) / L1[k];
    };

    // First row: node 1 N, P, E, the others W, N, P, E; the terms below node 1 are left out.
    {
        const double r0 = square(b[0] - ((aN[0] * t[nx] + aP[0] * t[0]) + aE[0] * t[1]));
        w[0] = r0 / L1[0];
        auto first_row_residual = [&](std::ptrdiff_t k) {
            return square(b[k] - (((aW[k] * t[k - 1] + aN[k] * t[k + nx]) + aP[k] * t[k]) + aE[k] * t[k + 1]));
        };
        for (std::ptrdiff_t k = 1; k < nx - 1; ++k) w[k] = (first_row_residual(k) - L2[k] * w[k - 1]) / L1[k];
        const std::ptrdiff_t k = nx - 1;
        w[k] = ((first_row_residual(k) - L2[k] * w[k - 1]) - L3[k] * w[0]) / L1[k];
    }

    // Middle rows, in bands.
    std::ptrdiff_t row0 = 1;
    const double* previous = nullptr;  // the previous band's residuals, node order
    for (int band = 0; row0 + kBandRows <= ny - 1; row0 += kBandRows, ++band) {
        double* current = ring + (band % 2) * band_size;
        std::ptrdiff_t summed = 0;
        const std::ptrdiff_t to_sum = previous ? band_size : 0;
        auto sum_previous = [&] {
            if constexpr (Norm)
                for (int u = 0; u < kBandRows && summed < to_sum; ++u, ++summed)
                    sum += previous[summed] * previous[summed];
        };
        // The band's residuals first, row by row: they depend on T alone, and a row's interior
        // nodes are independent of one another, so the loop over them runs two nodes to an
        // instruction, each lane the same operations on the same values.
        for (int band_row = 0; band_row < kBandRows; ++band_row) {
            const std::ptrdiff_t begin = (row0 + band_row) * nx;
            double* __restrict r = current + band_row * nx;
            r[0] = middle_residual(arrays, b, t, nx, begin);
            for (std::ptrdiff_t i = 1; i < nx - 1; ++i) r[i] = middle_residual(held, b, t, nx, begin + i);
            r[nx - 1] = middle_residual(arrays, b, t, nx, begin + nx - 1);
        }
        auto row_in_order = [&](std::ptrdiff_t band_row) {
            const std::ptrdiff_t begin = (row0 + band_row) * nx;
            for (std::ptrdiff_t i = 0; i < nx; ++i)
                node(begin + i, current[band_row * nx + i] - L2[begin + i] * w[begin + i - 1]);
        };
        // Steps whose nodes are all interior nodes, with the factors read through l1..l4 (arrays, or
        // the held values where every row of the band holds them), and the other steps.
        auto interior_steps = [&](std::ptrdiff_t from, std::ptrdiff_t to, const auto& l1, const auto& l2,
                                  const auto& l3, const auto& l4) {
            for (std::ptrdiff_t s = from; s < to; ++s) {
#pragma GCC unroll 8
                for (int band_row = 0; band_row < kBandRows; ++band_row) {
                    const std::ptrdiff_t i = s - 2 * band_row;
                    const std::ptrdiff_t k = (row0 + band_row) * nx + i;
                    const double partial = current[band_row * nx + i] - l2[k] * w[k - 1];
                    w[k] = ((partial - l3[k] * w[k - nx + 1]) - l4[k] * w[k - nx]) / l1[k];
                }
                sum_previous();
            }
        };
        auto edge_step = [&](std::ptrdiff_t s) {
            for (int band_row = 0; band_row < kBandRows; ++band_row) {
                const std::ptrdiff_t i = s - 2 * band_row;
                if (i < 0 || i >= nx) continue;
                const std::ptrdiff_t k = (row0 + band_row) * nx + i;
                node(k, current[band_row * nx + i] - L2[k] * (i == 0 ? 0.0 : w[k - 1]));
            }
            sum_previous();
        };
        const std::ptrdiff_t steps = nx + 2 * (kBandRows - 1);
        const std::ptrdiff_t first_interior = 2 * (kBandRows - 1) + 1;
        const std::ptrdiff_t end_interior = std::max(first_interior, nx - 1);
        for (std::ptrdiff_t s = 0; s < first_interior; ++s) edge_step(s);
        if (end_interior > first_interior) {
            // Step s holds node s - 2b of band row b: the held part is where every row is in its run.
            std::ptrdiff_t held_from = first_interior, held_to = first_interior;
            if (!f.held_runs.empty()) {
                held_from = first_interior;
                held_to = end_interior;
                for (int band_row = 0; band_row < kBandRows; ++band_row) {
                    const MsiFactors::Run run = f.held_runs[static_cast<std::size_t>(row0 + band_row)];
                    held_from = std::max(held_from, run.begin + 2 * band_row);
                    held_to = std::min(held_to, run.end + 2 * band_row);
                }
                held_from = std::min(held_from, end_interior);
                held_to = std::max(held_to, held_from);
            }
            const Coefficient<false> a1{L1}, a2{L2}, a3{L3}, a4{L4};
            const Coefficient<true> h1{nullptr, f.held[0]}, h2{nullptr, f.held[1]}, h3{nullptr, f.held[2]},
                h4{nullptr, f.held[3]};
            interior_steps(first_interior, held_from, a1, a2, a3, a4);
            interior_steps(held_from, held_to, h1, h2, h3, h4);
            interior_steps(held_to, end_interior, a1, a2, a3, a4);
        }
        for (std::ptrdiff_t s = end_interior; s < steps; ++s) edge_step(s);
        while (summed < to_sum) sum_previous();
        for (int band_row = 0; band_row < kBandRows; ++band_row) {
            const std::ptrdiff_t k = (row0 + band_row) * nx;
            const double start_r = current[band_row * nx];
            if (!same_bits(start_r - L2[k] * 0.0, start_r - L2[k] * w[k - 1])) {
                for (int row = band_row; row < kBandRows; ++row) row_in_order(row);
                break;
            }
        }
        previous = current;
    }
    if constexpr (Norm)
        if (previous)
            for (std::ptrdiff_t u = 0; u < band_size; ++u) sum += previous[u] * previous[u];
    for (std::ptrdiff_t k = row0 * nx; k < (ny - 1) * nx; ++k)
        node(k, square(middle_residual(arrays, b, t, nx, k)) - L2[k] * w[k - 1]);

    // Last row: S, W, P, E, and node N W, P, S.
    for (std::ptrdiff_t k = n - nx; k < n - 1; ++k) {
        const double rk = square(b[k] - (((aS[k] * t[k - nx] + aW[k] * t[k - 1]) + aP[k] * t[k]) + aE[k] * t[k + 1]));
        node(k, rk - L2[k] * w[k - 1]);
    }
    {
        const std::ptrdiff_t k = n - 1;
        const double rk = square(b[k] - ((aW[k] * t[k - 1] + aP[k] * t[k]) + aS[k] * t[k - nx]));
        node(k, rk - L2[k] * w[k - 1]);
    }
    return sum;
}

// The fused pass with the narrowest stencil the uniform coefficients allow; returns the sum of the
// squared residuals when Norm is set.
template <bool Norm>
double fused_forward(const model::StencilView& a, const MsiFactors& f, int Nx, int N, const double* T,
                     const double* b, double* ring, double* w) {
    double sum = 0.0;
    with_stencil(a, f.uniform, [&](const auto& held) {
        using Held = std::decay_t<decltype(held)>;
        if (f.held_runs.empty())
            sum = residual_and_forward<kMsiBandRows, Held, Norm>(held, a, f, Nx, N, T, b, ring, w);
        else
            sum = residual_and_forward<kMsiHeldBandRows, Held, Norm>(held, a, f, Nx, N, T, b, ring, w);
    });
    return sum;
}

// back_banded with the rows in flight that suit the factors.
void back_pass(const MsiFactors& f, int Nx, int N, const double* w, double* buffer, double* t) {
    if (f.held_runs.empty())
        back_banded<kMsiBandRows>(f, Nx, N, w, buffer, t);
    else
        back_banded<kMsiHeldBandRows>(f, Nx, N, w, buffer, t);
}

double euclidean_norm(std::span<const double> r) {
    double sum = 0.0;
    for (double value : r) sum += value * value;
    return std::sqrt(sum);
}

}  // namespace

void msi_substitute_banded(const MsiFactors& f, int Nx, int N, std::span<const double> r, std::span<double> w,
                           std::span<double> delta, std::span<double> T) {
    forward_banded<kMsiBandRows>(f, Nx, N, r.data(), w.data());
    back_pass(f, Nx, N, w.data(), delta.data(), T.data());
}

bool msi_banded_pays(int Nx, int Ny) { return Nx >= kMsiBandedMinNx && Ny > kMsiBandRows + 1; }

void msi_substitute(const MsiFactors& f, int Nx, int N, std::span<const double> r, std::span<double> w,
                    std::span<double> delta, std::span<double> T) {
    if (msi_banded_pays(Nx, N / Nx))
        msi_substitute_banded(f, Nx, N, r, w, delta, T);
    else
        msi_substitute_plain(f, Nx, N, r, w, delta, T);
}

void msi_solve_plain(const model::StencilView& a, const MsiFactors& f, int Nx, int N, std::span<double> T,
                     double msi_tolerance, int limit, std::span<const double> b, MsiWork& work) {
    if (limit < 1) limit = 1;
    const auto n = static_cast<std::size_t>(N);
    const std::span<double> r(work.r.data(), n), w(work.w.data(), n), delta(work.delta.data(), n);

    msi_residual(a, Nx, N, T, b, r);
    // r0 and the residual after a correction only serve the tolerance test, which is not reached
    // when the correction is the last one the limit allows; they are skipped then.
    const double r0 = (limit > 1) ? euclidean_norm(r) : 0.0;
    for (int m = 1;; ++m) {
        msi_substitute_plain(f, Nx, N, r, w, delta, T);
        if (m >= limit) break;
        msi_residual(a, Nx, N, T, b, r);
        const double rho = euclidean_norm(r);
        if (rho <= r0 * msi_tolerance) break;
    }
}

void msi_solve(const model::StencilView& a, const MsiFactors& f, int Ny, int Nx, int N, std::span<double> T,
               double msi_tolerance, int limit, std::span<const double> b, MsiWork& work) {
    if (!msi_banded_pays(Nx, Ny)) {
        msi_solve_plain(a, f, Nx, N, T, msi_tolerance, limit, b, work);
        return;
    }
    if (limit < 1) limit = 1;
    // Two bands' residuals; r of the work vectors holds them when the grid has as many rows.
    const auto ring_size = static_cast<std::size_t>(2 * kMsiHeldBandRows) * static_cast<std::size_t>(Nx);
    if (work.r.size() < ring_size) work.r.resize(ring_size);
    double* r = work.r.data();
    double* w = work.w.data();
    // The residual of each correction is computed inside its forward substitution. The residual
    // after correction m serves the tolerance test and, if the iteration goes on, correction m+1:
    // the forward substitution of m+1 is therefore done before the test, and its result dropped
    // when the test ends the iteration (it has not touched T). r0 and the norms are sums in node
    // order, as in the plain iteration; they are skipped when the limit allows one correction.
    const double r0 = (limit > 1) ? std::sqrt(fused_forward<true>(a, f, Nx, N, T.data(), b.data(), r, w))
                                  : (fused_forward<false>(a, f, Nx, N, T.data(), b.data(), r, w), 0.0);
    for (int m = 1;; ++m) {
        back_pass(f, Nx, N, w, work.delta.data(), T.data());
        if (m >= limit) break;
        const double rho = std::sqrt(fused_forward<true>(a, f, Nx, N, T.data(), b.data(), r, w));
        if (rho <= r0 * msi_tolerance) break;
    }
}

}  // namespace advdiff::solvers
