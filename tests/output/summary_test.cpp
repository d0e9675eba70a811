// What the summary says about a run beyond the numbers: the case in words, the settings by name
// in file order, the file names as UTF-8, the rate where the report prints none.

#include <gtest/gtest.h>

#include <string>

#include "output/summary.hpp"
#include "report/report.hpp"

namespace advdiff::output {
namespace {

TEST(SummaryTestCase, NamesEveryCaseOfTheVelocityTable) {
    const auto name = [](int problem_kind, int flow_angle, int peclet_code) {
        SimulationSettings s;
        s.problem_kind = problem_kind;
        s.flow_angle = flow_angle;
        s.peclet_code = peclet_code;
        return test_case_name(s);
    };
    EXPECT_EQ(name(2, 45, 10), "rotating flow");
    EXPECT_EQ(name(0, 0, 0), "rotating flow");
    EXPECT_EQ(name(1, 3, 0), "pure diffusion");
    EXPECT_EQ(name(1, 30, 7), "constant velocity, 30 degrees");
    EXPECT_EQ(name(1, 45, 1000), "constant velocity, 45 degrees, Peclet code 1000");
    EXPECT_EQ(name(1, 45, 5), "constant velocity, 45 degrees, Peclet code 5, not in the velocity table: no advection");
    EXPECT_EQ(name(1, 50, 0), "constant velocity, 50 degrees, not in the velocity table: no advection");
}

ProblemState single_grid_run(std::string report_name) {
    ProblemState s;
    s.settings.run_mode = kSingleGrid;
    s.settings.solver_kind = kElimGauss;
    report_name.resize(kReportNameWidth, ' ');
    s.settings.report_file_name = report_name;
    s.settings.Nx = s.settings.Ny = 2;
    s.settings.gamma = 0.5;
    s.settings.inner_iterations = 1;  // set by the report, not read from the file
    s.setting_sources = {{"run_mode", {"dados1.ent", 2}},         {"solver_kind", {"SG2D_000.ent", 1}},
                         {"report_file_name", {"SG2D_000.ent", 2}}, {"Nx", {"SG2D_000.ent", 3}},
                         {"Ny", {"SG2D_000.ent", 4}},             {"gamma", {"SG2D_000.ent", 9}},
                         {"unused_value_16", {"SG2D_000.ent", 16}}};
    s.Nx = s.Ny = 2;
    s.N = 4;
    s.hx = s.hy = 1.0;
    s.TNum.assign(4, 0.0);
    s.stats.iteration_count = 1;
    s.stats.norm_history = {1.0, 0.25};
    return s;
}

std::string summary_of(const ProblemState& s) {
    return compose_summary(s, report::derive_run_results(s), {report::report_path(s.settings), 0.0});
}

TEST(Summary, ListsTheSettingsReadByNameInFileOrder) {
    const std::string json = summary_of(single_grid_run("rep.txt"));
    EXPECT_NE(json.find("  \"settings\": {\n"
                        "    \"run_mode\": 2,\n"
                        "    \"solver_kind\": 4,\n"
                        "    \"report_file_name\": \"rep.txt\",\n"
                        "    \"Nx\": 2,\n"
                        "    \"Ny\": 2,\n"
                        "    \"gamma\": 0.5\n"
                        "  },\n"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"solver_name\": \"Gauss elimination\""), std::string::npos);
    EXPECT_NE(json.find("\"stop_reason\": \"direct_solve\""), std::string::npos);
    // Elimination prints no rate line; the reduction factor is still there.
    EXPECT_NE(json.find("\"last_iteration_rate\": {\n    \"printed\": null,\n    \"reduction_factor\": 0.25\n"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"norm_history\": [1, 0.25]"), std::string::npos);
}

TEST(Summary, FileNamesAreUtf8AndNameTheSameFile) {
    // An ISO 8859-1 name (the report's character set) is converted; a UTF-8 name stays as it is.
    EXPECT_NE(summary_of(single_grid_run("relat\xF3rio.txt")).find("\"report_file\": \"relat\xC3\xB3rio.txt\""),
              std::string::npos);
    EXPECT_NE(summary_of(single_grid_run("relat\xC3\xB3rio.txt")).find("\"report_file\": \"relat\xC3\xB3rio.txt\""),
              std::string::npos);
}

}  // namespace
}  // namespace advdiff::output
