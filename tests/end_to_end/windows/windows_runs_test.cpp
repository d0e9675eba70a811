// The built program as a Windows user runs it: a second run in the same folder, report names with
// backslashes, drive letters and ISO 8859-1 letters, names Windows does not take for files, a
// report held open by another program, and notepad opened on each input file and the report.

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "end_to_end/golden_cases.hpp"
#include "end_to_end/program_runner.hpp"
#include "platform/scratch_folder.hpp"

namespace advdiff::testing {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

const Names kArgs = {"--no-edit", "--window", "0"};

// The golden single-grid case sg-gs-rotating-17 in `folder`, its report named `report` (written
// into the parameter file as given, in apostrophes).
void single_grid_case(const ScratchFolder& folder, const std::string& report) {
    copy_golden_inputs("sg-gs-rotating-17", folder.path());
    std::string parameters = ScratchFolder::read(folder / "SG2D_000.ent");
    const std::size_t line2 = parameters.find('\n') + 1;
    parameters.replace(line2, parameters.find('\n', line2) - line2, "'" + report + "'");
    fs::permissions(folder / "SG2D_000.ent", fs::perms::owner_write, fs::perm_options::add);
    folder.write("SG2D_000.ent", parameters);
}

Ended run_in(const ScratchFolder& folder, const Names& args = kArgs) {
    Launch launch;
    launch.args = args;
    return run(folder.path(), launch);
}

TEST(WindowsRuns, ASecondRunInTheSameFolderReplacesTheReport) {
    ScratchFolder folder;
    copy_golden_inputs("sg-gs-rotating-17", folder.path());
    const Ended first = run_in(folder);
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string report = ScratchFolder::read(folder / "sg_gs_rot.txt");
    const Ended second = run_in(folder);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.err, "");
    // The same report but for its date and timing lines: the same length and the same last line.
    const std::string again = ScratchFolder::read(folder / "sg_gs_rot.txt");
    EXPECT_EQ(again.size(), report.size());
    EXPECT_EQ(again.substr(again.rfind('\n', again.size() - 2)), report.substr(report.rfind('\n', report.size() - 2)));
    EXPECT_EQ(folder.names(), (Names{"SG2D_000.ent", "dados1.ent", "exata1", "sg_gs_rot.txt"}));
}

TEST(WindowsRuns, BackslashesDriveLettersAndLatin1LettersNameTheFiles) {
    ScratchFolder folder;
    fs::create_directory(folder / "sub");
    single_grid_case(folder, "sub\\rel\xE1t\xF3rio.txt");
    const std::string absolute_fields = folder.path() + "\\sub\\campos.vti";
    ASSERT_EQ(absolute_fields[1], ':');  // a drive letter
    const Ended r = run_in(folder, {"--no-edit", "--window", "0", "--summary", "sub\\resumo.json", "--fields",
                                    absolute_fields});
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path sub = fs::path(folder.path()) / "sub";
    EXPECT_TRUE(fs::exists(sub / L"rel\u00e1t\u00f3rio.txt"));
    EXPECT_TRUE(fs::exists(sub / "resumo.json"));
    EXPECT_TRUE(fs::exists(sub / "campos.vti"));
    EXPECT_EQ(std::distance(fs::directory_iterator(sub), fs::directory_iterator()), 3);
}

TEST(WindowsRuns, NamesWindowsDoesNotTakeForFilesStopTheRunBeforeAnythingIsWritten) {
    const struct {
        std::string report;       // the report name in the parameter file
        Names extra;              // more arguments
        std::string message;      // the start of the error line after "advdiff2d: error: "
    } cases[] = {
        {"con.txt", {}, "SG2D_000.ent:2: report_file_name: \"con.txt\" names the device con, not a file"},
        {"NUL", {}, "SG2D_000.ent:2: report_file_name: \"NUL\" names the device NUL, not a file"},
        {"aux", {}, "SG2D_000.ent:2: report_file_name: \"aux\" names the device aux, not a file"},
        {"relat.txt.", {}, "SG2D_000.ent:2: report_file_name: \"relat.txt.\" has a name part ending in a dot"},
        {"relat.txt:fluxo", {}, "SG2D_000.ent:2: report_file_name: \"relat.txt:fluxo\" holds ':'"},
        {"rel?.txt", {}, "SG2D_000.ent:2: report_file_name: \"rel?.txt\" holds the character ?"},
        {"DADOS1.ENT", {}, "SG2D_000.ent:2: report_file_name: \"DADOS1.ENT\" is the input file dados1.ent"},
        {"Exata1", {}, "SG2D_000.ent:2: report_file_name: \"Exata1\" is the reference file exata1"},
        {"relat.txt", {"--summary", "nul"}, "--summary: \"nul\" names the device nul, not a file"},
        {"relat.txt", {"--fields", "RELAT.TXT"}, "--fields: \"RELAT.TXT\" is the report file"},
    };
    for (const auto& c : cases) {
        ScratchFolder folder;
        single_grid_case(folder, c.report);
        const auto before = snapshot(folder.path());
        Names args = kArgs;
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Ended r = run_in(folder, args);
        EXPECT_EQ(r.status, 1) << c.report;
        EXPECT_EQ(r.err.rfind("advdiff2d: error: " + c.message, 0), 0u) << r.err;
        EXPECT_EQ(snapshot(folder.path()), before) << c.report;
    }
}

TEST(WindowsRuns, AReportHeldOpenByAnotherProgramStopsTheRunBeforeComputing) {
    ScratchFolder folder;
    single_grid_case(folder, "relat.txt");
    folder.write("relat.txt", "last week's report\n");
    const auto before = snapshot(folder.path());
    // The C runtime opens files without letting others delete or rename them, as most programs
    // that show a file do.
    std::ifstream held(folder / "relat.txt");
    ASSERT_TRUE(held.is_open());
    const Ended r = run_in(folder);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "advdiff2d: error: SG2D_000.ent:2: report_file_name: \"relat.txt\" is open in another program, "
                     "which keeps it from being replaced; close it there first\n");
    held.close();
    EXPECT_EQ(snapshot(folder.path()), before);
}

const std::string kNamesOfCmd = "my report & %PATH% ^x (1).txt";

// Runs the golden case, its report named kNamesOfCmd, with a stand-in notepad.exe first in PATH
// and neither VISUAL nor EDITOR set; returns what the stand-in was given, one argument a line.
std::string given_to_notepad(bool console, const Names& args) {
    ScratchFolder editors;
    fs::copy_file(ADVDIFF_RECORD_ARGUMENTS_BINARY, editors / "notepad.exe");
    std::wstring path(32768, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), 32768));
    ScratchFolder folder;
    single_grid_case(folder, kNamesOfCmd);
    Launch launch;
    launch.args = args;
    launch.console = console;
    launch.environment = {{"PATH", editors.path() + ";" + std::string(path.begin(), path.end())},
                          {"VISUAL", std::nullopt},
                          {"EDITOR", std::nullopt}};
    const Ended r = run(folder.path(), launch);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(folder / kNamesOfCmd));
    return fs::exists(editors / "arguments.txt") ? ScratchFolder::read(editors / "arguments.txt") : "";
}

TEST(WindowsRuns, NotepadOpensEachInputFileAndThenTheReportWithTheNameAsOneArgument) {
    if (!has_console()) GTEST_SKIP() << "no console to open notepad from (CI runs this test in a terminal)";
    EXPECT_EQ(given_to_notepad(true, {"--window", "0"}), "dados1.ent\nSG2D_000.ent\n" + kNamesOfCmd + "\n");
    EXPECT_EQ(given_to_notepad(true, kArgs), "");
}

TEST(WindowsRuns, NotepadIsNotOpenedWithoutAConsole) {
    // Standard input from NUL, which the C runtime's _isatty() takes for a terminal.
    EXPECT_EQ(given_to_notepad(false, {"--window", "0"}), "");
}

}  // namespace
}  // namespace advdiff::testing
