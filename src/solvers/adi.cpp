#include "solvers/adi.hpp"

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "solvers/five_point.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace advdiff::solvers {

// ---------------------------------------------------------------------------------------------
// The plain row half-sweep, node by node in the defining order: the forward pass of every row
// (k = 1..N, each row's first node taking p and q of the last node of the row below, whose
// coefficient aW is zero), then T(Nx, j) = q and T(k) = p(k) T(k+1) + q(k) westwards, row after
// row. It is the production path on grids where the banded pass does not win, and the twin the
// tests and benchmarks compare the banded one with.
// ---------------------------------------------------------------------------------------------

void adi_row_sweep_plain(int Nx, int Ny, const model::StencilView& a, std::span<const double> b,
                         std::span<double> T, AdiWork& work) {
    const auto [aS, aW, aP, aE, aN] = model::pointers(a);
    const double* f = b.data();
    double* t = T.data();
    double* p = work.p.data();
    double* q = work.q.data();
    const std::ptrdiff_t nx = Nx, ny = Ny, n = nx * ny;

    // South row: north neighbours only.
    p[0] = -aE[0] / aP[0];
    q[0] = (f[0] - aN[0] * t[nx]) / aP[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k) {
        const double d = aP[k] + aW[k] * p[k - 1];
        p[k] = -aE[k] / d;
        q[k] = ((f[k] - aN[k] * t[k + nx]) - aW[k] * q[k - 1]) / d;
    }
    // Middle rows: south and north neighbours.
    for (std::ptrdiff_t k = nx; k < n - nx; ++k) {
        const double d = aW[k] * p[k - 1] + aP[k];
        p[k] = -aE[k] / d;
        q[k] = ((f[k] - (aS[k] * t[k - nx] + aN[k] * t[k + nx])) - aW[k] * q[k - 1]) / d;
    }
    // North row: south neighbours only.
    for (std::ptrdiff_t k = n - nx; k < n; ++k) {
        const double d = aW[k] * p[k - 1] + aP[k];
        p[k] = -aE[k] / d;
        q[k] = ((f[k] - aS[k] * t[k - nx]) - aW[k] * q[k - 1]) / d;
    }
    for (std::ptrdiff_t row = 0; row < ny; ++row) {
        const std::ptrdiff_t last = row * nx + nx - 1;
        t[last] = q[last];
        for (std::ptrdiff_t k = last - 1; k >= row * nx; --k) t[k] = p[k] * t[k + 1] + q[k];
    }
}

// ---------------------------------------------------------------------------------------------
// The column half-sweep. The columns are independent lines, so the forward pass walks the rows in
// storage order, every node of a row at once, and so does the back substitution: each node sees
// the same operations on the same values as column by column.
// ---------------------------------------------------------------------------------------------

namespace {

// The column half-sweep's forward pass at node N, which has no east neighbour: its bracket is
// aW T(N-1) alone.
inline void column_last_node(const double* aS, const double* aW, const double* aP, const double* aN, const double* f,
                             const double* t, double* p, double* q, std::ptrdiff_t nx, std::ptrdiff_t n) {
    const std::ptrdiff_t k = n - 1;
    const double d = aS[k] * p[k - nx] + aP[k];
    p[k] = -aN[k] / d;
    q[k] = ((f[k] - aW[k] * t[k - 1]) - aS[k] * q[k - nx]) / d;
}

}  // namespace

void adi_column_sweep(int Nx, int Ny, const model::StencilView& a, std::span<const double> b,
                      std::span<double> T, AdiWork& work) {
    const double* __restrict aS = a.aS.data();
    const double* __restrict aW = a.aW.data();
    const double* __restrict aP = a.aP.data();
    const double* __restrict aE = a.aE.data();
    const double* __restrict aN = a.aN.data();
    const double* __restrict f = b.data();
    double* t = T.data();
    double* __restrict p = work.p.data();
    double* __restrict q = work.q.data();
    const std::ptrdiff_t nx = Nx, ny = Ny, n = nx * ny;

    // The south row starts every column.
    p[0] = -aN[0] / aP[0];
    q[0] = (f[0] - aE[0] * t[1]) / aP[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k) {
        p[k] = -aN[k] / aP[k];
        q[k] = (f[k] - (aW[k] * t[k - 1] + aE[k] * t[k + 1])) / aP[k];
    }
    for (std::ptrdiff_t row = 1; row < ny; ++row) {
        const std::ptrdiff_t begin = row * nx;
        const std::ptrdiff_t end = (row == ny - 1) ? n - 1 : begin + nx;
#pragma GCC ivdep
        for (std::ptrdiff_t k = begin; k < end; ++k) {
            const double d = aS[k] * p[k - nx] + aP[k];
            p[k] = -aN[k] / d;
            q[k] = ((f[k] - (aW[k] * t[k - 1] + aE[k] * t[k + 1])) - aS[k] * q[k - nx]) / d;
        }
    }
    column_last_node(aS, aW, aP, aN, f, t, p, q, nx, n);
    for (std::ptrdiff_t k = n - nx; k < n; ++k) t[k] = q[k];
    for (std::ptrdiff_t row = ny - 2; row >= 0; --row) {
#pragma GCC ivdep
        for (std::ptrdiff_t k = row * nx; k < row * nx + nx; ++k) t[k] = p[k] * t[k + nx] + q[k];
    }
}

// ---------------------------------------------------------------------------------------------
// The banded row half-sweep: the same node operations, several rows in flight at once.
// ---------------------------------------------------------------------------------------------

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The coefficients of the row half-sweep: aS, aW, aP and b as arrays, aE and aN as arrays or
// (Coefficient<true>) as the one value they hold at every interior node.
template <class East = Coefficient<false>, class North = Coefficient<false>>
struct Coefficients {
    const double* __restrict aS;
    const double* __restrict aW;
    const double* __restrict aP;
    East aE;
    North aN;
    const double* __restrict f;
};
using ArrayCoefficients = Coefficients<>;

// Forward pass of one node of a row j = 2..Ny (0-based row >= 1) from the west node's p, q:
//   d = aW p(k-1) + aP; p = -aE/d; q = ((b - south/north) - aW q(k-1)) / d,
// where the south/north part is (aS T(k-Nx) + aN T(k+Nx)) on the middle rows and aS T(k-Nx) on
// the top row.
template <class C>
inline void row_node(const C& c, const double* t, double* p, double* q, std::ptrdiff_t nx, std::ptrdiff_t k,
                     bool top, double p_west, double q_west) {
    const double d = c.aW[k] * p_west + c.aP[k];
    const double coupling = top ? c.aS[k] * t[k - nx] : c.aS[k] * t[k - nx] + c.aN[k] * t[k + nx];
    const double numerator = (c.f[k] - coupling) - c.aW[k] * q_west;
#if defined(__SSE2__)
    // Both divisions by d in one instruction: each lane is an ordinary IEEE division.
    const __m128d quotients = _mm_div_pd(_mm_set_pd(numerator, -c.aE[k]), _mm_set1_pd(d));
    p[k] = _mm_cvtsd_f64(quotients);
    q[k] = _mm_cvtsd_f64(_mm_unpackhi_pd(quotients, quotients));
#else
    p[k] = -c.aE[k] / d;
    q[k] = numerator / d;
#endif
}

// Row half-sweep forward pass of rows 1..Ny-1 (0-based). Rows are independent lines except
// through the west term of a row's first node, which reaches the last node of the row below with
// the coefficient aW of a west boundary node: zero in every assembled system. The rows of a band
// run interleaved, each started as if that west node's p and q were 0; once the band is done,
// each row's first p and q are compared bit for bit with the values from the true p and q of the
// row below, and from the first row where they differ, the band's rows are computed again in
// order. The result is that of the plain node-by-node pass. `in` serves the interior nodes of the
// bands (i = 2..Nx-1): the arrays, or aE and aN held as their one interior value, the same doubles
// the arrays hold there; every other node reads the arrays.
template <int kBandRows, class Interior>
void row_forward_passes(const ArrayCoefficients& c, const Interior in, const double* t, double* p, double* q,
                        std::ptrdiff_t nx, std::ptrdiff_t ny) {
    auto row_in_order = [&](std::ptrdiff_t row) {
        const bool top = row == ny - 1;
        for (std::ptrdiff_t k = row * nx; k < (row + 1) * nx; ++k) row_node(c, t, p, q, nx, k, top, p[k - 1], q[k - 1]);
    };
    std::ptrdiff_t row0 = 1;
    for (; row0 + kBandRows <= ny - 1; row0 += kBandRows) {  // middle rows only
        for (std::ptrdiff_t i = 0; i < nx - 1; ++i) {
#pragma GCC unroll 8
            for (int b = 0; b < kBandRows; ++b) {
                const std::ptrdiff_t k = (row0 + b) * nx + i;
                if (i == 0)
                    row_node(c, t, p, q, nx, k, false, 0.0, 0.0);
                else
                    row_node(in, t, p, q, nx, k, false, p[k - 1], q[k - 1]);
            }
        }
        for (int b = 0; b < kBandRows; ++b) {
            const std::ptrdiff_t k = (row0 + b) * nx + nx - 1;
            row_node(c, t, p, q, nx, k, false, p[k - 1], q[k - 1]);
        }
        for (int b = 0; b < kBandRows; ++b) {
            const std::ptrdiff_t k = (row0 + b) * nx;
            const double p_start = p[k], q_start = q[k];
            row_node(c, t, p, q, nx, k, false, p[k - 1], q[k - 1]);
            if (!same_bits(p_start, p[k]) || !same_bits(q_start, q[k])) {
                for (std::ptrdiff_t row = row0 + b; row < row0 + kBandRows; ++row) row_in_order(row);
                break;
            }
        }
    }
    for (std::ptrdiff_t row = row0; row < ny; ++row) row_in_order(row);
}

// Back substitution of every row: T(Nx, j) = q, then T(k) = p(k) T(k+1) + q(k) westwards. Rows are
// independent; bands of rows are interleaved.
template <int kBandRows>
void row_back_substitutions(double* t, const double* p, const double* q, std::ptrdiff_t nx, std::ptrdiff_t ny) {
    for (std::ptrdiff_t j = 0; j < ny; ++j) t[j * nx + nx - 1] = q[j * nx + nx - 1];
    std::ptrdiff_t row0 = 0;
    for (; row0 + kBandRows <= ny; row0 += kBandRows) {
        for (std::ptrdiff_t i = nx - 2; i >= 0; --i) {
#pragma GCC unroll 8
            for (int b = 0; b < kBandRows; ++b) {
                const std::ptrdiff_t k = (row0 + b) * nx + i;
                t[k] = p[k] * t[k + 1] + q[k];
            }
        }
    }
    for (std::ptrdiff_t row = row0; row < ny; ++row)
        for (std::ptrdiff_t k = row * nx + nx - 2; k >= row * nx; --k) t[k] = p[k] * t[k + 1] + q[k];
}

}  // namespace

namespace {

// Calls body(rows) with the rows the banded row passes keep in flight, as a constant: enough to
// overlap the division chains of one row with the others' (eight measured fastest while the grid
// fits in the cache), few enough that the band's streams stay in the cache on larger grids (four).
template <class Body>
void with_band_rows(int Nx, Body&& body) {
    if (Nx <= kAdiEightRowsMaxNx)
        body(std::integral_constant<int, 8>{});
    else
        body(std::integral_constant<int, 4>{});
}

template <class Interior>
void row_sweep_banded(int Nx, int Ny, const ArrayCoefficients& c, const Interior& in, std::span<double> T,
                      AdiWork& work) {
    double* t = T.data();
    double* p = work.p.data();
    double* q = work.q.data();
    const std::ptrdiff_t nx = Nx, ny = Ny;
    // South row: north neighbours only.
    p[0] = -c.aE[0] / c.aP[0];
    q[0] = (c.f[0] - c.aN[0] * t[nx]) / c.aP[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k) {
        const double d = c.aP[k] + c.aW[k] * p[k - 1];
        p[k] = -c.aE[k] / d;
        q[k] = ((c.f[k] - c.aN[k] * t[k + nx]) - c.aW[k] * q[k - 1]) / d;
    }
    with_band_rows(Nx, [&](auto rows) {
        row_forward_passes<rows()>(c, in, t, p, q, nx, ny);
        row_back_substitutions<rows()>(t, p, q, nx, ny);
    });
}

ArrayCoefficients array_coefficients(const model::StencilView& a, std::span<const double> b) {
    return {a.aS.data(), a.aW.data(), a.aP.data(), {a.aE.data()}, {a.aN.data()}, b.data()};
}

}  // namespace

void adi_row_sweep_banded(int Nx, int Ny, const model::StencilView& a, std::span<const double> b,
                          std::span<double> T, AdiWork& work) {
    const ArrayCoefficients c = array_coefficients(a, b);
    row_sweep_banded(Nx, Ny, c, c, T, work);
}

void adi_row_sweep_banded(int Nx, int Ny, const model::StencilView& a, const UniformInterior& uniform,
                          std::span<const double> b, std::span<double> T, AdiWork& work) {
    const ArrayCoefficients c = array_coefficients(a, b);
    if (uniform.east_and_north()) {
        const Coefficients<Coefficient<true>, Coefficient<true>> held{
            c.aS, c.aW, c.aP, {nullptr, *uniform.aE}, {nullptr, *uniform.aN}, c.f};
        row_sweep_banded(Nx, Ny, c, held, T, work);
    } else {
        row_sweep_banded(Nx, Ny, c, c, T, work);
    }
}

bool adi_banded_pays(int Nx, int Ny) { return Nx >= kAdiBandedMinNx && Nx <= kAdiBandedMaxNx && Ny >= 2; }

void adi_row_sweep(int Nx, int Ny, const model::StencilView& a, std::span<const double> b, std::span<double> T,
                   AdiWork& work) {
    if (adi_banded_pays(Nx, Ny))
        adi_row_sweep_banded(Nx, Ny, a, b, T, work);
    else
        adi_row_sweep_plain(Nx, Ny, a, b, T, work);
}


// ---------------------------------------------------------------------------------------------
// Grids whose middle rows all carry the same equations (the constant-velocity cases and pure
// diffusion: every coefficient one value over the interior, and the same boundary equations at
// both ends of every middle row). Then the forward-pass coefficients p and the divisors d depend
// on the column alone in the row half-sweep, and on the row alone at the interior nodes of the
// column half-sweep: they are computed once per half-sweep, and each node reads only b and T and
// writes q.
// ---------------------------------------------------------------------------------------------

namespace {

std::uint64_t bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Whether every interior node of `a` holds `value`, bit for bit (row by row, so that a
// coefficient that varies is found out within the first row).
bool interior_is(const double* a, std::ptrdiff_t nx, std::ptrdiff_t ny, double value) {
    const std::uint64_t v = bits(value);
    for (std::ptrdiff_t row = 1; row < ny - 1; ++row) {
        std::uint64_t differ = 0;
        for (std::ptrdiff_t k = row * nx + 1; k < row * nx + nx - 1; ++k) differ |= bits(a[k]) ^ v;
        if (differ != 0) return false;
    }
    return true;
}

using MiddleRows = AdiWork::MiddleRows;

// `known`, when given, says which coefficients are uniform over the interior (found for the grid
// once, after assembly); otherwise every coefficient is checked here.
bool middle_rows_alike(const model::StencilView& a, std::ptrdiff_t nx, std::ptrdiff_t ny, MiddleRows& rows,
                       const UniformInterior* known = nullptr) {
    if (nx < 3 || ny < 3) return false;
    const double* arrays[] = {a.aS.data(), a.aW.data(), a.aP.data(), a.aE.data(), a.aN.data()};
    const double interior[] = {a.aS[nx + 1], a.aW[nx + 1], a.aP[nx + 1], a.aE[nx + 1], a.aN[nx + 1]};
    if (known) {
        if (!known->all()) return false;
    } else {
        for (int c = 0; c < 5; ++c)
            if (!interior_is(arrays[c], nx, ny, interior[c])) return false;
    }
    // Both boundary ends of every middle row equal those of the first middle row.
    for (const double* coefficient : arrays)
        for (std::ptrdiff_t row = 2; row < ny - 1; ++row)
            if (bits(coefficient[row * nx]) != bits(coefficient[nx]) ||
                bits(coefficient[row * nx + nx - 1]) != bits(coefficient[2 * nx - 1]))
                return false;
    std::vector<double>* out[] = {&rows.S, &rows.W, &rows.P, &rows.E, &rows.Nn};
    for (int c = 0; c < 5; ++c) out[c]->assign(arrays[c] + nx, arrays[c] + 2 * nx);
    return true;
}

// Row half-sweep of a grid whose middle rows are alike. The first and last rows are done as in
// the plain pass. For the middle rows, p and d of row 2 (1-based) are computed once from p of the
// last node of row 1, exactly as the plain pass does; every later middle row starts from p of the
// last node of the row below, which is the last value of that row vector, and the check below
// confirms that the first node's d comes out the same from it: then d and p of the whole row are
// the same operations on the same values. If the check fails, the plain pass is used.
bool row_sweep_alike(const MiddleRows& m, std::ptrdiff_t nx, std::ptrdiff_t ny, const model::StencilView& a,
                     const double* f, double* t, double* p, double* q, std::vector<double>& pr,
                     std::vector<double>& dr) {
    const auto [aS, aW, aP, aE, aN] = model::pointers(a);
    const std::ptrdiff_t n = nx * ny;
    pr.resize(static_cast<std::size_t>(nx));
    dr.resize(static_cast<std::size_t>(nx));
    // South row p, needed first (it does not depend on T).
    p[0] = -aE[0] / aP[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k) p[k] = -aE[k] / (aP[k] + aW[k] * p[k - 1]);
    double west = p[nx - 1];
    for (std::ptrdiff_t i = 0; i < nx; ++i) {
        dr[i] = m.W[i] * west + m.P[i];
        pr[i] = -m.E[i] / dr[i];
        west = pr[i];
    }
    if (bits(m.W[0] * pr[nx - 1] + m.P[0]) != bits(dr[0])) return false;

    // South row: north neighbours only.
    q[0] = (f[0] - aN[0] * t[nx]) / aP[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k) {
        const double d = aP[k] + aW[k] * p[k - 1];
        q[k] = ((f[k] - aN[k] * t[k + nx]) - aW[k] * q[k - 1]) / d;
    }
    // Middle rows, kRows at a time; each row's first node is started from q(k-1) = 0 and checked
    // as in the banded pass (its coefficient aW is zero in every assembled system).
    constexpr int kRows = 4;
    const double* S = m.S.data();
    const double* W = m.W.data();
    const double* Nn = m.Nn.data();
    const double* d = dr.data();
    auto node = [&](std::ptrdiff_t i, std::ptrdiff_t k, double q_west) {
        q[k] = ((f[k] - (S[i] * t[k - nx] + Nn[i] * t[k + nx])) - W[i] * q_west) / d[i];
    };
    auto row_in_order = [&](std::ptrdiff_t row) {
        for (std::ptrdiff_t i = 0; i < nx; ++i) node(i, row * nx + i, q[row * nx + i - 1]);
    };
    std::ptrdiff_t row0 = 1;
    for (; row0 + kRows <= ny - 1; row0 += kRows) {
        for (int b = 0; b < kRows; ++b) node(0, (row0 + b) * nx, 0.0);
        for (std::ptrdiff_t i = 1; i < nx; ++i) {
#pragma GCC unroll 4
            for (int b = 0; b < kRows; ++b) {
                const std::ptrdiff_t k = (row0 + b) * nx + i;
                node(i, k, q[k - 1]);
            }
        }
        for (int b = 0; b < kRows; ++b) {
            const std::ptrdiff_t k = (row0 + b) * nx;
            const double q_start = q[k];
            node(0, k, q[k - 1]);
            if (!same_bits(q_start, q[k])) {
                for (std::ptrdiff_t row = row0 + b; row < row0 + kRows; ++row) row_in_order(row);
                break;
            }
        }
    }
    for (std::ptrdiff_t row = row0; row < ny - 1; ++row) row_in_order(row);
    // North row: south neighbours only; its first node's west neighbour ends the last middle row.
    p[n - nx - 1] = pr[nx - 1];
    for (std::ptrdiff_t k = n - nx; k < n; ++k) {
        const double dk = aW[k] * p[k - 1] + aP[k];
        p[k] = -aE[k] / dk;
        q[k] = ((f[k] - aS[k] * t[k - nx]) - aW[k] * q[k - 1]) / dk;
    }

    // Back substitution, row by row from the east end, kRows rows at a time.
    for (std::ptrdiff_t row = 0; row < ny; ++row) t[row * nx + nx - 1] = q[row * nx + nx - 1];
    for (std::ptrdiff_t k = nx - 2; k >= 0; --k) t[k] = p[k] * t[k + 1] + q[k];
    for (std::ptrdiff_t k = n - 2; k >= n - nx; --k) t[k] = p[k] * t[k + 1] + q[k];
    const double* P = pr.data();
    row0 = 1;
    for (; row0 + kRows <= ny - 1; row0 += kRows)
        for (std::ptrdiff_t i = nx - 2; i >= 0; --i) {
#pragma GCC unroll 4
            for (int b = 0; b < kRows; ++b) {
                const std::ptrdiff_t k = (row0 + b) * nx + i;
                t[k] = P[i] * t[k + 1] + q[k];
            }
        }
    for (std::ptrdiff_t row = row0; row < ny - 1; ++row)
        for (std::ptrdiff_t i = nx - 2; i >= 0; --i) t[row * nx + i] = P[i] * t[row * nx + i + 1] + q[row * nx + i];
    return true;
}

// Column half-sweep of a grid whose middle rows are alike. The south row is done as in the plain
// pass; it must give one p at all its interior nodes (it does: they hold the same coefficients).
// At the interior nodes of a middle row, d and p then come from that one value and the uniform
// coefficients: one number per row. The two boundary nodes of each row and the north row are
// done as in the plain pass, reading p of the row below; p is stored for the last middle row
// for that reason. Returns false, before changing anything but p and q, if the south row's
// interior p values differ.
bool column_sweep_alike(std::ptrdiff_t nx, std::ptrdiff_t ny, const model::StencilView& a, const double* f,
                        double* t, double* p, double* q, std::vector<double>& pc) {
    const auto [aS, aW, aP, aE, aN] = model::pointers(a);
    const std::ptrdiff_t n = nx * ny;
    const double S = aS[nx + 1], W = aW[nx + 1], P = aP[nx + 1], E = aE[nx + 1], Nn = aN[nx + 1];

    p[0] = -aN[0] / aP[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k) p[k] = -aN[k] / aP[k];
    for (std::ptrdiff_t k = 2; k < nx - 1; ++k)
        if (bits(p[k]) != bits(p[1])) return false;
    q[0] = (f[0] - aE[0] * t[1]) / aP[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k) q[k] = (f[k] - (aW[k] * t[k - 1] + aE[k] * t[k + 1])) / aP[k];

    pc.resize(static_cast<std::size_t>(ny));
    pc[0] = p[1];
    auto boundary_node = [&](std::ptrdiff_t k) {
        const double d = aS[k] * p[k - nx] + aP[k];
        p[k] = -aN[k] / d;
        q[k] = ((f[k] - (aW[k] * t[k - 1] + aE[k] * t[k + 1])) - aS[k] * q[k - nx]) / d;
    };
    for (std::ptrdiff_t row = 1; row < ny - 1; ++row) {
        const std::ptrdiff_t begin = row * nx;
        const double d = S * pc[row - 1] + P;
        pc[row] = -Nn / d;
        boundary_node(begin);
#pragma GCC ivdep
        for (std::ptrdiff_t k = begin + 1; k < begin + nx - 1; ++k)
            q[k] = ((f[k] - (W * t[k - 1] + E * t[k + 1])) - S * q[k - nx]) / d;
        boundary_node(begin + nx - 1);
    }
    for (std::ptrdiff_t k = n - 2 * nx + 1; k < n - nx - 1; ++k) p[k] = pc[ny - 2];
    for (std::ptrdiff_t k = n - nx; k < n - 1; ++k) boundary_node(k);
    column_last_node(aS, aW, aP, aN, f, t, p, q, nx, n);

    for (std::ptrdiff_t k = n - nx; k < n; ++k) t[k] = q[k];
    for (std::ptrdiff_t row = ny - 2; row >= 1; --row) {
        const std::ptrdiff_t begin = row * nx;
        const double pj = pc[row];
        t[begin] = p[begin] * t[begin + nx] + q[begin];
#pragma GCC ivdep
        for (std::ptrdiff_t k = begin + 1; k < begin + nx - 1; ++k) t[k] = pj * t[k + nx] + q[k];
        t[begin + nx - 1] = p[begin + nx - 1] * t[begin + 2 * nx - 1] + q[begin + nx - 1];
    }
#pragma GCC ivdep
    for (std::ptrdiff_t k = 0; k < nx; ++k) t[k] = p[k] * t[k + nx] + q[k];
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Line factors held for a grid. The forward passes' p and d depend on the coefficients alone, not
// on T: computed once in the plain passes' order, they are the values every later half-sweep on
// the same coefficients would compute, and each node then divides once, for q.
// ---------------------------------------------------------------------------------------------

void AdiLineFactors::compute(const model::StencilView& a, int Nx, int Ny) {
    const auto [aS, aW, aP, aE, aN] = model::pointers(a);
    const std::ptrdiff_t nx = Nx, n = static_cast<std::ptrdiff_t>(Nx) * Ny;
    for (Field* f : {&row_p, &row_d, &column_p, &column_d}) f->resize(static_cast<std::size_t>(n));
    double* p = row_p.data();
    double* d = row_d.data();
    // Row half-sweep: the south row's d is aP + aW p(k-1), the other rows' aW p(k-1) + aP.
    d[0] = aP[0];
    p[0] = -aE[0] / aP[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k) {
        d[k] = aP[k] + aW[k] * p[k - 1];
        p[k] = -aE[k] / d[k];
    }
    for (std::ptrdiff_t k = nx; k < n; ++k) {
        d[k] = aW[k] * p[k - 1] + aP[k];
        p[k] = -aE[k] / d[k];
    }
    // Column half-sweep: the south row divides by aP, every other node by aS p(k-Nx) + aP.
    p = column_p.data();
    d = column_d.data();
    for (std::ptrdiff_t k = 0; k < nx; ++k) {
        d[k] = aP[k];
        p[k] = -aN[k] / aP[k];
    }
    for (std::ptrdiff_t k = nx; k < n; ++k) {
        d[k] = aS[k] * p[k - nx] + aP[k];
        p[k] = -aN[k] / d[k];
    }
}

namespace {

// Row half-sweep q of rows 1..Ny-1 (0-based) from the held p and d, bands of kBandRows rows, each
// row started from q(k-1) = 0 and checked as in row_forward_passes (only q depends on the row
// below: p and d are the held values).
template <int kBandRows, class Interior>
void row_q_passes(const ArrayCoefficients& c, const Interior in, const double* d, const double* t, double* q,
                  std::ptrdiff_t nx, std::ptrdiff_t ny) {
    auto node = [&](const auto& a, std::ptrdiff_t k, bool top, double q_west) {
        const double coupling = top ? a.aS[k] * t[k - nx] : a.aS[k] * t[k - nx] + a.aN[k] * t[k + nx];
        q[k] = ((a.f[k] - coupling) - a.aW[k] * q_west) / d[k];
    };
    auto row_in_order = [&](std::ptrdiff_t row) {
        const bool top = row == ny - 1;
        for (std::ptrdiff_t k = row * nx; k < (row + 1) * nx; ++k) node(c, k, top, q[k - 1]);
    };
    std::ptrdiff_t row0 = 1;
    for (; row0 + kBandRows <= ny - 1; row0 += kBandRows) {
        for (std::ptrdiff_t i = 0; i < nx - 1; ++i) {
#pragma GCC unroll 8
            for (int b = 0; b < kBandRows; ++b) {
                const std::ptrdiff_t k = (row0 + b) * nx + i;
                if (i == 0)
                    node(c, k, false, 0.0);
                else
                    node(in, k, false, q[k - 1]);
            }
        }
        for (int b = 0; b < kBandRows; ++b) {
            const std::ptrdiff_t k = (row0 + b) * nx + nx - 1;
            node(c, k, false, q[k - 1]);
        }
        for (int b = 0; b < kBandRows; ++b) {
            const std::ptrdiff_t k = (row0 + b) * nx;
            const double q_start = q[k];
            node(c, k, false, q[k - 1]);
            if (!same_bits(q_start, q[k])) {
                for (std::ptrdiff_t row = row0 + b; row < row0 + kBandRows; ++row) row_in_order(row);
                break;
            }
        }
    }
    for (std::ptrdiff_t row = row0; row < ny; ++row) row_in_order(row);
}

template <class Interior>
void row_sweep_held(int Nx, int Ny, const ArrayCoefficients& c, const Interior& in, const AdiLineFactors& lines,
                    std::span<double> T, AdiWork& work) {
    double* t = T.data();
    double* q = work.q.data();
    const double* p = lines.row_p.data();
    const double* d = lines.row_d.data();
    const std::ptrdiff_t nx = Nx, ny = Ny;
    q[0] = (c.f[0] - c.aN[0] * t[nx]) / d[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k) q[k] = ((c.f[k] - c.aN[k] * t[k + nx]) - c.aW[k] * q[k - 1]) / d[k];
    with_band_rows(Nx, [&](auto rows) {
        row_q_passes<rows()>(c, in, d, t, q, nx, ny);
        row_back_substitutions<rows()>(t, p, q, nx, ny);
    });
}

}  // namespace

void adi_row_sweep_held(int Nx, int Ny, const model::StencilView& a, const UniformInterior& uniform,
                        const AdiLineFactors& lines, std::span<const double> b, std::span<double> T, AdiWork& work) {
    const ArrayCoefficients c = array_coefficients(a, b);
    if (uniform.east_and_north()) {
        const Coefficients<Coefficient<true>, Coefficient<true>> held{
            c.aS, c.aW, c.aP, {nullptr, *uniform.aE}, {nullptr, *uniform.aN}, c.f};
        row_sweep_held(Nx, Ny, c, held, lines, T, work);
    } else {
        row_sweep_held(Nx, Ny, c, c, lines, T, work);
    }
}

void adi_column_sweep_held(int Nx, int Ny, const model::StencilView& a, const AdiLineFactors& lines,
                           std::span<const double> b, std::span<double> T, AdiWork& work) {
    const double* __restrict aS = a.aS.data();
    const double* __restrict aW = a.aW.data();
    const double* __restrict aE = a.aE.data();
    const double* __restrict f = b.data();
    const double* __restrict p = lines.column_p.data();
    const double* __restrict d = lines.column_d.data();
    double* t = T.data();
    double* __restrict q = work.q.data();
    const std::ptrdiff_t nx = Nx, ny = Ny, n = nx * ny;
    q[0] = (f[0] - aE[0] * t[1]) / d[0];
    for (std::ptrdiff_t k = 1; k < nx; ++k) q[k] = (f[k] - (aW[k] * t[k - 1] + aE[k] * t[k + 1])) / d[k];
    for (std::ptrdiff_t row = 1; row < ny; ++row) {
        const std::ptrdiff_t begin = row * nx;
        const std::ptrdiff_t end = (row == ny - 1) ? n - 1 : begin + nx;
#pragma GCC ivdep
        for (std::ptrdiff_t k = begin; k < end; ++k)
            q[k] = ((f[k] - (aW[k] * t[k - 1] + aE[k] * t[k + 1])) - aS[k] * q[k - nx]) / d[k];
    }
    {
        const std::ptrdiff_t k = n - 1;
        q[k] = ((f[k] - aW[k] * t[k - 1]) - aS[k] * q[k - nx]) / d[k];
    }
    for (std::ptrdiff_t k = n - nx; k < n; ++k) t[k] = q[k];
    for (std::ptrdiff_t row = ny - 2; row >= 0; --row) {
#pragma GCC ivdep
        for (std::ptrdiff_t k = row * nx; k < row * nx + nx; ++k) t[k] = p[k] * t[k + nx] + q[k];
    }
}

bool adi_rows_alike(int Nx, int Ny, const model::StencilView& a) {
    AdiWork::MiddleRows rows;
    return middle_rows_alike(a, Nx, Ny, rows);
}

void adi_solve_plain(int Nx, int Ny, int count, const model::StencilView& a, std::span<const double> b,
                     std::span<double> T, AdiWork& work) {
    for (int iteration = 0; iteration < count; ++iteration) {
        adi_row_sweep_plain(Nx, Ny, a, b, T, work);
        adi_column_sweep(Nx, Ny, a, b, T, work);
    }
}

namespace {

void adi_iterations(int Nx, int Ny, int count, const model::StencilView& a, const UniformInterior* known,
                    AdiLineCache* cache, std::span<const double> b, std::span<double> T, AdiWork& work) {
    if (count < 1) return;
    const bool alike = middle_rows_alike(a, Nx, Ny, work.middle_rows, known);
    double* t = T.data();
    double* p = work.p.data();
    double* q = work.q.data();
    const bool banded = adi_banded_pays(Nx, Ny);
    auto lines = [&]() -> const AdiLineFactors* {
        if (!cache || !known || !banded || !AdiLineCache::pays(static_cast<long long>(Nx) * Ny)) return nullptr;
        if (!cache->ready) {
            cache->lines.compute(a, Nx, Ny);
            cache->ready = true;
        }
        return &cache->lines;
    };
    for (int iteration = 0; iteration < count; ++iteration) {
        if (!alike || !row_sweep_alike(work.middle_rows, Nx, Ny, a, b.data(), t, p, q, work.row_p, work.row_d)) {
            if (const AdiLineFactors* held = lines())
                adi_row_sweep_held(Nx, Ny, a, *known, *held, b, T, work);
            else if (known && banded && Nx >= kAdiHeldMinNx)
                adi_row_sweep_banded(Nx, Ny, a, *known, b, T, work);
            else
                adi_row_sweep(Nx, Ny, a, b, T, work);
        }
        if (!alike || !column_sweep_alike(Nx, Ny, a, b.data(), t, p, q, work.column_p)) {
            if (const AdiLineFactors* held = lines())
                adi_column_sweep_held(Nx, Ny, a, *held, b, T, work);
            else
                adi_column_sweep(Nx, Ny, a, b, T, work);
        }
    }
}

}  // namespace

void adi_solve(int Nx, int Ny, int N, int count, const model::StencilView& a, std::span<const double> b,
               std::span<double> T, AdiWork& work) {
    (void)N;
    adi_iterations(Nx, Ny, count, a, nullptr, nullptr, b, T, work);
}

void adi_solve(int Nx, int Ny, int N, int count, const model::StencilView& a, const UniformInterior& uniform,
               std::span<const double> b, std::span<double> T, AdiWork& work) {
    (void)N;
    adi_iterations(Nx, Ny, count, a, &uniform, nullptr, b, T, work);
}

void adi_solve(int Nx, int Ny, int N, int count, const model::StencilView& a, const UniformInterior& uniform,
               AdiLineCache& cache, std::span<const double> b, std::span<double> T, AdiWork& work) {
    (void)N;
    adi_iterations(Nx, Ny, count, a, &uniform, &cache, b, T, work);
}

}  // namespace advdiff::solvers
