#include "platform/signals.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <pthread.h>
#include <unistd.h>

#include "platform/internals.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {

namespace {

// The registered temporary file. The handler may only use async-signal-safe calls, so the path
// lives in a fixed buffer rather than in a std::string; an empty string means none.
constexpr std::size_t kPathCapacity = 8192;
char temporary_path[kPathCapacity] = {};

extern "C" void remove_temporary_and_exit(int signo) {
    if (temporary_path[0] != '\0') unlink(temporary_path);
    _exit(128 + signo);
}

sigset_t interrupt_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

detail::InterruptsBlocked::InterruptsBlocked() {
    const sigset_t set = interrupt_signals();
    blocked_ = pthread_sigmask(SIG_BLOCK, &set, &previous_) == 0;
}

detail::InterruptsBlocked::~InterruptsBlocked() {
    if (blocked_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void install_interrupt_handlers() {
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_exit;
    action.sa_mask = interrupt_signals();  // one handler at a time
    action.sa_flags = 0;
    for (const int signo : {SIGINT, SIGTERM}) {
        struct sigaction previous {};
        if (sigaction(signo, nullptr, &previous) != 0)
            throw RunError(std::string("cannot install the interrupt handlers: ") + std::strerror(errno));
        // A program started with the signal ignored (a background job of a shell without job
        // control, nohup) keeps ignoring it, as its caller asked.
        if (previous.sa_handler == SIG_IGN) continue;
        if (sigaction(signo, &action, nullptr) != 0)
            throw RunError(std::string("cannot install the interrupt handlers: ") + std::strerror(errno));
    }
}

void register_temporary_file(const std::string& path) {
    detail::InterruptsBlocked blocked;
    // A path that does not fit (or holds a NUL) cannot be handed to unlink intact: then nothing is
    // registered rather than a different name.
    if (path.size() >= kPathCapacity || path.find('\0') != std::string::npos) {
        temporary_path[0] = '\0';
        return;
    }
    std::memcpy(temporary_path, path.c_str(), path.size() + 1);
}

}  // namespace advdiff::platform
