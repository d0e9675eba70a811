// Starting the editor on Windows: no command interpreter, each argument whole, the program found
// in PATH but not in the working folder, and nothing without a console.

#include "platform/editor.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/internals.hpp"
#include "platform/scratch_folder.hpp"
#include "platform/windows/internals.hpp"

namespace advdiff::platform {
namespace {

namespace fs = std::filesystem;
using advdiff::testing::ScratchFolder;
using Words = std::vector<std::string>;

std::optional<std::wstring> variable(const wchar_t* name) {
    static wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    if (length == 0 || length >= 32768) return std::nullopt;
    return std::wstring(buffer, length);
}

// Sets an environment variable of this process for the lifetime of the object.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::optional<std::wstring>& value)
        : name_(name), previous_(variable(name)) {
        SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, previous_ ? previous_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name_;
    std::optional<std::wstring> previous_;
};

// A folder holding the recording stand-in under `program_name`.
struct StandIn {
    ScratchFolder folder;
    explicit StandIn(const std::string& program_name) {
        fs::copy_file(ADVDIFF_RECORD_ARGUMENTS_BINARY, folder / program_name);
    }
    std::string recorded() const {
        return fs::exists(folder / "arguments.txt") ? ScratchFolder::read(folder / "arguments.txt") : "(not run)";
    }
};

TEST(WindowsRunAndWait, PassesEveryArgumentLiterallyWithoutACommandInterpreter) {
    StandIn stand_in("editor.exe");
    const Words arguments = {"my report.txt", "a & b %PATH% ^c | d > e", "quote \" and \\", "", "dir with blank\\"};
    Words argv = {stand_in.folder / "editor.exe"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(detail::run_and_wait(argv), 0);
    std::string expected;
    for (const std::string& a : arguments) expected += a + "\n";
    EXPECT_EQ(stand_in.recorded(), expected);
}

TEST(WindowsRunAndWait, LooksUpPathButNotTheWorkingFolderAndNeverThrowsForAMissingProgram) {
    StandIn in_path("advdiff-stand-in.exe");
    StandIn in_working_folder("advdiff-only-here.exe");
    const ScopedVariable path(L"PATH", fs::path(in_path.folder.path()).wstring() + L";" + variable(L"PATH").value_or(L""));
    const fs::path previous = fs::current_path();
    fs::current_path(in_working_folder.folder.path());
    EXPECT_EQ(detail::run_and_wait({"advdiff-stand-in", "x.txt"}), 0);
    EXPECT_EQ(detail::run_and_wait({"advdiff-only-here", "x.txt"}), -1);
    EXPECT_EQ(detail::run_and_wait({"C:\\nonexistent\\editor.exe", "file"}), -1);
    EXPECT_EQ(detail::run_and_wait({}), -1);
    fs::current_path(previous);
    EXPECT_EQ(in_path.recorded(), "x.txt\n");
    EXPECT_EQ(in_working_folder.recorded(), "(not run)");
}

TEST(WindowsOpenInEditor, OpensNothingWithoutAConsole) {
    // The tests' standard streams are files or pipes here, never a console; notepad stands in.
    StandIn stand_in("notepad.exe");
    const ScopedVariable path(L"PATH", fs::path(stand_in.folder.path()).wstring());
    const ScopedVariable visual(L"VISUAL", std::nullopt), editor(L"EDITOR", std::nullopt);
    if (detail::attached_to_console()) GTEST_SKIP() << "the tests run in a console";
    open_in_editor("relat.txt", true);
    EXPECT_EQ(stand_in.recorded(), "(not run)");
}

}  // namespace
}  // namespace advdiff::platform
