// Point Gauss-Seidel relaxation, each sweep in the order kernels.hpp gives. The sweep is defined
// column by column over the interior; row by row gives the same bits: every interior node still
// reads its west and south neighbours after their update in this sweep and its east and north
// neighbours before it, and the west and east boundary columns are not updated at all.

#include <algorithm>
#include <cstddef>

#include "solvers/bands.hpp"
#include "solvers/kernels.hpp"

namespace advdiff::solvers {

namespace {

// Nodes [begin, end) of the south or north row (at k = Nx the east value is the first node of the
// second row, and the north row's first node's west value is node (Nx, Ny-1)).
void edge_nodes(const ArrayStencil& a, const double* f, double* t, std::ptrdiff_t nx, std::ptrdiff_t n,
                std::ptrdiff_t begin, std::ptrdiff_t end) {
    for_nodes(nx, n, begin, end, [&]<unsigned Has>(std::ptrdiff_t k) { t[k] = relaxed_value<Has>(a, f, t, nx, k); });
}

// Interior rows [first, end) one after the other, node by node; with `edges` (the whole sweep: rows
// 1 .. Ny-2), the south row before them and the north row after.
template <class S>
void in_order(const S& a, const ArrayStencil* edges, const double* f, double* t, std::ptrdiff_t nx,
              std::ptrdiff_t first, std::ptrdiff_t end) {
    const std::ptrdiff_t n = (end + 1) * nx;
    if (edges) edge_nodes(*edges, f, t, nx, n, 0, nx);
    for (std::ptrdiff_t r = first; r < end; ++r)
        for (std::ptrdiff_t k = r * nx + 1; k < r * nx + nx - 1; ++k) t[k] = relaxed_value(a, f, t, nx, k);
    if (edges) edge_nodes(*edges, f, t, nx, n, n - nx, n);
}

// Lane j is node k[j], its west value given: each lane does relaxed_value's operations in its order
// (IEEE operations lane by lane, no contraction), so gives its bits.
template <class S>
inline Lanes relaxed_lanes(const S& a, const double* f, const double* t, std::ptrdiff_t nx, const std::ptrdiff_t* k,
                           Lanes west) {
    auto at = [k](const auto& values, std::ptrdiff_t offset = 0) { return gather(values, k, offset); };
    return ((((at(f) - at(a.aS) * at(t, -nx)) - at(a.aW) * west) - at(a.aE) * at(t, 1)) - at(a.aN) * at(t, nx)) /
           at(a.aP);
}

// Hides a slot's index from the optimiser after each step: otherwise it keeps a pointer for every
// slot and array, more than there are registers, and reloads them from the stack each step (the
// benchmark, rotating flow: 2.0 against 1.65 ns per node at 65 x 65). Changes no value.
inline void opaque(std::ptrdiff_t& k) { asm("" : "+r"(k)); }

// The interior rows [first, end) as a wavefront of kSlots rows in flight: slot b takes rows first + b,
// first + b + kSlots, ..., laid end to end, and at step s is at position s - skew b of them (a row's
// position i is node (i + 2, row + 1)). A node reads from its own row only its west neighbour (held
// from the step before), from the row below only the node below it: written skew steps earlier by
// slot b-1, or m - skew (kSlots-1) steps earlier by the last slot a cycle of rows before; from the row
// above only the node above, written as many steps later. So with skew (kSlots-1) < m every node
// reads what it reads when the rows run one after the other, and no node reads a node of its own step.
// A slot with no row in a segment of steps repeats another slot's nodes: the same values, written twice.
// With `edges` (the whole sweep: rows 1 .. Ny-2), the south row's node c runs at step c - 2 and the
// north row's node c at the step where the last interior row reaches position c: each reads the
// row beside it there one position behind (new values) and leaves it one position ahead (old).
template <int kSlots, class S>
void wavefront(const S a, const ArrayStencil* edges, const double* f, double* t, std::ptrdiff_t nx,
               std::ptrdiff_t first, std::ptrdiff_t end) {
    const std::ptrdiff_t m = nx - 2, skew = band_skew(nx, kSlots, 1), n = (end + 1) * nx;
    if (skew * (kSlots - 1) >= m || end - first < kSlots) {
        if constexpr (kSlots > kLanes) return wavefront<kSlots / 2>(a, edges, f, t, nx, first, end);
        return in_order(a, edges, f, t, nx, first, end);
    }
    std::ptrdiff_t pos[kSlots], row[kSlots], k[kSlots], step = 0, south = 2, north = n - nx;
    const std::ptrdiff_t north_from = skew * ((end - 1 - first) % kSlots) + m * ((end - 1 - first) / kSlots);
    if (edges) edge_nodes(*edges, f, t, nx, n, 0, 2);
    for (int b = 0; b < kSlots; ++b) pos[b] = -skew * b, row[b] = first + b;
    for (;;) {
        // A segment of steps in which no slot starts, ends or changes rows.
        std::ptrdiff_t len = m;
        int active = -1;
        for (int b = 0; b < kSlots; ++b)
            if (row[b] < end) {
                len = std::min(len, pos[b] < 0 ? -pos[b] : m - pos[b]);
                if (pos[b] >= 0) active = b;
            }
        if (active < 0) break;
        for (int b = 0; b < kSlots; ++b) {
            const int at = pos[b] >= 0 && row[b] < end ? b : active;
            k[b] = row[at] * nx + 1 + pos[at];
        }
        Lanes west[kSlots / kLanes];
        for (int p = 0; p < kSlots / kLanes; ++p) west[p] = gather(t, k + p * kLanes, -1);
        for (std::ptrdiff_t s = 0; s < len; ++s, ++step) {
#pragma GCC unroll 16
            for (int p = 0; p < kSlots / kLanes; ++p) {
                std::ptrdiff_t at[kLanes];
                for (int j = 0; j < kLanes; ++j) at[j] = k[p * kLanes + j], opaque(at[j]), at[j] += s;
                west[p] = relaxed_lanes(a, f, t, nx, at, west[p]);
                for (int j = 0; j < kLanes; ++j) t[at[j]] = west[p][j];
            }
            if (edges && south < nx) t[south] = relaxed_value<kW | kE | kN>(*edges, f, t, nx, south), ++south;
            if (edges && step >= north_from) t[north] = relaxed_value<kS | kW | kE>(*edges, f, t, nx, north), ++north;
        }
        for (int b = 0; b < kSlots; ++b)
            if (row[b] < end && (pos[b] += len) == m) pos[b] = 0, row[b] += kSlots;
    }
    if (edges) edge_nodes(*edges, f, t, nx, n, north, n);
}

// Two sweeps at a time pay where three coefficient arrays are read, from 2^16 nodes (the benchmark,
// two sweeps per call: 1.48 against 1.56 ns per node at 257 x 257, 2.57 against 3.33 at 2049 x 2049);
// not where every coefficient is a number, nor on smaller grids (1.32 against 1.21 at 129 x 129).
constexpr std::ptrdiff_t kPairedFromNodes = std::ptrdiff_t{1} << 16;

template <class S>
void sweeps(Path path, const S& interior_stencil, const GridSystem& s, int sweep_count, const double* f, double* t) {
    const ArrayStencil arrays = array_stencil(s.view());
    const std::ptrdiff_t nx = s.grid.Nx, ny = s.grid.Ny, n = s.grid.N();
    auto interior = [&](auto r0, auto r1) { wavefront<8>(interior_stencil, nullptr, f, t, nx, r0, r1); };
    int sweep = 0;
    // Two sweeps at a time, the second a band of rows behind the first, each row brought from memory
    // once for both. The second sweep updates row r once the first has finished row r+1 (its north
    // neighbours) and read row r for the last time (as south neighbours of row r+1): every node
    // reads the values it reads when the sweeps run one after the other. The lead is some 400 KiB of
    // the six arrays' rows, a multiple of eight (the benchmark, against a lead of 8 rows: 1.65
    // against 1.85 ns per node at 257 x 257 with 32 rows; no gain from more at 513 or 1025).
    const std::ptrdiff_t lead = std::max<std::ptrdiff_t>(8, (std::ptrdiff_t{432} << 10) / (48 * nx) / 8 * 8);
    if (path == Path::paired && ny >= 3) {  // below 3 rows the second south row reads the first north row
        for (; sweep + 2 <= sweep_count; sweep += 2) {
            edge_nodes(arrays, f, t, nx, n, 0, nx);
            std::ptrdiff_t first = 1, second = 1;  // next interior row of each sweep
            while (first < ny - 1) {
                const std::ptrdiff_t end = std::min(first + lead, ny - 1);
                interior(first, end);
                if (first == 1) edge_nodes(arrays, f, t, nx, n, 0, nx);  // the first sweep has finished row 1
                interior(second, end - 1);
                first = end, second = end - 1;
            }
            edge_nodes(arrays, f, t, nx, n, n - nx, n);
            interior(second, ny - 1);
            edge_nodes(arrays, f, t, nx, n, n - nx, n);
        }
    }
    for (; sweep < sweep_count; ++sweep) {
        if (path != Path::plain) wavefront<8>(interior_stencil, &arrays, f, t, nx, 1, ny - 1);
        else in_order(arrays, &arrays, f, t, nx, 1, ny - 1);
    }
}

}  // namespace

void gauss_seidel_sweeps(const GaussSeidelParams& p, const GridSystem& s, std::span<const double> b,
                         std::span<double> T) {
    // The wavefront takes a seventh to two fifths of the plain loop's time at every size measured
    // (33 x 33 to 2049 x 2049): the row loop waits for each division before the next node starts.
    const Path path = p.path != Path::automatic ? p.path
                      : s.grid.N() >= kPairedFromNodes && !s.uniform.all() ? Path::paired : Path::banded;
    with_stencil(s.view(), s.uniform_for(path), [&](const auto& stencil) {
        sweeps(path, stencil, s, p.sweep_count, b.data(), T.data());
    });
}

}  // namespace advdiff::solvers
