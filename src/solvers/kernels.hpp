#pragma once
// The whole kernel interface of the solvers. A grid's system is prepared once; every kernel then
// takes (its parameters, the prepared system, right-hand side, solution, scratch), touches nothing
// else, prints and returns nothing. Each kernel's file opens with its defining plain loop; a faster
// path beside it is provably bit-identical (the proof is the comment next to it) and tested bit for
// bit against it. The parameters' `path` picks one: `automatic` (the default) by grid size, the
// others force one for the tests and the benchmarks.

#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "model/coefficients.hpp"
#include "platform/wide_kernels.hpp"
#include "solvers/five_point.hpp"
#include "state/problem_state.hpp"

namespace advdiff::solvers {

enum class Path {
    automatic,  // the fastest of the paths below for the grid
    plain,      // the defining loop, every coefficient read from its array
    banded,     // several rows in flight (bands.hpp; Gauss-Seidel's own wavefront), uniform values as numbers
    paired,     // banded, and two passes at once, the later rows behind: Gauss-Seidel's sweeps, ADI's passes
};

// MSI's incomplete factors: L1 the diagonal of L; L2, L3, L4 the coefficients of nodes k-1,
// k-Nx+1, k-Nx; U (unit diagonal) U1, U2, U3 the coefficients of nodes k+1, k+Nx-1, k+Nx.
struct MsiFactors {
    SizedField L1, L2, L3, L4, U1, U2, U3;
    // Where every coefficient is one value over the interior, the factors settle, away from the
    // south, west and east sides, on one set of seven values: `held` (L1, L2, L3, L4, U1, U2, U3),
    // and held_runs[j] the columns [first, second) of 0-based row j where all seven equal it bit
    // for bit. The banded passes read the set there instead of the arrays. Empty when none.
    std::array<double, 7> held{};
    std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>> held_runs;
};
// ADI's forward-pass p and divisors d of both half-sweeps: they depend on the coefficients alone.
// Rows alike: every middle row has the first middle row's row p and d (the constant velocities);
// columns alike: every interior node of a middle row its first's column p and d.
struct AdiLines {
    Field row_p, row_d, column_p, column_d;
    bool rows_alike = false, columns_alike = false;
};

// What one grid needs for one solver_kind, in doubles: prepare() and Scratch::prepare() allocate by
// it, bytes() counts from it.
struct Plan {
    bool msi_factors = false;                     // the seven factor arrays
    bool adi_lines = false;                       // the four line-factor arrays
    std::array<std::uint64_t, 3> scratch{};      // lengths of the scratch vectors
    std::uint64_t system_doubles(Grid g) const;  // six coefficient arrays and the above
    static Plan of(Grid g, int solver_kind);
};

// A grid's system as the kernels take it. Held by its owner (a driver) for as long as the grid.
struct GridSystem {
    Grid grid;
    model::StencilCoefficients coefficients;  // aS, aW, aP, aE, aN and the source vector b
    UniformInterior uniform;                  // coefficients one value over the interior
    MsiFactors msi;                           // solver_kind MSI only
    AdiLines adi;                             // solver_kind ADI only

    // Sizes and assembles the case's coefficients for grid g, then prepare().
    void assemble(const model::ModelCase& c, Grid g, int solver_kind);
    // Derives what solver_kind uses from `coefficients` (filled for grid g).
    void prepare(Grid g, int solver_kind);
    model::StencilView view() const { return model::StencilView(coefficients); }
    // The values `p` reads as numbers (with_stencil): none for the plain path.
    UniformInterior uniform_for(Path p) const { return p == Path::plain ? UniformInterior{} : uniform; }
    static std::uint64_t bytes(Grid g, int solver_kind) { return bytes_of(Plan::of(g, solver_kind).system_doubles(g)); }
};

// The kernels' work vectors, sized for the largest grid they serve: MSI r, w, delta; ADI p, q;
// Gauss elimination the band (2 Nx + 1 entries a row) and the right-hand side.
struct Scratch {
    std::array<Field, 3> v;
    void prepare(Grid largest, int solver_kind);
    static std::uint64_t bytes(Grid g, int solver_kind);
};

// The pieces of prepare(): MSI's factorisation and ADI's line factors.
void msi_factorise(const model::StencilView& a, Grid g, MsiFactors& f);
void adi_line_factors(const model::StencilView& a, Grid g, AdiLines& lines);

struct GaussSeidelParams {
    int sweep_count = 1;  // sweeps per call; below 1 none
    Path path = Path::automatic;
};
struct MsiParams {
    int iteration_limit = 1;  // corrections per call at most (below 1 counts as 1)
    double tolerance = 0.0;   // stops once the residual norm is at most this times its first value
    Path path = Path::automatic;
};
struct AdiParams {
    int iteration_count = 1;  // row-and-column iterations per call; below 1 none
    Path path = Path::automatic;
};
struct EliminationParams {
    Path path = Path::automatic;  // plain: the dense N x (N+1) matrix, allocated by the call
};
struct StencilParams {
    Path path = Path::automatic;  // plain: every coefficient from its array
    int every = 1;                // level residual: every `every`-th row and column only, stored densely
};

// Gauss-Seidel: sweeps over T, each updating node 1, the rest of the south row, the interior nodes,
// the north row but its last node, node N, every node from the newest neighbour values:
//   T(k) = ((((b - aS T(k-Nx)) - aW T(k-1)) - aE T(k+1)) - aN T(k+Nx)) / aP
// without the terms whose neighbour lies outside the array. The west and east columns of the
// interior rows are never visited.
void gauss_seidel_sweeps(const GaussSeidelParams& p, const GridSystem& s, std::span<const double> b,
                         std::span<double> T);

// MSI: residual-correction iterations with the prepared factors until iteration_limit corrections
// are applied or the Euclidean residual norm falls to its first value times the tolerance.
void msi_solve(const MsiParams& p, const GridSystem& s, std::span<const double> b, std::span<double> T,
               Scratch& scratch);

// ADI: each iteration solves every row (south and north neighbours from T before the half-sweep),
// then every column (west and east from the row half-sweep's result) by the Thomas algorithm.
void adi_solve(const AdiParams& p, const GridSystem& s, std::span<const double> b, std::span<double> T,
               Scratch& scratch);

// Gauss elimination without pivoting of the N x (N+1) augmented matrix: T := its solution.
void gauss_elimination(const EliminationParams& p, const GridSystem& s, std::span<const double> b,
                       std::span<double> T, Scratch& scratch);

// The level residual (residual_value) from node (2, 2) to (Nx-1, Ny-1) at the nodes whose 0-based
// row and column are multiples of e = p.every (below 1: 1), node (e c, e m) stored at
// r[m ((Nx-1)/e + 1) + c]: with e = 2, at the coarser level's node on it. Other entries unwritten.
void level_residual(const StencilParams& p, const GridSystem& s, std::span<const double> f,
                    std::span<const double> X, std::span<double> r);

// The FAS right-hand side of a coarse level: f(k) = (A X)(k) + r(k) at every node, r the finer
// level's residual at the fine node on coarse node k (level_residual with every = 2), (A X)(k)
// summed as applied_value with each neighbour term only where its index lies inside the level.
void fas_right_hand_side(const StencilParams& p, const GridSystem& s, std::span<const double> injected_residual,
                         std::span<const double> X, std::span<double> f);

// Which solver relaxes, and with what (the fields of the other solvers are not read).
struct Relaxation {
    int solver_kind = 0;  // 1 Gauss-Seidel, 2 MSI, 3 ADI; any other value relaxes nothing
    GaussSeidelParams gauss_seidel;
    MsiParams msi;
    AdiParams adi;

    static Relaxation of(int solver_kind, int count, double msi_tolerance) {  // `count` iterations a call
        return {solver_kind, {count}, {count, msi_tolerance}, {count}};
    }
};

// Relaxes X with right-hand side b as `r` says; returns false (and does nothing) when
// r.solver_kind selects no iterative solver.
bool relax(const Relaxation& r, const GridSystem& s, std::span<const double> b, std::span<double> X, Scratch& scratch);

}  // namespace advdiff::solvers
