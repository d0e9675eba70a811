#include "model/norm.hpp"

#include <cmath>
#include <cstddef>

namespace advdiff::model {

double l1_mean_difference(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B) {
    double sum = 0.0;
    for (int i = 1; i <= Nx; ++i) {
        std::size_t k = static_cast<std::size_t>(i - 1);
        for (int j = 1; j <= Ny; ++j, k += static_cast<std::size_t>(Nx)) sum += std::fabs(B[k] - A[k]);
    }
    return sum / N;
}

}  // namespace advdiff::model
