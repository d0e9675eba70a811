#pragma once
// Pieces of the platform layer that the public headers do not offer: a clock with its own start
// instant, the building of the editor's argument list and the starting of a program without a
// shell (which the tests exercise directly), and the few calls on an open file that the shared
// reader needs from each system. The same interface on every system; what only one system has is
// in posix/internals.hpp or windows/internals.hpp.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace advdiff::platform::detail {

// The base of the classes that hold something back for their lifetime (a signal mask, a lock):
// not copied, so that the hold is released once.
struct HeldForLifetime {
    HeldForLifetime() = default;
    HeldForLifetime(const HeldForLifetime&) = delete;
    HeldForLifetime& operator=(const HeldForLifetime&) = delete;
};

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

// Starts argv[0] (looked up in PATH when it names no folder) with the given arguments, no shell
// in between, each argument reaching the program as one, and waits until it ends. An interrupt
// typed meanwhile (Ctrl-C) does not end this process, as the terminal sends it to the program in
// the foreground too. Returns the program's exit status, or -1 when it could not be started or
// was ended by a signal. Never throws for a failed start.
int run_and_wait(const std::vector<std::string>& argv);

// A file open for reading: a descriptor on POSIX, a handle on Windows.
using NativeFile = std::intptr_t;

// Opens the regular file `path` for reading without blocking (a FIFO without a writer) and
// without creating anything. Throws RunError(display_name, 0, "", ...): "no such file", "is a
// directory, not a file", "cannot be read: not a regular file" or "cannot be read: <reason>".
NativeFile open_for_reading(const std::string& path, const std::string& display_name);

// Reads up to `capacity` bytes into `into`; 0 at the end of the file. Throws RunError
// (display_name, 0, "", "cannot be read: <reason>") on a failed read.
std::size_t read_some(NativeFile file, char* into, std::size_t capacity, const std::string& display_name);

void close_file(NativeFile file) noexcept;

}  // namespace advdiff::platform::detail
