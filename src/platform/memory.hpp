#pragma once
// How much memory a run may take.

#include <cstdint>
#include <optional>
#include <string>

namespace advdiff::platform {

// MemAvailable of /proc/meminfo, in bytes; empty when it cannot be read.
std::optional<std::uint64_t> available_memory_bytes();

// Throws RunError(file, line, setting, message) that gives `bytes_needed` (in MiB or GiB) and the
// memory available, when `bytes_needed` exceeds what is available. `what` describes the run
// ("a 2049 x 2049 Gauss elimination band").
void require_memory(std::uint64_t bytes_needed, const std::string& what, const std::string& file,
                    long line, const std::string& setting);

// Makes the allocator keep the memory a repetition frees for the next one (no return to the
// system, no fresh mappings): every repetition allocates the same arrays again, and fresh pages
// would cost a page fault each on first touch.
void keep_freed_memory_for_reuse();

// Prepares the heap for a run that will allocate about `bytes` in all: the memory is reserved at
// once and the system is asked to back it with huge pages, so that first touching a large grid's
// arrays costs a few thousand page faults instead of hundreds of thousands. Requires
// keep_freed_memory_for_reuse() first; does nothing for small runs or where it is not supported.
void prepare_heap(std::uint64_t bytes);

// Human-readable byte count: "812 MiB", "12.4 GiB".
std::string format_bytes(std::uint64_t bytes);

}  // namespace advdiff::platform
