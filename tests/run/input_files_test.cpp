#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/scratch_folder.hpp"
#include "run/input_files.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {
namespace {

using Lines = std::vector<std::string>;

const Lines kDados = {"Arquivo de dados do programa", "1   1 = multigrid, 2 = malha unica"};
const Lines kMultigrid = {
    "1        Gauss-Seidel", "'relat mg.txt'", "3", "2", "5", "3", "1", "45", "2", "2.0", "1.0",
    "1D-2", "50", "2", "1D-6     Tolerancia", "1E-3", "1", "1", "5", "0", "0"};
const Lines kSingleGrid = {
    "2", "relat sg.txt", "17", "9", "1", "1", "45", "2", "0.01", "100", "1E-8", "1E-4", "1", "0", "1",
    "0", "0"};

// Replaces line `line` of `file`; kDrop removes it and every line after it.
const std::string kDrop = "<drop>";
struct Edit {
    std::string file;
    int line;
    std::string text;
};

class InputFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_.path());
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    void write_files(const std::vector<Edit>& edits, const std::string& newline = "\n") {
        std::map<std::string, Lines> files = {
            {"dados1.ent", kDados}, {"MG2D_000.ent", kMultigrid}, {"SG2D_000.ent", kSingleGrid}};
        for (const Edit& e : edits) {
            Lines& lines = files.at(e.file);
            if (e.text == kDrop) lines.resize(static_cast<std::size_t>(e.line - 1));
            else lines.at(static_cast<std::size_t>(e.line - 1)) = e.text;
        }
        for (const auto& [name, lines] : files) {
            std::string text;
            for (const std::string& l : lines) text += l + newline;
            folder_.write(name, text);
        }
    }

    std::string error_of(ProblemState& state) {
        try {
            read_input_files(state, false);
        } catch (const RunError& e) {
            return e.what();
        }
        return "no error";
    }

    testing::ScratchFolder folder_;
    std::filesystem::path previous_;
};

TEST_F(InputFilesTest, MultigridFileFillsSettingsSourcesAndNormHistory) {
    write_files({{"MG2D_000.ent", 2, "'relat mg.txt'\r\n"}}, "\r\n");  // a blank line before level_count
    ProblemState state;
    read_input_files(state, false);
    const SimulationSettings& s = state.settings;
    EXPECT_EQ(s.run_mode, 1);
    EXPECT_EQ(s.report_file_name, "relat mg.txt" + std::string(23, ' '));
    EXPECT_EQ(s.level_count, 3);
    EXPECT_EQ(s.coarsest_nx, 5);
    EXPECT_EQ(s.coarsest_ny, 3);
    EXPECT_EQ(s.coarsening_p, 2.0);
    EXPECT_EQ(s.gamma, 0.01);
    EXPECT_EQ(s.tolerance, 0.000001);
    EXPECT_EQ(s.max_iterations, 50);
    EXPECT_EQ(s.history_interval, 5);
    EXPECT_EQ(state.source_of("run_mode").file, "dados1.ent");
    EXPECT_EQ(state.source_of("run_mode").line, 2);
    EXPECT_EQ(state.source_of("report_file_name").line, 2);
    EXPECT_EQ(state.source_of("level_count").line, 4);
    EXPECT_EQ(state.source_of("max_iterations").file, "MG2D_000.ent");
    EXPECT_EQ(state.source_of("max_iterations").line, 14);
    EXPECT_EQ(state.stats.norm_history, std::vector<double>(51, 0.0));
}

TEST_F(InputFilesTest, SingleGridFileReadsNameToFirstBlankAndSizesTheGrid) {
    write_files({{"dados1.ent", 2, "\t2\tmalha unica"}, {"SG2D_000.ent", 10, "0"}});
    ProblemState state;
    read_input_files(state, false);
    EXPECT_EQ(state.settings.run_mode, 2);
    EXPECT_EQ(state.settings.report_file_name, "relat" + std::string(30, ' '));
    EXPECT_EQ(state.settings.Nx, 17);
    EXPECT_EQ(state.settings.Ny, 9);
    EXPECT_EQ(state.Nx, 17);
    EXPECT_EQ(state.Ny, 9);
    EXPECT_EQ(state.settings.msi_tolerance, 1E-4);
    EXPECT_EQ(state.settings.inner_iterations, 0);
    EXPECT_EQ(state.stats.norm_history, std::vector<double>(1, 0.0));
    EXPECT_EQ(state.source_of("unused_value_17").line, 17);
}

TEST_F(InputFilesTest, EverySettingIsListedByNameInFileOrderWithItsValueAndLine) {
    for (const char* mode : {"1", "2"}) {
        write_files({{"dados1.ent", 2, mode}});
        ProblemState state;
        read_input_files(state, false);
        std::vector<std::string> listed;
        for_each_setting(state.settings, [&](std::string_view name, const auto& value) {
            std::ostringstream text;
            text << name << '=' << value;
            listed.push_back(text.str());
            // No blank lines in these files: run_mode stands on line 2 of dados1.ent, every other
            // value on the line of its position in the parameter file.
            const long line = state.source_of(std::string(name)).line;
            const long count = static_cast<long>(listed.size());
            EXPECT_EQ(line, count == 1 ? 2 : count - 1) << name;
        });
        if (mode[0] == '1') {
            ASSERT_EQ(listed.size(), 20u);  // run_mode and 19 of 21 values: two are read and not used
            EXPECT_EQ(listed[2], "report_file_name=relat mg.txt" + std::string(23, ' '));
            EXPECT_EQ(listed[10], "coarsening_p=2");
            EXPECT_EQ(listed[12], "gamma=0.01");
            EXPECT_EQ(listed[19], "history_interval=5");
        } else {
            ASSERT_EQ(listed.size(), 16u);
            EXPECT_EQ(listed[3], "Nx=17");
            EXPECT_EQ(listed[4], "Ny=9");
            EXPECT_EQ(listed[12], "msi_tolerance=0.0001");
        }
        EXPECT_EQ(listed[0], std::string("run_mode=") + mode);
        EXPECT_EQ(listed[1], "solver_kind=" + std::string(mode[0] == '1' ? "1" : "2"));
    }
}

TEST_F(InputFilesTest, BadFilesAndValuesStopWithFileLineAndSettingAndCreateNothing) {
    struct Case {
        std::vector<Edit> edits;
        std::string expected;
    };
    const Case cases[] = {
        {{{"dados1.ent", 1, kDrop}}, "dados1.ent:1: title: expected a line, found end of file"},
        {{{"dados1.ent", 2, "3"}}, "dados1.ent:2: run_mode: must be 1 (multigrid) or 2 (single grid), found 3"},
        {{{"dados1.ent", 2, "1.0"}}, "dados1.ent:2: run_mode: expected an integer, found \"1.0\""},
        {{{"MG2D_000.ent", 13, "10.0"}}, "MG2D_000.ent:13: max_iterations: expected an integer, found \"10.0\""},
        {{{"MG2D_000.ent", 21, kDrop}}, "MG2D_000.ent:21: unused_value_21: expected an integer, found end of file"},
        {{{"MG2D_000.ent", 2, "''"}}, "MG2D_000.ent:2: report_file_name: the report file name is empty"},
        {{{"MG2D_000.ent", 2, " , nome"}}, "MG2D_000.ent:2: report_file_name: the report file name is empty"},
        {{{"MG2D_000.ent", 3, "1"}, {"MG2D_000.ent", 13, "0"}}, "MG2D_000.ent:3: level_count: must be at least 2, found 1"},
        {{{"MG2D_000.ent", 4, "12"}}, "MG2D_000.ent:4: reference_file_index: must be from 1 to 11"},
        {{{"MG2D_000.ent", 5, "1"}}, "MG2D_000.ent:5: coarsest_nx: must be at least 2, found 1"},
        {{{"MG2D_000.ent", 6, "-3"}}, "MG2D_000.ent:6: coarsest_ny: must be at least 2, found -3"},
        {{{"MG2D_000.ent", 10, "2.0000000001"}}, "MG2D_000.ent:10: coarsening_p: must be 2"},
        {{{"MG2D_000.ent", 3, "40"}}, "MG2D_000.ent:3: level_count: the grid hierarchy is too large"},
        {{{"MG2D_000.ent", 13, "0"}}, "MG2D_000.ent:13: max_iterations: must be at least 1, found 0"},
        {{{"MG2D_000.ent", 15, "1E999"}}, "MG2D_000.ent:15: tolerance: expected a real number within the double range"},
        {{{"dados1.ent", 2, "2"}, {"SG2D_000.ent", 3, "1"}}, "SG2D_000.ent:3: Nx: must be at least 2, found 1"},
        {{{"dados1.ent", 2, "2"}, {"SG2D_000.ent", 4, ","}}, "SG2D_000.ent:4: Ny: must be at least 2, found 0"},
        {{{"dados1.ent", 2, "2"}, {"SG2D_000.ent", 3, "2147483647"}}, "SG2D_000.ent:4: Ny: the grid of Nx x Ny = 2147483647 x 9"},
        {{{"dados1.ent", 2, "2"}, {"SG2D_000.ent", 5, "0"}}, "SG2D_000.ent:5: reference_file_index: must be from 1 to 11"},
        {{{"dados1.ent", 2, "2"}, {"SG2D_000.ent", 10, "-1"}}, "SG2D_000.ent:10: max_iterations: must be at least 0, found -1"},
        {{{"dados1.ent", 2, "2"}, {"SG2D_000.ent", 16, "2*0"}}, "SG2D_000.ent:16: unused_value_16: expected an integer, found \"2*0\""},
    };
    for (const Case& c : cases) {
        write_files(c.edits);
        const auto before = folder_.names();
        ProblemState state;
        EXPECT_EQ(error_of(state).rfind(c.expected, 0), 0u) << error_of(state);
        EXPECT_EQ(folder_.names(), before) << c.expected;
    }
}

// Codes that select nothing run as defined; --strict refuses each with the codes that select
// something, and only where the code matters.
TEST_F(InputFilesTest, StrictRefusesCodesThatSelectNothingWithTheAcceptedOnes) {
    const std::vector<Edit> single_grid = {{"dados1.ent", 2, "2"}};
    struct Case {
        std::vector<Edit> edits;
        std::string refusal;  // empty: accepted with --strict too
    };
    const auto with = [](std::vector<Edit> edits, std::vector<Edit> more) {
        edits.insert(edits.end(), more.begin(), more.end());
        return edits;
    };
    const Case cases[] = {
        {{{"MG2D_000.ent", 1, "4"}},
         "MG2D_000.ent:1: solver_kind: found 4, which selects nothing (refused by --strict); accepted: 1 "
         "(Gauss-Seidel); 2 (MSI, modified strongly implicit); 3 (ADI, alternating-direction line relaxation)"},
        {with(single_grid, {{"SG2D_000.ent", 1, "7"}}), "SG2D_000.ent:1: solver_kind: found 7, which selects nothing"},
        {with(single_grid, {{"SG2D_000.ent", 1, "4"}}), ""},
        {{{"MG2D_000.ent", 7, "3"}},
         "MG2D_000.ent:7: problem_kind: found 3, which selects the rotating flow as 2 does (refused by --strict); "
         "accepted: 1 (constant velocity family"},
        {{{"MG2D_000.ent", 8, "50"}},
         "MG2D_000.ent:8: flow_angle: found 50, which selects nothing with problem_kind 1 (refused by --strict); "
         "accepted: 0 (0 degrees); 3 (pure diffusion, no advection); 30 (30 degrees); 45 ("},
        {with(single_grid, {{"SG2D_000.ent", 8, "3"}}),
         "SG2D_000.ent:8: peclet_code: found 3, which selects nothing with problem_kind 1 and flow_angle 45"},
        {with(single_grid, {{"SG2D_000.ent", 7, "30"}, {"SG2D_000.ent", 8, "3"}}), ""},  // any code at 30 degrees
        {{{"MG2D_000.ent", 7, "2"}, {"MG2D_000.ent", 8, "50"}}, ""},  // the angle matters with problem_kind 1 only
        {{{"MG2D_000.ent", 17, "0"}}, "MG2D_000.ent:17: initial_estimate: found 0, which selects nothing"},
    };
    for (const Case& c : cases) {
        write_files(c.edits);
        ProblemState lenient;
        EXPECT_EQ(error_of(lenient), "no error") << c.refusal;
        ProblemState state;
        std::string error = "no error";
        try {
            read_input_files(state, false, true);
        } catch (const RunError& e) {
            error = e.what();
        }
        if (c.refusal.empty()) EXPECT_EQ(error, "no error");
        else EXPECT_EQ(error.rfind(c.refusal, 0), 0u) << error;
    }
}

TEST_F(InputFilesTest, MissingFilesAreNamedAndNotCreated) {
    ProblemState state;
    EXPECT_EQ(error_of(state), "dados1.ent: no such file");
    folder_.write("dados1.ent", "titulo\n2\n");
    EXPECT_EQ(error_of(state), "SG2D_000.ent: no such file");
    EXPECT_EQ(folder_.names(), std::vector<std::string>{"dados1.ent"});
    ASSERT_TRUE(std::filesystem::create_directory("SG2D_000.ent"));
    EXPECT_EQ(error_of(state), "SG2D_000.ent: is a directory, not a file");
}

}  // namespace
}  // namespace advdiff::run
