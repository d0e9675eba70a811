#include "stencil.hpp"

#include <cstring>
#include <vector>

#include "exact_arithmetic.hpp"

namespace advdiff::reference {

namespace {

// Calls row.template operator()<S, N>(start) for the rows first .. last (1-based) of an Nx x Ny
// grid, bottom to top, with start the node index of the row's first node and S, N whether it has
// rows below and above.
template <class Row>
void for_each_row(int Nx, int Ny, int first, int last, Row&& row) {
    for (int j = first; j <= last; ++j) {
        const std::ptrdiff_t start = static_cast<std::ptrdiff_t>(j - 1) * Nx;
        if (j > 1 && j < Ny) row.template operator()<true, true>(start);
        else if (j > 1) row.template operator()<true, false>(start);
        else if (j < Ny) row.template operator()<false, true>(start);
        else row.template operator()<false, false>(start);
    }
}

template <class Row>
void for_each_row(int Nx, int Ny, Row&& row) {
    for_each_row(Nx, Ny, 1, Ny, row);
}

// Visits the nodes of the rows first .. last of an Nx x Ny grid row by row (i fastest), calling
// visit.template operator()<W, E, S, N>(k) with the neighbours that exist as template flags, so
// that the interior of each row runs without a test per node.
template <class Visit>
void for_each_node(int Nx, int Ny, int first, int last, Visit&& visit) {
    const std::ptrdiff_t nx = Nx;
    for_each_row(Nx, Ny, first, last, [&]<bool S, bool N>(std::ptrdiff_t start) {
        if (nx == 1) {
            visit.template operator()<false, false, S, N>(start);
            return;
        }
        visit.template operator()<false, true, S, N>(start);
        for (std::ptrdiff_t k = start + 1; k < start + nx - 1; ++k) visit.template operator()<true, true, S, N>(k);
        visit.template operator()<true, false, S, N>(start + nx - 1);
    });
}

template <class Visit>
void for_each_node(int Nx, int Ny, Visit&& visit) {
    for_each_node(Nx, Ny, 1, Ny, visit);
}

// s + c -= a * (xh + xl): the product of a and xh exactly, the one of a and the small xl rounded
// (its error is below the precision kept); the roundings of the running sum s go into c.
inline void subtract_product(double& s, double& c, double a, double xh, double xl) {
    const DoubleDouble p = two_product(a, xh);
    const DoubleDouble t = two_sum(s, -p.hi);
    s = t.hi;
    c += (t.lo - p.lo) - a * xl;
}

// What the exact residual of a node reads; without x_lo (Low false) its terms are 0.
struct ResidualTerms {
    model::StencilPointers a;
    const double *b, *x_hi, *x_lo;
    std::ptrdiff_t nx;

    template <bool Low>
    double low(std::ptrdiff_t k) const {
        if constexpr (Low) return x_lo[k];
        else return 0.0;
    }

    template <bool W, bool E, bool S, bool N, bool Low>
    double at(std::ptrdiff_t k) const {
        double s = b[k], c = 0.0;
        subtract_product(s, c, a.aP[k], x_hi[k], low<Low>(k));
        if constexpr (W) subtract_product(s, c, a.aW[k], x_hi[k - 1], low<Low>(k - 1));
        if constexpr (E) subtract_product(s, c, a.aE[k], x_hi[k + 1], low<Low>(k + 1));
        if constexpr (S) subtract_product(s, c, a.aS[k], x_hi[k - nx], low<Low>(k - nx));
        if constexpr (N) subtract_product(s, c, a.aN[k], x_hi[k + nx], low<Low>(k + nx));
        return s + c;
    }
};

// The exact residuals of the row that starts at node `start`, into out[0 .. nx - 1]. `out` shares
// no memory with the terms, so the interior loop runs in vector registers (each node's operations
// exactly as written).
template <bool S, bool N, bool Low>
[[gnu::noinline]] void residual_row(const ResidualTerms& terms, std::ptrdiff_t start, double* __restrict out) {
    const ResidualTerms t = terms;
    if (t.nx == 1) {
        out[0] = t.at<false, false, S, N, Low>(start);
        return;
    }
    out[0] = t.at<false, true, S, N, Low>(start);
    for (std::ptrdiff_t i = 1; i < t.nx - 1; ++i) out[i] = t.at<true, true, S, N, Low>(start + i);
    out[t.nx - 1] = t.at<true, false, S, N, Low>(start + t.nx - 1);
}

}  // namespace

double max_norm(std::span<const double> v) {
    double norm = 0.0;
    for (const double value : v) norm = max_magnitude(norm, value);
    return norm;
}

std::optional<double> uniform_interior_value(std::span<const double> a, int Nx, int Ny) {
    if (Nx < 3 || Ny < 3) return std::nullopt;
    const double first = a[node(2, 2, Nx)];
    for (int j = 2; j <= Ny - 1; ++j)
        for (int i = 2; i <= Nx - 1; ++i) {
            const double value = a[node(i, j, Nx)];
            if (std::memcmp(&value, &first, sizeof value) != 0) return std::nullopt;
        }
    return first;
}

SystemMatrix::SystemMatrix(const model::StencilView& a, int Nx, int Ny) : a(a), Nx(Nx), Ny(Ny) {
    east = uniform_interior_value(a.aE, Nx, Ny);
    north = east ? uniform_interior_value(a.aN, Nx, Ny) : std::nullopt;
    if (!north) east.reset();
}

namespace {

template <bool Uniform>
void multiply_rows(const SystemMatrix& A, std::span<const float> x, std::span<double> y, int first, int last) {
    const auto [aS, aW, aP, aE, aN] = model::pointers(A.a);
    const double east = Uniform ? *A.east : 0.0, north = Uniform ? *A.north : 0.0;
    const float* X = x.data();
    double* Y = y.data();
    const std::ptrdiff_t nx = A.Nx;
    for_each_node(A.Nx, A.Ny, first, last, [&]<bool W, bool E, bool S, bool N>(std::ptrdiff_t k) {
        constexpr bool interior = Uniform && W && E && S && N;
        double sum = aP[k] * static_cast<double>(X[k]);
        if constexpr (W) sum += aW[k] * static_cast<double>(X[k - 1]);
        if constexpr (interior) sum += east * static_cast<double>(X[k + 1]);
        else if constexpr (E) sum += aE[k] * static_cast<double>(X[k + 1]);
        if constexpr (S) sum += aS[k] * static_cast<double>(X[k - nx]);
        if constexpr (interior) sum += north * static_cast<double>(X[k + nx]);
        else if constexpr (N) sum += aN[k] * static_cast<double>(X[k + nx]);
        Y[k] = sum;
    });
}

}  // namespace

void multiply_rows(const SystemMatrix& A, std::span<const float> x, std::span<double> y, int first, int last) {
    if (A.east) multiply_rows<true>(A, x, y, first, last);
    else multiply_rows<false>(A, x, y, first, last);
}

double exact_residual(const model::StencilView& a, std::span<const double> b, int Nx, int Ny,
                      std::span<const double> x_hi, std::span<const double> x_lo, std::span<double> r) {
    const ResidualTerms terms{model::pointers(a), b.data(), x_hi.data(), x_lo.data(), Nx};
    // A row at a time into r (or a row of scratch when only the norm is wanted), then its norm.
    std::vector<double> scratch(r.empty() ? static_cast<std::size_t>(Nx) : 0);
    double norm = 0.0;
    for_each_row(Nx, Ny, [&]<bool S, bool N>(std::ptrdiff_t start) {
        double* const out = r.empty() ? scratch.data() : r.data() + start;
        if (x_lo.empty()) residual_row<S, N, false>(terms, start, out);
        else residual_row<S, N, true>(terms, start, out);
        for (std::ptrdiff_t i = 0; i < Nx; ++i) norm = max_magnitude(norm, out[i]);
    });
    return norm;
}

double equation_scale(const model::StencilView& a, std::span<const double> b, int Nx, int Ny,
                      std::span<const double> x) {
    const auto [aS, aW, aP, aE, aN] = model::pointers(a);
    const double* X = x.data();
    const std::ptrdiff_t nx = Nx;
    double scale = 0.0;
    for_each_node(Nx, Ny, [&]<bool W, bool E, bool S, bool N>(std::ptrdiff_t k) {
        double sum = std::fabs(b[static_cast<std::size_t>(k)]) + std::fabs(aP[k] * X[k]);
        if constexpr (W) sum += std::fabs(aW[k] * X[k - 1]);
        if constexpr (E) sum += std::fabs(aE[k] * X[k + 1]);
        if constexpr (S) sum += std::fabs(aS[k] * X[k - nx]);
        if constexpr (N) sum += std::fabs(aN[k] * X[k + nx]);
        scale = max_magnitude(scale, sum);
    });
    return scale;
}

std::optional<NodeIndex> first_unsmoothable_node(const model::StencilView& a, int Nx, int Ny) {
    const auto [aS, aW, aP, aE, aN] = model::pointers(a);
    for (int j = 2; j <= Ny - 1; ++j) {
        for (int i = 2; i <= Nx - 1; ++i) {
            const std::size_t k = node(i, j, Nx);
            const double p = aP[k];
            const bool opposite = p > 0.0 ? (aW[k] <= 0.0 && aE[k] <= 0.0 && aS[k] <= 0.0 && aN[k] <= 0.0)
                                          : (aW[k] >= 0.0 && aE[k] >= 0.0 && aS[k] >= 0.0 && aN[k] >= 0.0);
            if (!(std::isfinite(p) && p != 0.0 && opposite)) return NodeIndex{i, j};
        }
    }
    return std::nullopt;
}

}  // namespace advdiff::reference
