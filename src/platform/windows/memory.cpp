#include "platform/memory.hpp"

#include <windows.h>
#include <psapi.h>

namespace advdiff::platform {

namespace {

// The memory this process has committed, which a job's limit for the process counts.
std::uint64_t committed_by_this_process() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters) == 0)
        return 0;
    return counters.PrivateUsage;
}

std::uint64_t headroom(std::uint64_t limit, std::uint64_t used) { return limit > used ? limit - used : 0; }

}  // namespace

std::optional<MemoryBudget> memory_budget() {
    std::optional<MemoryBudget> budget;
    auto consider = [&](std::uint64_t bytes, const char* bound) {
        if (!budget || bytes < budget->bytes) budget = MemoryBudget{bytes, bound};
    };
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status) != 0) {
        consider(status.ullAvailPhys, "the machine's available memory");
        // What the address space leaves: the bound that matters for a 32-bit program.
        consider(status.ullAvailVirtual, "the process's free address space");
    }
    // A job object (a batch system's, a service's, a container's) may limit the memory of each of
    // its processes and of all of them together.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits, sizeof limits, nullptr) != 0) {
        const DWORD flags = limits.BasicLimitInformation.LimitFlags;
        if ((flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) != 0)
            consider(headroom(limits.ProcessMemoryLimit, committed_by_this_process()),
                     "the memory limit of the process's job object");
        if ((flags & JOB_OBJECT_LIMIT_JOB_MEMORY) != 0) {
            // The job's present use where the system tells it (Windows 8 on), else its peak,
            // which is never less.
            std::uint64_t used = limits.PeakJobMemoryUsed;
            JOBOBJECT_LIMIT_VIOLATION_INFORMATION violation{};
            if (QueryInformationJobObject(nullptr, JobObjectLimitViolationInformation, &violation, sizeof violation,
                                          nullptr) != 0)
                used = violation.JobMemory;
            consider(headroom(limits.JobMemoryLimit, used), "the memory limit of the process's job object");
        }
    }
    return budget;
}

std::optional<std::uint64_t> installed_memory_bytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status) == 0 || status.ullTotalPhys == 0) return std::nullopt;
    return status.ullTotalPhys;
}

// The heap of the Windows C runtime keeps freed blocks for reuse by itself, and large pages need
// a privilege that ordinary users lack: nothing to prepare.
void keep_freed_memory_for_reuse() {}

void prepare_heap(std::uint64_t) {}

}  // namespace advdiff::platform
