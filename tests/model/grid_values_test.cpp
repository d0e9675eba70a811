// A grid's table of analytic and boundary values gives, node by node, the very doubles of the
// pointwise functions, for every case and for grids of unlike sides (pure diffusion evaluates
// sin per column and sinh per row there, and combines them per node).

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "model/model_problem.hpp"
#include "solvers/test_systems.hpp"

namespace advdiff::testing {
namespace {

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

TEST(GridValues, EveryNodeHoldsThePointwiseValuesBitForBit) {
    const struct {
        int Nx, Ny;
    } grids[] = {{2, 2}, {17, 9}, {31, 66}, {100, 3}, {129, 257}};
    for (const CaseChoice& choice : all_cases()) {
        const model::ModelCase c = make_case(choice, 0.1);
        for (const auto& g : grids) {
            SCOPED_TRACE(std::string(choice.name) + " " + std::to_string(g.Nx) + " x " + std::to_string(g.Ny));
            const model::GridValues values(c, g.Nx, g.Ny);
            const double hx = model::spacing(g.Nx), hy = model::spacing(g.Ny);
            int different = 0;
            for (int i = 1; i <= g.Nx; ++i) {
                const double x = model::coordinate(i, hx);
                different += !same_bits(values.north(i), model::north_boundary_value(c, x, model::coordinate(g.Ny, hy)));
                for (int j = 1; j <= g.Ny; ++j)
                    different += !same_bits(values.analytic(i, j), model::analytic_solution(c, x, model::coordinate(j, hy)));
            }
            for (int j = 1; j <= g.Ny; ++j)
                different += !same_bits(values.east(j), model::east_boundary_value(c, model::coordinate(g.Nx, hx),
                                                                                   model::coordinate(j, hy)));
            EXPECT_EQ(different, 0);
        }
    }
}

}  // namespace
}  // namespace advdiff::testing
