#pragma once
// Direct solution of a five-point system by banded LU factorisation with partial pivoting (row
// interchanges), in plain C++. The boundary equations are identities (aP alone): their values
// are b / aP at once, and the factorisation holds the interior equations only, with the boundary
// terms moved to the right-hand side; so a zero on the boundary stays an exact zero. The interior
// unknowns are numbered along the shorter side, so that the matrix has w = min(Nx, Ny) - 2 sub-
// and super-diagonals; pivoting widens the upper band of the factors to 2 w, so the band storage
// holds 3 w + 1 entries for each interior node.
//
// It serves the reference tool as the solver of small grids and of the coarsest multigrid level,
// and as the exact inner solver of `--method band`.

#include <cstdint>
#include <span>
#include <vector>

#include "model/coefficients.hpp"
#include "preconditioner.hpp"
#include "state/problem_state.hpp"
#include "stencil.hpp"

namespace advdiff::reference {

class BandLU final : public Preconditioner {
public:
    // Copies the interior equations of an Nx x Ny grid into band storage and factors them (the
    // coefficients stay referenced, for the boundary terms). Throws RunError when a pivot is zero
    // (the matrix is singular) and std::bad_alloc when the band cannot be allocated; callers check
    // the memory first.
    BandLU(const model::StencilView& a, int Nx, int Ny);

    // z = A^-1 r (z may be r).
    void solve(std::span<const double> r, std::span<double> z);
    // solve(), rounded to single precision.
    void apply(std::span<const double> r, std::span<float> z) override;

    // Elements of the band storage for an Nx x Ny grid, saturating.
    static std::uint64_t band_elements(const GridSize& g);
    // Bytes the factorisation holds: the band, the pivot indices and one field of work space.
    static std::uint64_t bytes(const GridSize& g);
    // Floating-point operations of the factorisation, about; what makes it the method of choice
    // on small grids only.
    static double factor_operations(const GridSize& g);

private:
    // Position of interior node (i, j) (1-based) among the unknowns of the factorisation.
    std::size_t position(int i, int j) const;

    model::StencilView a_;
    std::size_t n_;     // interior nodes
    std::size_t bandwidth_;
    std::size_t ldab_;  // 3 bandwidth + 1
    int Nx_, Ny_;
    bool transposed_;   // numbered j fastest (the grid is wider than high)
    std::vector<double> ab_;
    std::vector<std::size_t> pivot_;
    std::vector<double> work_;
    Field full_;  // apply's result in double
};

}  // namespace advdiff::reference
