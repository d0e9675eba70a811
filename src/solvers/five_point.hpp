#pragma once
// The five-point stencil, written once. Node k of an Nx x Ny grid couples to k-Nx (south), k-1
// (west), k+1 (east) and k+Nx (north) through aS, aW, aE, aN, and to itself through aP. Every
// kernel that applies the stencil (the Gauss-Seidel update, the level residual, the FAS
// right-hand side, the MSI residual) takes its products from `products` and combines them in the
// order its formula is defined in: each product is one rounded multiplication whichever way it is
// reached, so forming it here and combining it there gives the bits of the formula written out.

#include <cstddef>
#include <optional>
#include <span>

#include "model/coefficients.hpp"

namespace advdiff::solvers {

// One coefficient array, or one value that stands for every interior entry of it. A kernel
// instantiated with Uniform = true reads the value instead of the array: the same double either
// way, so the same bits, and one array fewer streamed from memory per node.
template <bool Uniform>
struct Coefficient {
    const double* values = nullptr;
    double uniform = 0.0;
    double operator[](std::ptrdiff_t k) const {
        if constexpr (Uniform) return uniform;
        else return values[k];
    }
};

// The five coefficients of a grid for the interior nodes, each either an array or a value.
template <bool US, bool UW, bool UP, bool UE, bool UN>
struct Stencil {
    Coefficient<US> aS;
    Coefficient<UW> aW;
    Coefficient<UP> aP;
    Coefficient<UE> aE;
    Coefficient<UN> aN;
};
using ArrayStencil = Stencil<false, false, false, false, false>;
// Rotating flow: the diffusion coefficients east and north are one value, the upwind ones vary.
using DiffusionUniformStencil = Stencil<false, false, false, true, true>;
// Constant velocity and pure diffusion: one value each over the whole interior.
using UniformStencil = Stencil<true, true, true, true, true>;

// The five products aS X(k-Nx), aW X(k-1), aP X(k), aE X(k+1), aN X(k+Nx) of a node whose four
// neighbours lie inside the array.
struct Products {
    double s, w, p, e, n;
};
template <class S>
inline Products products(const S& a, const double* X, std::ptrdiff_t nx, std::ptrdiff_t k) {
    return {a.aS[k] * X[k - nx], a.aW[k] * X[k - 1], a.aP[k] * X[k], a.aE[k] * X[k + 1], a.aN[k] * X[k + nx]};
}

// Gauss-Seidel update of an interior node: ((((b - aS T(k-Nx)) - aW T(k-1)) - aE T(k+1)) - aN T(k+Nx)) / aP.
template <class S>
inline double relaxed_value(const S& a, const double* f, const double* T, std::ptrdiff_t nx, std::ptrdiff_t k) {
    const Products q = products(a, T, nx, k);
    return ((((f[k] - q.s) - q.w) - q.e) - q.n) / a.aP[k];
}

// Residual: ((((f - aS X(k-Nx)) - aW X(k-1)) - aP X(k)) - aE X(k+1)) - aN X(k+Nx).
template <class S>
inline double residual_value(const S& a, const double* f, const double* X, std::ptrdiff_t nx, std::ptrdiff_t k) {
    const Products q = products(a, X, nx, k);
    return ((((f[k] - q.s) - q.w) - q.p) - q.e) - q.n;
}

// The operator applied as the FAS right-hand side sums it: (((aP X(k) + aW X(k-1)) + aE X(k+1))
// + aS X(k-Nx)) + aN X(k+Nx).
template <class S>
inline double applied_value(const S& a, const double* X, std::ptrdiff_t nx, std::ptrdiff_t k) {
    const Products q = products(a, X, nx, k);
    return (((q.p + q.w) + q.e) + q.s) + q.n;
}

// The arrays of a grid as an ArrayStencil.
inline ArrayStencil array_stencil(const model::StencilView& a) {
    return {{a.aS.data()}, {a.aW.data()}, {a.aP.data()}, {a.aE.data()}, {a.aN.data()}};
}

// The coefficients that hold one value, bit for bit, at every interior node of a grid, found once
// per grid and run after assembly. A kernel may read such a value instead of its array.
struct UniformInterior {
    std::optional<double> aS, aW, aP, aE, aN;

    static UniformInterior find(const model::StencilView& a, int Nx, int Ny) {
        return {model::uniform_interior_value(a.aS, Nx, Ny), model::uniform_interior_value(a.aW, Nx, Ny),
                model::uniform_interior_value(a.aP, Nx, Ny), model::uniform_interior_value(a.aE, Nx, Ny),
                model::uniform_interior_value(a.aN, Nx, Ny)};
    }
    bool all() const { return aS && aW && aP && aE && aN; }
    bool east_and_north() const { return aE && aN; }
};

// Calls body(stencil) with the narrowest stencil type the uniform values allow.
template <class Body>
inline void with_stencil(const model::StencilView& a, const UniformInterior& u, Body&& body) {
    if (u.all()) {
        body(UniformStencil{{nullptr, *u.aS}, {nullptr, *u.aW}, {nullptr, *u.aP}, {nullptr, *u.aE}, {nullptr, *u.aN}});
    } else if (u.east_and_north()) {
        body(DiffusionUniformStencil{{a.aS.data()}, {a.aW.data()}, {a.aP.data()}, {nullptr, *u.aE}, {nullptr, *u.aN}});
    } else {
        body(array_stencil(a));
    }
}

}  // namespace advdiff::solvers
