#include "multigrid/transfer.hpp"

#include <cstddef>

#include "state/problem_state.hpp"

namespace advdiff::multigrid {

void inject(int Nx, int Ny, std::span<const double> fine, int nf, std::span<double> coarse) {
    for (int jc = 1; jc <= Ny; ++jc)
        for (int ic = 1; ic <= Nx; ++ic) coarse[node(ic, jc, Nx)] = fine[node(2 * ic - 1, 2 * jc - 1, nf)];
}

void prolongate_correction(int nf, int ny_f, std::span<const double> correction, int nc, std::span<double> solution) {
    // Fine node (i, j) gains the coarse value on it (i and j odd), the mean of the two beside it, or
    // that of the four around it. The operation reads only the correction and writes only the
    // solution, so the order of the visits has no effect: rows are walked in storage order, each by
    // pairs of nodes, even i = 2c + 2 between coarse columns c and c + 1 (0-based) and odd i + 1 on
    // column c + 1, so that the loop has no branch.
    const double* E = correction.data();
    double* U = solution.data();
    for (int j = 2; j <= ny_f - 1; ++j) {
        const double* s = E + node(1, (j - 1) / 2 + 1, nc);  // the coarse row on or below row j
        const double* t = s + nc;                            // the one above (read for even j only)
        double* u = U + node(1, j, nf);                      // u[i - 1] is node (i, j)
        int c = 0;
        if (j % 2 == 1) {
            for (; 2 * c + 3 <= nf - 1; ++c) {
                u[2 * c + 1] = u[2 * c + 1] + (s[c] + s[c + 1]) * 0.5;
                u[2 * c + 2] = u[2 * c + 2] + s[c + 1];
            }
            if (2 * c + 2 <= nf - 1) u[2 * c + 1] = u[2 * c + 1] + (s[c] + s[c + 1]) * 0.5;
        } else {
            for (; 2 * c + 3 <= nf - 1; ++c) {
                u[2 * c + 1] = u[2 * c + 1] + (((s[c] + s[c + 1]) + t[c]) + t[c + 1]) * 0.25;
                u[2 * c + 2] = u[2 * c + 2] + (s[c + 1] + t[c + 1]) * 0.5;
            }
            if (2 * c + 2 <= nf - 1) u[2 * c + 1] = u[2 * c + 1] + (((s[c] + s[c + 1]) + t[c]) + t[c + 1]) * 0.25;
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
