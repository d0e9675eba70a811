#include "model/model_problem.hpp"

#include <algorithm>
#include <cmath>

namespace advdiff::model {

const VelocityRow* find_velocity(int flow_angle, int peclet_code) {
    for (const VelocityRow& row : kVelocityTable)
        if (row.flow_angle == flow_angle && (row.any_peclet_code || row.peclet_code == peclet_code)) return &row;
    return nullptr;
}

ModelCase make_model_case(const SimulationSettings& s) {
    ModelCase c;
    c.problem_kind = s.problem_kind;
    c.flow_angle = s.flow_angle;
    c.peclet_code = s.peclet_code;
    c.gamma = s.gamma;
    if (s.problem_kind != 1) return c;
    if (const VelocityRow* row = find_velocity(s.flow_angle, s.peclet_code)) {
        c.Pex = row->Pex;
        c.Pey = row->Pey;
    }
    return c;
}

Velocity rotating_velocity(double x, double y) {
    const double x2 = x * x, x3 = x * x2, x4 = x2 * x2;
    const double y2 = y * y, y3 = y * y2, y4 = y2 * y2;
    const double P = 8 * ((x4 - 2 * x3) + x2);
    const double Q = 8 * (2 * x + (4 * x3 - 6 * x2));
    return {(4 * y3 - 2 * y) * P, -((y4 - y2) * Q)};
}

namespace {

// sinh(pi) from the C library at run time. A compiler folds std::sinh(kPi) into a correctly
// rounded constant, which differs in the last bit from what the library returns for the same
// argument; every other sinh of the model is evaluated by the library, so this one is too.
double sinh_pi() {
    static const double value = [] {
        volatile double pi = kPi;
        return std::sinh(pi);
    }();
    return value;
}

}  // namespace

double analytic_solution(const ModelCase& c, double x, double y) {
    if (c.problem_kind == 1) {
        if (c.flow_angle == 3) return (std::sin(kPi * x) * std::sinh(kPi * y)) / sinh_pi();
        return ((c.Pex * c.Pey) * x) * y;
    }
    const Velocity w = rotating_velocity(x, y);
    return ((w.u * w.v) * x) * y;
}

double source_term(const ModelCase& c, double x, double y) {
    if (c.problem_kind == 1) {
        // Also 0 for pure diffusion, where Pex = Pey = 0.
        return (c.Pex * (c.Pey * c.Pey)) * x + ((c.Pex * c.Pex) * c.Pey) * y;
    }
    // S = u T_x + v T_y - gamma (T_xx + T_yy) for T = x y w, w = u v, from exact derivatives.
    const double gamma = c.gamma;
    const double x2 = x * x, x3 = x * x2;
    const double y2 = y * y, y3 = y * y2, y4 = y2 * y2;
    const double A = (x2 * x2 - 2 * x3) + x2;
    const double B = (2 * x3 - 3 * x2) + x;
    const double C = (6 * x2 - 6 * x) + 1;
    const Velocity vel = rotating_velocity(x, y);
    const double u = vel.u, v = vel.v;
    const double u_x = (32 * B) * (2 * y3 - y);
    const double v_x = -((16 * C) * (y4 - y2));
    const double u_y = (16 * A) * (6 * y2 - 1);
    const double v_y = -u_x;
    const double u_xx = (32 * C) * (2 * y3 - y);
    const double v_xx = -((96 * (2 * x - 1)) * (y4 - y2));
    const double u_yy = (192 * A) * y;
    const double v_yy = -((32 * B) * (6 * y2 - 1));
    const double w = u * v;
    const double w_x = v * u_x + u * v_x;
    const double w_y = v * u_y + u * v_y;
    const double w_xx = (v * u_xx + (2 * u_x) * v_x) + u * v_xx;
    const double w_yy = (v * u_yy + (2 * u_y) * v_y) + u * v_yy;
    return (((y * u) * (x * w_x + w) + (x * v) * (w + y * w_y)) - (y * gamma) * (x * w_xx + 2 * w_x)) -
           (x * gamma) * (y * w_yy + 2 * w_y);
}

double north_boundary_value(const ModelCase& c, double x, double y_north) {
    if (c.problem_kind != 1) return 0.0;
    if (c.flow_angle == 3) return std::sin(kPi * x);
    return ((c.Pex * c.Pey) * x) * y_north;
}

double east_boundary_value(const ModelCase& c, double x_east, double y) {
    if (c.problem_kind != 1) return 0.0;
    return ((c.Pex * c.Pey) * x_east) * y;
}

namespace {

void write_north_and_east(const ModelCase& c, int Nx, int Ny, double hx, double hy, std::span<double> T) {
    const double y_north = coordinate(Ny, hy);
    for (int i = 1; i <= Nx; ++i) T[node(i, Ny, Nx)] = north_boundary_value(c, coordinate(i, hx), y_north);
    const double x_east = coordinate(Nx, hx);
    for (int j = 1; j <= Ny; ++j) T[node(Nx, j, Nx)] = east_boundary_value(c, x_east, coordinate(j, hy));
}

}  // namespace

void initialise_field(const ModelCase& c, int initial_estimate, int Nx, int Ny, std::span<double> TNum,
                      std::span<double> T_Analitica) {
    const double hx = spacing(Nx), hy = spacing(Ny);
    switch (initial_estimate) {
        case 1:
            std::fill(TNum.begin(), TNum.end(), 0.0);
            write_north_and_east(c, Nx, Ny, hx, hy, TNum);
            break;
        case 2:
            for (int i = 1; i <= Nx; ++i)
                for (int j = 1; j <= Ny; ++j)
                    T_Analitica[node(i, j, Nx)] = analytic_solution(c, coordinate(i, hx), coordinate(j, hy));
            std::copy(T_Analitica.begin(), T_Analitica.end(), TNum.begin());
            if (c.pure_diffusion()) {
                // The starting field of the pure-diffusion case is sin(pi*x_i) on the whole of
                // column i, not only on its north node; the east column is then set to 0 below.
                for (int i = 1; i <= Nx; ++i) {
                    const double value = north_boundary_value(c, coordinate(i, hx), 0.0);
                    for (int j = 1; j <= Ny; ++j) TNum[node(i, j, Nx)] = value;
                }
                const double x_east = coordinate(Nx, hx);
                for (int j = 1; j <= Ny; ++j) TNum[node(Nx, j, Nx)] = east_boundary_value(c, x_east, coordinate(j, hy));
            } else {
                write_north_and_east(c, Nx, Ny, hx, hy, TNum);
            }
            break;
        case 3:
            std::fill(TNum.begin(), TNum.end(), 0.5);
            if (c.problem_kind == 1) write_north_and_east(c, Nx, Ny, hx, hy, TNum);
            break;
        default:
            break;
    }
}

}  // namespace advdiff::model
