#include "platform/signals.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
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

// The child's signal state as a freshly started program has it: every signal at its default
// action and unblocked, whatever the test runner left behind; no core files.
void reset_signals_in_child() {
    for (int signo = 1; signo < NSIG; ++signo) signal(signo, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct rlimit no_core {};
    setrlimit(RLIMIT_CORE, &no_core);
}

TEST(PlatformInterruptHandlers, EveryOtherEndingSignalRemovesTheTemporaryAndEndsTheProcessByItself) {
    const int signals[] = {SIGHUP, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM,
                           SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGRTMIN, SIGRTMAX};
    for (const int signo : signals) {
        ScratchFolder folder;
        const std::string temporary = folder / ".relat.txt.Xy12Zw";
        folder.write(".relat.txt.Xy12Zw", "half a report");
        folder.write("relat.txt", "the earlier report");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            reset_signals_in_child();
            install_interrupt_handlers();
            register_temporary_file(temporary);
            raise(signo);
            _exit(0);  // not reached when the handler works
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signo << ": exited with " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), signo);
        EXPECT_FALSE(std::filesystem::exists(temporary)) << "signal " << signo;
        EXPECT_EQ(ScratchFolder::read(folder / "relat.txt"), "the earlier report");
    }
}

extern "C" void ignore_in_handler(int) {}

TEST(PlatformInterruptHandlers, KeepSignalsIgnoredOrHandledAlreadyAndIgnoreSigxfsz) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        reset_signals_in_child();
        signal(SIGHUP, SIG_IGN);  // as nohup starts a program
        signal(SIGPIPE, ignore_in_handler);  // a handler of the program's own
        install_interrupt_handlers();
        raise(SIGPIPE);
        raise(SIGHUP);
        struct sigaction hup {}, usr1 {}, xfsz {}, pipe {};
        sigaction(SIGHUP, nullptr, &hup);
        sigaction(SIGPIPE, nullptr, &pipe);
        sigaction(SIGUSR1, nullptr, &usr1);
        sigaction(SIGXFSZ, nullptr, &xfsz);
        const bool right = hup.sa_handler == SIG_IGN && usr1.sa_handler != SIG_DFL && usr1.sa_handler != SIG_IGN &&
                           xfsz.sa_handler == SIG_IGN && pipe.sa_handler == ignore_in_handler;
        _exit(right ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace advdiff::platform
