#pragma once
// Signals that end the program: whatever ends it, no temporary file is left behind.

#include <string>

namespace advdiff::platform {

// Installs one handler for every signal whose default action ends the process and that can reach
// it from outside (SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
// SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT and the real-time signals). The handler
// removes the registered temporary file (if any); then SIGINT and SIGTERM end the process with
// status 128 + signal number (130 for Ctrl-C), every other signal ends it by its own default action,
// so that the parent sees the signal. Only signals at their default action are taken over: one the
// program was started with ignored stays ignored, one it already handles keeps its handler.
// SIGXFSZ is ignored, so that a write past the file-size limit fails with EFBIG and is reported
// like a full disk. Faults of the program itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS)
// keep their default action.
void install_interrupt_handlers();

// The temporary file the handlers must remove; an empty path clears the registration.
void register_temporary_file(const std::string& path);

}  // namespace advdiff::platform
