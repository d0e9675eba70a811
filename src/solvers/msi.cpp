#include "solvers/msi.hpp"

#include <cmath>

namespace advdiff::solvers {

void msi_factorise(const model::StencilView& a, MsiFactors& f, int N, int Nx, int Ny) {
    double* L1 = f.L1.data();
    double* L2 = f.L2.data();
    double* L3 = f.L3.data();
    double* L4 = f.L4.data();
    double* U1 = f.U1.data();
    double* U2 = f.U2.data();
    double* U3 = f.U3.data();
    (void)N;
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
}

void msi_residual(const model::StencilView& a, int Nx, int N, std::span<const double> T, std::span<const double> b,
                  std::span<double> r) {
    const double* aS = a.aS.data();
    const double* aW = a.aW.data();
    const double* aP = a.aP.data();
    const double* aE = a.aE.data();
    const double* aN = a.aN.data();
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
    for (std::ptrdiff_t k = nx; k < n - nx; ++k)
        res[k] = f[k] -
                 ((((aS[k] * t[k - nx] + aW[k] * t[k - 1]) + aN[k] * t[k + nx]) + aP[k] * t[k]) + aE[k] * t[k + 1]);
    // Last row but its last node: S, W, P, E.
    for (std::ptrdiff_t k = n - nx; k < n - 1; ++k)
        res[k] = f[k] - (((aS[k] * t[k - nx] + aW[k] * t[k - 1]) + aP[k] * t[k]) + aE[k] * t[k + 1]);
    // Node N: W, P, S.
    res[n - 1] = f[n - 1] - ((aW[n - 1] * t[n - 2] + aP[n - 1] * t[n - 1]) + aS[n - 1] * t[n - 1 - nx]);
}

namespace {

double euclidean_norm(std::span<const double> r) {
    double sum = 0.0;
    for (double value : r) sum += value * value;
    return std::sqrt(sum);
}

}  // namespace

void msi_solve(const model::StencilView& a, const MsiFactors& f, int Ny, int Nx, int N, std::span<double> T,
               double msi_tolerance, int limit, std::span<const double> b, MsiWork& work) {
    (void)Ny;
    if (limit < 1) limit = 1;
    const std::ptrdiff_t nx = Nx, n = N;
    const double* L1 = f.L1.data();
    const double* L2 = f.L2.data();
    const double* L3 = f.L3.data();
    const double* L4 = f.L4.data();
    const double* U1 = f.U1.data();
    const double* U2 = f.U2.data();
    const double* U3 = f.U3.data();
    const std::span<double> r(work.r.data(), static_cast<std::size_t>(n));
    double* w = work.w.data();
    double* delta = work.delta.data();
    double* t = T.data();

    msi_residual(a, Nx, N, T, b, r);
    // r0 and the residual after a correction only serve the tolerance test, which is not reached
    // when the correction is the last one the limit allows; they are skipped then.
    const double r0 = (limit > 1) ? euclidean_norm(r) : 0.0;
    for (int m = 1;; ++m) {
        // Forward substitution L w = r, leaving out the terms below node 1.
        w[0] = r[0] / L1[0];
        for (std::ptrdiff_t k = 1; k < nx - 1; ++k) w[k] = (r[k] - L2[k] * w[k - 1]) / L1[k];
        if (nx - 1 >= 1) {
            const std::ptrdiff_t k = nx - 1;
            w[k] = ((r[k] - L2[k] * w[k - 1]) - L3[k] * w[k - nx + 1]) / L1[k];
        }
        for (std::ptrdiff_t k = nx; k < n; ++k)
            w[k] = (((r[k] - L2[k] * w[k - 1]) - L3[k] * w[k - nx + 1]) - L4[k] * w[k - nx]) / L1[k];

        // Back substitution U delta = w, adding each correction to T as soon as it is known.
        delta[n - 1] = w[n - 1];
        t[n - 1] = t[n - 1] + delta[n - 1];
        for (std::ptrdiff_t k = n - 2; k > n - nx; --k) {
            delta[k] = w[k] - U1[k] * delta[k + 1];
            t[k] = t[k] + delta[k];
        }
        if (n - nx >= 0 && n - nx < n - 1) {
            const std::ptrdiff_t k = n - nx;
            delta[k] = (w[k] - U1[k] * delta[k + 1]) - U2[k] * delta[k + nx - 1];
            t[k] = t[k] + delta[k];
        }
        for (std::ptrdiff_t k = n - nx - 1; k >= 0; --k) {
            delta[k] = ((w[k] - U1[k] * delta[k + 1]) - U2[k] * delta[k + nx - 1]) - U3[k] * delta[k + nx];
            t[k] = t[k] + delta[k];
        }

        if (m >= limit) break;
        msi_residual(a, Nx, N, T, b, r);
        const double rho = euclidean_norm(r);
        if (rho <= r0 * msi_tolerance) break;
    }
}

}  // namespace advdiff::solvers
