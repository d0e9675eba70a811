// The built program run as a user runs it: each golden case's input files copied into a fresh
// folder, `--window 0 --no-edit`, and the report compared line by line with the one an independent
// implementation wrote (the date line and the timing lines excepted). Plus the command line's own
// behaviour.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "end_to_end/program_runner.hpp"
#include "platform/scratch_folder.hpp"

namespace advdiff::testing {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) { return ScratchFolder::read(path.string()); }

// Runs the program in `folder` with `args` (standard input from the null device).
Ended run_program(const fs::path& folder, std::vector<std::string> args) {
    Launch launch;
    launch.args = std::move(args);
    return run(folder.string(), launch);
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Lines that depend on the moment or the speed of the run (ISO 8859-1 prefixes).
bool varies_between_runs(const std::string& line) {
    for (const char* prefix : {"Data da simulacao", "Tempo de ", "N\xfamero de vezes"})
        if (line.rfind(prefix, 0) == 0) return true;
    return false;
}

struct GoldenCase {
    std::string name;
    fs::path folder;
    std::string report_name;  // the expected report is expected-<report_name>
};

// gtest names a parameter in every test line; without this it would dump the struct's bytes.
void PrintTo(const GoldenCase& c, std::ostream* out) { *out << c.name; }

std::vector<GoldenCase> golden_cases() {
    std::vector<GoldenCase> cases;
    for (const auto& entry : fs::directory_iterator(fs::path(ADVDIFF_SOURCE_DIR) / "tests/end_to_end/golden")) {
        if (!entry.is_directory()) continue;
        for (const auto& file : fs::directory_iterator(entry.path())) {
            const std::string name = file.path().filename().string();
            if (name.rfind("expected-", 0) == 0)
                cases.push_back({entry.path().filename().string(), entry.path(), name.substr(9)});
        }
    }
    std::sort(cases.begin(), cases.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return cases;
}

TEST(GoldenReportsFolder, HoldsEightCases) { EXPECT_EQ(golden_cases().size(), 8u); }

class GoldenReports : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenReports, RunReproducesTheExpectedReport) {
    const GoldenCase& c = GetParam();
    ScratchFolder root;
    const fs::path work = fs::path(root.path()) / "case";
    ASSERT_TRUE(fs::create_directory(work));
    std::set<std::string> files{c.report_name};
    for (const auto& file : fs::directory_iterator(c.folder)) {
        const std::string name = file.path().filename().string();
        if (name.rfind("expected-", 0) == 0) continue;
        fs::copy_file(file.path(), work / name);
        files.insert(name);
    }
    const Ended o = run_program(work, {"--window", "0", "--no-edit"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    std::set<std::string> present;  // the inputs and the report, nothing left behind
    for (const auto& file : fs::directory_iterator(work)) present.insert(file.path().filename().string());
    EXPECT_EQ(present, files);

    const std::string text = read_file(work / c.report_name);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const std::vector<std::string> actual = split_lines(text);
    const std::vector<std::string> expected = split_lines(read_file(c.folder / ("expected-" + c.report_name)));
    EXPECT_EQ(actual.size(), expected.size());
    for (std::size_t k = 0; k < std::min(actual.size(), expected.size()); ++k) {
        if (varies_between_runs(expected[k])) EXPECT_EQ(actual[k].substr(0, 17), expected[k].substr(0, 17));
        else EXPECT_EQ(actual[k], expected[k]) << "line " << k + 1;
    }
    // A window of 0 seconds runs exactly one repetition.
    const auto repeated = std::find_if(actual.begin(), actual.end(),
                                       [](const std::string& l) { return l.rfind("N\xfamero de vezes", 0) == 0; });
    ASSERT_NE(repeated, actual.end());
    EXPECT_EQ(repeated->substr(repeated->size() - 13), "            1");
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenReports, ::testing::ValuesIn(golden_cases()),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(CommandLine, UnknownArgumentExitsTwoWithUsageAndHelpExitsZero) {
    ScratchFolder work;
    const Ended bad = run_program(work.path(), {"--no-such-option"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("usage: advdiff2d"), std::string::npos) << bad.err;
    const Ended help = run_program(work.path(), {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: advdiff2d"), std::string::npos) << help.out;
    EXPECT_TRUE(work.names().empty());
}

}  // namespace
}  // namespace advdiff::testing
