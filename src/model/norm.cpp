#include "model/norm.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>

namespace advdiff::model {

namespace detail {

double l1_mean_difference_plain(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B) {
    double sum = 0.0;
    const std::size_t nx = Nx > 0 ? static_cast<std::size_t>(Nx) : 0;
    const std::size_t ny = Ny > 0 ? static_cast<std::size_t>(Ny) : 0;
    for (std::size_t i = 0; i < nx; ++i)
        for (std::size_t j = 0, k = i; j < ny; ++j, k += nx) sum += std::fabs(B[k] - A[k]);
    return sum / N;
}

}  // namespace detail

namespace {
// Below this many nodes both fields stay in the cache and the plain walk is as fast as any.
constexpr std::size_t kCachedNodes = std::size_t{1} << 19;
// Columns taken together: three cache lines of each row (the benchmark, 1025 to 4097: 1.3-3.4 ns
// per node against 1.8-4.3 with four lines and no prefetching; more columns are slower still).
constexpr std::size_t kColumns = 24;
// Rows ahead whose lines the gathering asks for before it reads them: rows lie a row length apart,
// a stride the processor's own prefetching does not follow.
constexpr std::size_t kPrefetchRows = 32;
}  // namespace

double l1_mean_difference(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B) {
    const std::size_t nodes = static_cast<std::size_t>(Nx > 0 ? Nx : 0) * static_cast<std::size_t>(Ny > 0 ? Ny : 0);
    if (nodes <= kCachedNodes) return detail::l1_mean_difference_plain(Nx, Ny, N, A, B);
    return detail::l1_mean_difference_blocked(Nx, Ny, N, A, B);
}

// Any order of adding n non-negative terms gives their exact sum S within a relative
// gamma = (n-1) 2^-53 / (1 - (n-1) 2^-53), and so does the definition's order. With n <= N < 2^31,
// 2 gamma < 2^-20: the definition's sum is at least F (1 - gamma) / (1 + gamma) > F (1 - 2^-20)
// when F is this sum, and F - F 2^-19 (F 2^-19 exact, the difference rounded) stays below that
// while F is a normal number far from the underflow. Dividing by N rounds monotonically, so the
// bound divided by N is never above the norm. A sum over some of the rows is no larger than the
// exact sum over all of them and rounds within the same bound, so it gives a lower bound too.
double l1_mean_difference_lower_bound(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B,
                                      int row_step) {
    constexpr double kNoBound = -std::numeric_limits<double>::infinity();
    const std::size_t nx = Nx > 0 ? static_cast<std::size_t>(Nx) : 0;
    const std::size_t ny = Ny > 0 ? static_cast<std::size_t>(Ny) : 0;
    if (N < 1 || nx * ny == 0 || nx * ny > static_cast<std::size_t>(N)) return kNoBound;
    // Rows 0, step, 2 step, ... each read straight through; with a step of 1, the grid as one row.
    const std::size_t step = row_step > 1 ? static_cast<std::size_t>(row_step) : 1;
    const std::size_t length = step == 1 ? nx * ny : nx;
    const std::size_t rows = step == 1 ? 1 : (ny + step - 1) / step;
    constexpr std::size_t kSums = 8;
    double partial[kSums] = {};
    for (std::size_t r = 0; r < rows; ++r) {
        const double* a = A.data() + r * step * nx;
        const double* b = B.data() + r * step * nx;
        std::size_t k = 0;
        for (; k + kSums <= length; k += kSums)
            for (std::size_t c = 0; c < kSums; ++c) partial[c] += std::fabs(b[k + c] - a[k + c]);
        for (; k < length; ++k) partial[0] += std::fabs(b[k] - a[k]);
    }
    const double sum = ((partial[0] + partial[1]) + (partial[2] + partial[3])) +
                       ((partial[4] + partial[5]) + (partial[6] + partial[7]));
    if (!(sum >= 0x1p-1000 && sum <= std::numeric_limits<double>::max())) return kNoBound;
    return (sum - sum * 0x1p-19) / N;
}

double detail::l1_mean_difference_blocked(int Nx, int Ny, int N, std::span<const double> A,
                                          std::span<const double> B) {
    const std::size_t nx = Nx > 0 ? static_cast<std::size_t>(Nx) : 0;
    const std::size_t ny = Ny > 0 ? static_cast<std::size_t>(Ny) : 0;
    if (nx == 0 || ny == 0) return 0.0 / N;
    // On a large grid the column walk jumps a row length at every node, touching a new page each
    // time. Instead the differences of a block of columns are taken row by row, in storage order,
    // into a buffer of ny x kColumns that stays in the cache, and then added column after column. The same
    // differences are added in the same order as in the plain loop, so the sum has the same bits.
    const std::unique_ptr<double[]> buffer(new double[kColumns * ny]);  // written before it is read
    double* d = buffer.get();
    const double* a = A.data();
    const double* b = B.data();
    double sum = 0.0;
    for (std::size_t i0 = 0; i0 < nx; i0 += kColumns) {
        const std::size_t columns = nx - i0 < kColumns ? nx - i0 : kColumns;
        if (columns == kColumns) {
            for (std::size_t j = 0; j < ny; ++j) {
                const std::size_t k = j * nx + i0;
                if (j + kPrefetchRows < ny)
                    for (std::size_t c = 0; c < kColumns; c += 8) {
                        __builtin_prefetch(a + k + kPrefetchRows * nx + c);
                        __builtin_prefetch(b + k + kPrefetchRows * nx + c);
                    }
                for (std::size_t c = 0; c < kColumns; ++c) d[j * kColumns + c] = std::fabs(b[k + c] - a[k + c]);
            }
        } else {
            for (std::size_t j = 0; j < ny; ++j) {
                const std::size_t k = j * nx + i0;
                for (std::size_t c = 0; c < columns; ++c) d[j * kColumns + c] = std::fabs(b[k + c] - a[k + c]);
            }
        }
        for (std::size_t c = 0; c < columns; ++c)
            for (std::size_t j = 0; j < ny; ++j) sum += d[j * kColumns + c];
    }
    return sum / N;
}

}  // namespace advdiff::model
