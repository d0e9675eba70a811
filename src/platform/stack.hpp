#pragma once
// Running code that needs more stack than the process may have.

#include <cstddef>
#include <functional>

namespace advdiff::platform {

// Runs `body` on a thread of its own with a stack of `bytes`, whatever the stack limit of the
// process (ulimit -s), waits for it, and throws again here whatever `body` threw. For library code
// that keeps large work arrays on the stack (the LAPACK band factorisation holds about 66 KB there).
// When no thread can be started, `body` runs on the calling thread.
void run_with_stack(std::size_t bytes, const std::function<void()>& body);

}  // namespace advdiff::platform
