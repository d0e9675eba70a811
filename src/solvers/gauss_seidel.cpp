// Point Gauss-Seidel relaxation of the five-point system, each sweep in the order kernels.hpp gives.
//
// The plain loop reads every coefficient from its array. The sweep is defined column by column
// over the interior; row by row gives the same bits, because every interior node still reads its
// west and south neighbours after their update in this sweep and its east and north neighbours
// before it, and the west and east boundary columns are not updated by the pass at all.

#include <algorithm>
#include <cstddef>

#include "solvers/bands.hpp"
#include "solvers/kernels.hpp"

namespace advdiff::solvers {

namespace {

// Node 1 and the rest of the south row (at k = Nx the east value is the first node of the second
// row, with whatever coefficient node Nx carries).
void south_row(const ArrayStencil& a, const double* f, double* t, std::ptrdiff_t nx) {
    t[0] = relaxed_value<kE | kN>(a, f, t, nx, 0);
    for (std::ptrdiff_t k = 1; k < nx; ++k) t[k] = relaxed_value<kW | kE | kN>(a, f, t, nx, k);
}

// The north row except its last node (its first node's west value is node (Nx, Ny-1)), then node N.
void north_row(const ArrayStencil& a, const double* f, double* t, std::ptrdiff_t nx, std::ptrdiff_t n) {
    for (std::ptrdiff_t k = n - nx; k < n - 1; ++k) t[k] = relaxed_value<kS | kW | kE>(a, f, t, nx, k);
    t[n - 1] = relaxed_value<kS | kW>(a, f, t, nx, n - 1);
}

// The interior nodes of 0-based rows: position i of row r is node (i + 2, r + 1). A node reads from
// its own row only the west neighbour and from the row below only the node above which it stands,
// so in bands each row may run one node behind the one below (bands.hpp).
template <class S>
struct InteriorPass : BandPass {
    S a;
    const double* f;
    double* t;
    std::ptrdiff_t nx;
    void node(std::ptrdiff_t r, std::ptrdiff_t i) {
        const std::ptrdiff_t k = r * nx + 1 + i;
        t[k] = relaxed_value(a, f, t, nx, k);
    }
    void row(std::ptrdiff_t r) { for (std::ptrdiff_t i = 0; i < nx - 2; ++i) node(r, i); }
};

// Two sweeps at a time pay where three coefficient arrays are read, from 2^16 nodes (the benchmark,
// two sweeps per call: 2.35 against 2.66 ns per node at 257 x 257, 5.4 against 6.8 at 2049 x 2049);
// not where every coefficient is a number, nor on smaller grids.
constexpr std::ptrdiff_t kPairedFromNodes = std::ptrdiff_t{1} << 16;

template <class S>
void sweeps(Path path, const S& interior_stencil, const GridSystem& s, int sweep_count, const double* f, double* t) {
    const ArrayStencil arrays = array_stencil(s.view());
    const std::ptrdiff_t nx = s.grid.Nx, n = s.grid.N();
    InteriorPass<S> pass{{}, interior_stencil, f, t, nx};
    auto interior = [&](std::ptrdiff_t r_begin, std::ptrdiff_t r_end) {
        if (path == Path::plain) {
            for (std::ptrdiff_t r = r_begin; r < r_end; ++r) pass.row(r);
        } else {
            run_in_halving_bands<8, 1>(pass, r_begin, r_end, nx - 2, nx);
        }
    };
    const std::ptrdiff_t ny = s.grid.Ny;
    int sweep = 0;
    // Two sweeps at a time, the second a band of rows behind the first, so that each row is
    // brought from memory once for both. The second sweep updates row r only once the first has
    // finished row r+1 (which the second reads as north neighbours) and after the first has read
    // row r for the last time (as south neighbours of row r+1): every node reads exactly the
    // values it reads when the sweeps run one after the other.
    constexpr std::ptrdiff_t kLeadRows = 8;
    if (path == Path::paired && ny >= 3) {  // below 3 rows the second south row reads the first north row
        for (; sweep + 2 <= sweep_count; sweep += 2) {
            south_row(arrays, f, t, nx);
            std::ptrdiff_t first = 1, second = 1;  // next interior row of each sweep
            while (first < ny - 1) {
                const std::ptrdiff_t end = std::min(first + kLeadRows, ny - 1);
                interior(first, end);
                if (first == 1) south_row(arrays, f, t, nx);  // the first sweep has finished row 1
                interior(second, end - 1);
                first = end, second = end - 1;
            }
            north_row(arrays, f, t, nx, n);
            interior(second, ny - 1);
            north_row(arrays, f, t, nx, n);
        }
    }
    for (; sweep < sweep_count; ++sweep) {
        south_row(arrays, f, t, nx);
        interior(1, ny - 1);
        north_row(arrays, f, t, nx, n);
    }
}

}  // namespace

void gauss_seidel_sweeps(const GaussSeidelParams& p, const GridSystem& s, std::span<const double> b,
                         std::span<double> T) {
    Path path = p.path;
    // The wavefront takes a quarter to a half of the plain loop's time at every size measured
    // (33 x 33 to 2049 x 2049): the row loop waits for each division before the next node starts.
    if (path == Path::automatic)
        path = s.grid.N() >= kPairedFromNodes && !s.uniform.all() ? Path::paired : Path::banded;
    with_stencil(s.view(), s.uniform_for(path), [&](const auto& stencil) {
        sweeps(path, stencil, s, p.sweep_count, b.data(), T.data());
    });
}

}  // namespace advdiff::solvers
