#include "platform/signals.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <pthread.h>
#include <unistd.h>

#include "platform/posix/internals.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {

namespace {

// The registered temporary file. The handler may only use async-signal-safe calls, so the path
// lives in a fixed static buffer rather than in a std::string; an empty string means none.
constexpr std::size_t kPathCapacity = 8192;
char temporary_path[kPathCapacity] = {};

// Whether install_interrupt_handlers() changed SIGXFSZ from its default to ignored; programs this
// one starts get the default back.
volatile sig_atomic_t file_size_signal_ignored_here = 0;

extern "C" void remove_temporary_and_end(int signo) {
    if (temporary_path[0] != '\0') unlink(temporary_path);
    if (signo == SIGINT || signo == SIGTERM) _exit(128 + signo);
    // End as the signal itself would have: default action, delivered once the handler lets it
    // through (it is blocked while the handler runs).
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signo, &fallback, nullptr);
    raise(signo);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signo);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    _exit(128 + signo);  // not reached
}

// Signals that end the process by default and may be sent by another process, a terminal or a
// timer. Faults of the program itself are not among them: they mean the program is broken, and a
// handler cannot run safely after a stack overflow.
sigset_t ending_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signo : {SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                            SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT})
        sigaddset(&set, signo);
    for (int signo = SIGRTMIN; signo <= SIGRTMAX; ++signo) sigaddset(&set, signo);
    return set;
}

extern "C" void ignore_signal(int) {}

[[noreturn]] void fail_install() {
    throw RunError(std::string("cannot install the signal handlers: ") + std::strerror(errno));
}

}  // namespace

detail::InterruptsBlocked::InterruptsBlocked() {
    const sigset_t set = ending_signals();
    blocked_ = pthread_sigmask(SIG_BLOCK, &set, &previous_) == 0;
}

detail::InterruptsBlocked::~InterruptsBlocked() {
    if (blocked_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void detail::add_signals_ignored_here(sigset_t& set) {
    if (file_size_signal_ignored_here != 0) sigaddset(&set, SIGXFSZ);
}

void install_interrupt_handlers() {
    const sigset_t ending = ending_signals();
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_end;
    action.sa_mask = ending;  // one handler at a time
    action.sa_flags = 0;
    for (int signo = 1; signo < NSIG; ++signo) {
        if (sigismember(&ending, signo) != 1) continue;
        struct sigaction previous {};
        if (sigaction(signo, nullptr, &previous) != 0) fail_install();
        // A program started with the signal ignored (a background job of a shell without job
        // control, nohup) keeps ignoring it, as its caller asked; a signal the program has given a
        // handler of its own already (SIGPIPE, so that a write to a closed pipe fails with EPIPE
        // and is reported like any other) keeps that handler.
        if (previous.sa_handler != SIG_DFL || (previous.sa_flags & SA_SIGINFO) != 0) continue;
        if (sigaction(signo, &action, nullptr) != 0) fail_install();
    }

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction previous {};
    if (sigaction(SIGXFSZ, &ignore, &previous) != 0) fail_install();
    if (previous.sa_handler == SIG_DFL) file_size_signal_ignored_here = 1;
}

void survive_broken_pipes() {
    struct sigaction previous {};
    if (sigaction(SIGPIPE, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = ignore_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGPIPE, &action, nullptr);
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
