// The accuracy of the direct solution of the discrete system against the analytic solution: exact
// for the bilinear cases, second order for pure diffusion, between first and second order for the
// rotating flow (first-order upwind advection).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

// Largest error of the direct solution of the case on an Nx x Ny grid against the analytic solution.
double direct_solution_error(const model::ModelCase& c, int Nx, int Ny) {
    const model::StencilCoefficients a = assemble(c, Nx, Ny);
    std::vector<double> T(a.b.size());
    solvers::Scratch scratch = scratch_for(Nx, Ny, kElimGauss);
    solvers::gauss_elimination({}, system_of(a, Nx, Ny, kElimGauss), a.b, T, scratch);
    double error = 0.0;
    for (int j = 1; j <= Ny; ++j)
        for (int i = 1; i <= Nx; ++i) {
            const double exact = model::analytic_solution(c, model::coordinate(i, model::spacing(Nx)),
                                                          model::coordinate(j, model::spacing(Ny)));
            error = std::max(error, std::fabs(exact - T[node(i, j, Nx)]));
        }
    return error;
}

TEST(DiscreteSolution, ConstantVelocityCasesReproduceTheBilinearSolution) {
    for (const CaseChoice& choice : all_cases()) {
        if (choice.problem_kind != 1 || choice.flow_angle == 3) continue;
        for (double gamma : {1.0, 0.1}) {
            const model::ModelCase c = make_case(choice, gamma);
            for (auto [Nx, Ny] : {std::pair{9, 9}, std::pair{17, 9}, std::pair{6, 11}})
                EXPECT_LE(direct_solution_error(c, Nx, Ny), 1e-14 * std::max(1.0, c.Pex * c.Pey))
                    << choice.name << " " << Nx << "x" << Ny;
        }
    }
}

TEST(DiscreteSolution, PureDiffusionErrorFallsFourfoldWhenTheGridIsHalved) {
    const model::ModelCase c = make_case(kDiffusion, 1.0);
    const double e17 = direct_solution_error(c, 17, 17), e33 = direct_solution_error(c, 33, 33);
    EXPECT_NEAR(e17 / e33, 4.0, 0.2);
    EXPECT_NEAR(e33 / direct_solution_error(c, 65, 65), 4.0, 0.2);
}

TEST(DiscreteSolution, RotatingFlowErrorFallsBetweenFirstAndSecondOrder) {
    for (double gamma : {1.0, 0.1}) {
        const model::ModelCase c = make_case(kRotating, gamma);
        const double e17 = direct_solution_error(c, 17, 17), e33 = direct_solution_error(c, 33, 33);
        const double e65 = direct_solution_error(c, 65, 65);
        for (double ratio : {e17 / e33, e33 / e65}) {
            EXPECT_GT(ratio, 2.0) << gamma;
            EXPECT_LT(ratio, 4.0) << gamma;
        }
    }
}

}  // namespace
}  // namespace advdiff::testing
