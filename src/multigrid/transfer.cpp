#include "multigrid/transfer.hpp"

#include <cstddef>

#include "state/problem_state.hpp"

namespace advdiff::multigrid {

void inject(int Nx, int Ny, std::span<const double> fine, int nf, std::span<double> coarse) {
    for (int jc = 1; jc <= Ny; ++jc)
        for (int ic = 1; ic <= Nx; ++ic) coarse[node(ic, jc, Nx)] = fine[node(2 * ic - 1, 2 * jc - 1, nf)];
}

void prolongate_correction(int nf, int ny_f, std::span<const double> correction, int nc, std::span<double> solution) {
    const double* E = correction.data();
    double* U = solution.data();
    // The operation reads only the correction and writes only the solution, so the order of the
    // visits has no effect; rows are walked in storage order.
    for (int j = 2; j <= ny_f - 1; ++j) {
        const int jc = (j - 1) / 2 + 1;
        const bool j_odd = (j % 2) == 1;
        for (int i = 2; i <= nf - 1; ++i) {
            const int ic = (i - 1) / 2 + 1;
            const bool i_odd = (i % 2) == 1;
            const std::size_t pf = node(i, j, nf);
            const std::size_t pc = node(ic, jc, nc);
            double value;
            if (i_odd && j_odd) {
                value = E[pc];
            } else if (j_odd) {
                value = (E[pc] + E[pc + 1]) * 0.5;
            } else if (i_odd) {
                value = (E[pc] + E[pc + static_cast<std::size_t>(nc)]) * 0.5;
            } else {
                value = (((E[pc] + E[pc + 1]) + E[pc + static_cast<std::size_t>(nc)]) +
                         E[pc + static_cast<std::size_t>(nc) + 1]) *
                        0.25;
            }
            U[pf] = U[pf] + value;
        }
    }
}

void apply_boundary_values(const model::GridValues& values, std::span<double> X) {
    const int Nx = values.Nx(), Ny = values.Ny();
    for (int i = 1; i <= Nx; ++i) X[node(i, Ny, Nx)] = values.north(i);
    for (int i = 1; i <= Nx; ++i) X[node(i, 1, Nx)] = 0.0;
    for (int j = 1; j <= Ny; ++j) X[node(1, j, Nx)] = 0.0;
    for (int j = 1; j <= Ny; ++j) X[node(Nx, j, Nx)] = values.east(j);
}

}  // namespace advdiff::multigrid
