#pragma once
// The five-point stencil, written once. Node k of an Nx x Ny grid couples to k-Nx (south), k-1
// (west), k+1 (east) and k+Nx (north) through aS, aW, aE, aN, and to itself through aP. Each
// kernel's node formula names the terms it combines and their order; `Has` says which neighbours
// the node has (edge nodes lack some), and an absent term is left out, not added as zero (a zero
// could change the sign of a zero result). Each product is one rounded multiplication however it
// is reached, so the formulas give the bits of the definitions written out node by node.

#include <cstddef>
#include <cstring>
#include <optional>

#include "model/coefficients.hpp"
#include "state/problem_state.hpp"

namespace advdiff::solvers {

// Bit equality: where a faster path reads one value for many, or a row's start for its true one.
inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Two nodes at a time: two-lane arithmetic on SSE2 (the x86-64 baseline) or NEON; a target without
// it gets the same operations lane by lane from the compiler. Lane j is values[k[j] + offset].
using Lanes = double __attribute__((vector_size(16)));
constexpr int kLanes = sizeof(Lanes) / sizeof(double);
template <class V>
inline Lanes gather(const V& values, const std::ptrdiff_t* k, std::ptrdiff_t offset = 0) {
    return Lanes{values[k[0] + offset], values[k[1] + offset]};
}

// The terms of a node: its neighbours, and itself (kP).
enum Term : unsigned { kS = 1, kW = 2, kE = 4, kN = 8, kP = 16, kAround = kS | kW | kE | kN };

// One coefficient array, or one value that stands for every interior entry of it. A kernel
// instantiated with Uniform = true reads the value instead of the array: the same double either
// way, so the same bits, and one array fewer streamed from memory per node.
template <bool Uniform>
struct Coefficient {
    const double* values = nullptr;
    double uniform = 0.0;
    double operator[](std::ptrdiff_t k) const { return Uniform ? uniform : values[k]; }
};

// The five coefficients of a grid, each an array or a value.
template <bool US, bool UW, bool UP, bool UE, bool UN>
struct Stencil {
    Coefficient<US> aS;
    Coefficient<UW> aW;
    Coefficient<UP> aP;
    Coefficient<UE> aE;
    Coefficient<UN> aN;
};
using ArrayStencil = Stencil<false, false, false, false, false>;
inline ArrayStencil array_stencil(const model::StencilView& a) {
    return {{a.aS.data()}, {a.aW.data()}, {a.aP.data()}, {a.aE.data()}, {a.aN.data()}};
}

// One term's coefficient at node k, and its product with the value it multiplies.
template <unsigned T, class S>
inline double coefficient(const S& a, std::ptrdiff_t k) {
    if constexpr (T == kS) return a.aS[k];
    else if constexpr (T == kW) return a.aW[k];
    else if constexpr (T == kP) return a.aP[k];
    else if constexpr (T == kE) return a.aE[k];
    else return a.aN[k];
}
template <unsigned T, class S>
inline double product(const S& a, const double* X, std::ptrdiff_t nx, std::ptrdiff_t k) {
    const std::ptrdiff_t offset = T == kS ? -nx : T == kW ? -1 : T == kE ? 1 : T == kN ? nx : 0;
    return coefficient<T>(a, k) * X[k + offset];
}

// ((t1 + t2) + t3) + ... over the terms of Order that are in Has, left to right (at least one).
template <unsigned Has, unsigned First, unsigned... Rest, class S>
inline double sum(const S& a, const double* X, std::ptrdiff_t nx, std::ptrdiff_t k) {
    if constexpr ((Has & First) == 0) return sum<Has, Rest...>(a, X, nx, k);
    double v = product<First>(a, X, nx, k);
    ((v = (Has & Rest) ? v + product<Rest>(a, X, nx, k) : v), ...);
    return v;
}

// ((v - t1) - t2) - ... over the terms of Order that are in Has.
template <unsigned Has, unsigned... Order, class S>
inline double minus(double v, const S& a, const double* X, std::ptrdiff_t nx, std::ptrdiff_t k) {
    ((v = (Has & Order) ? v - product<Order>(a, X, nx, k) : v), ...);
    return v;
}

// Nodes [begin, end) in order, each through body.template operator()<Has>(k) with the terms whose
// neighbour index lies inside the n nodes of a grid of at least two rows: an edge node's formula is
// the middle one's with those terms left out.
template <class Body>
inline void for_nodes(std::ptrdiff_t nx, std::ptrdiff_t n, std::ptrdiff_t begin, std::ptrdiff_t end, Body&& body) {
    for (std::ptrdiff_t k = begin; k < end; ++k) {
        if (k == 0) body.template operator()<kE | kN>(k);
        else if (k < nx) body.template operator()<kW | kE | kN>(k);
        else if (k < n - nx) body.template operator()<kAround>(k);
        else if (k < n - 1) body.template operator()<kS | kW | kE>(k);
        else body.template operator()<kS | kW>(k);
    }
}

// Gauss-Seidel update: ((((b - aS T(k-Nx)) - aW T(k-1)) - aE T(k+1)) - aN T(k+Nx)) / aP.
template <unsigned Has = kAround, class S>
inline double relaxed_value(const S& a, const double* f, const double* T, std::ptrdiff_t nx, std::ptrdiff_t k) {
    return minus<Has, kS, kW, kE, kN>(f[k], a, T, nx, k) / a.aP[k];
}

// Level residual: ((((f - aS X(k-Nx)) - aW X(k-1)) - aP X(k)) - aE X(k+1)) - aN X(k+Nx).
template <class S>
inline double residual_value(const S& a, const double* f, const double* X, std::ptrdiff_t nx, std::ptrdiff_t k) {
    return minus<kAround | kP, kS, kW, kP, kE, kN>(f[k], a, X, nx, k);
}

// The operator as the FAS right-hand side sums it: (((aP X + aW X(k-1)) + aE X(k+1)) + aS X(k-Nx)) + aN X(k+Nx).
template <unsigned Has = kAround, class S>
inline double applied_value(const S& a, const double* X, std::ptrdiff_t nx, std::ptrdiff_t k) {
    return sum<Has | kP, kP, kW, kE, kS, kN>(a, X, nx, k);
}

// MSI's residual: b - ((((aS X(k-Nx) + aW X(k-1)) + aN X(k+Nx)) + aP X) + aE X(k+1)); node N alone
// sums in the order W, P, S.
template <unsigned Has = kAround, class S>
inline double msi_residual_value(const S& a, const double* f, const double* X, std::ptrdiff_t nx, std::ptrdiff_t k) {
    if constexpr (Has == (kS | kW)) return f[k] - sum<kW | kP | kS, kW, kP, kS>(a, X, nx, k);
    else return f[k] - sum<Has | kP, kS, kW, kN, kP, kE>(a, X, nx, k);
}

// The coefficients that hold one value, bit for bit, at every interior node of a grid. A kernel may
// read such a value instead of its array.
struct UniformInterior {
    std::optional<double> aS, aW, aP, aE, aN;

    static std::optional<double> value_of(const double* a, Grid g) {
        if (g.Nx < 3 || g.Ny < 3) return std::nullopt;
        const double first = a[node(2, 2, g.Nx)];
        for (int j = 2; j <= g.Ny - 1; ++j)
            for (int i = 2; i <= g.Nx - 1; ++i)
                if (!same_bits(a[node(i, j, g.Nx)], first)) return std::nullopt;
        return first;
    }
    static UniformInterior find(const model::StencilView& a, Grid g) {
        return {value_of(a.aS.data(), g), value_of(a.aW.data(), g), value_of(a.aP.data(), g),
                value_of(a.aE.data(), g), value_of(a.aN.data(), g)};
    }
    bool all() const { return aS && aW && aP && aE && aN; }
};

// Calls body(stencil) with the narrowest stencil the uniform values allow: all five as numbers
// (constant velocity), aE and aN as numbers (the rotating flow's diffusion terms), or none.
template <class Body>
inline void with_stencil(const model::StencilView& a, const UniformInterior& u, Body&& body) {
    if (u.all()) {
        body(Stencil<true, true, true, true, true>{
            {nullptr, *u.aS}, {nullptr, *u.aW}, {nullptr, *u.aP}, {nullptr, *u.aE}, {nullptr, *u.aN}});
    } else if (u.aE && u.aN) {
        body(Stencil<false, false, false, true, true>{
            {a.aS.data()}, {a.aW.data()}, {a.aP.data()}, {nullptr, *u.aE}, {nullptr, *u.aN}});
    } else body(array_stencil(a));
}

}  // namespace advdiff::solvers
