// The built program's extra outputs: the summary carries the very numbers the report prints (each
// JSON number, formatted by the report's own field formatter, is the report's text); a refused
// output name stops the run before anything is written.

#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <iterator>
#include <string>
#include <vector>

#include "end_to_end/golden_cases.hpp"
#include "end_to_end/program_runner.hpp"
#include "platform/scratch_folder.hpp"
#include "report/field_format.hpp"

namespace advdiff::testing {
namespace {

namespace fs = std::filesystem;

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs the program in `folder` with `args`.
Ended run(const std::string& folder, std::vector<std::string> args) {
    Launch launch;
    launch.args = std::move(args);
    return testing::run(folder, launch);
}

// The token of the first member `name` in a JSON text (a number, true, false, null or a quoted
// string as written). The summary puts each scalar member on a line of its own.
std::string member(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\": ";
    const std::size_t at = json.find(key);
    if (at == std::string::npos) return "(missing " + name + ")";
    const std::size_t begin = at + key.size();
    const std::size_t end = json.find_first_of(",\n}", begin);
    return json.substr(begin, end - begin);
}

double number(const std::string& token) {
    double value = 0.0;
    const auto r = std::from_chars(token.data(), token.data() + token.size(), value);
    EXPECT_EQ(r.ptr, token.data() + token.size()) << token;
    return value;
}

// The field at the end of the report line that starts with `label` (ISO 8859-1).
std::string report_field(const std::string& report, const std::string& label, std::size_t width) {
    const std::size_t at = report.find("\n" + label);
    if (at == std::string::npos) return "(no line " + label + ")";
    const std::size_t end = report.find('\n', at + 1);
    return report.substr(end - width, width);
}

void copy_case(const std::string& name, const ScratchFolder& work) { copy_golden_inputs(name, work.path()); }

struct Case {
    const char* folder;
    const char* report;
    bool multigrid;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.folder; }

class SummaryAgreesWithReport : public ::testing::TestWithParam<Case> {};

TEST_P(SummaryAgreesWithReport, DigitForDigit) {
    const Case& c = GetParam();
    ScratchFolder work;
    copy_case(c.folder, work);
    const Ended o = run(work.path(), {"--window", "0", "--no-edit", "--summary", "run.json", "--fields=run.vti"});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string json = read_all(work / "run.json");
    const std::string report = read_all(work / c.report);
    ASSERT_FALSE(json.empty());
    EXPECT_TRUE(fs::exists(work / "run.vti"));

    using report::format_e;
    using report::format_i;
    const std::size_t colon = c.multigrid ? 54 : 53;  // where the statistics' fields start
    const auto stat = [&](const char* label) {
        std::string line = label;
        line.resize(colon - 2, ' ');
        return line + ": ";
    };
    EXPECT_EQ(format_e(number(member(json, "discretisation_error")), 25, 16),
              report_field(report, "Erro de discretiza\xE7\xE3o na malha mais fina           : ", 25));
    EXPECT_EQ(format_e(number(member(json, "linf_error")), 25, 16),
              report_field(report, "Norma infinita (T_Analitica - T_Numerica)          : ", 25));
    const int iterations = static_cast<int>(number(member(json, "iteration_count")));
    EXPECT_EQ(format_i(iterations, 13), report_field(report, stat("Itera\xE7\xF5" "es externas"), 13));
    EXPECT_EQ(format_e(number(member(json, "initial_norm")), 13, 4),
              report_field(report, stat("Norma L1 m\xE9" "dia do erro de it com base na est inic"), 13));
    EXPECT_EQ(format_e(number(member(json, "final_norm")), 13, 4),
              report_field(report, stat("Convergiu com a norma L1 m\xE9" "dia do erro de itera\xE7\xE3o"), 13));
    const std::string printed = member(json, "printed");
    if (c.multigrid) {
        EXPECT_EQ(printed, "null");
    } else {
        EXPECT_EQ(format_e(number(printed), 13, 4),
                  report_field(report, stat("Taxa de converg\xEAncia na ultima iteracao"), 13));
    }
    EXPECT_EQ(format_i(number(member(json, "Nx")), 13), report_field(report, stat("Numero de incognitas da malha em x"), 13));

    // The history's last entry is the final norm; these runs reached their tolerance.
    const std::size_t history = json.find("\"norm_history\": [");
    ASSERT_NE(history, std::string::npos);
    const std::string entries = json.substr(history, json.find(']', history) - history);
    EXPECT_EQ(static_cast<int>(std::count(entries.begin(), entries.end(), ',')), iterations);
    EXPECT_EQ(member(json, "converged"), "true");
    EXPECT_EQ(member(json, "stop_reason"), "\"tolerance_reached\"");
}

INSTANTIATE_TEST_SUITE_P(Runs, SummaryAgreesWithReport,
                         ::testing::Values(Case{"sg-gs-rotating-17", "sg_gs_rot.txt", false},
                                           Case{"sg-msi-45-pe10-9x17", "sg_msi.txt", false},
                                           Case{"mg-gs-rotating-L5", "mg_gs.txt", true},
                                           Case{"mg-msi-3x5-L4", "mg_msi.txt", true}),
                         [](const auto& info) {
                             std::string name = info.param.folder;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(OutputTargets, ARefusedNameStopsTheRunBeforeAnythingIsWritten) {
    struct Refused {
        std::vector<std::string> args;
        std::string message;
    };
    const Refused cases[] = {
        {{"--summary", "dados1.ent"}, "--summary: \"dados1.ent\" is the input file dados1.ent, which writing there would replace"},
        {{"--fields", "./SG2D_000.ent"}, "--fields: \"./SG2D_000.ent\" is the input file SG2D_000.ent, which writing"},
        {{"--summary", "exata1"}, "--summary: \"exata1\" is the reference file exata1, which writing"},
        {{"--fields", "sg_gs_rot.txt"}, "--fields: \"sg_gs_rot.txt\" is the report file, which writing"},
        {{"--summary", "a.json", "--fields", "sub/../a.json"}, "--fields: \"sub/../a.json\" is the --summary file"},
        {{"--summary", "sub"}, "--summary: \"sub\" is a directory, not a file"},
        {{"--fields", "missing/f.vti"}, "--fields: the folder \"missing\" does not exist"},
    };
    for (const Refused& r : cases) {
        ScratchFolder work;
        copy_case("sg-gs-rotating-17", work);
        fs::create_directory(work / "sub");
        const std::vector<std::string> before = work.names();
        const std::string input = read_all(work / "dados1.ent");
        std::vector<std::string> args = {"--window", "0", "--no-edit"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const Ended o = run(work.path(), args);
        EXPECT_EQ(o.status, 1) << r.message;
        EXPECT_EQ(o.err.rfind("advdiff2d: error: " + r.message, 0), 0u) << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
        EXPECT_EQ(work.names(), before) << r.message;
        EXPECT_EQ(read_all(work / "dados1.ent"), input);
    }
}

TEST(MissingReference, TheErrorSaysHowToMakeIt) {
    ScratchFolder work;
    copy_case("sg-gs-rotating-17", work);
    fs::remove(work / "exata1");
    const Ended o = run(work.path(), {"--window", "0", "--no-edit"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("exata1: no such file"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("advdiff2d-reference makes it"), std::string::npos) << o.err;
}

}  // namespace
}  // namespace advdiff::testing
