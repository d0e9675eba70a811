#pragma once
// The reference tool's Krylov iteration: flexible GMRES (the preconditioned vectors are kept, so
// the preconditioner need not be linear: a single-precision multigrid cycle is not quite), on the
// five-point system of one grid. Only double operations and sqrt, in a fixed order (dot products
// included), so that every iterate is the same on every machine.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "model/coefficients.hpp"
#include "preconditioner.hpp"
#include "state/problem_state.hpp"
#include "stencil.hpp"

namespace advdiff::reference {

// Sum of a[k] b[k] in a fixed order: four running sums over k mod 4, then (s0 + s1) + (s2 + s3).
double dot(std::span<const double> a, std::span<const double> b);

struct GmresResult {
    int iterations = 0;      // preconditioner applications
    double reduction = 0.0;  // |r - A d| / |r| as the iteration estimates it (2-norms)
};

class Gmres {
public:
    // For the system A x = b of `a` on an Nx x Ny grid (kept by reference) and at most `restart`
    // iterations per call.
    Gmres(const model::StencilView& a, int Nx, int Ny, int restart);

    // Bytes the two bases take at most (they are allocated as the iteration first reaches them).
    static std::uint64_t bytes(const GridSize& g, int restart);

    // Where the caller puts the right-hand side r before solve(); solve() overwrites it.
    std::span<double> rhs() { return basis(0); }

    // d ~ A^-1 r from d = 0 by at most `restart` iterations, ending once the residual has come
    // down by `tolerance` (or the Krylov space holds the solution). `after` is told the iteration
    // count and the reduction after each iteration. Returns d (valid until the next call).
    std::span<const double> solve(Preconditioner& M, double tolerance, GmresResult& result,
                                  const std::function<void(int, double)>& after = {});

private:
    std::span<double> basis(int j);
    std::span<float> preconditioned(int j);

    SystemMatrix A_;
    std::size_t n_;
    int restart_;
    std::vector<Field> v_;               // orthonormal basis of the Krylov space
    std::vector<std::vector<float>> z_;  // z_j = M^-1 v_j
};

}  // namespace advdiff::reference
