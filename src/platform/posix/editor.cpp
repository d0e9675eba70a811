#include "platform/editor.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/internals.hpp"
#include "platform/posix/internals.hpp"

extern char** environ;

namespace advdiff::platform {

namespace {

// Ignores one signal for the lifetime of the object and puts the previous action back afterwards.
class IgnoredSignal {
public:
    explicit IgnoredSignal(int signo) : signo_(signo) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        installed_ = sigaction(signo_, &ignore, &previous_) == 0;
    }
    ~IgnoredSignal() {
        if (installed_) sigaction(signo_, &previous_, nullptr);
    }
    IgnoredSignal(const IgnoredSignal&) = delete;
    IgnoredSignal& operator=(const IgnoredSignal&) = delete;

    // Whether the signal was ignored already before; the started program then inherits that.
    bool was_ignored() const { return installed_ && previous_.sa_handler == SIG_IGN; }

private:
    int signo_;
    bool installed_ = false;
    struct sigaction previous_ {};
};

}  // namespace

int detail::run_and_wait(const std::vector<std::string>& argv) {
    if (argv.empty()) return -1;
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
    pointers.push_back(nullptr);

    // A Ctrl-C typed in the editor reaches this process as well; it must not end the program while
    // the editor still holds the terminal. The editor itself gets the default actions back.
    IgnoredSignal ignore_interrupt(SIGINT);
    IgnoredSignal ignore_quit(SIGQUIT);

    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) return -1;
    sigset_t defaults;
    sigemptyset(&defaults);
    if (!ignore_interrupt.was_ignored()) sigaddset(&defaults, SIGINT);
    if (!ignore_quit.was_ignored()) sigaddset(&defaults, SIGQUIT);
    detail::add_signals_ignored_here(defaults);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::fflush(nullptr);
    pid_t child = 0;
    const int spawn_error =
        posix_spawnp(&child, pointers[0], nullptr, &attributes, pointers.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (spawn_error != 0) return -1;

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void open_in_editor(const std::string& path, bool enabled) {
    if (!enabled) return;
    if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) return;
    const std::vector<std::string> argv =
        detail::editor_command(std::getenv("VISUAL"), std::getenv("EDITOR"), path);
    if (argv.empty()) return;
    detail::run_and_wait(argv);  // the editor's result does not matter
}

}  // namespace advdiff::platform
