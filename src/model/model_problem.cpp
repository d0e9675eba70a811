#include "model/model_problem.hpp"

#include <algorithm>

#include "model/correctly_rounded.hpp"

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

RotatingX::RotatingX(double x_) : x(x_) {
    const double x2 = x * x, x3 = x * x2, x4 = x2 * x2;
    P = 8 * ((x4 - 2 * x3) + x2);
    Q = 8 * (2 * x + (4 * x3 - 6 * x2));
    const double A = (x2 * x2 - 2 * x3) + x2;
    const double B = (2 * x3 - 3 * x2) + x;
    const double C = (6 * x2 - 6 * x) + 1;
    B32 = 32 * B;
    C16 = 16 * C;
    A16 = 16 * A;
    C32 = 32 * C;
    E96 = 96 * (2 * x - 1);
    A192 = 192 * A;
}

RotatingY::RotatingY(double y_) : y(y_) {
    const double y2 = y * y, y3 = y * y2, y4 = y2 * y2;
    u_factor = 4 * y3 - 2 * y;
    v_factor = y4 - y2;
    D = 2 * y3 - y;
    E = 6 * y2 - 1;
}

Velocity rotating_velocity(const RotatingX& x, const RotatingY& y) { return {y.u_factor * x.P, -(y.v_factor * x.Q)}; }
Velocity rotating_velocity(double x, double y) { return rotating_velocity(RotatingX(x), RotatingY(y)); }

// S = u T_x + v T_y - gamma (T_xx + T_yy) for T = x y w, w = u v, from exact derivatives.
double rotating_source(const RotatingX& X, const RotatingY& Y, Velocity vel, double gamma) {
    const double x = X.x, y = Y.y;
    const double u = vel.u, v = vel.v;
    const double u_x = X.B32 * Y.D;
    const double v_x = -(X.C16 * Y.v_factor);
    const double u_y = X.A16 * Y.E;
    const double v_y = -u_x;
    const double u_xx = X.C32 * Y.D;
    const double v_xx = -(X.E96 * Y.v_factor);
    const double u_yy = X.A192 * y;
    const double v_yy = -(X.B32 * Y.E);
    const double w = u * v;
    const double w_x = v * u_x + u * v_x;
    const double w_y = v * u_y + u * v_y;
    const double w_xx = (v * u_xx + (2 * u_x) * v_x) + u * v_xx;
    const double w_yy = (v * u_yy + (2 * u_y) * v_y) + u * v_yy;
    return (((y * u) * (x * w_x + w) + (x * v) * (w + y * w_y)) - (y * gamma) * (x * w_xx + 2 * w_x)) -
           (x * gamma) * (y * w_yy + 2 * w_y);
}

namespace {

// The three factors of the pure-diffusion solution T = sin(pi x) sinh(pi y) / sinh(pi), and their
// combination in the order of the formula: the one place that knows it.
double sin_pi(double x) { return cr_sin(kPi * x); }
double sinh_pi(double y) { return cr_sinh(kPi * y); }
double diffusion_solution(double sin_pi_x, double sinh_pi_y, double sinh_pi_1) {
    return (sin_pi_x * sinh_pi_y) / sinh_pi_1;
}

}  // namespace

double analytic_solution(const ModelCase& c, double x, double y) {
    if (c.problem_kind == 1) {
        if (c.flow_angle == 3) return diffusion_solution(sin_pi(x), sinh_pi(y), sinh_pi(1.0));
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
    const RotatingX X(x);
    const RotatingY Y(y);
    return rotating_source(X, Y, rotating_velocity(X, Y), c.gamma);
}

double north_boundary_value(const ModelCase& c, double x, double y_north) {
    if (c.problem_kind != 1) return 0.0;
    if (c.flow_angle == 3) return sin_pi(x);
    return ((c.Pex * c.Pey) * x) * y_north;
}

double east_boundary_value(const ModelCase& c, double x_east, double y) {
    if (c.problem_kind != 1) return 0.0;
    return ((c.Pex * c.Pey) * x_east) * y;
}

GridValues::GridValues(const ModelCase& c, int Nx, int Ny)
    : case_(c), Nx_(Nx), Ny_(Ny), hx_(spacing(Nx)), hy_(spacing(Ny)) {
    if (!c.pure_diffusion()) return;
    sin_pi_x_.resize(static_cast<std::size_t>(std::max(Nx, 0)));
    sinh_pi_y_.resize(static_cast<std::size_t>(std::max(Ny, 0)));
    for (int i = 1; i <= Nx; ++i) sin_pi_x_[static_cast<std::size_t>(i - 1)] = sin_pi(coordinate(i, hx_));
    for (int j = 1; j <= Ny; ++j) sinh_pi_y_[static_cast<std::size_t>(j - 1)] = sinh_pi(coordinate(j, hy_));
    sinh_pi_ = sinh_pi(1.0);
}

std::uint64_t GridValues::bytes(int Nx, int Ny) {
    return (static_cast<std::uint64_t>(std::max(Nx, 0)) + static_cast<std::uint64_t>(std::max(Ny, 0))) * sizeof(double);
}

// The tables hold the values analytic_solution and north_boundary_value compute at the node's
// coordinates, and diffusion_solution is applied to them as there: node by node the same doubles.
double GridValues::analytic(int i, int j) const {
    if (!case_.pure_diffusion()) return analytic_solution(case_, coordinate(i, hx_), coordinate(j, hy_));
    return diffusion_solution(sin_pi_x_[static_cast<std::size_t>(i - 1)], sinh_pi_y_[static_cast<std::size_t>(j - 1)],
                              sinh_pi_);
}

double GridValues::north(int i) const {
    if (case_.pure_diffusion()) return sin_pi_x_[static_cast<std::size_t>(i - 1)];
    return north_boundary_value(case_, coordinate(i, hx_), coordinate(Ny_, hy_));
}

double GridValues::east(int j) const { return east_boundary_value(case_, coordinate(Nx_, hx_), coordinate(j, hy_)); }

namespace {

void write_north_and_east(const GridValues& values, std::span<double> T) {
    const int Nx = values.Nx(), Ny = values.Ny();
    for (int i = 1; i <= Nx; ++i) T[node(i, Ny, Nx)] = values.north(i);
    for (int j = 1; j <= Ny; ++j) T[node(Nx, j, Nx)] = values.east(j);
}

}  // namespace

void initialise_field(const GridValues& values, int initial_estimate, std::span<double> TNum,
                      std::span<double> T_Analitica) {
    const ModelCase& c = values.model_case();
    const int Nx = values.Nx(), Ny = values.Ny();
    switch (initial_estimate) {
        case 1:
            std::fill(TNum.begin(), TNum.end(), 0.0);
            write_north_and_east(values, TNum);
            break;
        case 2:
            for (int i = 1; i <= Nx; ++i)
                for (int j = 1; j <= Ny; ++j) T_Analitica[node(i, j, Nx)] = values.analytic(i, j);
            std::copy(T_Analitica.begin(), T_Analitica.end(), TNum.begin());
            if (c.pure_diffusion()) {
                // The starting field of the pure-diffusion case is sin(pi*x_i) on the whole of
                // column i, not only on its north node; the east column is then set to 0 below.
                for (int i = 1; i <= Nx; ++i) {
                    const double value = values.north(i);
                    for (int j = 1; j <= Ny; ++j) TNum[node(i, j, Nx)] = value;
                }
                for (int j = 1; j <= Ny; ++j) TNum[node(Nx, j, Nx)] = values.east(j);
            } else {
                write_north_and_east(values, TNum);
            }
            break;
        case 3:
            std::fill(TNum.begin(), TNum.end(), 0.5);
            if (c.problem_kind == 1) write_north_and_east(values, TNum);
            break;
        default:
            break;
    }
}

}  // namespace advdiff::model
