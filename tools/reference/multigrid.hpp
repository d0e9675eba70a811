#pragma once
// A geometric multigrid V-cycle for the five-point system of any Nx x Ny grid, used by the
// reference tool as the preconditioner of its Krylov iteration (it decides how fast the solution
// comes, never what it is).
//
// Each coarser grid has n/2 + 1 nodes in a coarsened direction: 1025 -> 513 nests as usual, while
// 1024 -> 513 gives a grid whose nodes fall between the fine ones (spacing 1/512 against 1/1023).
// Corrections come up by bilinear interpolation at the fine nodes' positions, residuals go down by
// its transpose scaled to an average (full weighting when the grids nest). A direction whose
// spacing is much coarser than the other's is left as it is (semi-coarsening), so that
// point Gauss-Seidel still smooths strongly anisotropic grids. Each level has its own five-point
// equations from the program's coefficients; the coarsest level, at most about 33 x 33 nodes, is
// solved by banded LU. Apart from that solve the cycle runs in single precision: it reads half
// the bytes of a double cycle, and the flexible GMRES around it loses nothing by that.
//
// Gauss-Seidel smooths only equations whose neighbour coefficients all have the sign opposite to
// the diagonal. The rotating flow breaks that on cells too coarse for gamma (the upwind side is
// always west and south, so where the flow runs westward or southward the west or south
// coefficient turns positive once |u| h exceeds gamma); on such a level the equations are
// assembled with just enough extra diffusion to restore it. The preconditioner then differs from the system it serves, and the Krylov iteration
// makes up the difference.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "band_solver.hpp"
#include "model/coefficients.hpp"
#include "model/model_problem.hpp"
#include "preconditioner.hpp"
#include "stencil.hpp"

namespace advdiff::reference {

// Node counts of the multigrid levels of an Nx x Ny grid, finest first; the last one is solved
// directly. A single entry: the grid is small enough to be solved directly as a whole.
std::vector<GridSize> multigrid_levels(int Nx, int Ny);

// Bytes the multigrid of these levels holds beyond the finest level's equations, with the
// finest level's own modified equations when `own_finest_equations`.
std::uint64_t multigrid_bytes(const std::vector<GridSize>& levels, bool own_finest_equations);

// Interpolation along one direction from nc coarse nodes to nf fine nodes (equal spacing, both
// ends shared): fine node i (0-based) lies between coarse nodes lower[i] and lower[i] + 1, at the
// fraction weight[i] of the way.
struct Interpolation1D {
    std::vector<int> lower;
    std::vector<double> weight;
    // The transpose: for coarse node I, the fine nodes from_fine[first[I]] .. [first[I + 1] - 1]
    // with their weights, in increasing order.
    std::vector<int> first;
    std::vector<int> from_fine;
    std::vector<double> from_weight;

    Interpolation1D(int nf, int nc);
};

class Multigrid final : public Preconditioner {
public:
    // Builds the levels of multigrid_levels(Nx, Ny) for the case whose finest equations are
    // `fine` (kept by reference). Throws std::bad_alloc when memory runs out.
    Multigrid(const model::ModelCase& c, const model::StencilCoefficients& fine, int Nx, int Ny);

    // z = one V-cycle from zero for A z = r.
    void apply(std::span<const double> r, std::span<float> z) override;

    std::size_t level_count() const { return levels_.size(); }
    GridSize coarsest() const { return levels_.back().size; }
    // Levels whose equations were given extra diffusion so that they can be smoothed.
    int diffused_levels() const;

    // Whether the finest level needs equations of its own (the case's cannot be smoothed there);
    // decides the memory multigrid_bytes counts. Assembles nothing.
    static bool finest_needs_own_equations(const model::StencilView& fine, int Nx, int Ny);

    // The equations of a level in single precision, with the reciprocal of the diagonal. The
    // east and north coefficients are diffusion alone, -gamma/h^2 at every interior node: then
    // they are kept as one value each (`uniform`), and the smoother reads two arrays fewer.
    struct Equations {
        std::vector<float> aS, aW, aP, aE, aN, inverse_diagonal;
        bool uniform = false;
        float east = 0.0f, north = 0.0f;
    };

private:

    struct Level {
        GridSize size;
        Equations a;
        double gamma = 0.0;               // the diffusion they were assembled with
        std::vector<float> rhs;
        std::vector<float> e_storage;     // the correction of every level but the finest
        std::span<float> e;               // the finest level's is the result of apply
        std::vector<float> r;             // residual, on every level but the coarsest
        std::unique_ptr<Interpolation1D> to_x, to_y;  // from the next coarser level
    };

    static Equations single_precision(const model::StencilView& a, const GridSize& g);
    void v_cycle(std::size_t l);
    // A forward and a backward Gauss-Seidel sweep; with `residual`, also the level's residual
    // after them.
    static void smooth(Level& level, float* residual);
    void restrict_residual(std::size_t l);
    void prolongate(std::size_t l);

    double gamma_;
    std::vector<Level> levels_;
    std::unique_ptr<BandLU> coarsest_;
    model::StencilCoefficients coarsest_equations_;  // double, for the banded LU
    Field coarsest_rhs_, coarsest_e_;
    std::vector<float> row_a_, row_b_;  // one grid row each, for the transfers
};

}  // namespace advdiff::reference
