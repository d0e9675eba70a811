// The prepare step and its plan: what a grid's system holds for a solver, what its kernels need
// as scratch, and the dispatch from solver_kind to the iterative solvers.

#include "solvers/kernels.hpp"

namespace advdiff::solvers {

Plan Plan::of(Grid g, int solver_kind) {
    const auto n = static_cast<std::uint64_t>(g.Nx) * static_cast<std::uint64_t>(g.Ny);
    Plan p{solver_kind == kMsi, solver_kind == kAdi, {}};
    if (solver_kind == kMsi) p.scratch = {n, n, n};
    if (solver_kind == kAdi) p.scratch = {n, n, 0};
    if (solver_kind == kElimGauss) p.scratch = {saturating_times(n, 2 * static_cast<std::uint64_t>(g.Nx) + 1), n, 0};
    return p;
}

std::uint64_t Plan::system_doubles(Grid g) const {
    const auto n = static_cast<std::uint64_t>(g.Nx) * static_cast<std::uint64_t>(g.Ny);
    const std::uint64_t held_runs = msi_factors ? 2 * static_cast<std::uint64_t>(g.Ny) : 0;  // two numbers a row
    return saturating_sum({saturating_times(n, 6 + (msi_factors ? 7 : 0) + (adi_lines ? 4 : 0)), held_runs});
}

void GridSystem::assemble(const model::ModelCase& c, Grid g, int solver_kind) {  // then prepare()
    coefficients.size_for_assembly(static_cast<std::size_t>(g.N()));
    model::assemble_coefficients(c, g.Nx, g.Ny, coefficients);
    prepare(g, solver_kind);
}

void GridSystem::prepare(Grid g, int solver_kind) {
    grid = g;
    const Plan plan = Plan::of(g, solver_kind);
    uniform = UniformInterior::find(view(), g);
    msi = {}, adi = {};
    if (plan.msi_factors) msi_factorise(view(), g, msi);
    if (plan.adi_lines) adi_line_factors(view(), g, adi);
}

void Scratch::prepare(Grid largest, int solver_kind) {
    const Plan plan = Plan::of(largest, solver_kind);
    for (std::size_t i = 0; i < v.size(); ++i) v[i].assign(static_cast<std::size_t>(plan.scratch[i]), 0.0);
}

std::uint64_t Scratch::bytes(Grid g, int solver_kind) {
    const Plan plan = Plan::of(g, solver_kind);
    return saturating_sum({bytes_of(plan.scratch[0]), bytes_of(plan.scratch[1]), bytes_of(plan.scratch[2])});
}

bool relax(const Relaxation& r, const GridSystem& s, std::span<const double> b, std::span<double> X, Scratch& scratch) {
    switch (r.solver_kind) {
        case kGaussSeidel: gauss_seidel_sweeps(r.gauss_seidel, s, b, X); return true;
        case kMsi: msi_solve(r.msi, s, b, X, scratch); return true;
        case kAdi: adi_solve(r.adi, s, b, X, scratch); return true;
        default: return false;
    }
}

}  // namespace advdiff::solvers
