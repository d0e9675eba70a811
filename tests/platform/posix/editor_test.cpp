// Starting the editor on POSIX: no shell, the PATH lookup, and only with a terminal.

#include "platform/editor.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/internals.hpp"
#include "platform/scratch_folder.hpp"

namespace advdiff::platform {
namespace {

using advdiff::testing::ScratchFolder;
using Words = std::vector<std::string>;

TEST(PlatformRunAndWait, PassesEveryArgumentLiterallyWithoutAShell) {
    ScratchFolder folder;
    folder.write("echo-args.sh", "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\n");
    const std::string argument = "a b; touch " + (folder / "x") + " $(touch " + (folder / "y") + ")";
    EXPECT_EQ(detail::run_and_wait({"/bin/sh", folder / "echo-args.sh", argument, "*"}), 0);
    EXPECT_EQ(ScratchFolder::read(folder / "args"), argument + "\n*\n");
    EXPECT_EQ(folder.names(), (Words{"args", "echo-args.sh"}));
}

TEST(PlatformRunAndWait, LooksUpThePathAndNeverThrowsForAMissingProgram) {
    EXPECT_EQ(detail::run_and_wait({"sh", "-c", "exit 3"}), 3);
    EXPECT_EQ(detail::run_and_wait({"/nonexistent/editor", "file"}), -1);
    EXPECT_EQ(detail::run_and_wait({"advdiff-no-such-editor-anywhere"}), -1);
    EXPECT_EQ(detail::run_and_wait({}), -1);
}

// Runs open_in_editor in a child whose standard input and output are a pseudo-terminal or
// /dev/null, with VISUAL naming a script that records its arguments. Returns what the script
// recorded, or "(not run)".
std::string editor_arguments_seen(const ScratchFolder& folder, bool stdin_terminal,
                                  bool stdout_terminal, bool enabled) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "(no terminal)";
    const std::string terminal = ptsname(master);
    const pid_t child = fork();
    if (child == 0) {
        const int tty = open(terminal.c_str(), O_RDWR | O_NOCTTY);
        const int null = open("/dev/null", O_RDWR);
        if (tty < 0 || null < 0) _exit(2);
        dup2(stdin_terminal ? tty : null, STDIN_FILENO);
        dup2(stdout_terminal ? tty : null, STDOUT_FILENO);
        setenv("VISUAL", ("/bin/sh " + (folder / "editor.sh") + " --wait").c_str(), 1);
        unsetenv("EDITOR");
        open_in_editor(folder / "my report; touch x.txt", enabled);
        _exit(0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    close(master);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "(child failed)";
    if (!std::filesystem::exists(folder / "marker")) return "(not run)";
    return ScratchFolder::read(folder / "marker");
}

TEST(PlatformOpenInEditor, RunsOnlyWhenEnabledAndBothStandardStreamsAreTerminals) {
    const struct {
        bool stdin_terminal;
        bool stdout_terminal;
        bool enabled;
        bool runs;
    } cases[] = {
        {true, true, true, true},
        {true, true, false, false},
        {false, true, true, false},
        {true, false, true, false},
        {false, false, true, false},
    };
    for (const auto& c : cases) {
        ScratchFolder folder;
        folder.write("editor.sh", "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/marker\"\n");
        const std::string seen =
            editor_arguments_seen(folder, c.stdin_terminal, c.stdout_terminal, c.enabled);
        if (seen == "(no terminal)") GTEST_SKIP() << "no pseudo-terminals here";
        const std::string expected =
            c.runs ? "--wait\n" + (folder / "my report; touch x.txt") + "\n" : "(not run)";
        EXPECT_EQ(seen, expected) << c.stdin_terminal << c.stdout_terminal << c.enabled;
        EXPECT_FALSE(std::filesystem::exists(folder / "x.txt"));
    }
}

}  // namespace
}  // namespace advdiff::platform
