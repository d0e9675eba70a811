#include "band_solver.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "stencil.hpp"
#include "platform/stack.hpp"
#include "state/run_error.hpp"

extern "C" {
void dgbsv_(const int* n, const int* kl, const int* ku, const int* nrhs, double* ab, const int* ldab, int* ipiv,
            double* b, const int* ldb, int* info);
// The trailing argument is the hidden length of the character argument `trans`.
void dgbtrs_(const char* trans, const int* n, const int* kl, const int* ku, const int* nrhs, const double* ab,
             const int* ldab, const int* ipiv, double* b, const int* ldb, int* info, std::size_t trans_length);
}

namespace advdiff::reference {

namespace {

constexpr int kMaxRefinementSteps = 10;

}  // namespace

std::uint64_t BandLU::band_elements(int Nx, int Ny) {
    const std::uint64_t ldab = 3 * static_cast<std::uint64_t>(Nx) + 1;
    const std::uint64_t n = static_cast<std::uint64_t>(Nx) * static_cast<std::uint64_t>(Ny);
    if (Nx < 1 || Ny < 1 || ldab > std::numeric_limits<int>::max() || n > std::numeric_limits<int>::max()) return 0;
    return saturating_product(ldab, n);
}

std::uint64_t BandLU::bytes(int Nx, int Ny) {
    const std::uint64_t elements = band_elements(Nx, Ny);
    if (elements == 0) return std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t n = static_cast<std::uint64_t>(Nx) * static_cast<std::uint64_t>(Ny);
    return saturating_sum(saturating_product(elements, sizeof(double)), n * sizeof(int));
}

BandLU::BandLU(const model::StencilView& a, int Nx, int Ny)
    : n_(Nx * Ny), kl_(Nx), ku_(Nx), ldab_(3 * Nx + 1), Nx_(Nx), Ny_(Ny) {
    if (band_elements(Nx, Ny) == 0) throw std::bad_alloc();
    ab_.assign(static_cast<std::size_t>(band_elements(Nx, Ny)), 0.0);
    ipiv_.assign(static_cast<std::size_t>(n_), 0);
    // Column-major band storage: A(r, c) (0-based) is at ab[(kl + ku + r - c) + c * ldab]; the
    // first kl rows stay free for the fill-in of the factorisation.
    const std::size_t ldab = static_cast<std::size_t>(ldab_);
    const std::ptrdiff_t diagonal = kl_ + ku_;
    auto put = [&](std::ptrdiff_t r, std::ptrdiff_t c, double value) {
        ab_[static_cast<std::size_t>(diagonal + r - c) + static_cast<std::size_t>(c) * ldab] = value;
    };
    for (int j = 1; j <= Ny; ++j) {
        for (int i = 1; i <= Nx; ++i) {
            const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(node(i, j, Nx));
            put(k, k, a.aP[k]);
            if (i > 1) put(k, k - 1, a.aW[k]);
            if (i < Nx) put(k, k + 1, a.aE[k]);
            if (j > 1) put(k, k - Nx, a.aS[k]);
            if (j < Ny) put(k, k + Nx, a.aN[k]);
        }
    }
}

void BandLU::solve(std::span<double> rhs) {
    const int nrhs = 1;
    int info = 0;
    if (!factored_) {
        // The factorisation keeps two 65 x 64 work arrays on the stack: on a stack of its own it
        // runs under any ulimit -s.
        platform::run_with_stack(std::size_t{8} << 20, [&] {
            dgbsv_(&n_, &kl_, &ku_, &nrhs, ab_.data(), &ldab_, ipiv_.data(), rhs.data(), &n_, &info);
        });
        if (info > 0) {
            const int k = info - 1;
            throw RunError("the five-point system of the " + grid_text(Nx_, Ny_) +
                           " grid is singular: zero pivot at node (" + std::to_string(k % Nx_ + 1) + ", " +
                           std::to_string(k / Nx_ + 1) + ")");
        }
        factored_ = true;
    } else {
        const char trans = 'N';
        dgbtrs_(&trans, &n_, &kl_, &ku_, &nrhs, ab_.data(), &ldab_, ipiv_.data(), rhs.data(), &n_, &info, 1);
    }
    if (info < 0) throw RunError("banded LU: argument " + std::to_string(-info) + " rejected by LAPACK");
}

std::uint64_t band_solve_bytes(int Nx, int Ny) {
    const std::uint64_t n = static_cast<std::uint64_t>(Nx) * static_cast<std::uint64_t>(Ny);
    return saturating_sum(BandLU::bytes(Nx, Ny), saturating_product(3 * sizeof(double), n));
}

BandResult solve_band(const model::StencilCoefficients& c, int Nx, int Ny, std::span<double> x) {
    const model::StencilView a(c);
    const std::size_t n = static_cast<std::size_t>(Nx) * static_cast<std::size_t>(Ny);
    BandLU lu(a, Nx, Ny);
    std::copy(c.b.begin(), c.b.end(), x.begin());
    lu.solve(x.first(n));

    BandResult result;
    std::vector<double> r(n), correction(n), candidate(n);
    result.max_residual = residual<long double>(a, c.b, Nx, Ny, x, r);
    while (result.refinement_steps < kMaxRefinementSteps && result.max_residual > 0.0) {
        correction = r;
        lu.solve(correction);
        for (std::size_t k = 0; k < n; ++k) candidate[k] = x[k] + correction[k];
        const double norm = residual<long double>(a, c.b, Nx, Ny, candidate, r);
        if (!(norm < result.max_residual)) break;
        std::copy(candidate.begin(), candidate.end(), x.begin());
        result.max_residual = norm;
        ++result.refinement_steps;
    }
    return result;
}

}  // namespace advdiff::reference
