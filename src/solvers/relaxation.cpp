#include "solvers/relaxation.hpp"

#include "solvers/gauss_seidel.hpp"
#include "state/problem_state.hpp"

namespace advdiff::solvers {

const MsiFactors& MsiFactorCache::get(const model::StencilView& a, int Nx, int Ny, int N) {
    if (!ready) {
        factors.resize(static_cast<std::size_t>(N));
        msi_factorise(a, factors, N, Nx, Ny);
        ready = true;
    }
    return factors;
}

void GridSystem::assemble(const model::ModelCase& c, int nx, int ny) {
    Nx = nx;
    Ny = ny;
    N = nx * ny;
    coefficients.resize(static_cast<std::size_t>(N));
    model::assemble_coefficients(c, nx, ny, coefficients);
    uniform = UniformInterior::find(view(), Nx, Ny);
    msi = {};
    adi = {};
}

std::uint64_t GridSystem::bytes(std::uint64_t N, int solver_kind) {
    return 6 * N * sizeof(double) + (solver_kind == kMsi ? MsiFactorCache::bytes(N) : 0) +
           (solver_kind == kAdi ? AdiLineCache::bytes(N) : 0);
}

void SolverWorkspace::resize(std::size_t n, int solver_kind) {
    if (solver_kind == kMsi) msi.resize(n);
    if (solver_kind == kAdi) adi.resize(n);
}

std::uint64_t SolverWorkspace::bytes(std::uint64_t n, int solver_kind) {
    if (solver_kind == kMsi) return 3 * n * sizeof(double);  // r, w, delta
    if (solver_kind == kAdi) return 2 * n * sizeof(double);  // p, q
    return 0;
}

bool relax(const Relaxation& r, GridSystem& system, std::span<const double> b, std::span<double> X,
           SolverWorkspace& work) {
    const model::StencilView a = system.view();
    switch (r.solver_kind) {
        case kGaussSeidel:
            gauss_seidel_sweeps(system.Nx, system.Ny, system.N, r.gauss_seidel.sweep_count, a, system.uniform, b, X);
            return true;
        case kMsi: {
            const MsiFactors& f = system.msi.get(a, system.Nx, system.Ny, system.N);
            msi_solve(a, f, system.Ny, system.Nx, system.N, X, r.msi.tolerance, r.msi.iteration_limit, b, work.msi);
            return true;
        }
        case kAdi:
            adi_solve(system.Nx, system.Ny, system.N, r.adi.iteration_count, a, system.uniform, system.adi, b, X,
                      work.adi);
            return true;
        default:
            return false;
    }
}

}  // namespace advdiff::solvers
