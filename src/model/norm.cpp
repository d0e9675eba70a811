#include "model/norm.hpp"

#include <cmath>
#include <cstddef>
#include <vector>

namespace advdiff::model {

namespace {

// Fields up to this many nodes stay in cache, and the sum walks them column by column directly.
constexpr std::size_t kCachedNodes = 1 << 15;
// Columns whose differences are gathered together, one cache line of each row at a time.
constexpr int kColumns = 8;

}  // namespace

double l1_mean_difference(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B) {
    double sum = 0.0;
    const std::size_t nx = Nx > 0 ? static_cast<std::size_t>(Nx) : 0;
    const std::size_t ny = Ny > 0 ? static_cast<std::size_t>(Ny) : 0;
    if (nx * ny <= kCachedNodes) {
        for (std::size_t i = 0; i < nx; ++i)
            for (std::size_t j = 0, k = i; j < ny; ++j, k += nx) sum += std::fabs(B[k] - A[k]);
        return sum / N;
    }
    // On a large grid the column-by-column walk misses the cache at every node. The differences
    // of a block of columns are gathered row by row into a buffer (column after column), and then
    // added in exactly the column-by-column order, so the sum is the same to the last bit.
    thread_local std::vector<double> buffer;
    if (buffer.size() < kColumns * ny) buffer.resize(kColumns * ny);
    for (std::size_t i0 = 0; i0 < nx; i0 += kColumns) {
        const std::size_t columns = (nx - i0 < kColumns) ? nx - i0 : kColumns;
        for (std::size_t j = 0; j < ny; ++j) {
            const std::size_t k = j * nx + i0;
            for (std::size_t c = 0; c < columns; ++c) buffer[c * ny + j] = std::fabs(B[k + c] - A[k + c]);
        }
        for (std::size_t m = 0; m < columns * ny; ++m) sum += buffer[m];
    }
    return sum / N;
}

}  // namespace advdiff::model
