#include "solvers/adi.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace advdiff::solvers {

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Rows whose forward passes run interleaved, so that their division chains overlap.
constexpr int kBandRows = 8;

struct Coefficients {
    const double* __restrict aS;
    const double* __restrict aW;
    const double* __restrict aP;
    const double* __restrict aE;
    const double* __restrict aN;
    const double* __restrict f;
};

// Forward pass of one node of a row j = 2..Ny (0-based row >= 1) from the west node's p, q:
//   d = aW p(k-1) + aP; p = -aE/d; q = ((b - south/north) - aW q(k-1)) / d,
// where the south/north part is (aS T(k-Nx) + aN T(k+Nx)) on the middle rows and aS T(k-Nx) on
// the top row.
inline void row_node(const Coefficients& c, const double* t, double* p, double* q, std::ptrdiff_t nx, std::ptrdiff_t k,
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
// order. The result is that of the plain node-by-node pass.
void row_forward_passes(const Coefficients& c, const double* t, double* p, double* q, std::ptrdiff_t nx,
                        std::ptrdiff_t ny) {
    auto row_in_order = [&](std::ptrdiff_t row) {
        const bool top = row == ny - 1;
        for (std::ptrdiff_t k = row * nx; k < (row + 1) * nx; ++k) row_node(c, t, p, q, nx, k, top, p[k - 1], q[k - 1]);
    };
    std::ptrdiff_t row0 = 1;
    for (; row0 + kBandRows <= ny - 1; row0 += kBandRows) {  // middle rows only
        for (std::ptrdiff_t i = 0; i < nx; ++i) {
#pragma GCC unroll 8
            for (int b = 0; b < kBandRows; ++b) {
                const std::ptrdiff_t k = (row0 + b) * nx + i;
                if (i == 0)
                    row_node(c, t, p, q, nx, k, false, 0.0, 0.0);
                else
                    row_node(c, t, p, q, nx, k, false, p[k - 1], q[k - 1]);
            }
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

void adi_solve(int Nx, int Ny, int N, int count, const model::StencilView& a, std::span<const double> b,
               std::span<double> T, AdiWork& work) {
    const Coefficients c{a.aS.data(), a.aW.data(), a.aP.data(), a.aE.data(), a.aN.data(), b.data()};
    const double* __restrict aS = c.aS;
    const double* __restrict aW = c.aW;
    const double* __restrict aP = c.aP;
    const double* __restrict aE = c.aE;
    const double* __restrict aN = c.aN;
    const double* __restrict f = c.f;
    double* t = T.data();
    double* __restrict p = work.p.data();
    double* __restrict q = work.q.data();
    const std::ptrdiff_t nx = Nx, ny = Ny, n = N;

    for (int iteration = 0; iteration < count; ++iteration) {
        // Row half-sweep: the forward pass of every row is done before T changes.
        p[0] = -aE[0] / aP[0];
        q[0] = (f[0] - aN[0] * t[nx]) / aP[0];
        for (std::ptrdiff_t k = 1; k < nx; ++k) {
            const double d = aP[k] + aW[k] * p[k - 1];
            p[k] = -aE[k] / d;
            q[k] = ((f[k] - aN[k] * t[k + nx]) - aW[k] * q[k - 1]) / d;
        }
        row_forward_passes(c, t, p, q, nx, ny);
        row_back_substitutions(t, p, q, nx, ny);

        // Column half-sweep: the south row starts every column. The columns are independent
        // lines, so the forward pass walks the rows in storage order, every node of a row at once
        // (the same operations on the same values as column by column).
        const double* tc = t;
        p[0] = -aN[0] / aP[0];
        q[0] = (f[0] - aE[0] * tc[1]) / aP[0];
        for (std::ptrdiff_t k = 1; k < nx; ++k) {
            p[k] = -aN[k] / aP[k];
            q[k] = (f[k] - (aW[k] * tc[k - 1] + aE[k] * tc[k + 1])) / aP[k];
        }
        for (std::ptrdiff_t row = 1; row < ny; ++row) {
            const std::ptrdiff_t begin = row * nx;
            const std::ptrdiff_t end = (row == ny - 1) ? n - 1 : begin + nx;
#pragma GCC ivdep
            for (std::ptrdiff_t k = begin; k < end; ++k) {
                const double d = aS[k] * p[k - nx] + aP[k];
                p[k] = -aN[k] / d;
                q[k] = ((f[k] - (aW[k] * tc[k - 1] + aE[k] * tc[k + 1])) - aS[k] * q[k - nx]) / d;
            }
        }
        {
            // Node N has no east neighbour: its bracket is aW T(N-1) alone.
            const std::ptrdiff_t k = n - 1;
            const double d = aS[k] * p[k - nx] + aP[k];
            p[k] = -aN[k] / d;
            q[k] = ((f[k] - aW[k] * tc[k - 1]) - aS[k] * q[k - nx]) / d;
        }
        for (std::ptrdiff_t k = n - nx; k < n; ++k) t[k] = q[k];
        for (std::ptrdiff_t row = ny - 2; row >= 0; --row) {
#pragma GCC ivdep
            for (std::ptrdiff_t k = row * nx; k < row * nx + nx; ++k) t[k] = p[k] * t[k + nx] + q[k];
        }
    }
}

}  // namespace advdiff::solvers
