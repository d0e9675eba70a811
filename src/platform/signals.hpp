#pragma once
// What ends the program from outside (Ctrl-C, a closed console or terminal, a signal): whatever
// ends it, no temporary file is left behind, and the exit status says what ended it.

#include <string>

namespace advdiff::platform {

// Takes over what ends the program from outside, so that the registered temporary file (if any)
// is removed first.
//
// POSIX: one handler for every signal whose default action ends the process and that can reach
// it from outside (SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
// SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR, SIGSTKFLT and the real-time signals). After removing
// the file, SIGINT and SIGTERM end the process with status 128 + signal number (130 for Ctrl-C),
// every other signal ends it by its own default action, so that the parent sees the signal. Only
// signals at their default action are taken over: one the program was started with ignored stays
// ignored, one it already handles keeps its handler. SIGXFSZ is ignored, so that a write past the
// file-size limit fails with EFBIG and is reported like a full disk. Faults of the program itself
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS) keep their default action.
//
// Windows: a console control handler. Ctrl-C and Ctrl-Break end the process with status 130, as
// Ctrl-C does on POSIX; closing the console, logging off and shutting down with 129, the status a
// shell gives for SIGHUP. A program started with Ctrl-C ignored keeps ignoring it.
void install_interrupt_handlers();

// The temporary file the handlers must remove; an empty path clears the registration.
void register_temporary_file(const std::string& path);

// Keeps a write to a closed pipe (a reader that has gone) from ending the process by signal: the
// write then fails and the program ends with its own exit status. A caught signal goes back to its
// default action in a program this one starts, unlike an ignored one. (Windows has no such signal:
// nothing to do there.)
void survive_broken_pipes();

}  // namespace advdiff::platform
