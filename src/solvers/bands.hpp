#pragma once
// The band scheduler: several rows of a pass in flight at once. A pass that walks a row node after
// node waits at each node for the one before it (a division or a chain of subtractions); with
// kRows rows interleaved, the nodes of one step are independent and their chains overlap.
//
// A pass numbers its rows 0, 1, ... in the order it defines them and each row's nodes by positions
// 0 .. m-1 in its own order (a backward pass maps them to nodes from the east end, rows from the
// top). Band row b runs kSkew positions behind band row b-1: at step s it is at position s - kSkew b.
// The pass guarantees that a node reads, from its own row, only earlier positions; from earlier
// rows, only positions up to kSkew - 1 beyond its own, which are written at earlier steps; and
// from later rows only positions that they write at later steps (a Gauss-Seidel node's north
// neighbour, which is to keep its old value). So every node reads the values it reads when the
// rows run one after the other.
//
// The one exception is a row's first node, whose link term reaches the last node of the row before
// it (the west term of a row's first node, or the east term of a backward row's first node). The
// link coefficient belongs to a boundary node and is zero in every assembled system, but the term
// still changes the result when the other operand is not finite or the partial value is a zero of
// the other sign. So a linked pass starts each row as if the link value were 0 (node(r, 0)), and
// once the band is done, checks (start_holds) that the true link value gives the same bits; from
// the first row where it does not, the band's rows are computed again one after the other (row),
// each from the true value. Every value is then the one the plain pass computes. Rows left over
// after the last band also run one after the other.
//
// The hooks a pass provides (BandPass has the defaults):
//   band(r0)          before the steps of rows r0 .. r0+kRows-1
//   node(r, i)        position i of row r, all rows in flight (i = 0: the link taken as 0)
//   step()            after each step: other work to overlap with the band's chains
//   start_holds(r)    whether row r's start from link 0 equals the start from the true link
//   row(r)            row r node by node from the true link
//   done(r0, r1)      rows r0 .. r1-1 are final

#include <cstddef>
#include <cstring>

namespace advdiff::solvers {

// Bit equality, the test of a row's start.
inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct BandPass {
    void band(std::ptrdiff_t) {}
    void step() {}
    bool start_holds(std::ptrdiff_t) { return true; }
    void done(std::ptrdiff_t, std::ptrdiff_t) {}
};

// Rows first .. end-1 of `pass`, m positions each.
template <int kRows, int kSkew, class Pass>
void run_in_bands(Pass& pass, std::ptrdiff_t first, std::ptrdiff_t end, std::ptrdiff_t m) {
    constexpr std::ptrdiff_t kLag = kSkew * (kRows - 1);
    std::ptrdiff_t r0 = first;
    for (; r0 + kRows <= end; r0 += kRows) {
        pass.band(r0);
        for (std::ptrdiff_t s = 0; s < m + kLag; ++s) {
            if (s >= kLag && s < m) {
#pragma GCC unroll 8
                for (int b = 0; b < kRows; ++b) pass.node(r0 + b, s - kSkew * b);
            } else {
                for (int b = 0; b < kRows; ++b)
                    if (s - kSkew * b >= 0 && s - kSkew * b < m) pass.node(r0 + b, s - kSkew * b);
            }
            pass.step();
        }
        for (int b = 0; b < kRows; ++b)
            if (!pass.start_holds(r0 + b)) {
                for (std::ptrdiff_t r = r0 + b; r < r0 + kRows; ++r) pass.row(r);
                break;
            }
        pass.done(r0, r0 + kRows);
    }
    for (; r0 < end; ++r0) {
        pass.row(r0);
        pass.done(r0, r0 + 1);
    }
}

// The same with the rows left over after the last band of kRows run in bands of kRows/2, kRows/4,
// ... 2 (a grid of 2^k + 1 rows leaves 2^k - 1 rows a pass: one band short of a row), and the last
// one, if any, in order.
template <int kRows, int kSkew, class Pass>
void run_in_halving_bands(Pass& pass, std::ptrdiff_t first, std::ptrdiff_t end, std::ptrdiff_t m) {
    const std::ptrdiff_t banded_end = first + (end - first) / kRows * kRows;
    if constexpr (kRows > 2) {
        run_in_bands<kRows, kSkew>(pass, first, banded_end, m);
        run_in_halving_bands<kRows / 2, kSkew>(pass, banded_end, end, m);
    } else {
        run_in_bands<kRows, kSkew>(pass, first, end, m);
    }
}

}  // namespace advdiff::solvers
