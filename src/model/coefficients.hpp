#pragma once
// The five-point finite-difference system of a grid: upwind differences for advection (always
// the west side for u and the south side for v), central differences for diffusion, and an
// identity equation carrying the Dirichlet value at every boundary node. The equation of node k is
//   aP(k) T(k) + aW(k) T(k-1) + aE(k) T(k+1) + aS(k) T(k-Nx) + aN(k) T(k+Nx) = b(k).

#include <cstddef>
#include <span>

#include "model/model_problem.hpp"
#include "state/problem_state.hpp"

namespace advdiff::model {

struct StencilCoefficients {
    SizedField aS, aW, aP, aE, aN;  // the five coefficients of each node
    SizedField b;                   // right-hand side

    // n entries each, all zero.
    void resize(std::size_t n) {
        for (SizedField* f : {&aS, &aW, &aP, &aE, &aN, &b}) f->assign(n, 0.0);
    }
    // n entries each, left as they are: for assemble_coefficients, which writes every entry.
    void size_for_assembly(std::size_t n) {
        for (SizedField* f : {&aS, &aW, &aP, &aE, &aN, &b}) f->resize(n);
    }
};

// Read-only view of the five coefficient arrays of one grid, as the solvers take them.
struct StencilView {
    std::span<const double> aS, aW, aP, aE, aN;

    StencilView() = default;
    explicit StencilView(const StencilCoefficients& c) : aS(c.aS), aW(c.aW), aP(c.aP), aE(c.aE), aN(c.aN) {}
};

// The five arrays as pointers, for the loops that index them by node:
//     const auto [aS, aW, aP, aE, aN] = model::pointers(view);
struct StencilPointers {
    const double *aS, *aW, *aP, *aE, *aN;
};
inline StencilPointers pointers(const StencilView& v) {
    return {v.aS.data(), v.aW.data(), v.aP.data(), v.aE.data(), v.aN.data()};
}

// Fills every entry of `out` (already sized Nx*Ny) for an Nx x Ny grid of the case.
void assemble_coefficients(const ModelCase& c, int Nx, int Ny, StencilCoefficients& out);

}  // namespace advdiff::model
