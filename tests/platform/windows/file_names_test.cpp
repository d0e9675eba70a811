// Windows paths: their parts, the names Windows does not take for files, and the command line
// that gives a started program its arguments one by one.

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/windows/internals.hpp"

namespace advdiff::platform {
namespace {

TEST(WindowsSplitPath, KeepsTheRootOfDrivesAndSharesWithTheFolder) {
    const struct {
        std::string path, folder, base;
    } cases[] = {
        {"relat.txt", ".", "relat.txt"},
        {"sub\\relat.txt", "sub", "relat.txt"},
        {"sub/relat.txt", "sub", "relat.txt"},
        {"a\\b/c.txt", "a\\b", "c.txt"},
        {"sub\\", "sub", ""},
        {"C:relat.txt", "C:", "relat.txt"},
        {"C:\\relat.txt", "C:\\", "relat.txt"},
        {"C:\\dados\\relat.txt", "C:\\dados", "relat.txt"},
        {"\\relat.txt", "\\", "relat.txt"},
        {"\\\\server\\share\\relat.txt", "\\\\server\\share\\", "relat.txt"},
        {"\\\\server\\share\\dados\\relat.txt", "\\\\server\\share\\dados", "relat.txt"},
        {"//server/share/relat.txt", "//server/share/", "relat.txt"},
    };
    for (const auto& c : cases) {
        const detail::PathParts parts = detail::split_path(c.path);
        EXPECT_EQ(parts.folder, c.folder) << c.path;
        EXPECT_EQ(parts.base, c.base) << c.path;
    }
}

TEST(WindowsNameProblem, RefusesDevicesStreamsWildcardsAndNamesWindowsWouldChange) {
    const struct {
        std::string path;
        std::string problem;  // the start of the message after the quoted name; empty: accepted
    } cases[] = {
        {"relat.txt", ""},
        {"C:\\dados\\relat.txt", ""},
        {"C:relat.txt", ""},
        {"sub\\..\\relat.txt", ""},
        {".\\relat.txt", ""},
        {"my report & %PATH% ^x (1);$y.txt", ""},
        {"rel\xE1t\xF3rio.txt", ""},  // ISO 8859-1 letters
        {"console.txt", ""},
        {"COM0", ""},
        {"con.txt", " names the device con, not a file"},
        {"NUL", " names the device NUL, not a file"},
        {"Aux.dat.txt", " names the device Aux, not a file"},
        {"sub\\prn", " names the device prn, not a file"},
        {"nul .txt", " names the device nul, not a file"},
        {"lpt9.log", " names the device lpt9, not a file"},
        {"COM\xB9.txt", " names the device COM\xB9, not a file"},
        {"conin$", " names the device conin$, not a file"},
        {"aux\\relat.txt", " names the device aux, not a file"},
        {"relat.txt.", " has a name part ending in a dot or a blank (\"relat.txt.\")"},
        {"relat.txt ", " has a name part ending in a dot or a blank (\"relat.txt \")"},
        {"sub.\\relat.txt", " has a name part ending in a dot or a blank (\"sub.\")"},
        {"relat.txt:stream", " holds ':'"},
        {"sub\\C:relat.txt", " holds ':'"},
        {"rel?.txt", " holds the character ?"},
        {"*.txt", " holds the character *"},
        {"a<b", " holds the character <"},
        {"a>b", " holds the character >"},
        {"a|b", " holds the character |"},
        {"a\"b", " holds the character \""},
        {"a\rb", " holds a control character"},
        {"\\\\.\\COM1", " is a device or extended path"},
        {"\\\\?\\C:\\relat.txt", " is a device or extended path"},
    };
    for (const auto& c : cases) {
        const std::string problem = detail::name_problem(c.path);
        if (c.problem.empty()) EXPECT_EQ(problem, "") << c.path;
        else EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << c.path << " gave " << problem;
    }
}

TEST(WindowsSameName, IgnoresCaseOfEveryLatin1Letter) {
    EXPECT_TRUE(detail::same_name("dados1.ent", "DADOS1.ENT"));
    EXPECT_TRUE(detail::same_name("rel\xE1t\xF3rio.txt", "REL\xC1T\xD3RIO.TXT"));
    EXPECT_FALSE(detail::same_name("exata1", "exata10"));
    EXPECT_FALSE(detail::same_name("relat.txt", "relat.txt "));
}

// What the system's own parser (the C runtime's rules) makes of a command line.
std::vector<std::wstring> split_by_the_system(const std::wstring& line) {
    int count = 0;
    wchar_t** parts = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> arguments(parts, parts + count);
    LocalFree(parts);
    return arguments;
}

TEST(WindowsCommandLine, GivesTheProgramEachArgumentWhole) {
    const std::vector<std::vector<std::wstring>> cases = {
        {L"notepad", L"relat.txt"},
        {L"notepad", L"my report.txt"},
        {L"C:\\Program Files\\Editor\\ed.exe", L"a b", L"c"},
        {L"notepad", L"a & b %PATH% ^c | d > e"},
        {L"ed", L""},
        {L"ed", L"quote \" inside", L"\"", L"\\\""},
        {L"ed", L"C:\\dir with blank\\", L"C:\\plain\\"},
        {L"ed", L"back\\\\slashes\\\\\"and quote"},
        {L"ed", L"tab\there", L"rel\u00e1t\u00f3rio.txt"},
    };
    for (const auto& arguments : cases) {
        const std::wstring line = detail::command_line(arguments);
        EXPECT_EQ(split_by_the_system(line), arguments) << std::string(line.begin(), line.end());
    }
    EXPECT_EQ(detail::command_line(std::vector<std::wstring>{L"notepad", L"relat.txt"}), L"notepad relat.txt");
}

}  // namespace
}  // namespace advdiff::platform
