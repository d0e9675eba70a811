// Alternating-direction line relaxation (adi_solve in kernels.hpp), each line a tridiagonal system
// solved by the Thomas algorithm: a forward pass leaves T(k) = p(k) T(next) + q(k), a back
// substitution solves it. The plain loops come first. The row half-sweep walks the nodes in the
// defining order (a row's first node takes p and q of the last node of the row below, whose aW is
// zero). The column half-sweep walks the rows in storage order: the columns are independent
// lines, so each node sees the same operations on the same values as column by column.

#include <cstddef>
#include <cstring>

#include "solvers/bands.hpp"
#include "solvers/kernels.hpp"

namespace advdiff::solvers {

namespace {

// q of a line's node: ((b - (the two neighbours off the line)) - the coefficient towards the line's
// previous node times its q) / d, with the terms of Has only. Rows: the neighbours south and north,
// the previous node west; columns: west and east, and south.
template <unsigned Has, unsigned Off1, unsigned Off2, unsigned Previous, class S>
inline double line_q(const S& a, const double* f, const double* t, std::ptrdiff_t nx, std::ptrdiff_t k,
                     double q_previous, double d) {
    double v = f[k] - sum<Has & (Off1 | Off2), Off1, Off2>(a, t, nx, k);
    if constexpr ((Has & Previous) != 0) v = v - coefficient<Previous>(a, k) * q_previous;
    return v / d;
}
template <unsigned Has, class S, class... Rest>
inline double row_q(const S& a, Rest... rest) { return line_q<Has, kS, kN, kW>(a, rest...); }
template <unsigned Has, class S, class... Rest>
inline double column_q(const S& a, Rest... rest) { return line_q<Has, kW, kE, kS>(a, rest...); }

// The divisors of the forward passes, summed as the plain passes define them (a row's first node,
// no west term; a column's, no south term).
inline double row_divisor(const ArrayStencil& a, const double* p, std::ptrdiff_t nx, std::ptrdiff_t k) {
    return k == 0 ? a.aP[0] : k < nx ? a.aP[k] + a.aW[k] * p[k - 1] : a.aW[k] * p[k - 1] + a.aP[k];
}
inline double column_divisor(const ArrayStencil& a, const double* p, std::ptrdiff_t nx, std::ptrdiff_t k) {
    return k < nx ? a.aP[k] : a.aS[k] * p[k - nx] + a.aP[k];
}

void plain_rows(const ArrayStencil& a, const double* f, double* t, double* p, double* q, std::ptrdiff_t nx,
                std::ptrdiff_t n) {
    for_nodes(nx, n, 0, n, [&]<unsigned Has>(std::ptrdiff_t k) {
        const double d = row_divisor(a, p, nx, k);
        p[k] = -a.aE[k] / d;
        q[k] = row_q<Has>(a, f, t, nx, k, k > 0 ? q[k - 1] : 0.0, d);
    });
    for (std::ptrdiff_t last = nx - 1; last < n; last += nx) {
        t[last] = q[last];
        for (std::ptrdiff_t k = last - 1; k > last - nx; --k) t[k] = p[k] * t[k + 1] + q[k];
    }
}

void plain_columns(const ArrayStencil& a, const double* f, double* t, double* p, double* q, std::ptrdiff_t nx,
                   std::ptrdiff_t n) {
    for_nodes(nx, n, 0, n, [&]<unsigned Has>(std::ptrdiff_t k) {
        const double d = column_divisor(a, p, nx, k);
        p[k] = -a.aN[k] / d;
        q[k] = column_q<Has>(a, f, t, nx, k, k >= nx ? q[k - nx] : 0.0, d);
    });
    for (std::ptrdiff_t k = n - nx; k < n; ++k) t[k] = q[k];
    for (std::ptrdiff_t k = n - nx - 1; k >= 0; --k) t[k] = p[k] * t[k + nx] + q[k];
}

// The row half-sweep's q of the middle rows from the held p and d, rows in bands (rows are
// independent lines except through the linked first node, bands.hpp). `interior` serves the
// interior nodes; the boundary nodes read the arrays.
template <class S, class Done>
struct RowPass : BandPass {
    Done finish;  // called with r: the forward pass is done up to row r (its row above no longer reads T)
    S interior;
    ArrayStencil a;
    const double *f, *t, *d;
    double* q;
    std::ptrdiff_t nx, stride;  // d of middle row r at d[nx + (r - 1) stride + i] (stride 0: rows alike)
    // q of position i of row r, the coefficients from `c`, the west node's q taken as `west`.
    template <class C>
    double value(const C& c, std::ptrdiff_t r, std::ptrdiff_t i, double west) const {
        return row_q<kS | kN | kW>(c, f, t, nx, r * nx + i, west, d[nx + (r - 1) * stride + i]);
    }
    void node(std::ptrdiff_t r, std::ptrdiff_t i) { q[r * nx + i] = value(a, r, i, i == 0 ? 0.0 : q[r * nx + i - 1]); }
    // Between a row's boundary nodes, the values held as numbers: the arrays' bits there.
    std::pair<std::ptrdiff_t, std::ptrdiff_t> held(std::ptrdiff_t) const { return {1, nx - 1}; }
    void held_node(std::ptrdiff_t r, std::ptrdiff_t i) { q[r * nx + i] = value(interior, r, i, q[r * nx + i - 1]); }
    // Rows r and r + 1 at positions i and j in the two lanes: row_q's operations lane by lane.
    void held_pair(std::ptrdiff_t r, std::ptrdiff_t i, std::ptrdiff_t j) {
        const std::ptrdiff_t k[kLanes] = {r * nx + i, (r + 1) * nx + j};
        const std::ptrdiff_t at_d[kLanes] = {nx + (r - 1) * stride + i, nx + r * stride + j};
        const S& c = interior;
        const Lanes v = ((gather(f, k) - (gather(c.aS, k) * gather(t, k, -nx) + gather(c.aN, k) * gather(t, k, nx))) -
                         gather(c.aW, k) * gather(q, k, -1)) / gather(d, at_d);
        q[k[0]] = v[0], q[k[1]] = v[1];
    }
    bool start_holds(std::ptrdiff_t r) { return same_bits(q[r * nx], value(a, r, 0, q[r * nx - 1])); }
    void row(std::ptrdiff_t r) {
        for (std::ptrdiff_t i = 0; i < nx; ++i) q[r * nx + i] = value(a, r, i, q[r * nx + i - 1]);
    }
    void done(std::ptrdiff_t, std::ptrdiff_t r1) { finish(r1 - 1); }
};

// T(k) = p(k) T(k+1) + q(k) from the east end of every row (independent lines): position i of row
// r is node (Nx-1-i, r+1), 1-based.
struct BackRows : BandPass {
    const double *p, *q;
    double* t;
    std::ptrdiff_t nx, ny, stride;  // p of middle row r at p[nx + (r - 1) stride + i] (0: rows alike)
    void from(std::ptrdiff_t p_row, std::ptrdiff_t r, std::ptrdiff_t i) {  // p of row r at p[p_row ...]
        const std::ptrdiff_t k = r * nx + nx - 2 - i;
        t[k] = p[p_row + nx - 2 - i] * t[k + 1] + q[k];
    }
    bool middle(std::ptrdiff_t r) const { return r > 0 && r < ny - 1; }  // reads the middle rows' p
    void node(std::ptrdiff_t r, std::ptrdiff_t i) { from(middle(r) ? nx + (r - 1) * stride : r * nx, r, i); }
    std::pair<std::ptrdiff_t, std::ptrdiff_t> held(std::ptrdiff_t r) const { return {0, middle(r) ? nx - 1 : 0}; }
    void held_node(std::ptrdiff_t r, std::ptrdiff_t i) { from(nx + (r - 1) * stride, r, i); }
    void row(std::ptrdiff_t r) { for (std::ptrdiff_t i = 0; i < nx - 1; ++i) node(r, i); }
};

// Eight rows in flight while a band's rows stay in the cache (measured fastest up to 160 nodes a
// row) or where the rows are alike (all read one row of p and d: fewer streams), four otherwise.
template <class Pass>
void rows_in_bands(Pass& pass, std::ptrdiff_t first, std::ptrdiff_t end, std::ptrdiff_t m, std::ptrdiff_t nx) {
    if (nx <= 160 || pass.stride == 0) run_in_bands<8, 0>(pass, first, end, m, nx);
    else run_in_bands<4, 0>(pass, first, end, m, nx);
}

template <class S>
void held_iteration(const S& interior, const GridSystem& s, const double* f, double* t, double* q, bool interleave) {
    const ArrayStencil a = array_stencil(s.view());
    const std::ptrdiff_t nx = s.grid.Nx, ny = s.grid.Ny, n = s.grid.N();
    const AdiLines& lines = s.adi;
    // Row half-sweep: the south row, the middle rows in bands, the north row; then the column
    // half-sweep's forward pass. Paired (interleave), row r's back substitution (which changes T of
    // row r, read by the forward pass of rows r - 1 and r + 1) runs once those are done, while its
    // rows are still in the cache, and the column forward pass of row r (which reads T of row r and
    // of the nodes beside its ends, the last of row r - 1 and the first of row r + 1, and q of row
    // r - 1, which it overwrites) once row r + 1 has its new T, in order. Every node reads the
    // values it reads when each pass runs whole.
    const double *row_d = lines.row_d.data(), *column_d = lines.column_d.data();
    auto row_edge = [&]<unsigned Has>(std::ptrdiff_t k) {
        q[k] = row_q<Has>(a, f, t, nx, k, k > 0 ? q[k - 1] : 0.0, row_d[k]);
    };
    auto column_edge = [&]<unsigned Has>(std::ptrdiff_t k) {
        q[k] = column_q<Has>(a, f, t, nx, k, k >= nx ? q[k - nx] : 0.0, column_d[k]);
    };
    // d and p of the column half-sweep's middle rows: the arrays, or (columns alike) the row's one value.
    auto row_values = [&](const double* x, std::ptrdiff_t begin, bool alike, auto&& body) {
        if (alike) body(Coefficient<true>{nullptr, x[begin + 1]});
        else body(Coefficient<false>{x});
    };
    auto column_row = [&](std::ptrdiff_t r) {
        const std::ptrdiff_t begin = r * nx;
        if (r == 0 || r == ny - 1) return for_nodes(nx, n, begin, begin + nx, column_edge);
        column_edge.template operator()<kAround>(begin);
        // Copies, which the stores to q cannot alias: the loop then vectorises (65 x 65: 0.95 of the time).
        row_values(column_d, begin, lines.columns_alike, [&, c = interior, f = f, t = t, q = q](auto dr) {
#pragma GCC ivdep
            for (std::ptrdiff_t k = begin + 1; k < begin + nx - 1; ++k)
                q[k] = column_q<kW | kE | kS>(c, f, t, nx, k, q[k - nx], dr[k]);
        });
        column_edge.template operator()<kAround>(begin + nx - 1);
    };
    const std::ptrdiff_t stride = lines.rows_alike ? 0 : nx;
    BackRows back{{}, lines.row_p.data(), q, t, nx, ny, stride};
    std::ptrdiff_t backed = 0, columned = 0;  // rows with their new T, rows with their column q
    auto finish = [&](std::ptrdiff_t upto) {
        if (!interleave && upto < ny) return;
        for (std::ptrdiff_t last = backed * nx + nx - 1; last < upto * nx; last += nx) t[last] = q[last];
        rows_in_bands(back, backed, upto, nx - 1, nx);
        for (backed = upto; columned < (upto == ny ? ny : upto - 1); ++columned) column_row(columned);
    };
    for_nodes(nx, n, 0, nx, row_edge);
    RowPass<S, decltype(finish)&> rows{{}, finish, interior, a, f, t, row_d, q, nx, stride};
    rows_in_bands(rows, 1, ny - 1, nx, nx);
    for_nodes(nx, n, n - nx, n, row_edge);
    finish(ny);

    // The column half-sweep's back substitution, row by row from the top.
    const double* p = lines.column_p.data();
    for (std::ptrdiff_t k = n - nx; k < n; ++k) t[k] = q[k];
    for (std::ptrdiff_t begin = n - 2 * nx; begin >= 0; begin -= nx) {
        const std::ptrdiff_t end = begin + nx - 1;
        t[begin] = p[begin] * t[begin + nx] + q[begin];
        row_values(p, begin, begin > 0 && lines.columns_alike, [&](auto pr) {
#pragma GCC ivdep
            for (std::ptrdiff_t k = begin + 1; k < end; ++k) t[k] = pr[k] * t[k + nx] + q[k];
        });
        if (end > begin) t[end] = p[end] * t[end + nx] + q[end];
    }
}

}  // namespace

// p and d do not depend on T: computed once in the plain passes' order, they are the values every
// half-sweep on the same coefficients computes, and each node then divides once, for q.
void adi_line_factors(const model::StencilView& v, Grid g, AdiLines& lines) {
    const std::ptrdiff_t nx = g.Nx, n = g.N();
    for (Field* f : {&lines.row_p, &lines.row_d, &lines.column_p, &lines.column_d})
        f->assign(static_cast<std::size_t>(n), 0.0);
    const ArrayStencil a = array_stencil(v);
    // A row whose aW, aP and aE are those of the row below, and which starts from the same p as
    // that row did, repeats its operations on the same values: its p and d are copied. The middle
    // rows are alike when each is such a copy of the one below.
    auto same_row = [&](Coefficient<false> c, std::ptrdiff_t row) {
        return std::memcmp(c.values + row, c.values + row - nx, sizeof(double) * static_cast<std::size_t>(nx)) == 0;
    };
    double *p = lines.row_p.data(), *d = lines.row_d.data();
    lines.rows_alike = lines.columns_alike = g.Ny >= 3 && g.Nx >= 3;
    for (std::ptrdiff_t row = 0; row < n; row += nx) {
        const bool copy = row >= 2 * nx && same_bits(p[row - 1], p[row - nx - 1]) && same_row(a.aW, row) &&
                          same_row(a.aP, row) && same_row(a.aE, row);
        if (row >= 2 * nx && row < n - nx) lines.rows_alike = lines.rows_alike && copy;
        for (std::ptrdiff_t k = row; k < row + nx; ++k) {
            d[k] = copy ? d[k - nx] : row_divisor(a, p, nx, k);
            p[k] = copy ? p[k - nx] : -a.aE[k] / d[k];
        }
    }
    p = lines.column_p.data(), d = lines.column_d.data();
    for (std::ptrdiff_t k = 0; k < n; ++k) {
        d[k] = column_divisor(a, p, nx, k);
        p[k] = -a.aN[k] / d[k];
    }
    for (std::ptrdiff_t row = nx; row < n - nx && lines.columns_alike; row += nx)
        for (std::ptrdiff_t k = row + 2; k < row + nx - 1; ++k)
            lines.columns_alike = lines.columns_alike && same_bits(p[k], p[row + 1]) && same_bits(d[k], d[row + 1]);
}

// Up to this many nodes the passes stay in the cache and each runs faster whole (the benchmark:
// 65 x 65 and 129 x 129); beyond, they pair (257 x 257 and up: 0.8-0.9 of the time).
constexpr std::ptrdiff_t kCachedNodes = std::ptrdiff_t{1} << 15;

void adi_solve(const AdiParams& p, const GridSystem& s, std::span<const double> b, std::span<double> T,
               Scratch& scratch) {
    double* t = T.data();
    const double* f = b.data();
    if (p.path == Path::plain || s.adi.row_p.empty()) {
        const ArrayStencil a = array_stencil(s.view());
        for (int iteration = 0; iteration < p.iteration_count; ++iteration) {
            plain_rows(a, f, t, scratch.v[0].data(), scratch.v[1].data(), s.grid.Nx, s.grid.N());
            plain_columns(a, f, t, scratch.v[0].data(), scratch.v[1].data(), s.grid.Nx, s.grid.N());
        }
        return;
    }
    const bool interleave = p.path == Path::paired || (p.path == Path::automatic && s.grid.N() > kCachedNodes);
    with_stencil(s.view(), s.uniform, [&](const auto& interior) {
        for (int iteration = 0; iteration < p.iteration_count; ++iteration)
            held_iteration(interior, s, f, t, scratch.v[1].data(), interleave);
    });
}

}  // namespace advdiff::solvers
