// The memory budget's POSIX sources: the cgroup hierarchy and the address-space limit.

#include "platform/memory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/internals.hpp"
#include "platform/scratch_folder.hpp"

namespace advdiff::platform {
namespace {

// A folder that stands for the root of the file system: /proc/self/cgroup, /proc/self/mountinfo
// and the files of the cgroups the process belongs to.
class FakeSystem {
public:
    void write(const std::string& path, const std::string& content) const {
        const std::filesystem::path full = folder_.path() + path;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full) << content;
    }
    const std::string& root() const { return folder_.path(); }

private:
    advdiff::testing::ScratchFolder folder_;
};

constexpr std::uint64_t MiB = 1024 * 1024;

TEST(PlatformCgroupHeadroom, TakesTheTightestGroupOfTheHierarchyCountingInactiveCacheAsFree) {
    {
        SCOPED_TRACE("cgroup v2, the limit set on the parent group");
        FakeSystem fake;
        fake.write("/proc/self/cgroup", "0::/jobs/run 42\n");
        fake.write("/proc/self/mountinfo",
                   "24 30 0:22 / /proc rw - proc proc rw\n"
                   "31 23 0:26 / /sys/fs/cgroup rw,nosuid shared:9 - cgroup2 cgroup2 rw,nsdelegate\n");
        fake.write("/sys/fs/cgroup/jobs/memory.max", std::to_string(400 * MiB) + "\n");
        fake.write("/sys/fs/cgroup/jobs/memory.current", std::to_string(150 * MiB) + "\n");
        fake.write("/sys/fs/cgroup/jobs/memory.stat", "anon 1\ninactive_file " + std::to_string(50 * MiB) + "\n");
        fake.write("/sys/fs/cgroup/jobs/run 42/memory.max", "max\n");
        fake.write("/sys/fs/cgroup/jobs/run 42/memory.current", std::to_string(100 * MiB) + "\n");
        EXPECT_EQ(detail::cgroup_memory_headroom(fake.root()), 300 * MiB);
    }
    {
        SCOPED_TRACE("cgroup v1 inside a container: the mount shows a part of the hierarchy");
        FakeSystem fake;
        fake.write("/proc/self/cgroup", "5:cpu,cpuacct:/docker/abc\n4:memory:/docker/abc\n0::/\n");
        fake.write("/proc/self/mountinfo",
                   "35 31 0:32 /docker/abc /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
                   "36 31 0:33 /docker/abc /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n");
        fake.write("/sys/fs/cgroup/memory/memory.limit_in_bytes", std::to_string(1024 * MiB) + "\n");
        fake.write("/sys/fs/cgroup/memory/memory.usage_in_bytes", std::to_string(1100 * MiB) + "\n");
        fake.write("/sys/fs/cgroup/memory/memory.stat", "cache 1\ntotal_inactive_file " + std::to_string(200 * MiB) + "\n");
        EXPECT_EQ(detail::cgroup_memory_headroom(fake.root()), 124 * MiB);
    }
    {
        SCOPED_TRACE("over the limit already: no room at all");
        FakeSystem fake;
        fake.write("/proc/self/cgroup", "0::/a\n");
        fake.write("/proc/self/mountinfo", "31 23 0:26 / /cg rw - cgroup2 cgroup2 rw\n");
        fake.write("/cg/a/memory.max", "1000\n");
        fake.write("/cg/a/memory.current", "2000\n");
        EXPECT_EQ(detail::cgroup_memory_headroom(fake.root()), 0u);
    }
    {
        SCOPED_TRACE("no limit anywhere, or nothing readable");
        FakeSystem fake;
        fake.write("/proc/self/cgroup", "4:memory:/x\n0::/y\n");
        fake.write("/proc/self/mountinfo",
                   "35 31 0:32 / /m rw - cgroup cgroup rw,memory\n31 23 0:26 / /u rw - cgroup2 cgroup2 rw\n");
        fake.write("/m/x/memory.limit_in_bytes", "9223372036854771712\n");
        fake.write("/u/y/memory.max", "max\n");
        EXPECT_EQ(detail::cgroup_memory_headroom(fake.root()), std::nullopt);
        FakeSystem empty;
        EXPECT_EQ(detail::cgroup_memory_headroom(empty.root()), std::nullopt);
    }
}

TEST(PlatformMemoryBudget, AnAddressSpaceLimitBoundsTheBudget) {
    // In a child, so that the limit does not reach the other tests.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit current {};
        getrlimit(RLIMIT_AS, &current);
        std::ifstream status("/proc/self/status");
        std::string line;
        std::uint64_t size_kib = 0;
        while (std::getline(status, line))
            if (line.rfind("VmSize:", 0) == 0) size_kib = std::stoull(line.substr(7));
        struct rlimit tight = current;
        tight.rlim_cur = static_cast<rlim_t>(size_kib * 1024 + 64 * MiB);
        if (size_kib == 0 || setrlimit(RLIMIT_AS, &tight) != 0) _exit(2);
        const auto budget = memory_budget();
        const bool bounded = budget && budget->bytes <= 64 * MiB && budget->bytes > 32 * MiB &&
                             budget->bound == "the address-space limit, ulimit -v";
        _exit(bounded ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot read VmSize or lower RLIMIT_AS here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the budget does not follow the address-space limit";
}

}  // namespace
}  // namespace advdiff::platform
