#pragma once
// How much memory a run may take.

#include <cstdint>
#include <optional>
#include <string>

namespace advdiff::platform {

// The memory this process may still take, and what sets that bound, the smallest of:
// POSIX: the machine's available memory (MemAvailable), the headroom under the memory limit of the
// process's cgroup (cgroup v2 memory.max, v1 memory.limit_in_bytes, of its own group and every
// group above it; reclaimable page cache counted as free), and the headroom under the
// address-space and data-size limits (ulimit -v, ulimit -d).
// Windows: the available physical memory, the process's free address space, and the headroom
// under the memory limits of its job object (for the process and for the whole job).
// Empty when no figure can be read at all.
struct MemoryBudget {
    std::uint64_t bytes = 0;
    std::string bound;  // "the machine's available memory", "the cgroup's memory limit", ...
};
std::optional<MemoryBudget> memory_budget();

// The memory installed in the machine, used or not; empty when the system does not say.
std::optional<std::uint64_t> installed_memory_bytes();

// memory_budget() in bytes.
std::optional<std::uint64_t> available_memory_bytes();

// Throws RunError(file, line, setting, message) that gives `bytes_needed` (in MiB or GiB), the
// memory available and what limits it, when `bytes_needed` exceeds the budget. `what` describes
// the run ("a 2049 x 2049 Gauss elimination band").
void require_memory(std::uint64_t bytes_needed, const std::string& what, const std::string& file,
                    long line, const std::string& setting);

// Makes the allocator keep the memory a repetition frees for the next one (no return to the
// system, no fresh mappings): every repetition allocates the same arrays again, and fresh pages
// would cost a page fault each on first touch. (glibc; nothing to do on Windows.)
void keep_freed_memory_for_reuse();

// Prepares the heap for a run that will allocate about `bytes` in all: the memory is reserved at
// once and the system is asked to back it with huge pages, so that first touching a large grid's
// arrays costs a few thousand page faults instead of hundreds of thousands, and so that a walk
// down a column (a row length between nodes: the norm's order) does not need a new page-table
// entry at every node. Requires keep_freed_memory_for_reuse() first; does nothing for runs under
// two huge pages or where it is not supported (Windows, where large pages need a privilege).
void prepare_heap(std::uint64_t bytes);

// Human-readable byte count: "812 MiB", "12.4 GiB".
std::string format_bytes(std::uint64_t bytes);

}  // namespace advdiff::platform
