// The built program against bad input, in a fresh folder per case: every file that cannot be read,
// every value the program refuses, every report name that cannot be written and every grid too
// large for the machine must end the program within seconds with one line
//     advdiff2d: error: FILE:LINE: setting: message
// and status 1 (2 for a misused command line), leaving the folder exactly as it was: no report,
// no temporary file, no input file touched. Runs that are merely strange (a diverging solver, a
// report name full of shell characters, a reference file longer than needed) still write their
// report. Ctrl-C ends a long run at once with status 130 and leaves nothing behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "end_to_end/program_runner.hpp"
#include "end_to_end/special_files.hpp"
#include "platform/memory.hpp"
#include "platform/scratch_folder.hpp"

namespace advdiff::end_to_end {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;
using Lines = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// Running the program.

using Outcome = testing::Ended;
using testing::snapshot;

// Runs the program in `folder` with `args`. Sends SIGINT after `interrupt_after` seconds when
// given. Kills the program after `limit` seconds.
Outcome run_program(const std::string& folder, const std::vector<std::string>& args,
                    std::optional<double> interrupt_after = std::nullopt, double limit = 20.0) {
    testing::Launch launch;
    launch.args = args;
    launch.interrupt_after = interrupt_after;
    launch.limit_seconds = limit;
    return testing::run(folder, launch);
}

const std::vector<std::string> kArgs = {"--no-edit", "--window", "0"};

// ---------------------------------------------------------------------------------------------
// The input files of a small valid run in each mode. Every value stands alone on its line, so
// that line numbers in the messages are the indexes below.

enum class Mode { single_grid, multigrid };

const Lines kSingleGrid = {
    "1", "'relat.txt'", "5", "5", "1", "1", "45", "1", "1.0", "10", "1E-8", "1E-3", "1", "1", "1", "0", "0"};
const Lines kMultigrid = {"1",   "'relat.txt'", "2", "2",    "3",    "3", "1", "45", "1", "2.0", "1.0",
                          "1.0", "10",          "1", "1E-8", "1E-3", "1", "1", "1",  "0", "0"};

std::string joined(const Lines& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

// A reference file of `count` values (any numbers serve: the runs here are judged by their
// report's existence, not its norms).
std::string reference_values(int count) {
    std::string text;
    for (int k = 0; k < count; ++k) text += "0.0\n";
    return text;
}

struct Edit {
    int line;          // 1-based line of the parameter file
    std::string text;  // its new content
};

// Writes dados1.ent, the parameter file of `mode` (with `edits`) and the reference file of the
// valid run (exata1 for single grid, exata2 for multigrid: 5 x 5 nodes either way).
void write_inputs(const ScratchFolder& folder, Mode mode, const std::vector<Edit>& edits) {
    const bool multigrid = mode == Mode::multigrid;
    Lines lines = multigrid ? kMultigrid : kSingleGrid;
    for (const Edit& e : edits) lines.at(static_cast<std::size_t>(e.line - 1)) = e.text;
    folder.write("dados1.ent", std::string("caso de teste\n") + (multigrid ? "1" : "2") + "   run_mode\n");
    folder.write(multigrid ? "MG2D_000.ent" : "SG2D_000.ent", joined(lines));
    folder.write(multigrid ? "exata2" : "exata1", reference_values(25));
}

using Prepare = std::function<void(const ScratchFolder&)>;

Prepare remove(const std::string& name) {
    return [name](const ScratchFolder& f) { fs::remove_all(f / name); };
}
Prepare replace(const std::string& name, const std::string& content) {
    return [name, content](const ScratchFolder& f) { f.write(name, content); };
}
Prepare make_folder(const std::string& name) {
    return [name](const ScratchFolder& f) {
        fs::remove_all(f / name);
        fs::create_directory(f / name);
    };
}
Prepare truncate_lines(const std::string& name, int keep) {
    return [name, keep](const ScratchFolder& f) {
        const std::string text = ScratchFolder::read(f / name);
        std::size_t at = 0;
        for (int k = 0; k < keep; ++k) at = text.find('\n', at) + 1;
        f.write(name, text.substr(0, at));
    };
}
Prepare append(const std::string& name, const std::string& more) {
    return [name, more](const ScratchFolder& f) { f.write(name, ScratchFolder::read(f / name) + more); };
}
Prepare fifo(const std::string& name) {
    return [name](const ScratchFolder& f) {
        fs::remove_all(f / name);
        testing::make_fifo(f / name);
    };
}
Prepare no_permission(const std::string& name) {
    return [name](const ScratchFolder& f) { testing::set_permissions(f / name, 0); };
}

bool permissions_do_not_bind() { return !testing::permissions_bind(); }
bool no_fifos() { return !testing::has_fifos(); }

// Runs whose memory is refused must need more than the machine has; a machine with this much
// available would start them.
bool has_more_memory_than(double gib) {
    const auto available = platform::available_memory_bytes();
    return !available || static_cast<double>(*available) > gib * 1024 * 1024 * 1024;
}

// ---------------------------------------------------------------------------------------------
// The table.

struct BadInput {
    std::string name;
    Mode mode;
    std::vector<Edit> edits;
    std::vector<Prepare> prepare;
    std::vector<std::string> words;  // each must appear in the message, the first at its start
    std::function<bool()> skip_when = nullptr;
    int status = 1;
    std::vector<std::string> args = kArgs;
    std::vector<std::string> windows_words = {};  // where Windows refuses the input otherwise
};

constexpr Mode SG = Mode::single_grid;
constexpr Mode MG = Mode::multigrid;

std::vector<BadInput> bad_inputs() {
    return {
        // Files that cannot be read, in both modes.
        {"ModeFileMissing", SG, {}, {remove("dados1.ent")}, {"dados1.ent: ", "no such file"}},
        {"SingleGridFileMissing", SG, {}, {remove("SG2D_000.ent")}, {"SG2D_000.ent: ", "no such file"}},
        {"MultigridFileMissing", MG, {}, {remove("MG2D_000.ent")}, {"MG2D_000.ent: ", "no such file"}},
        {"ModeFileUnreadable", SG, {}, {no_permission("dados1.ent")}, {"dados1.ent: ", "cannot be read"},
         permissions_do_not_bind},
        {"SingleGridFileUnreadable", SG, {}, {no_permission("SG2D_000.ent")}, {"SG2D_000.ent: ", "cannot be read"},
         permissions_do_not_bind},
        {"MultigridFileIsAPipe", MG, {}, {fifo("MG2D_000.ent")}, {"MG2D_000.ent: ", "not a regular file"}, no_fifos},
        {"ModeFileIsAFolder", SG, {}, {make_folder("dados1.ent")}, {"dados1.ent: ", "is a directory"}},
        {"SingleGridFileIsAFolder", SG, {}, {make_folder("SG2D_000.ent")}, {"SG2D_000.ent: ", "is a directory"}},
        {"MultigridFileIsAFolder", MG, {}, {make_folder("MG2D_000.ent")}, {"MG2D_000.ent: ", "is a directory"}},
        {"ModeFileEmpty", SG, {}, {replace("dados1.ent", "")}, {"dados1.ent:1: ", "found end of file"}},
        {"ModeFileWithoutRunMode", SG, {}, {replace("dados1.ent", "titulo\n\n  \n")},
         {"dados1.ent:4: run_mode: ", "expected an integer, found end of file"}},
        {"SingleGridFileEmpty", SG, {}, {replace("SG2D_000.ent", "")},
         {"SG2D_000.ent:1: solver_kind: ", "expected an integer, found end of file"}},
        {"MultigridFileEmpty", MG, {}, {replace("MG2D_000.ent", "")},
         {"MG2D_000.ent:1: solver_kind: ", "expected an integer, found end of file"}},
        {"SingleGridFileOneValueShort", SG, {}, {truncate_lines("SG2D_000.ent", 16)},
         {"SG2D_000.ent:17: ", "found end of file"}},
        {"MultigridFileOneValueShort", MG, {}, {truncate_lines("MG2D_000.ent", 20)},
         {"MG2D_000.ent:21: ", "found end of file"}},
        {"MultigridFileHalf", MG, {}, {truncate_lines("MG2D_000.ent", 9)},
         {"MG2D_000.ent:10: coarsening_p: ", "expected a real number, found end of file"}},
        {"RunModeNotAnInteger", SG, {}, {replace("dados1.ent", "titulo\n2.0\n")},
         {"dados1.ent:2: run_mode: ", "expected an integer, found \"2.0\""}},
        {"SingleGridIntegerWrittenAsReal", SG, {{10, "10.0"}}, {},
         {"SG2D_000.ent:10: max_iterations: ", "expected an integer, found \"10.0\""}},
        {"MultigridIntegerWrittenAsReal", MG, {{13, "10.0"}}, {},
         {"MG2D_000.ent:13: max_iterations: ", "expected an integer, found \"10.0\""}},
        {"SingleGridRealMalformed", SG, {{9, "1.0.0"}}, {},
         {"SG2D_000.ent:9: gamma: ", "expected a real number, found \"1.0.0\""}},
        {"MultigridRealIsNaN", MG, {{12, "NaN"}}, {}, {"MG2D_000.ent:12: gamma: ", "found \"NaN\""}},
        {"MultigridRepeatCount", MG, {{3, "2*2"}}, {}, {"MG2D_000.ent:3: level_count: ", "found \"2*2\""}},
        {"SingleGridIntegerAboveInt32", SG, {{3, "2147483648"}}, {},
         {"SG2D_000.ent:3: Nx: ", "from -2147483648 to 2147483647", "found \"2147483648\""}},
        {"MultigridIntegerBelowInt32", MG, {{3, "-2147483649"}}, {},
         {"MG2D_000.ent:3: level_count: ", "from -2147483648 to 2147483647"}},
        {"MultigridRealAboveDoubleRange", MG, {{15, "1D999"}}, {},
         {"MG2D_000.ent:15: tolerance: ", "double range", "found \"1D999\""}},
        {"SingleGridNameNeverClosed", SG, {{2, "'relat.txt"}}, {},
         {"SG2D_000.ent:2: report_file_name: ", "unclosed delimiter"}},
        {"MultigridNameNeverClosed", MG, {{2, "\"relat.txt'"}}, {},
         {"MG2D_000.ent:2: report_file_name: ", "unclosed delimiter"}},
        {"NameWithCarriageReturnNeverClosed", SG, {{2, "'a\rb"}}, {},
         {"SG2D_000.ent:2: report_file_name: ", "unclosed delimiter", "\\x0D"}},
        {"ModeFileHoldsNul", SG, {}, {replace("dados1.ent", std::string("titulo\n2\0\n", 10))},
         {"dados1.ent:2: ", "not a text file", "0x00"}},
        {"SingleGridFileHoldsControlByte", SG, {{14, "1\x01"}}, {}, {"SG2D_000.ent:14: ", "not a text file", "0x01"}},
        {"MultigridFileIsBinary", MG, {}, {replace("MG2D_000.ent", std::string("\x7F" "ELF\x02\x01\x01\0\0\0", 10))},
         {"MG2D_000.ent:1: ", "not a text file"}},

        // Values the program refuses, in both modes.
        {"RunModeZero", SG, {}, {replace("dados1.ent", "titulo\n0\n")},
         {"dados1.ent:2: run_mode: ", "must be 1 (multigrid) or 2 (single grid), found 0"}},
        {"RunModeThree", SG, {}, {replace("dados1.ent", "titulo\n3\n")}, {"dados1.ent:2: run_mode: ", "found 3"}},
        {"SingleGridReferenceIndexZero", SG, {{5, "0"}}, {},
         {"SG2D_000.ent:5: reference_file_index: ", "from 1 to 11", "found 0"}},
        {"MultigridReferenceIndexTwelve", MG, {{4, "12"}}, {},
         {"MG2D_000.ent:4: reference_file_index: ", "from 1 to 11", "found 12"}},
        {"SingleGridNxOne", SG, {{3, "1"}}, {}, {"SG2D_000.ent:3: Nx: ", "at least 2, found 1"}},
        {"SingleGridNyNull", SG, {{4, ",  Ny left empty"}}, {}, {"SG2D_000.ent:4: Ny: ", "at least 2, found 0"}},
        {"SingleGridNegativeMaxIterations", SG, {{10, "-1"}}, {},
         {"SG2D_000.ent:10: max_iterations: ", "at least 0, found -1"}},
        {"SingleGridNodesOverInt32", SG, {{3, "65536"}, {4, "32768"}}, {},
         {"SG2D_000.ent:4: Ny: ", "2147483648 nodes", "more than 2147483647"}},
        {"MultigridOneLevel", MG, {{3, "1"}}, {}, {"MG2D_000.ent:3: level_count: ", "at least 2, found 1"}},
        {"MultigridCoarseningThree", MG, {{10, "3.0"}}, {}, {"MG2D_000.ent:10: coarsening_p: ", "must be 2", "found 3"}},
        {"MultigridCoarsestNxOne", MG, {{5, "1"}}, {}, {"MG2D_000.ent:5: coarsest_nx: ", "at least 2, found 1"}},
        {"MultigridCoarsestNyNegative", MG, {{6, "-7"}}, {}, {"MG2D_000.ent:6: coarsest_ny: ", "at least 2, found -7"}},
        {"MultigridZeroCycles", MG, {{13, "0"}}, {}, {"MG2D_000.ent:13: max_iterations: ", "at least 1, found 0"}},
        {"MultigridHierarchyOverInt32", MG, {{3, "40"}}, {},
         {"MG2D_000.ent:3: level_count: ", "hierarchy is too large", "2147483647"}},
        {"MultigridHierarchyOfMaxLevels", MG, {{3, "2147483647"}}, {},
         {"MG2D_000.ent:3: level_count: ", "hierarchy is too large"}},

        // Grids that fit the 32-bit range but not the machine: refused with their memory figure
        // before anything is allocated.
        {"SingleGridGaussEliminationTooLarge", SG, {{1, "4"}, {3, "40000"}, {4, "40000"}}, {},
         {"SG2D_000.ent:3: Nx: ", "40000 x 40000", "Gauss elimination", "GiB of memory", "available"},
         [] { return has_more_memory_than(1e6); }},
        {"SingleGridEliminationBandBeyond64Bits", SG, {{1, "4"}, {3, "759250122"}, {4, "2"}}, {},
         {"SG2D_000.ent:3: Nx: ", "759250122 x 2", "GiB of memory", "available"},
         [] { return has_more_memory_than(1e9); }},
        {"SingleGridRelaxationTooLarge", SG, {{3, "46340"}, {4, "46340"}}, {},
         {"SG2D_000.ent:3: Nx: ", "46340 x 46340", "GiB of memory", "available"},
         [] { return has_more_memory_than(200); }},
        {"MultigridSixteenLevelsTooLarge", MG, {{1, "2"}, {3, "16"}, {5, "2"}, {6, "2"}}, {},
         {"MG2D_000.ent:5: coarsest_nx: ", "16 levels", "GiB of memory", "available"},
         [] { return has_more_memory_than(150); }},

        // Reference files.
        {"SingleGridReferenceMissing", SG, {}, {remove("exata1")}, {"exata1: ", "no such file"}},
        {"MultigridReferenceMissing", MG, {}, {remove("exata2")}, {"exata2: ", "no such file"}},
        {"ReferenceIsAFolder", SG, {}, {make_folder("exata1")}, {"exata1: ", "is a directory"}},
        {"ReferenceEmpty", SG, {}, {replace("exata1", "")}, {"exata1:1: ", "25 values, found 0"}},
        {"SingleGridReferenceShort", SG, {}, {truncate_lines("exata1", 24)}, {"exata1:25: ", "25 values, found 24"}},
        {"MultigridReferenceShort", MG, {}, {truncate_lines("exata2", 3)}, {"exata2:4: ", "25 values, found 3"}},
        {"ReferenceIndexTenReadsExata10", SG, {{5, "10"}}, {}, {"exata10: ", "no such file"}},
        {"SingleGridReferenceNotANumber", SG, {},
         {replace("exata1", reference_values(11) + "zero\n" + reference_values(13))},
         {"exata1:12: ", "expected a number, found \"zero\""}},
        {"MultigridReferenceNaN", MG, {}, {replace("exata2", reference_values(20) + "\n\nNaN\n" + reference_values(4))},
         {"exata2:23: ", "found \"NaN\""}},
        {"ReferenceNullValue", SG, {}, {replace("exata1", ",\n" + reference_values(24))}, {"exata1:1: ", "null value"}},
        {"ReferenceBinary", MG, {}, {replace("exata2", std::string("\x01\x02\x00\x03", 4))},
         {"exata2:1: ", "expected a number, found \"\\x01\\x02\\x00\\x03\""}},

        // Report names that cannot be written: refused before any simulation runs.
        {"ReportFolderMissing", SG, {{2, "'nowhere/relat.txt'"}}, {},
         {"SG2D_000.ent:2: report_file_name: ", "folder \"nowhere\" does not exist"}},
        {"ReportNameIsAFolder", MG, {{2, "'sub'"}}, {make_folder("sub")},
         {"MG2D_000.ent:2: report_file_name: ", "\"sub\" is a directory"}},
        {"ReportNameIsAFolderWithSlash", SG, {{2, "'sub/'"}}, {make_folder("sub")},
         {"SG2D_000.ent:2: report_file_name: ", "\"sub/\" is a directory"}},
        {"ReportNameEndsInSlash", SG, {{2, "'new/'"}}, {}, {"SG2D_000.ent:2: report_file_name: ", "names a directory"}},
        {"ReportNameIsTheWorkingFolder", SG, {{2, "."}}, {}, {"SG2D_000.ent:2: report_file_name: ", "is a directory"}},
        {"ReportNameEmpty", SG, {{2, "''"}}, {}, {"SG2D_000.ent:2: report_file_name: ", "empty"}},
        {"ReportNameBlank", MG, {{2, "'   '"}}, {}, {"MG2D_000.ent:2: report_file_name: ", "empty"}},
        {"ReportNameNull", MG, {{2, ", no name"}}, {}, {"MG2D_000.ent:2: report_file_name: ", "empty"}},
        {"ReportFolderIsAFile", SG, {{2, "'exata1/relat.txt'"}}, {},
         {"SG2D_000.ent:2: report_file_name: ", "\"exata1\""}},
        {"ReportFolderWithoutPermission", SG, {{2, "'locked/relat.txt'"}},
         {make_folder("locked"), [](const ScratchFolder& f) { testing::set_permissions(f / "locked", 0555); }},
         {"SG2D_000.ent:2: report_file_name: ", "cannot create a file in the folder \"locked\""}, permissions_do_not_bind},
        {"ReportFolderNameWithCarriageReturn", SG, {{2, "'no\rwhere/r.txt'"}}, {},
         {"SG2D_000.ent:2: report_file_name: ", "does not exist", "\\x0D"}, nullptr, 1, kArgs,
         {"SG2D_000.ent:2: report_file_name: ", "\\x0D", "control character"}},

        // Codes that select nothing, under --strict: each refused with the codes that do.
        {"StrictSingleGridSolverSeven", SG, {{1, "7"}}, {},
         {"SG2D_000.ent:1: solver_kind: ", "found 7", "accepted: 1 (Gauss-Seidel); 2 (MSI", "4 (Gauss elimination"},
         nullptr, 1, {"--no-edit", "--window", "0", "--strict"}},
        {"StrictFlowAngleFifty", SG, {{7, "50"}}, {},
         {"SG2D_000.ent:7: flow_angle: ", "found 50", "accepted: 0 (0 degrees)", "90 (90 degrees)"},
         nullptr, 1, {"--no-edit", "--window", "0", "--strict"}},
        {"StrictMultigridGaussElimination", MG, {{1, "4"}}, {},
         {"MG2D_000.ent:1: solver_kind: ", "found 4", "accepted: 1 (Gauss-Seidel)", "3 (ADI"},
         nullptr, 1, {"--no-edit", "--window", "0", "--strict"}},

        // Command-line misuse.
        {"UnknownOption", SG, {}, {}, {"unknown argument \"--fast\""}, nullptr, 2, {"--no-edit", "--fast"}},
        {"WindowWithoutSeconds", SG, {}, {}, {"--window needs"}, nullptr, 2, {"--no-edit", "--window"}},
        {"WindowNegative", SG, {}, {}, {"--window needs", "\"-1\""}, nullptr, 2, {"--window", "-1"}},
        {"WindowNotANumber", SG, {}, {}, {"--window needs", "\"nan\""}, nullptr, 2, {"--window=nan"}},
    };
}

void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

// The peak memory of a refused run: the program itself and its input, no run arrays. Under the
// address sanitizer its shadow memory alone takes about 300 MB.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kRefusedRunKiB = 1024 * 1024;
#else
constexpr long kRefusedRunKiB = 64 * 1024;
#endif

class BadInputTest : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputTest, StopsWithOneLineNamingTheCauseAndLeavesTheFolderAsItWas) {
    const BadInput& c = GetParam();
    if (c.skip_when && c.skip_when()) GTEST_SKIP() << "not meaningful on this machine or as this user";
    ScratchFolder folder;
    write_inputs(folder, c.mode, c.edits);
    for (const Prepare& p : c.prepare) p(folder);
    const auto before = snapshot(folder.path());

    const Outcome r = run_program(folder.path(), c.args);

    EXPECT_FALSE(r.timed_out);
    // Refused before the run's arrays exist (the largest cases ask for gigabytes).
    EXPECT_LT(r.max_rss_kib, kRefusedRunKiB);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(snapshot(folder.path()), before) << "the folder changed";

    const std::string prefix = "advdiff2d: error: ";
    ASSERT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
    std::string message = r.err.substr(prefix.size());
    ASSERT_FALSE(message.empty());
    ASSERT_EQ(message.back(), '\n');
    message.pop_back();
    if (c.status == 2) {
        // The misuse, then the usage line.
        const std::size_t usage = message.find("\nusage: advdiff2d");
        ASSERT_NE(usage, std::string::npos) << r.err;
        message.resize(usage);
    }
    for (const char ch : message)
        EXPECT_FALSE(static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F)
            << "control byte " << static_cast<int>(ch) << " in the message: " << message;
    const std::vector<std::string>& words = testing::kOnWindows && !c.windows_words.empty() ? c.windows_words : c.words;
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(message.rfind(words.front(), 0), 0u) << message;
    for (const std::string& word : words) EXPECT_NE(message.find(word), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(Table, BadInputTest, ::testing::ValuesIn(bad_inputs()),
                         [](const ::testing::TestParamInfo<BadInput>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// Strange but valid input: the run goes through and writes its report, and nothing else.

struct OddRun {
    std::string name;
    Mode mode;
    std::vector<Edit> edits;
    std::vector<Prepare> prepare;
    std::string report;                    // the file the run must create, literally
    std::vector<std::string> report_words; // each must appear in the report
    bool posix_name = false;               // a name Windows does not allow (| > ")
};

std::vector<OddRun> odd_runs() {
    return {
        {"ShellCharactersStayInTheName", SG, {{2, "'a b;$(touch pwned)`id`|x>y&'"}}, {}, "a b;$(touch pwned)`id`|x>y&",
         {}, true},
        {"QuotesAndDollarStayInTheName", MG, {{2, "\"it's $HOME \"\"q\"\" ; rm -rf .\""}}, {},
         "it's $HOME \"q\" ; rm -rf .", {}, true},
        {"CommandInterpreterCharactersStayInTheName", SG, {{2, "'a b & %PATH% ^x !y (z);$q.txt'"}}, {},
         "a b & %PATH% ^x !y (z);$q.txt", {}},
        {"NameWithLeadingDashAndBlanks", SG, {{2, "'-rf  x'"}}, {}, "-rf  x", {}},
        {"PureDiffusionWithoutDiffusionGivesNaN", SG, {{7, "3"}, {9, "0.0"}}, {}, "relat.txt", {"NaN"}},
        {"MultigridPureDiffusionWithoutDiffusionGivesNaN", MG, {{8, "3"}, {12, "0"}}, {}, "relat.txt", {"NaN"}},
        {"NegativeDiffusionStillReports", SG, {{6, "2"}, {9, "-1.0"}, {10, "200"}}, {}, "relat.txt", {}},
        {"LongerReferenceFileIsReadWithoutComplaint", SG, {}, {append("exata1", reference_values(500) + "x y z\n")},
         "relat.txt", {}},
        {"MultigridLongerReferenceFile", MG, {}, {append("exata2", "1E300\nnot a number\n")}, "relat.txt", {}},
        {"ReportReplacesAnExistingFile", SG, {}, {replace("relat.txt", "old report\n")}, "relat.txt", {}},
    };
}

void PrintTo(const OddRun& c, std::ostream* os) { *os << c.name; }

class OddRunTest : public ::testing::TestWithParam<OddRun> {};

TEST_P(OddRunTest, WritesItsReportUnderTheLiteralNameAndNothingElse) {
    const OddRun& c = GetParam();
    if (testing::kOnWindows && c.posix_name) GTEST_SKIP() << "a name Windows does not allow";
    ScratchFolder folder;
    write_inputs(folder, c.mode, c.edits);
    for (const Prepare& p : c.prepare) p(folder);
    auto expected = snapshot(folder.path());
    expected.erase(c.report);

    const Outcome r = run_program(folder.path(), kArgs);

    EXPECT_FALSE(r.timed_out);
    ASSERT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    auto after = snapshot(folder.path());
    ASSERT_EQ(after.count(c.report), 1u) << "no report named \"" << c.report << "\"";
    after.erase(c.report);
    EXPECT_EQ(after, expected) << "files other than the report changed";
    const std::string report = ScratchFolder::read(folder / c.report);
    EXPECT_NE(report.find("Simulacao :"), std::string::npos) << "not a report: " << report.substr(0, 200);
    for (const std::string& word : c.report_words) EXPECT_NE(report.find(word), std::string::npos) << word;
}

INSTANTIATE_TEST_SUITE_P(Table, OddRunTest, ::testing::ValuesIn(odd_runs()),
                         [](const ::testing::TestParamInfo<OddRun>& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// Ctrl-C.

struct LongRun {
    std::string name;
    Mode mode;
    std::vector<Edit> edits;
    std::vector<std::string> args;
};

TEST(InterruptTest, CtrlCEndsALongRunAtOnceWith130AndLeavesNothing) {
    if (testing::kOnWindows && !testing::has_console())
        GTEST_SKIP() << "Ctrl-Break reaches only programs of a console, and the tests have none";
    const LongRun runs[] = {
        // Many short repetitions in a long timing window.
        {"multigrid timing window", MG, {}, {"--no-edit", "--window", "30"}},
        // One repetition far longer than the test waits.
        {"single long repetition", SG, {{3, "129"}, {4, "129"}, {10, "1000000"}, {11, "0"}}, kArgs},
    };
    for (const LongRun& run : runs) {
        SCOPED_TRACE(run.name);
        ScratchFolder folder;
        write_inputs(folder, run.mode, run.edits);
        if (run.mode == SG) folder.write("exata1", reference_values(129 * 129));
        const auto before = snapshot(folder.path());

        const Outcome r = run_program(folder.path(), run.args, 0.5, 20.0);

        EXPECT_FALSE(r.timed_out);
        ASSERT_TRUE(r.exited) << "ended by the signal itself, not by the program";
        EXPECT_EQ(r.status, 130) << r.err;
        EXPECT_EQ(snapshot(folder.path()), before) << "a report or a temporary file was left";
    }
}

}  // namespace
}  // namespace advdiff::end_to_end
