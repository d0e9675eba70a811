#pragma once
// The model problem: steady advection-diffusion on the unit square with Dirichlet values on all
// four sides, in a family of test cases whose analytic solutions are known.
//   problem_kind 1: constant velocities (Pex, Pey) chosen by flow_angle (and peclet_code for 45);
//                   T = Pex*Pey*x*y, except flow_angle 3: pure diffusion, T = sin(pi x) sinh(pi y)/sinh(pi)
//   otherwise:      a rotating divergence-free flow, T = x*y*u*v, zero on the whole boundary.
// Every formula is evaluated in one fixed order (each product and sum left to right as grouped
// below); the report prints 17 significant digits, so the grouping is part of the definition.

#include <cstdint>
#include <span>
#include <vector>

#include "state/problem_state.hpp"

namespace advdiff::model {

struct ModelCase {
    int problem_kind = 0;
    int flow_angle = 0;
    int peclet_code = 0;
    double gamma = 0.0;  // diffusion coefficient
    double Pex = 0.0;    // constant velocities (problem_kind 1); 0 for other codes and cases
    double Pey = 0.0;

    bool constant_velocity() const { return problem_kind == 1; }
    bool pure_diffusion() const { return problem_kind == 1 && flow_angle == 3; }
};

// One row of the velocity table of the constant-velocity family (problem_kind 1). The values are
// exact doubles (17 significant digits); peclet code 2 gives 3*cos(45 deg), and code 0 gives 1.0
// in both directions.
struct VelocityRow {
    int flow_angle;         // degrees; 3 is pure diffusion (no advection)
    int peclet_code;        // the code of a 45-degree row; ignored where any_peclet_code
    bool any_peclet_code;   // every peclet_code selects this row
    double Pex;
    double Pey;
};

inline constexpr VelocityRow kVelocityTable[] = {
    {0, 0, true, 1.0, 0.0},
    {3, 0, true, 0.0, 0.0},
    {30, 0, true, 0.86602540378443860, 0.5},
    {45, 0, false, 1.0, 1.0},
    {45, 1, false, 0.70710678118654757, 0.70710678118654757},
    {45, 2, false, 2.1213203435596428, 2.1213203435596428},
    {45, 10, false, 7.0710678118654755, 7.0710678118654755},
    {45, 100, false, 70.710678118654755, 70.710678118654755},
    {45, 1000, false, 707.10678118654755, 707.10678118654755},
    {60, 0, true, 0.5, 0.86602540378443860},
    {90, 0, true, 0.0, 1.0},
};

// The row of the velocity table that flow_angle and peclet_code select, or null: such a
// combination selects no velocity (the case then has no advection).
const VelocityRow* find_velocity(int flow_angle, int peclet_code);

// The case selected by the settings, with Pex, Pey from the velocity table (a combination the
// table does not list leaves them 0).
ModelCase make_model_case(const SimulationSettings& settings);

// Grid spacing 1/(n - 1) and the coordinate (i - 1)*h of a 1-based node index.
inline double spacing(int n) { return 1.0 / static_cast<double>(n - 1); }
inline double coordinate(int i, double h) { return static_cast<double>(i - 1) * h; }

struct Velocity {
    double u;
    double v;
};

// The rotating flow's factors that depend on x alone and on y alone (P, Q the velocity's; A, B,
// C and their multiples the source's). Taken once per grid column and row, they give every node
// the values of the formulas at (x, y) by the same operations, so the same bits.
struct RotatingX {
    double x, P, Q, B32, C16, A16, C32, E96, A192;
    explicit RotatingX(double x);
};
struct RotatingY {
    double y, u_factor, v_factor, D, E;  // 4y^3 - 2y, y^4 - y^2, 2y^3 - y, 6y^2 - 1
    explicit RotatingY(double y);
};

// Velocities of the rotating flow at (x, y).
Velocity rotating_velocity(const RotatingX& x, const RotatingY& y);
Velocity rotating_velocity(double x, double y);

// The rotating flow's source term at (x, y), whose velocity is `vel`.
double rotating_source(const RotatingX& x, const RotatingY& y, Velocity vel, double gamma);

// Analytic solution of the case at (x, y). Pure diffusion takes sin and sinh correctly rounded
// (model/correctly_rounded.hpp), so its digits are the same on every machine.
double analytic_solution(const ModelCase& c, double x, double y);

// Source term S(x, y) of the case.
double source_term(const ModelCase& c, double x, double y);

// Boundary values on the north row and on the east column as the field initialisation and the
// multigrid boundary operation write them: Pex*Pey*x*y_north, sin(pi*x) for pure diffusion.
// The south row and the west column are 0 in every case.
double north_boundary_value(const ModelCase& c, double x, double y_north);
double east_boundary_value(const ModelCase& c, double x_east, double y);

// The analytic solution and the north and east boundary values of a case at the nodes of one
// Nx x Ny grid (x_i = (i - 1) hx, y_j = (j - 1) hy), node by node the very doubles of the
// functions above. Pure diffusion needs only Nx + Ny + 1 transcendental values: sin(pi x_i) per
// column, sinh(pi y_j) per row and sinh(pi) are evaluated once, when the table is made, and
// combined per node in the order of the formula.
class GridValues {
public:
    GridValues() = default;
    GridValues(const ModelCase& c, int Nx, int Ny);

    // The bytes of the tables (at most; only pure diffusion has them).
    static std::uint64_t bytes(int Nx, int Ny);

    const ModelCase& model_case() const { return case_; }
    int Nx() const { return Nx_; }
    int Ny() const { return Ny_; }

    // T at node (i, j), 1-based.
    double analytic(int i, int j) const;
    // The boundary value of the north row at column i and of the east column at row j.
    double north(int i) const;
    double east(int j) const;

private:
    ModelCase case_;
    int Nx_ = 0, Ny_ = 0;
    double hx_ = 0.0, hy_ = 0.0;
    std::vector<double> sin_pi_x_;   // pure diffusion: sin(pi x_i), i = 1 .. Nx
    std::vector<double> sinh_pi_y_;  // pure diffusion: sinh(pi y_j), j = 1 .. Ny
    double sinh_pi_ = 0.0;           // pure diffusion: sinh(pi)
};

// Initial estimate of TNum (and T_Analitica for option 2) on the grid of `values`:
//   1: zero, then the north row and the east column get their boundary values;
//   2: the analytic solution everywhere (also into T_Analitica), then the north row (for pure
//      diffusion: every node of each column gets sin(pi*x_i)) and the east column;
//   3: one half everywhere, then (constant velocities only) the north row and the east column;
//   any other value: TNum and T_Analitica are left as they are.
void initialise_field(const GridValues& values, int initial_estimate, std::span<double> TNum,
                      std::span<double> T_Analitica);

}  // namespace advdiff::model
