#include "krylov.hpp"

#include <algorithm>
#include <cmath>

namespace advdiff::reference {

double dot(std::span<const double> a, std::span<const double> b) {
    const std::size_t n = a.size();
    const double* x = a.data();
    const double* y = b.data();
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        s0 += x[k] * y[k];
        s1 += x[k + 1] * y[k + 1];
        s2 += x[k + 2] * y[k + 2];
        s3 += x[k + 3] * y[k + 3];
    }
    for (; k < n; ++k) s0 += x[k] * y[k];
    return (s0 + s1) + (s2 + s3);
}

namespace {

// sqrt(a^2 + b^2) without overflow or harmful underflow, from sqrt alone.
double hypotenuse(double a, double b) {
    const double big = std::max(std::fabs(a), std::fabs(b));
    if (big == 0.0 || !std::isfinite(big)) return big;
    const double p = a / big, q = b / big;
    return big * std::sqrt(p * p + q * q);
}

// The passes over the basis go through the nodes in blocks, so that each block of w is read from
// memory once while the products and updates of every basis vector use it.
constexpr std::size_t kBlock = 1024;

// w = A z and h[i] = w . v_i for i = 0 .. count - 1, in one pass: the rows of w are formed just
// ahead of the block of nodes whose products take them, so that w is not read back from memory.
// Each product keeps dot()'s four running sums over k mod 4 and its order of adding them up.
void multiply_and_dots(const SystemMatrix& A, std::span<const float> z, std::span<double> w,
                       const std::vector<Field>& v, int count, double* h) {
    const std::size_t n = w.size();
    const std::size_t whole = n - n % 4;
    std::vector<double> sums(static_cast<std::size_t>(4 * count), 0.0);
    std::size_t formed = 0;  // nodes of w formed so far: whole rows, from the first
    int next_row = 1;
    auto form_until = [&](std::size_t end) {
        if (formed >= end) return;
        const std::size_t nx = static_cast<std::size_t>(A.Nx);
        const int last = std::min(A.Ny, next_row + static_cast<int>((end - formed - 1) / nx));
        multiply_rows(A, z, w, next_row, last);
        formed += static_cast<std::size_t>(last - next_row + 1) * nx;
        next_row = last + 1;
    };
    const double* x = w.data();
    for (std::size_t start = 0; start < whole; start += kBlock) {
        const std::size_t end = std::min(whole, start + kBlock);
        form_until(end);
        for (int i = 0; i < count; ++i) {
            const double* y = v[static_cast<std::size_t>(i)].data();
            double* s = sums.data() + 4 * i;
            double s0 = s[0], s1 = s[1], s2 = s[2], s3 = s[3];
            for (std::size_t k = start; k < end; k += 4) {
                s0 += x[k] * y[k];
                s1 += x[k + 1] * y[k + 1];
                s2 += x[k + 2] * y[k + 2];
                s3 += x[k + 3] * y[k + 3];
            }
            s[0] = s0, s[1] = s1, s[2] = s2, s[3] = s3;
        }
    }
    form_until(n);
    for (int i = 0; i < count; ++i) {
        const double* y = v[static_cast<std::size_t>(i)].data();
        double* s = sums.data() + 4 * i;
        for (std::size_t k = whole; k < n; ++k) s[0] += x[k] * y[k];
        h[i] = (s[0] + s[1]) + (s[2] + s[3]);
    }
}

// w := w - sum h_i v_i, the terms of each node subtracted in the order of i, in one pass that also
// returns w . w of the result (in the order of dot()).
double subtract_combination(std::span<double> w, const std::vector<Field>& v, int count, const double* h) {
    const std::size_t n = w.size();
    const std::size_t whole = n - n % 4;
    double* x = w.data();
    auto subtract = [&](std::size_t start, std::size_t end) {
        for (int i = 0; i < count; ++i) {
            const double* y = v[static_cast<std::size_t>(i)].data();
            const double c = h[i];
            for (std::size_t k = start; k < end; ++k) x[k] = x[k] - c * y[k];
        }
    };
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (std::size_t start = 0; start < whole; start += kBlock) {
        const std::size_t end = std::min(whole, start + kBlock);
        subtract(start, end);
        for (std::size_t k = start; k < end; k += 4) {
            s0 += x[k] * x[k];
            s1 += x[k + 1] * x[k + 1];
            s2 += x[k + 2] * x[k + 2];
            s3 += x[k + 3] * x[k + 3];
        }
    }
    subtract(whole, n);
    for (std::size_t k = whole; k < n; ++k) s0 += x[k] * x[k];
    return (s0 + s1) + (s2 + s3);
}

}  // namespace

Gmres::Gmres(const model::StencilView& a, int Nx, int Ny, int restart)
    : A_(a, Nx, Ny), n_(GridSize{Nx, Ny}.nodes()), restart_(restart), v_(static_cast<std::size_t>(restart) + 1), z_(static_cast<std::size_t>(restart)) {
    basis(0);
}

std::uint64_t Gmres::bytes(const GridSize& g, int restart) {
    const std::uint64_t m = static_cast<std::uint64_t>(restart);
    return saturating_sum(field_bytes(m + 1, g), saturating_product(saturating_product(m, sizeof(float)), g.nodes()));
}

std::span<double> Gmres::basis(int j) {
    Field& v = v_[static_cast<std::size_t>(j)];
    if (v.size() != n_) v.assign(n_, 0.0);
    return v;
}

std::span<float> Gmres::preconditioned(int j) {
    std::vector<float>& z = z_[static_cast<std::size_t>(j)];
    if (z.size() != n_) z.assign(n_, 0.0f);
    return z;
}

std::span<const double> Gmres::solve(Preconditioner& M, double tolerance, GmresResult& result,
                                     const std::function<void(int, double)>& after) {
    const int m = restart_;
    result = {};
    std::vector<double> h(static_cast<std::size_t>((m + 1) * m), 0.0);  // Hessenberg matrix, column-major
    auto H = [&](int i, int j) -> double& { return h[static_cast<std::size_t>(j * (m + 1) + i)]; };
    std::vector<double> cs(static_cast<std::size_t>(m)), sn(static_cast<std::size_t>(m)),
        g(static_cast<std::size_t>(m) + 1, 0.0);

    const std::span<double> v0 = basis(0);
    const double beta = std::sqrt(dot(v0, v0));
    if (!(beta > 0.0) || !std::isfinite(beta)) {
        std::fill(v0.begin(), v0.end(), beta == 0.0 ? 0.0 : beta);
        result.reduction = beta == 0.0 ? 0.0 : beta;
        return v0;
    }
    for (double& value : v0) value = value / beta;
    g[0] = beta;

    int k = 0;  // columns of the Hessenberg matrix built
    while (k < m) {
        const int j = k;
        const std::span<float> z = preconditioned(j);
        const std::span<double> w = basis(j + 1);
        M.apply(basis(j), z);
        // Classical Gram-Schmidt against the basis so far: one pass forms A z and all the
        // products, one makes the update and its norm; it reads the basis a third as often as
        // modified Gram-Schmidt. What it loses in orthogonality when the basis grows
        // ill-conditioned only weakens the step, and the refinement's next residual makes up for it.
        multiply_and_dots(A_, z, w, v_, j + 1, &H(0, j));
        const double norm = std::sqrt(subtract_combination(w, v_, j + 1, &H(0, j)));
        H(j + 1, j) = norm;
        if (norm > 0.0 && std::isfinite(norm))
            for (double& value : w) value = value / norm;
        // The rotations so far, then the one that zeroes H(j + 1, j).
        for (int i = 0; i < j; ++i) {
            const double upper = H(i, j), lower = H(i + 1, j);
            H(i, j) = cs[static_cast<std::size_t>(i)] * upper + sn[static_cast<std::size_t>(i)] * lower;
            H(i + 1, j) = cs[static_cast<std::size_t>(i)] * lower - sn[static_cast<std::size_t>(i)] * upper;
        }
        const double r = hypotenuse(H(j, j), H(j + 1, j));
        const double c = r == 0.0 ? 1.0 : H(j, j) / r;
        const double s = r == 0.0 ? 0.0 : H(j + 1, j) / r;
        cs[static_cast<std::size_t>(j)] = c;
        sn[static_cast<std::size_t>(j)] = s;
        H(j, j) = r;
        H(j + 1, j) = 0.0;
        g[static_cast<std::size_t>(j) + 1] = -s * g[static_cast<std::size_t>(j)];
        g[static_cast<std::size_t>(j)] = c * g[static_cast<std::size_t>(j)];
        k = j + 1;
        result.iterations = k;
        result.reduction = std::fabs(g[static_cast<std::size_t>(k)]) / beta;
        if (after) after(k, result.reduction);
        if (!(result.reduction > tolerance) || !(norm > 0.0) || !std::isfinite(norm)) break;
    }

    // y = H^-1 g (upper triangular), d = sum y_i z_i, into v0.
    std::vector<double> y(static_cast<std::size_t>(k), 0.0);
    for (int i = k - 1; i >= 0; --i) {
        double sum = g[static_cast<std::size_t>(i)];
        for (int l = i + 1; l < k; ++l) sum -= H(i, l) * y[static_cast<std::size_t>(l)];
        y[static_cast<std::size_t>(i)] = sum / H(i, i);
    }
    for (std::size_t q = 0; q < n_; ++q) {
        double sum = y[0] * static_cast<double>(z_[0][q]);
        for (int i = 1; i < k; ++i) sum += y[static_cast<std::size_t>(i)] * static_cast<double>(z_[static_cast<std::size_t>(i)][q]);
        v0[q] = sum;
    }
    return v0;
}

}  // namespace advdiff::reference
