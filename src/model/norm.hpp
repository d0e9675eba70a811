#pragma once
// The L1 mean norm of the iteration error: the mean over all nodes (boundary included) of the
// absolute difference of two fields.

#include <span>

namespace advdiff::model {

// (sum over i = 1..Nx outer, j = 1..Ny inner of |B(k) - A(k)|) / N. The summation order fixes the
// rounding of the value the drivers compare with the tolerance; N is the argument, not Nx*Ny.
double l1_mean_difference(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B);

namespace detail {
// The plain loop: the sum column by column straight through the arrays.
double l1_mean_difference_plain(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B);
// The same sum over blocks of columns gathered row by row (the path of large grids).
double l1_mean_difference_blocked(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B);
}  // namespace detail

}  // namespace advdiff::model
