#pragma once
// Pieces of the POSIX side of the platform layer that its files share and the POSIX tests exercise
// directly: the blocking of the ending signals around a temporary file's creation and renaming,
// the signals a started program gets back at their default, and the cgroup memory headroom.

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/internals.hpp"

namespace advdiff::platform::detail {

// Holds the signals of install_interrupt_handlers() back for its lifetime, so that creating or
// renaming a temporary file and its registration with the handlers happen as one step for them.
class InterruptsBlocked : HeldForLifetime {
public:
    InterruptsBlocked();
    ~InterruptsBlocked();

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
