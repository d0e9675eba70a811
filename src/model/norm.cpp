#include "model/norm.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "platform/wide_kernels.hpp"

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
// Columns taken together by the gathering sum: three cache lines of each row (the benchmark, 1025
// to 4097: 1.3-3.4 ns per node against 1.8-4.3 with four lines and no prefetching).
constexpr std::size_t kColumns = 24;
// Rows ahead whose lines the gathering asks for before it reads them: rows lie a row length apart,
// a stride the processor's own prefetching does not follow.
constexpr std::size_t kPrefetchRows = 32;

// Adds columns [first, last) to sum in the defining order: the differences of up to kColumns
// columns are taken row by row, in storage order, into d (ny x kColumns, in the cache) and then
// added column after column.
double sum_columns(std::size_t nx, std::size_t ny, const double* a, const double* b, std::size_t first,
                   std::size_t last, double sum, double* d) {
    for (std::size_t i0 = first; i0 < last; i0 += kColumns) {
        const std::size_t columns = last - i0 < kColumns ? last - i0 : kColumns;
        for (std::size_t j = 0; j < ny; ++j) {
            const std::size_t k = j * nx + i0;
            if (j + kPrefetchRows < ny)
                for (std::size_t c = 0; c < columns; c += 8)
                    platform::prefetch(static_cast<std::ptrdiff_t>(k + kPrefetchRows * nx + c), a, b);
            for (std::size_t c = 0; c < columns; ++c) d[j * kColumns + c] = std::fabs(b[k + c] - a[k + c]);
        }
        for (std::size_t c = 0; c < columns; ++c)
            for (std::size_t j = 0; j < ny; ++j) sum += d[j * kColumns + c];
    }
    return sum;
}

// The streamed sum (see l1_mean_difference_streamed) keeps, for every column and every band of
// kBandRows rows, four running sums: starting from the power of two M guessed for the column's
// start, from M plus one unit of its last place, and from 2M and 2M plus one unit of its last place.
// Four columns go together: the sums of columns 4q .. 4q+3 from one start lie side by side, at
// sum_index(c, start), so that one vector holds them.
constexpr std::size_t kBandRows = 256;
constexpr std::size_t kStarts = 4;
constexpr std::size_t kBlock = 4;
using Columns = double __attribute__((vector_size(kBlock * sizeof(double))));
using ColumnBits = std::uint64_t __attribute__((vector_size(kBlock * sizeof(double))));
constexpr std::size_t sum_index(std::size_t c, std::size_t start) {
    return (c / kBlock) * kBlock * kStarts + start * kBlock + c % kBlock;
}
constexpr std::size_t sums_per_band(std::size_t nx) { return (nx + kBlock - 1) / kBlock * kBlock * kStarts; }

// Adds the differences of the R rows from row j, in order, to each column's kStarts sums in w.
// Within each column every row is added in order, as the definition adds them; columns are
// independent, so the pass runs along the rows, in storage order, four columns at a time (the
// magnitude is the difference with its sign bit cleared, as fabs gives it).
template <std::size_t R>
void add_rows(std::size_t nx, std::size_t j, const double* A, const double* B, double* __restrict w) {
    constexpr std::size_t kLine = 8;     // doubles per cache line
    constexpr std::size_t kAhead = 256;  // the lines of each row 2 KiB ahead are asked for
    const double* __restrict const a = A + j * nx;
    const double* __restrict const b = B + j * nx;
    const auto add_block = [=](std::size_t c) {  // columns c .. c+3, c a multiple of four
        Columns d[R];
        for (std::size_t r = 0; r < R; ++r) {
            Columns x, y;
            std::memcpy(&x, b + r * nx + c, sizeof x);
            std::memcpy(&y, a + r * nx + c, sizeof y);
            d[r] = reinterpret_cast<Columns>(reinterpret_cast<ColumnBits>(x - y) & (~std::uint64_t{0} >> 1));
        }
        for (std::size_t k = 0; k < kStarts; ++k) {
            Columns sum;
            std::memcpy(&sum, w + sum_index(c, k), sizeof sum);
            for (std::size_t r = 0; r < R; ++r) sum += d[r];
            std::memcpy(w + sum_index(c, k), &sum, sizeof sum);
        }
    };
    std::size_t c0 = 0;
    for (; c0 + kLine <= nx; c0 += kLine) {
        if (c0 + kAhead < nx)
            for (std::size_t r = 0; r < R; ++r) platform::prefetch(static_cast<std::ptrdiff_t>(r * nx + c0 + kAhead), a, b);
        for (std::size_t c = c0; c < c0 + kLine; c += kBlock) add_block(c);
    }
    for (std::size_t c = c0; c < nx; ++c) {
        double d[R];
        for (std::size_t r = 0; r < R; ++r) d[r] = std::fabs(b[r * nx + c] - a[r * nx + c]);
        for (std::size_t k = 0; k < kStarts; ++k) {
            double sum = w[sum_index(c, k)];
            for (std::size_t r = 0; r < R; ++r) sum += d[r];
            w[sum_index(c, k)] = sum;
        }
    }
}

// Rows [j0, j1) into w: four rows a pass, which reads and writes the sums once for four rows.
ADVDIFF_WIDE_KERNEL void add_band(std::size_t nx, std::size_t j0, std::size_t j1, const double* A, const double* B,
                                  double* w) {
    std::size_t j = j0;
    for (; j + 4 <= j1; j += 4) add_rows<4>(nx, j, A, B, w);
    for (; j < j1; ++j) add_rows<1>(nx, j, A, B, w);
}
}  // namespace

double l1_mean_difference(int Nx, int Ny, int N, std::span<const double> A, std::span<const double> B) {
    const std::size_t nodes = static_cast<std::size_t>(Nx > 0 ? Nx : 0) * static_cast<std::size_t>(Ny > 0 ? Ny : 0);
    if (nodes <= kCachedNodes) return detail::l1_mean_difference_plain(Nx, Ny, N, A, B);
    return detail::l1_mean_difference_streamed(Nx, Ny, N, A, B);
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
    // time; the gathering reads a block of columns row by row instead.
    const std::unique_ptr<double[]> buffer(new double[kColumns * ny]);  // written before it is read
    return sum_columns(nx, ny, A.data(), B.data(), 0, nx, 0.0, buffer.get()) / N;
}

// Why the streamed sum has the bits of the column-by-column sum. Let s lie in the binade [M, 2M)
// of a power of two M, whose numbers are the multiples of u = M 2^-52, and let d >= 0 with s + d
// below 2M. Then s + d rounds to s + d', where d' is d rounded to a multiple of u, a tie going to
// the even multiple of u: d' depends on d and on the parity of s / u only. The rounded sum keeps
// its distance from any other start t in the same binade with the same parity, and the parity of
// that distance is even, so adding the same differences to s and to t, in the same order, moves
// both by the same amount while both stay below 2M. Each column of each band is therefore summed
// from four starts, M and M + u and 2M and 2M + 2u, along the rows; the walk over the columns in
// order then takes, for each band, the start in the binade of its running sum with that sum's
// parity and adds that start's movement: exact, since both are multiples of u below 2M (or 4M).
// Where the running sum is in neither binade, or the band would leave it (the sums only grow, so
// checking the end suffices, and a NaN or an infinity fails the check), that band of that column
// is added in order from the fields. M is guessed from every few rows, sampled before: a wrong
// guess costs time, never a bit.
double detail::l1_mean_difference_streamed(int Nx, int Ny, int N, std::span<const double> A,
                                           std::span<const double> B) {
    const std::size_t nx = Nx > 0 ? static_cast<std::size_t>(Nx) : 0;
    const std::size_t ny = Ny > 0 ? static_cast<std::size_t>(Ny) : 0;
    if (nx == 0 || ny == 0) return 0.0 / N;
    const double* a = A.data();
    const double* b = B.data();
    // The guess: the sum of the columns before each one, estimated from about a hundred rows spread
    // over the grid (an odd step, so that rows of both parities are sampled).
    std::vector<double> start(nx, 0.0);
    const std::size_t step = (ny / 96) | 1;
    std::size_t samples = 0;
    for (std::size_t j = step / 2; j < ny; j += step, ++samples)
        for (std::size_t c = 0; c < nx; ++c) start[c] += std::fabs(b[j * nx + c] - a[j * nx + c]);
    const double scale = static_cast<double>(ny) / static_cast<double>(samples);
    double before = 0.0;
    for (std::size_t c = 0; c < nx; ++c) {
        // M: the power of two at or below three quarters of the estimate, so that the start lies in
        // [M, 4M) while the estimate is within a third of it either way; 0 where the estimate is 0
        // (the columns before hold no difference) or too near the ends of the range.
        const double estimate = 0.75 * (before * scale);
        before += start[c];
        start[c] = estimate >= 0x1p-1000 && estimate <= 0x1p1000
                       ? std::bit_cast<double>(std::bit_cast<std::uint64_t>(estimate) & 0x7FF0000000000000u)
                       : 0.0;
    }
    const std::size_t bands = (ny + kBandRows - 1) / kBandRows;
    const std::size_t per_band = sums_per_band(nx);
    const std::unique_ptr<double[]> sums(new double[bands * per_band]);  // each band's set before it is added
    for (std::size_t band = 0; band < bands; ++band) {
        double* w = sums.get() + band * per_band;
        for (std::size_t c = 0; c < nx; ++c) {
            const double m = start[c];
            w[sum_index(c, 0)] = m;
            w[sum_index(c, 1)] = m + m * 0x1p-52;
            w[sum_index(c, 2)] = m + m;
            w[sum_index(c, 3)] = (m + m) + m * 0x1p-51;
        }
        add_band(nx, band * kBandRows, std::min(ny, (band + 1) * kBandRows), a, b, w);
    }
    // The walk over the columns in order. Past kRedone redone bands the rest is gathered in order.
    constexpr std::size_t kRedone = 256;
    std::size_t redone = 0;
    double sum = 0.0;
    for (std::size_t c = 0; c < nx; ++c) {
        const double m = start[c];
        for (std::size_t band = 0; band < bands; ++band) {
            const double* w = sums.get() + band * per_band;
            if (m == 0.0 && sum == 0.0) {  // summed from 0 exactly as the definition does
                sum = w[sum_index(c, 0)];
                continue;
            }
            const bool odd = (std::bit_cast<std::uint64_t>(sum) & 1u) != 0;
            double from = 0.0, top = 0.0, moved = 0.0;
            if (sum >= m && sum < m + m) {
                from = odd ? m + m * 0x1p-52 : m;
                top = m + m;
                moved = w[sum_index(c, odd ? 1 : 0)] - from;
            } else if (sum >= m + m && sum < 4.0 * m) {
                from = odd ? (m + m) + m * 0x1p-51 : m + m;
                top = 4.0 * m;
                moved = w[sum_index(c, odd ? 3 : 2)] - from;
            }
            const double next = sum + moved;
            if (top > 0.0 && next < top) {
                sum = next;
                continue;
            }
            const std::size_t j1 = std::min(ny, (band + 1) * kBandRows);
            for (std::size_t j = band * kBandRows; j < j1; ++j) sum += std::fabs(b[j * nx + c] - a[j * nx + c]);
            ++redone;
        }
        if (redone > kRedone && c + 1 < nx) {
            const std::unique_ptr<double[]> buffer(new double[kColumns * ny]);
            sum = sum_columns(nx, ny, a, b, c + 1, nx, sum, buffer.get());
            break;
        }
    }
    return sum / N;
}

}  // namespace advdiff::model
