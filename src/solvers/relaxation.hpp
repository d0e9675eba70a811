#pragma once
// One grid's linear system together with what the solvers derive from it, and the dispatch from
// solver_kind to the iterative solver that relaxes it.

#include <cstddef>
#include <optional>
#include <span>

#include "model/coefficients.hpp"
#include "solvers/adi.hpp"
#include "solvers/msi.hpp"

namespace advdiff::solvers {

struct LinearSystem {
    int Nx = 0, Ny = 0, N = 0;
    model::StencilCoefficients coefficients;
    // The MSI factors depend on the coefficients only, which do not change during a run: they are
    // computed on the first MSI call and reused by every later one.
    MsiFactors msi;
    bool msi_factorised = false;

    // Coefficients found uniform over the interior (find_uniform_coefficients).
    std::optional<double> interior_aE, interior_aN;

    // Looks for coefficients that are the same value at every interior node; call once the
    // coefficients are assembled.
    void find_uniform_coefficients() {
        interior_aE = model::uniform_interior_value(coefficients.aE, Nx, Ny);
        interior_aN = model::uniform_interior_value(coefficients.aN, Nx, Ny);
    }

    model::StencilView view() const {
        model::StencilView v(coefficients);
        v.interior_aE = interior_aE;
        v.interior_aN = interior_aN;
        return v;
    }
};

// Work vectors shared by the solver calls of a run, sized for its largest grid.
struct SolverWorkspace {
    MsiWork msi;
    AdiWork adi;
    void resize(std::size_t n) {
        msi.resize(n);
        adi.resize(n);
    }
};

// `count` iterations of solver 1 (Gauss-Seidel sweeps), 2 (MSI, count is its iteration limit) or
// 3 (ADI) on X with right-hand side b. Any other solver_kind does nothing and returns false.
bool relax(int solver_kind, int count, double msi_tolerance, LinearSystem& system, std::span<const double> b,
           std::span<double> X, SolverWorkspace& work);

}  // namespace advdiff::solvers
