#include "platform/signals.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/scratch_folder.hpp"

namespace advdiff::platform {
namespace {

using advdiff::testing::ScratchFolder;

TEST(PlatformInterruptHandlers, RemoveTheRegisteredTemporaryAndExitWith128PlusTheSignal) {
    const struct {
        int signo;
        bool cleared_before;  // registration cleared again before the signal arrives
        int exit_status;
        bool file_remains;
    } cases[] = {
        {SIGINT, false, 130, false},
        {SIGTERM, false, 143, false},
        {SIGINT, true, 130, true},
    };
    for (const auto& c : cases) {
        ScratchFolder folder;
        const std::string temporary = folder / ".report.txt.Ab12Cd";
        folder.write(".report.txt.Ab12Cd", "half a report");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(c.signo, SIG_DFL);  // whatever the test runner left behind
            sigset_t unblock;
            sigemptyset(&unblock);
            sigaddset(&unblock, c.signo);
            sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
            install_interrupt_handlers();
            register_temporary_file(temporary);
            if (c.cleared_before) register_temporary_file("");
            raise(c.signo);
            _exit(0);  // not reached when the handler works
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "signal " << c.signo << " ended the child unhandled";
        EXPECT_EQ(WEXITSTATUS(status), c.exit_status);
        EXPECT_EQ(std::filesystem::exists(temporary), c.file_remains) << c.signo;
    }
}

}  // namespace
}  // namespace advdiff::platform
