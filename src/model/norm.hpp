#pragma once
// The L1 mean norm of the iteration error: the mean over all nodes (boundary included) of the
// absolute difference of two fields.

#include <span>

namespace advdiff::model {

// (sum over i = 1..Nx outer, j = 1..Ny inner of |B(k) - A(k)|) / N. The summation order fixes the
// rounding of the value the drivers compare with the tolerance; N is the argument, not Nx*Ny.
double l1_mean_difference(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B);

// A value never above l1_mean_difference(Nx, Ny, N, A, B), from the same differences summed in
// storage order with several partial sums: a fraction of the time. Over every row it is within a
// relative 2^-18 of the norm; with a row_step k > 1 it sums rows 0, k, 2k, ... only (about 1/k of
// the norm where the differences are spread evenly). -infinity when it has no such value to give
// (a NaN or an infinity, a sum below 2^-1000, N < Nx * Ny, an empty grid).
double l1_mean_difference_lower_bound(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B,
                                      int row_step = 1);

namespace detail {
// The plain loop: the sum column by column straight through the arrays.
double l1_mean_difference_plain(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B);
// The same sum over blocks of columns gathered row by row.
double l1_mean_difference_blocked(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B);
// The same sum with the fields read once in storage order (the path of large grids).
double l1_mean_difference_streamed(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B);
}  // namespace detail

}  // namespace advdiff::model
