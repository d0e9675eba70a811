#include "model/coefficients.hpp"

#include <vector>

namespace advdiff::model {

void assemble_coefficients(const ModelCase& c, int Nx, int Ny, StencilCoefficients& out) {
    const double hx = spacing(Nx), hy = spacing(Ny);
    const double gamma = c.gamma;

    // Interior nodes. The upwind side is the west side for u and the south side for v whatever
    // their signs, so aW or aS may be positive where the rotating flow runs backwards.
    // The rotating flow's factors of each column are taken once, not at every node of it.
    std::vector<RotatingX> columns;
    if (c.problem_kind != 1)
        for (int i = 2; i <= Nx - 1; ++i) columns.emplace_back(coordinate(i, hx));
    for (int j = 2; j <= Ny - 1; ++j) {
        const double y = coordinate(j, hy);
        const RotatingY Y(y);
        for (int i = 2; i <= Nx - 1; ++i) {
            const double x = coordinate(i, hx);
            double u = c.Pex, v = c.Pey, source = 0.0;
            if (c.problem_kind != 1) {
                const RotatingX& X = columns[static_cast<std::size_t>(i - 2)];
                const Velocity w = rotating_velocity(X, Y);
                u = w.u;
                v = w.v;
                source = rotating_source(X, Y, w, gamma);
            } else {
                source = source_term(c, x, y);
            }
            const std::size_t k = node(i, j, Nx);
            out.aP[k] = ((u / hx + v / hy) + (2 * gamma) / (hx * hx)) + (2 * gamma) / (hy * hy);
            out.aW[k] = -(u / hx + gamma / (hx * hx));
            out.aE[k] = -(gamma / (hx * hx));
            out.aS[k] = -(v / hy + gamma / (hy * hy));
            out.aN[k] = -(gamma / (hy * hy));
            out.b[k] = source;
        }
    }
    // Boundary nodes: identity equations, written north row, south row, west column, east column,
    // so that each corner keeps the value of the side written last.
    auto identity = [&](int i, int j, double value) {
        const std::size_t k = node(i, j, Nx);
        out.aP[k] = 1.0;
        out.aW[k] = 0.0;
        out.aE[k] = 0.0;
        out.aS[k] = 0.0;
        out.aN[k] = 0.0;
        out.b[k] = value;
    };
    const bool constant = c.problem_kind == 1;
    // The north row carries the model's boundary values: x_i (Pex Pey) ((Ny - 1) hy) for constant
    // velocities (the same rounded products as ((Pex Pey) x_i) y_Ny, a product of two doubles
    // being the same in either order), sin(pi x_i) for pure diffusion, 0 for the rotating flow.
    const double y_north = coordinate(Ny, hy);
    for (int i = 1; i <= Nx; ++i) identity(i, Ny, north_boundary_value(c, coordinate(i, hx), y_north));
    for (int i = 1; i <= Nx; ++i) identity(i, 1, 0.0);
    for (int j = 1; j <= Ny; ++j) identity(1, j, 0.0);
    for (int j = 1; j <= Ny; ++j) {
        const double y = coordinate(j, hy);
        const double value = constant ? (y * (static_cast<double>(Nx - 1) * hx)) * (c.Pex * c.Pey) : 0.0;
        identity(Nx, j, value);
    }
}

}  // namespace advdiff::model
