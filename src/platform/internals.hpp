#pragma once
// Pieces of the platform layer that the public headers do not offer but that the tests exercise
// directly: a clock with its own start instant, the building of the editor's argument list and
// the starting of a program without a shell.

#include <csignal>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace advdiff::platform::detail {

// The elapsed-time clock behind elapsed_time(). Each object has its own start instant, recorded
// by the first call of elapsed(), which returns exactly 0.0.
class ElapsedClock {
public:
    double elapsed();

private:
    std::once_flag started_;
    std::int64_t start_ticks_ = 0;  // 100-nanosecond units of the monotonic clock
};

// The argument list that opens `path` in the editor: `visual` if it holds a word, else `editor`,
// split on blanks and tabs, with `path` appended as one argument ("./" put in front of a name
// that starts with - or +, which editors would take for an option or a command). Null pointers
// stand for unset variables. Empty when neither names a program.
std::vector<std::string> editor_command(const char* visual, const char* editor,
                                        const std::string& path);

// Starts argv[0] (looked up in PATH when it has no slash) with the given arguments, no shell in
// between, and waits until it ends. SIGINT and SIGQUIT are ignored by this process meanwhile, as
// the terminal sends them to the program in the foreground too. Returns the program's exit status,
// or -1 when it could not be started or ended by a signal. Never throws for a failed start.
int run_and_wait(const std::vector<std::string>& argv);

// Holds the signals of install_interrupt_handlers() back for its lifetime, so that creating or
// renaming a temporary file and its registration with the handlers happen as one step for them.
class InterruptsBlocked {
public:
    InterruptsBlocked();
    ~InterruptsBlocked();
    InterruptsBlocked(const InterruptsBlocked&) = delete;
    InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

private:
    sigset_t previous_{};
    bool blocked_ = false;
};

// Headroom under the cgroup memory limits of this process, read from the files below `root` ("" for
// the real system; tests pass a folder that mimics /proc/self/cgroup, /proc/self/mountinfo and the
// cgroup file systems): the smallest limit minus usage of the process's group and of every group
// above it, inactive page cache counted as free. Empty when no group sets a limit or nothing can
// be read.
std::optional<std::uint64_t> cgroup_memory_headroom(const std::string& root);

// Adds to `set` the signals that install_interrupt_handlers() set to ignored although they were at
// their default action (SIGXFSZ): a program started from this one gets their default back.
void add_signals_ignored_here(sigset_t& set);

}  // namespace advdiff::platform::detail
