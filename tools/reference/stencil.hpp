#pragma once
// What the parts of the reference tool share: grid sizes and their text, saturating byte counts,
// and the operations on the five-point system of one grid. Boundary nodes carry identity
// equations; a coefficient whose neighbour lies outside the grid is never used.
//
// Every loop here visits the nodes in one fixed order and every sum is formed in the order
// written, so each result is the same double on every machine.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>

#include "model/coefficients.hpp"

namespace advdiff::reference {

struct GridSize {
    int nx;
    int ny;

    std::size_t nodes() const { return static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny); }
    bool operator==(const GridSize&) const = default;
};

// "17 x 9", as the tool's messages and its summary line show a grid.
inline std::string grid_text(int Nx, int Ny) { return std::to_string(Nx) + " x " + std::to_string(Ny); }

// a * b for byte and element counts, saturating at the largest uint64 instead of wrapping.
inline std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

inline std::uint64_t saturating_sum(std::uint64_t a, std::uint64_t b) {
    return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

// Bytes of `fields` arrays of doubles over the nodes of a grid, saturating.
inline std::uint64_t field_bytes(std::uint64_t fields, const GridSize& g) {
    return saturating_product(saturating_product(fields, sizeof(double)),
                              static_cast<std::uint64_t>(g.nx) * static_cast<std::uint64_t>(g.ny));
}

// max(norm, |value|), where a value that is not a number wins and stays, so that a broken
// solution shows.
inline double max_magnitude(double norm, double value) {
    const double magnitude = std::fabs(value);
    return (magnitude <= norm || norm != norm) ? norm : magnitude;
}

// Largest magnitude of a field (NaN if it holds one).
double max_norm(std::span<const double> v);

// The five-point system of one grid as the Krylov iteration multiplies by it: where every interior
// node has the same east and north coefficients (diffusion alone), they are kept as one value
// each, and a product reads two arrays fewer.
struct SystemMatrix {
    model::StencilView a;
    int Nx, Ny;
    std::optional<double> east, north;  // both or neither

    SystemMatrix(const model::StencilView& a, int Nx, int Ny);
};

// y = A x on the rows first .. last (1-based) of the grid (boundary rows included), for x in
// single precision (the corrections that the multigrid gives), every product and sum in double,
// in the order aP, aW, aE, aS, aN.
void multiply_rows(const SystemMatrix& A, std::span<const float> x, std::span<double> y, int first, int last);

// r = b - A (x_hi + x_lo) over every node, each row summed with twice the precision of a double
// (error-free products and sums), then rounded once: r is the residual of the unevaluated sum
// x_hi + x_lo to within about one rounding of r itself. `x_lo` may be empty (x_hi alone), `r`
// when only the norm is wanted. Returns max |r| (NaN if a row gives NaN).
double exact_residual(const model::StencilView& a, std::span<const double> b, int Nx, int Ny,
                      std::span<const double> x_hi, std::span<const double> x_lo, std::span<double> r);

// The size of the terms of the equations at x: max over the nodes of |b| + sum |a_nb x_nb|. A
// residual that is a small multiple of the unit round-off times this is as small as it can get.
double equation_scale(const model::StencilView& a, std::span<const double> b, int Nx, int Ny,
                      std::span<const double> x);

// The first interior node (1-based i, j, in node order) whose equation Gauss-Seidel cannot smooth:
// a zero or non-finite diagonal, or a neighbour coefficient of the same sign as the diagonal
// (with the zero row sums of these equations, opposite signs make the row weakly diagonally
// dominant). Empty when every interior equation can be smoothed.
struct NodeIndex {
    int i;
    int j;
};
std::optional<NodeIndex> first_unsmoothable_node(const model::StencilView& a, int Nx, int Ny);

// The value that every interior node of an Nx x Ny grid holds in `a`, bit for bit, if there is one
// (and the grid has interior nodes): a kernel may then read that value instead of the array.
std::optional<double> uniform_interior_value(std::span<const double> a, int Nx, int Ny);

}  // namespace advdiff::reference
