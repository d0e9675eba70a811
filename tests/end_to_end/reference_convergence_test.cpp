// Every solver, in both modes, converges to the reference solution that advdiff2d-reference
// writes for the bundled examples: the report's final iteration-error norm reaches the tolerance
// well before the iteration limit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "end_to_end/program_runner.hpp"
#include "platform/scratch_folder.hpp"

namespace advdiff::testing {
namespace {

namespace fs = std::filesystem;

struct Variant {
    const char* name;
    const char* example;     // folder under examples/
    const char* parameters;  // parameter file of the example
    int solver;              // solver_kind written into line 1
};

// gtest names a parameter in every test line; without this it would dump the struct's bytes.
void PrintTo(const Variant& v, std::ostream* out) { *out << v.name; }

// The number after the colon of the first report line starting with `label` (ASCII part).
double field(const std::string& report, const std::string& label) {
    const std::size_t at = report.find(label);
    if (at == std::string::npos) return -1.0;
    const std::size_t colon = report.find(':', at);
    return std::strtod(report.c_str() + colon + 1, nullptr);
}

class ReferenceConvergence : public ::testing::TestWithParam<Variant> {};

TEST_P(ReferenceConvergence, SolverReachesTheToleranceAgainstTheGeneratedReference) {
    const Variant v = GetParam();
    ScratchFolder work;
    const fs::path example = fs::path(ADVDIFF_SOURCE_DIR) / "examples" / v.example;
    work.write("dados1.ent", ScratchFolder::read((example / "dados1.ent").string()));
    // The example's parameter file with another solver on line 1, a shorter limit and no history.
    std::string parameters = ScratchFolder::read((example / v.parameters).string());
    parameters = std::to_string(v.solver) + parameters.substr(parameters.find_first_not_of("0123456789"));
    work.write(v.parameters, parameters);

    Launch reference;
    reference.binary = ADVDIFF_REFERENCE_BINARY;
    reference.args = {};
    const Ended made = run(work.path(), reference);
    ASSERT_TRUE(made.exited && made.status == 0) << made.err;
    const Ended ran = run(work.path(), {});
    ASSERT_TRUE(ran.exited && ran.status == 0) << ran.err;

    std::string report_name;
    for (const auto& entry : fs::directory_iterator(work.path()))
        if (entry.path().extension() == ".txt") report_name = entry.path().filename().string();
    ASSERT_FALSE(report_name.empty());
    const std::string report = ScratchFolder::read(work / report_name);
    const double final_norm = field(report, "Convergiu com a norma");
    const double iterations = field(report, "Itera\xe7\xf5" "es externas");
    EXPECT_LE(final_norm, 1e-10) << v.name;
    if (v.solver == 4) EXPECT_EQ(iterations, 1.0) << v.name;  // one direct solve
    else EXPECT_LT(iterations, 20000.0) << v.name;
}

INSTANTIATE_TEST_SUITE_P(
    BundledExamples, ReferenceConvergence,
    ::testing::Values(Variant{"GaussSeidel", "single-grid-gs-33", "SG2D_000.ent", 1},
                      Variant{"Msi", "single-grid-gs-33", "SG2D_000.ent", 2},
                      Variant{"Adi", "single-grid-gs-33", "SG2D_000.ent", 3},
                      Variant{"Elimination", "single-grid-gs-33", "SG2D_000.ent", 4},
                      Variant{"MultigridGaussSeidel", "multigrid-gs-65", "MG2D_000.ent", 1},
                      Variant{"MultigridMsi", "multigrid-gs-65", "MG2D_000.ent", 2},
                      Variant{"MultigridAdi", "multigrid-gs-65", "MG2D_000.ent", 3}),
    [](const ::testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace advdiff::testing
