#pragma once
// Alternating-direction line relaxation: each iteration solves every grid row as a tridiagonal
// system (south and north neighbours from the field before the half-sweep), then every grid
// column (west and east neighbours from the row half-sweep's result), each line by the Thomas
// algorithm.

#include <cstddef>
#include <span>

#include "model/coefficients.hpp"
#include "state/problem_state.hpp"

namespace advdiff::solvers {

// Forward-pass coefficients: after a line's forward pass T(k) = p(k) T(next) + q(k).
struct AdiWork {
    Field p, q;
    void resize(std::size_t n) {
        p.assign(n, 0.0);
        q.assign(n, 0.0);
    }
};

// `count` iterations on T (nothing when below 1).
void adi_solve(int Nx, int Ny, int N, int count, const model::StencilView& a, std::span<const double> b,
               std::span<double> T, AdiWork& work);

}  // namespace advdiff::solvers
