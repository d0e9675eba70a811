#pragma once
// The kernels of one multigrid level in single precision: Gauss-Seidel sweeps and the residual.
// The equations' east and north coefficients come either from arrays or, where every interior
// node has the same one (diffusion alone), from one value each.

#include <cstddef>

namespace advdiff::reference {

template <bool Uniform>
struct LevelEquations {
    const float *aS, *aW, *aP, *aE, *aN;  // aE, aN unused when Uniform
    const float* inverse_diagonal;
    float east, north;                    // used when Uniform

    float E(std::ptrdiff_t k) const {
        if constexpr (Uniform) return east;
        else return aE[k];
    }
    float N(std::ptrdiff_t k) const {
        if constexpr (Uniform) return north;
        else return aN[k];
    }
    // Node k's new value in a forward sweep, given its west neighbour's (already new, so it comes
    // last), and in a backward one, given its east neighbour's. The neighbour is passed in, not
    // read back from X: the value just stored would be reloaded through memory, on the critical
    // path of the sweep.
    float forward(const float* F, const float* X, std::ptrdiff_t k, std::ptrdiff_t nx, float west) const {
        return (((F[k] - E(k) * X[k + 1]) - (aS[k] * X[k - nx] + N(k) * X[k + nx])) - aW[k] * west) *
               inverse_diagonal[k];
    }
    float backward(const float* F, const float* X, std::ptrdiff_t k, std::ptrdiff_t nx, float east_value) const {
        return (((F[k] - aW[k] * X[k - 1]) - (aS[k] * X[k - nx] + N(k) * X[k + nx])) - E(k) * east_value) *
               inverse_diagonal[k];
    }
    // Node k's residual F - A X.
    float residual(const float* F, const float* X, std::ptrdiff_t k, std::ptrdiff_t nx) const {
        return F[k] - ((((aP[k] * X[k] + aW[k] * X[k - 1]) + E(k) * X[k + 1]) + aS[k] * X[k - nx]) + N(k) * X[k + nx]);
    }
    // The residuals of the interior nodes of the row that starts at node `row`, into R.
    void residual_row(const float* F, const float* X, float* R, std::ptrdiff_t row, std::ptrdiff_t nx) const {
        for (std::ptrdiff_t k = row + 1; k < row + nx - 1; ++k) R[k] = residual(F, X, k, nx);
    }
};

// One forward sweep over the interior nodes in node order (i fastest, j outer), then one backward
// sweep in the reverse order. The plain loops: the definition the faster kernel must match.
template <bool Uniform>
void gauss_seidel_plain(const LevelEquations<Uniform>& a, const float* F, float* X, std::ptrdiff_t nx, int ny) {
    for (int j = 2; j <= ny - 1; ++j) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
        for (std::ptrdiff_t k = row + 1; k < row + nx - 1; ++k) X[k] = a.forward(F, X, k, nx, X[k - 1]);
    }
    for (int j = ny - 1; j >= 2; --j) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
        for (std::ptrdiff_t k = row + nx - 2; k > row; --k) X[k] = a.backward(F, X, k, nx, X[k + 1]);
    }
}

// The same two sweeps, two rows at a time (and, when R is given, R = F - A X of the result, as
// level_residual forms it, each row as soon as its neighbours are final, while they are still in
// cache): going forward, row j + 1 follows row j one node
// behind, so each of its nodes finds its south and west neighbours new and its east neighbour
// old, and each node of row j finds its north neighbour still old, exactly as in node order;
// going backward, row j - 1 follows row j one node behind. Every node gets the value of the plain
// sweeps, bit for bit; the two rows' chains of dependent operations interleave, and each new
// value stays in a register for the next node.
template <bool Uniform>
void gauss_seidel_pairs(const LevelEquations<Uniform>& equations, const float* F, float* X, std::ptrdiff_t nx,
                        int ny, float* R = nullptr) {
    if (nx < 3) return;
    const LevelEquations<Uniform> a = equations;  // a local copy: stores to X cannot change it
    int j = 2;
    for (; j + 1 <= ny - 1; j += 2) {
        const std::ptrdiff_t low = static_cast<std::ptrdiff_t>(j - 1) * nx, high = low + nx;
        float west_low = a.forward(F, X, low + 1, nx, X[low]);
        X[low + 1] = west_low;
        float west_high = X[high];
        for (std::ptrdiff_t i = 2; i <= nx - 2; ++i) {
            west_low = a.forward(F, X, low + i, nx, west_low);
            X[low + i] = west_low;
            west_high = a.forward(F, X, high + i - 1, nx, west_high);
            X[high + i - 1] = west_high;
        }
        X[high + nx - 2] = a.forward(F, X, high + nx - 2, nx, west_high);
    }
    if (j == ny - 1) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(j - 1) * nx;
        float west = X[row];
        for (std::ptrdiff_t k = row + 1; k < row + nx - 1; ++k) {
            west = a.forward(F, X, k, nx, west);
            X[k] = west;
        }
    }
    // Once the backward sweep has finished the rows from `lowest` up, the rows above `lowest` have
    // final neighbours: their residuals are formed, from the highest one still pending down.
    int pending = ny - 1;
    auto residuals_above = [&](int lowest) {
        if (R == nullptr) return;
        for (; pending > lowest; --pending) a.residual_row(F, X, R, static_cast<std::ptrdiff_t>(pending - 1) * nx, nx);
    };
    j = ny - 1;
    for (; j - 1 >= 2; j -= 2) {
        const std::ptrdiff_t high = static_cast<std::ptrdiff_t>(j - 1) * nx, low = high - nx;
        float east_high = a.backward(F, X, high + nx - 2, nx, X[high + nx - 1]);
        X[high + nx - 2] = east_high;
        float east_low = X[low + nx - 1];
        for (std::ptrdiff_t i = nx - 3; i >= 1; --i) {
            east_high = a.backward(F, X, high + i, nx, east_high);
            X[high + i] = east_high;
            east_low = a.backward(F, X, low + i + 1, nx, east_low);
            X[low + i + 1] = east_low;
        }
        X[low + 1] = a.backward(F, X, low + 1, nx, east_low);
        residuals_above(j - 1);
    }
    if (j == 2) {
        const std::ptrdiff_t row = nx;
        float east = X[row + nx - 1];
        for (std::ptrdiff_t k = row + nx - 2; k > row; --k) {
            east = a.backward(F, X, k, nx, east);
            X[k] = east;
        }
    }
    residuals_above(1);
}

// R = F - A X over the interior nodes; boundary entries of R are left as they are.
template <bool Uniform>
void level_residual(const LevelEquations<Uniform>& a, const float* F, const float* X, float* R, std::ptrdiff_t nx,
                    int ny) {
    for (int j = 2; j <= ny - 1; ++j) a.residual_row(F, X, R, static_cast<std::ptrdiff_t>(j - 1) * nx, nx);
}

}  // namespace advdiff::reference
