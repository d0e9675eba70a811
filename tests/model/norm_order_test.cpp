// The iteration-error norm sums column by column; on large grids it reads the fields row by row,
// or gathers blocks of columns. Every path must give the column-by-column sum of the definition to
// the last bit, and its lower bound must stay below it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "model/norm.hpp"

namespace {

double plain_l1_mean_difference(int Nx, int Ny, int N, const std::vector<double>& A, const std::vector<double>& B) {
    double sum = 0.0;
    for (int i = 1; i <= Nx; ++i)
        for (int j = 1; j <= Ny; ++j) {
            const std::size_t k = static_cast<std::size_t>(j - 1) * Nx + (i - 1);
            sum += std::fabs(B[k] - A[k]);
        }
    return sum / N;
}

TEST(NormOrder, LargeGridsSumInColumnOrderToTheLastBit) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    // Square, wide, tall, and column counts that are not a multiple of the gathering block.
    for (auto [Nx, Ny] : {std::pair{257, 257}, std::pair{1031, 40}, std::pair{37, 1500}, std::pair{203, 199},
                          std::pair{1, 5000}, std::pair{5000, 1}, std::pair{33, 7}, std::pair{2, 2}}) {
        const std::size_t n = static_cast<std::size_t>(Nx) * Ny;
        std::vector<double> A(n), B(n);
        for (std::size_t k = 0; k < n; ++k) {
            A[k] = value(random) * std::pow(10.0, static_cast<int>(k % 17) - 8);
            B[k] = value(random);
        }
        const double expected = plain_l1_mean_difference(Nx, Ny, static_cast<int>(n), A, B);
        const double got = advdiff::model::l1_mean_difference(Nx, Ny, static_cast<int>(n), A, B);
        EXPECT_EQ(0, std::memcmp(&expected, &got, sizeof got)) << Nx << " x " << Ny;
        // The blocked path, which production takes on grids larger than these.
        const double blocked = advdiff::model::detail::l1_mean_difference_blocked(Nx, Ny, static_cast<int>(n), A, B);
        EXPECT_EQ(0, std::memcmp(&expected, &blocked, sizeof blocked)) << Nx << " x " << Ny;
        const double streamed = advdiff::model::detail::l1_mean_difference_streamed(Nx, Ny, static_cast<int>(n), A, B);
        EXPECT_EQ(0, std::memcmp(&expected, &streamed, sizeof streamed)) << Nx << " x " << Ny;
        // The lower bound the single-grid driver decides with: below the norm, and close to it.
        const double bound = advdiff::model::l1_mean_difference_lower_bound(Nx, Ny, static_cast<int>(n), A, B);
        EXPECT_LE(bound, expected) << Nx << " x " << Ny;
        EXPECT_GE(bound, expected * (1 - 0x1p-18)) << Nx << " x " << Ny;
        for (const int row_step : {2, 8, 5000}) {  // a subset of the rows
            const double sample = advdiff::model::l1_mean_difference_lower_bound(Nx, Ny, static_cast<int>(n), A, B, row_step);
            EXPECT_LE(sample, bound) << Nx << " x " << Ny << ", every " << row_step << " rows";
            EXPECT_GT(sample, 0.0) << Nx << " x " << Ny << ", every " << row_step << " rows";
        }
    }
}

// The streamed path sums each column of each band of rows from guessed starts and keeps a result
// only where the running sum proves it exact. Fields that make its guesses wrong, its sums cross
// powers of two inside a column, or their roundings tie, must still give the bits of the definition.
TEST(NormOrder, StreamedPathKeepsTheBitsWhereItsGuessesFail) {
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> value(0.0, 1.0);
    const auto field = [&](int kind, int i, int j, int Nx, int Ny) {
        const double x = static_cast<double>(i) / Nx, y = static_cast<double>(j) / Ny;
        switch (kind) {
        case 0: return (1.0 + 0.25 * std::sin(10 * x) * std::cos(13 * y)) * 1e-4;  // smooth
        case 1: return value(random) * 1e-3;                                       // noise
        case 2: return std::exp(-20.0 * x) * y;                  // most of the sum in the first columns
        case 3: return j % 2 == 1 ? 1e-5 : 0.0;                  // odd rows only
        case 4: return std::ldexp(std::floor(value(random) * 0x1p40), 0);  // integers: many ties
        case 5: return i == 5 ? 1e10 : (i < 3 ? 0.0 : 1e-3);     // zero columns, then a jump
        case 6: return 1e-305 * value(random);                   // too small to guess from
        default: return 1e300 * value(random);                   // too large to guess from
        }
    };
    for (auto [Nx, Ny] : {std::pair{300, 300}, std::pair{1031, 40}, std::pair{37, 1500}, std::pair{513, 513},
                          std::pair{1, 5000}, std::pair{5000, 1}, std::pair{2, 2}})
        for (int kind = 0; kind < 8; ++kind) {
            const std::size_t n = static_cast<std::size_t>(Nx) * Ny;
            std::vector<double> A(n), B(n);
            for (int j = 0; j < Ny; ++j)
                for (int i = 0; i < Nx; ++i) {
                    const std::size_t k = static_cast<std::size_t>(j) * Nx + i;
                    A[k] = kind == 4 ? 0.0 : 1.0 + 0.5 * value(random);  // the differences are rounded
                    B[k] = A[k] + field(kind, i, j, Nx, Ny);
                }
            const double expected = plain_l1_mean_difference(Nx, Ny, static_cast<int>(n), A, B);
            const double got = advdiff::model::detail::l1_mean_difference_streamed(Nx, Ny, static_cast<int>(n), A, B);
            EXPECT_EQ(0, std::memcmp(&expected, &got, sizeof got)) << Nx << " x " << Ny << ", field " << kind;
        }
}

TEST(NormOrder, NaNAndInfinityPropagateAndGiveNoBound) {
    const int Nx = 300, Ny = 300;
    std::vector<double> A(Nx * Ny, 0.0), B(Nx * Ny, 1.0);
    using advdiff::model::l1_mean_difference_lower_bound;
    constexpr double kNoBound = -std::numeric_limits<double>::infinity();
    EXPECT_EQ(kNoBound, l1_mean_difference_lower_bound(Nx, Ny, Nx * Ny - 1, A, B));  // N below the node count
    EXPECT_EQ(kNoBound, l1_mean_difference_lower_bound(Nx, Ny, Nx * Ny, A, A));      // a sum of 0
    A[12345] = std::numeric_limits<double>::infinity();
    EXPECT_EQ(kNoBound, l1_mean_difference_lower_bound(Nx, Ny, Nx * Ny, A, B));
    EXPECT_TRUE(std::isinf(advdiff::model::l1_mean_difference(Nx, Ny, Nx * Ny, A, B)));
    EXPECT_TRUE(std::isinf(advdiff::model::detail::l1_mean_difference_blocked(Nx, Ny, Nx * Ny, A, B)));
    EXPECT_TRUE(std::isinf(advdiff::model::detail::l1_mean_difference_streamed(Nx, Ny, Nx * Ny, A, B)));
    A[777] = std::nan("");
    EXPECT_EQ(kNoBound, l1_mean_difference_lower_bound(Nx, Ny, Nx * Ny, A, B));
    EXPECT_TRUE(std::isnan(advdiff::model::l1_mean_difference(Nx, Ny, Nx * Ny, A, B)));
    EXPECT_TRUE(std::isnan(advdiff::model::detail::l1_mean_difference_blocked(Nx, Ny, Nx * Ny, A, B)));
    EXPECT_TRUE(std::isnan(advdiff::model::detail::l1_mean_difference_streamed(Nx, Ny, Nx * Ny, A, B)));
}

}  // namespace
