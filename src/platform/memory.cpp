#include "platform/memory.hpp"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdlib>

#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

#include "state/run_error.hpp"

namespace advdiff::platform {

void keep_freed_memory_for_reuse() {
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, -1);
}

void prepare_heap(std::uint64_t bytes) {
    constexpr std::uint64_t kHugePage = std::uint64_t{2} << 20;
    if (bytes < 64 * kHugePage) return;
    // With mappings disabled, this block extends the heap; freed again, it stays there (trimming
    // is off) and the run's arrays are carved out of it.
    void* block = std::malloc(static_cast<std::size_t>(bytes));
    if (block == nullptr) return;
    const auto first = (reinterpret_cast<std::uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(kHugePage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    std::free(block);
}

std::optional<std::uint64_t> available_memory_bytes() {
    std::ifstream meminfo("/proc/meminfo");
    if (!meminfo) return std::nullopt;
    std::string line;
    while (std::getline(meminfo, line)) {
        // "MemAvailable:   12345678 kB"
        std::istringstream fields(line);
        std::string key, unit;
        std::uint64_t amount = 0;
        if (!(fields >> key) || key != "MemAvailable:") continue;
        if (!(fields >> amount >> unit) || unit != "kB") return std::nullopt;
        if (amount > std::numeric_limits<std::uint64_t>::max() / 1024) return std::nullopt;
        return amount * 1024;
    }
    return std::nullopt;
}

void require_memory(std::uint64_t bytes_needed, const std::string& what, const std::string& file,
                    long line, const std::string& setting) {
    const std::optional<std::uint64_t> available = available_memory_bytes();
    if (!available || bytes_needed <= *available) return;
    std::string needed_text = format_bytes(bytes_needed);
    std::string available_text = format_bytes(*available);
    if (needed_text == available_text) {  // too close for the rounded figures to show it
        needed_text = std::to_string(bytes_needed) + " bytes";
        available_text = std::to_string(*available) + " bytes";
    }
    throw RunError(file, line, setting,
                   what + " needs " + needed_text + " of memory, only " + available_text +
                       " is available");
}

std::string format_bytes(std::uint64_t bytes) {
    constexpr std::uint64_t KiB = 1024, MiB = KiB * 1024, GiB = MiB * 1024;
    // Rounded to the nearest unit (GiB: the nearest tenth), halves upwards; quotient and remainder
    // are kept apart so that no product can overflow.
    auto rounded = [](std::uint64_t value, std::uint64_t unit) {
        return value / unit + (value % unit >= unit - unit / 2 ? 1 : 0);
    };
    if (bytes >= GiB) {
        std::uint64_t whole = bytes / GiB;
        std::uint64_t tenths = rounded(bytes % GiB * 10, GiB);
        if (tenths == 10) {
            ++whole;
            tenths = 0;
        }
        return std::to_string(whole) + "." + std::to_string(tenths) + " GiB";
    }
    if (bytes >= MiB) return std::to_string(rounded(bytes, MiB)) + " MiB";
    if (bytes >= KiB) return std::to_string(rounded(bytes, KiB)) + " KiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace advdiff::platform
