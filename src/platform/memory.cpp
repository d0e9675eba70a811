#include "platform/memory.hpp"

#include "state/run_error.hpp"

namespace advdiff::platform {

std::optional<std::uint64_t> available_memory_bytes() {
    const std::optional<MemoryBudget> budget = memory_budget();
    if (!budget) return std::nullopt;
    return budget->bytes;
}

void require_memory(std::uint64_t bytes_needed, const std::string& what, const std::string& file,
                    long line, const std::string& setting) {
    const std::optional<MemoryBudget> budget = memory_budget();
    if (!budget || bytes_needed <= budget->bytes) return;
    std::string needed_text = format_bytes(bytes_needed);
    std::string available_text = format_bytes(budget->bytes);
    if (needed_text == available_text) {  // too close for the rounded figures to show it
        needed_text = std::to_string(bytes_needed) + " bytes";
        available_text = std::to_string(budget->bytes) + " bytes";
    }
    throw RunError(file, line, setting,
                   what + " needs " + needed_text + " of memory, only " + available_text +
                       " is available (" + budget->bound + ")");
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
