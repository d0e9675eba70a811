#pragma once
// Direct solution of the five-point system by LAPACK's banded LU with partial pivoting. In node
// order the matrix has Nx sub- and Nx super-diagonals; pivoting widens the upper band of the
// factors to 2 Nx, so the band storage holds 3 Nx + 1 rows for each of the N columns.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/coefficients.hpp"

namespace advdiff::reference {

class BandLU {
public:
    // Copies the five-point matrix of an Nx x Ny grid into band storage (not yet factored).
    // Throws std::bad_alloc when the band cannot be allocated; callers check the memory first.
    BandLU(const model::StencilView& a, int Nx, int Ny);

    // Solves A y = rhs in place: the first call factors the matrix (dgbsv), later calls reuse
    // the factors (dgbtrs). Throws RunError when the matrix is singular.
    void solve(std::span<double> rhs);

    // Elements of the band storage (3 Nx + 1 per node), saturating; zero when the band's leading
    // dimension or the node count leaves LAPACK's 32-bit integers.
    static std::uint64_t band_elements(int Nx, int Ny);
    // Bytes of the band storage and the pivot indices.
    static std::uint64_t bytes(int Nx, int Ny);

private:
    int n_, kl_, ku_, ldab_;
    int Nx_, Ny_;
    bool factored_ = false;
    std::vector<double> ab_;
    std::vector<int> ipiv_;
};

struct BandResult {
    int refinement_steps = 0;  // corrections that lowered the residual and were kept
    double max_residual = 0.0; // max |b - A x| of the returned solution (long double sums)
};

// Bytes solve_band needs beyond the coefficient arrays (band, pivots, three work fields).
std::uint64_t band_solve_bytes(int Nx, int Ny);

// Solves the system of the coefficients into x (N entries) by banded LU, then refines: the
// residual is formed in long double, the correction solved with the same factors, and this is
// repeated while the max-norm residual keeps shrinking (at most 10 times).
BandResult solve_band(const model::StencilCoefficients& c, int Nx, int Ny, std::span<double> x);

}  // namespace advdiff::reference
