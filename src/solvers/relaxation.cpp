#include "solvers/relaxation.hpp"

#include "solvers/gauss_seidel.hpp"
#include "state/problem_state.hpp"

namespace advdiff::solvers {

bool relax(int solver_kind, int count, double msi_tolerance, LinearSystem& system, std::span<const double> b,
           std::span<double> X, SolverWorkspace& work) {
    const model::StencilView a = system.view();
    switch (solver_kind) {
        case kGaussSeidel:
            gauss_seidel_sweeps(system.Nx, system.Ny, system.N, count, a, b, X);
            return true;
        case kMsi:
            if (!system.msi_factorised) {
                system.msi.resize(static_cast<std::size_t>(system.N));
                msi_factorise(a, system.msi, system.N, system.Nx, system.Ny);
                system.msi_factorised = true;
            }
            msi_solve(a, system.msi, system.Ny, system.Nx, system.N, X, msi_tolerance, count, b, work.msi);
            return true;
        case kAdi:
            adi_solve(system.Nx, system.Ny, system.N, count, a, b, X, work.adi);
            return true;
        default:
            return false;
    }
}

}  // namespace advdiff::solvers
