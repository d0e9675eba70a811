#pragma once
// Direct solution of the five-point system by Gaussian elimination without pivoting.
//
// The method is defined on the dense N x (N+1) augmented matrix: row k holds aS, aW, aP, aE, aN
// in columns k-Nx, k-1, k, k+1, k+Nx (each only where the column lies inside the matrix) and b in
// column N+1; every row below each pivot is eliminated over every column from the pivot on, then
// back substitution sums A(k,l) T(l) over l = k+1..N in increasing l.
//
// Without pivoting, every fill-in stays inside the band |column - row| <= Nx, and the dense
// algorithm only ever subtracts f * 0 from the entries outside the band. This implementation
// stores the band and the right-hand side (memory O(N Nx), time O(N Nx^2)) and performs exactly
// the dense algorithm's operations on every entry inside the band, so its solution is the dense
// one to the last bit; at most the sign of a zero can differ. Where the dense algorithm's
// f * 0 terms are not zero (a zero or NaN pivot, an infinite or NaN value meeting a zero), it
// reproduces their effect on the result: the dense algorithm then turns the whole solution into
// NaN, or, in the back substitution, every T(k) whose row meets a non-finite T(l) beyond its band.

#include <cstddef>
#include <span>
#include <vector>

#include "model/coefficients.hpp"
#include "state/problem_state.hpp"

namespace advdiff::solvers {

struct BandWork {
    Field band;  // N rows of 2*Nx+1 entries: row r, column c at r*(2Nx+1) + (c - r + Nx)
    Field rhs;   // column N+1 of the augmented matrix
};

// Bytes the band storage of an N-node, Nx-wide system takes.
std::size_t band_elimination_bytes(std::size_t N, std::size_t Nx);

// The dense algorithm itself on an N x (N+1) matrix (N^2 memory, N^3 time): the plain loop the
// band elimination is compared with.
void gauss_elimination_dense(int N, int Nx, const model::StencilView& a, std::span<const double> b,
                             std::span<double> T, std::vector<double>& dense_matrix);

// Assembles the band from the coefficients, eliminates, and writes the solution into T(1..N).
void gauss_elimination(int N, int Nx, const model::StencilView& a, std::span<const double> b, std::span<double> T,
                       BandWork& work);

}  // namespace advdiff::solvers
