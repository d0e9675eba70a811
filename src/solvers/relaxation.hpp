#pragma once
// One grid's system as the relaxations see it, and the dispatch from solver_kind to the
// iterative solver that relaxes it. Each piece has one owner: the coefficients are the model's
// (assembled once per grid and run), the uniform values are what the Gauss-Seidel sweep may read
// as numbers, the factors are MSI's; each is derived from the coefficients only once.

#include <cstddef>
#include <cstdint>
#include <span>

#include "model/coefficients.hpp"
#include "solvers/adi.hpp"
#include "solvers/five_point.hpp"
#include "solvers/msi.hpp"

namespace advdiff::solvers {

// MSI's factors of one grid's coefficients, which do not change during a run: computed on the
// first MSI call and reused by every later one.
struct MsiFactorCache {
    MsiFactors factors;
    bool ready = false;
    const MsiFactors& get(const model::StencilView& a, int Nx, int Ny, int N);
    static std::uint64_t bytes(std::uint64_t N) { return 7 * N * sizeof(double); }
};

struct GridSystem {
    int Nx = 0, Ny = 0, N = 0;
    model::StencilCoefficients coefficients;
    UniformInterior uniform;  // coefficients one value over the interior, found by assembled()
    MsiFactorCache msi;
    AdiLineCache adi;  // ADI's line factors of the coefficients, computed on the first ADI call

    // Sizes the coefficient arrays and assembles the case's system for an Nx x Ny grid.
    void assemble(const model::ModelCase& c, int nx, int ny);
    model::StencilView view() const { return model::StencilView(coefficients); }
    // The six coefficient arrays, and the MSI factors when solver_kind is MSI.
    static std::uint64_t bytes(std::uint64_t N, int solver_kind);
};

// Work vectors shared by the solver calls of a run, sized for its largest grid.
struct SolverWorkspace {
    MsiWork msi;
    AdiWork adi;
    // Sizes the vectors that solver_kind uses.
    void resize(std::size_t n, int solver_kind);
    static std::uint64_t bytes(std::uint64_t n, int solver_kind);
};

// Sweeps of Gauss-Seidel (solver_kind 1).
struct GaussSeidelParams {
    int sweep_count = 1;  // sweeps per call; below 1 none
};
// The MSI residual-correction iteration (solver_kind 2).
struct MsiParams {
    int iteration_limit = 1;  // corrections per call at most (below 1 counts as 1)
    double tolerance = 0.0;   // stops once the residual norm is at most this times its first value
};
// ADI iterations (solver_kind 3).
struct AdiParams {
    int iteration_count = 1;  // row-and-column iterations per call; below 1 none
};

// Which solver relaxes, and with what: the fields of the other solvers are not read.
struct Relaxation {
    int solver_kind = 0;  // 1 Gauss-Seidel, 2 MSI, 3 ADI; any other value relaxes nothing
    GaussSeidelParams gauss_seidel;
    MsiParams msi;
    AdiParams adi;

    // `count` iterations of the selected solver per call (the MSI limit), as both drivers ask.
    static Relaxation of(int solver_kind, int count, double msi_tolerance) {
        return {solver_kind, {count}, {count, msi_tolerance}, {count}};
    }
};

// Relaxes X with right-hand side b as `r` says; returns false (and does nothing) when
// r.solver_kind selects no iterative solver.
bool relax(const Relaxation& r, GridSystem& system, std::span<const double> b, std::span<double> X,
           SolverWorkspace& work);

}  // namespace advdiff::solvers
