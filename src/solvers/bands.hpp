#pragma once
// The band scheduler: several rows of a pass in flight at once. A pass that walks a row node after
// node waits at each node for the one before it (a division or a chain of subtractions); with
// kRows rows interleaved, the nodes of one step are independent and their chains overlap.
//
// A pass numbers its rows 0, 1, ... in the order it defines them and each row's nodes by positions
// 0 .. m-1 in its own order (a backward pass maps them to nodes from the east end, rows from the
// top). Band row b runs `skew` positions behind band row b-1: at step s it is at position s - skew b.
// The pass guarantees that a node reads, from its own row, only earlier positions; from earlier
// rows, only positions up to kLeast - 1 beyond its own, which are written at earlier steps as
// skew >= kLeast; and from later rows only positions that they write at later steps (a
// Gauss-Seidel node's north neighbour, which is to keep its old value). So every node reads the
// values it reads when the rows run one after the other, whatever the skew.
//
// The one exception is a row's first node, whose link term reaches the last node of the row before
// it (the west term of a row's first node, or the east term of a backward row's first node). The
// link coefficient belongs to a boundary node and is zero in every assembled system, but the term
// still changes the result when the other operand is not finite or the partial value is a zero of
// the other sign. So a linked pass starts each row as if the link value were 0 (node(r, 0)), and
// once the band is done, checks (start_holds) that the true link value gives the same bits; from
// the first row where it does not, the band's rows are computed again one after the other (row),
// each from the true value. Every value is then the one the plain pass computes. Rows left over
// after the last band of kRows run in bands of kRows/2, kRows/4, ... 1 (a grid of 2^k + 1 rows
// leaves 2^k - 1 rows a pass: one band short of a row).

#include <algorithm>
#include <cstddef>

namespace advdiff::solvers {

// A pass provides node(r, i), position i of row r with all rows in flight (i = 0: the link taken as
// 0); row(r), row r node by node from the true link; held(r), the positions [first, end) of row r
// where held_node(r, i), node(r, i) from values held as numbers (called for i > 0 only), gives
// node's bits; it may add held_pair(r, i, j): held_node(r, i) and (r + 1, j) at once. Other hooks:
struct BandPass {
    void band(std::ptrdiff_t, int) {}  // before the steps of the `rows` rows from r0
    void step() {}                     // after each step: other work to overlap with the band's chains
    bool start_holds(std::ptrdiff_t) { return true; }  // row r's start from link 0 is that from the true link
    void done(std::ptrdiff_t, std::ptrdiff_t) {}       // rows r0 .. r1-1 are final
};

// The skew, at least `least`, for rows `stride` doubles apart. The nodes of one step lie
// (stride - skew) doubles from row to row; where a multiple of that comes close to a multiple of
// 4 KiB, the processor holds each load that matches a pending store in the low twelve address
// bits until the store is done ("4K aliasing"): 513 nodes a row with skew 1 puts all eight rows of
// a Gauss-Seidel band on one such address and doubles the time of a sweep. Rows that read each
// other's new values (least > 0) are kept a cache line from it, independent rows two doubles (the
// benchmark: more costs the small grids the longer ramp of the band and gains nothing). The
// schedule is the same for every skew (see above); only the time changes.
inline std::ptrdiff_t band_skew(std::ptrdiff_t stride, int rows, std::ptrdiff_t least) {
    constexpr std::ptrdiff_t kPage = 512;  // doubles in 4 KiB
    const std::ptrdiff_t margin = least > 0 ? 8 : 2;
    for (std::ptrdiff_t skew = least;; ++skew) {
        bool apart = true;
        for (std::ptrdiff_t d = 1; d < rows && apart; ++d) {
            const std::ptrdiff_t at = (d * (stride - skew)) & (kPage - 1);  // modulo kPage, in [0, kPage)
            apart = at >= margin && at <= kPage - margin;
        }
        if (apart) return skew;
    }
}

// Rows first .. end-1 of `pass`, m positions each, rows `stride` doubles apart in memory.
template <int kRows, int kLeast, class Pass>
void run_in_bands(Pass& pass, std::ptrdiff_t first, std::ptrdiff_t end, std::ptrdiff_t m, std::ptrdiff_t stride) {
    const std::ptrdiff_t skew = end - first >= kRows ? band_skew(stride, kRows, kLeast) : 0, lag = skew * (kRows - 1);
    std::ptrdiff_t r0 = first;
    auto ramp = [&](std::ptrdiff_t from, std::ptrdiff_t to) {  // steps with rows not yet or no more in flight
        for (std::ptrdiff_t s = from; s < to; ++s, pass.step())
            for (int b = 0; b < kRows; ++b)
                if (s - skew * b >= 0 && s - skew * b < m) pass.node(r0 + b, s - skew * b);
    };
    auto steady = [&](std::ptrdiff_t from, std::ptrdiff_t to, auto node) {  // every row in flight
        for (std::ptrdiff_t s = from; s < to; ++s, pass.step()) {
#pragma GCC unroll 8
            for (int b = 0; b < kRows; ++b) node(r0 + b, s - skew * b);
        }
    };
    for (; r0 + kRows <= end; r0 += kRows) {
        pass.band(r0, kRows);
        // The steps at which every row is inside its held positions (none before every row is past
        // its position 0).
        const std::ptrdiff_t to = std::max(lag, m);
        std::ptrdiff_t held_from = to, held_to = to;
        for (int b = 0; b < kRows; ++b) {
            const auto [h0, h1] = pass.held(r0 + b);
            held_from = b == 0 ? h0 : std::max(held_from, h0 + skew * b);
            held_to = b == 0 ? h1 : std::min(held_to, h1 + skew * b);
        }
        held_from = std::min(std::max(held_from, lag + 1), to);
        held_to = std::min(std::max(held_to, held_from), to);
        ramp(0, lag);
        steady(lag, held_from, [&](std::ptrdiff_t r, std::ptrdiff_t i) { pass.node(r, i); });
        if constexpr (kRows > 1 && requires { pass.held_pair(r0, m, m); })  // rows b and b+1 in one call
            for (std::ptrdiff_t s = held_from; s < held_to; ++s, pass.step())
                for (int b = 0; b < kRows; b += 2) pass.held_pair(r0 + b, s - skew * b, s - skew * (b + 1));
        else
            steady(held_from, held_to, [&](std::ptrdiff_t r, std::ptrdiff_t i) { pass.held_node(r, i); });
        steady(held_to, to, [&](std::ptrdiff_t r, std::ptrdiff_t i) { pass.node(r, i); });
        ramp(to, m + lag);
        for (int b = 0; b < kRows; ++b)
            if (!pass.start_holds(r0 + b)) {
                for (std::ptrdiff_t r = r0 + b; r < r0 + kRows; ++r) pass.row(r);
                break;
            }
        pass.done(r0, r0 + kRows);
    }
    if constexpr (kRows > 1) run_in_bands<kRows / 2, kLeast>(pass, r0, end, m, stride);
}

}  // namespace advdiff::solvers
