#include "stencil.hpp"

#include "exact_arithmetic.hpp"

namespace advdiff::reference {

namespace {

// Visits the nodes of an Nx x Ny grid row by row (i fastest), calling
// visit.template operator()<W, E, S, N>(k) with the neighbours that exist as template flags, so
// that the interior of each row runs without a test per node.
template <class Visit>
void for_each_node(int Nx, int Ny, Visit&& visit) {
    const std::ptrdiff_t nx = Nx;
    auto row = [&]<bool S, bool N>(std::ptrdiff_t start) {
        if (nx == 1) {
            visit.template operator()<false, false, S, N>(start);
            return;
        }
        visit.template operator()<false, true, S, N>(start);
        for (std::ptrdiff_t k = start + 1; k < start + nx - 1; ++k) visit.template operator()<true, true, S, N>(k);
        visit.template operator()<true, false, S, N>(start + nx - 1);
    };
    if (Ny == 1) {
        row.template operator()<false, false>(0);
        return;
    }
    row.template operator()<false, true>(0);
    for (int j = 2; j <= Ny - 1; ++j) row.template operator()<true, true>(static_cast<std::ptrdiff_t>(j - 1) * nx);
    row.template operator()<true, false>(static_cast<std::ptrdiff_t>(Ny - 1) * nx);
}

// s + c -= a * (xh + xl): the product of a and xh exactly, the one of a and the small xl rounded
// (its error is below the precision kept); the roundings of the running sum s go into c.
inline void subtract_product(double& s, double& c, double a, double xh, double xl) {
    const DoubleDouble p = two_product(a, xh);
    const DoubleDouble t = two_sum(s, -p.hi);
    s = t.hi;
    c += (t.lo - p.lo) - a * xl;
}

}  // namespace

double max_norm(std::span<const double> v) {
    double norm = 0.0;
    for (const double value : v) norm = max_magnitude(norm, value);
    return norm;
}

void multiply(const model::StencilView& a, int Nx, int Ny, std::span<const float> x, std::span<double> y) {
    const auto [aS, aW, aP, aE, aN] = model::pointers(a);
    const float* X = x.data();
    double* Y = y.data();
    const std::ptrdiff_t nx = Nx;
    for_each_node(Nx, Ny, [&]<bool W, bool E, bool S, bool N>(std::ptrdiff_t k) {
        double sum = aP[k] * static_cast<double>(X[k]);
        if constexpr (W) sum += aW[k] * static_cast<double>(X[k - 1]);
        if constexpr (E) sum += aE[k] * static_cast<double>(X[k + 1]);
        if constexpr (S) sum += aS[k] * static_cast<double>(X[k - nx]);
        if constexpr (N) sum += aN[k] * static_cast<double>(X[k + nx]);
        Y[k] = sum;
    });
}

double exact_residual(const model::StencilView& a, std::span<const double> b, int Nx, int Ny,
                      std::span<const double> x_hi, std::span<const double> x_lo, std::span<double> r) {
    const auto [aS, aW, aP, aE, aN] = model::pointers(a);
    const double* B = b.data();
    const double* H = x_hi.data();
    const double* L = x_lo.data();
    double* R = r.empty() ? nullptr : r.data();
    const std::ptrdiff_t nx = Nx;
    double norm = 0.0;
    for_each_node(Nx, Ny, [&]<bool W, bool E, bool S, bool N>(std::ptrdiff_t k) {
        double s = B[k], c = 0.0;
        subtract_product(s, c, aP[k], H[k], L[k]);
        if constexpr (W) subtract_product(s, c, aW[k], H[k - 1], L[k - 1]);
        if constexpr (E) subtract_product(s, c, aE[k], H[k + 1], L[k + 1]);
        if constexpr (S) subtract_product(s, c, aS[k], H[k - nx], L[k - nx]);
        if constexpr (N) subtract_product(s, c, aN[k], H[k + nx], L[k + nx]);
        const double value = s + c;
        if (R) R[k] = value;
        norm = max_magnitude(norm, value);
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
