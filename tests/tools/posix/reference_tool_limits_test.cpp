// The reference tool under POSIX address-space limits (ulimit -v).

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "end_to_end/program_runner.hpp"
#include "platform/scratch_folder.hpp"

namespace advdiff::testing {
namespace {

TEST(ReferenceToolTest, SameFileUnderEveryMemoryLimitThatItRunsUnder) {
    // The method and every step of it follow from the inputs alone: a limit either leaves room
    // for the whole solution, which is then the same to the byte, or is refused at once.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a sanitized program cannot start under an address-space limit";
#endif
    ScratchFolder folder;
    folder.write("dados1.ent", "titulo\n2\n");
    folder.write("SG2D_000.ent", "2\nrel.txt\n257\n200\n3\n1\n45\n1\n0.01\n100\n1E-8\n1E-4\n1\n0\n1\n0\n0\n");
    Launch launch;
    launch.binary = ADVDIFF_REFERENCE_BINARY;
    launch.args = {};
    const Ended first = run(folder.path(), launch);
    ASSERT_TRUE(first.exited && first.status == 0) << first.err;
    const std::string unlimited = ScratchFolder::read(folder / "exata3");
    int refused = 0, solved = 0;
    for (const int kib : {20000, 25000, 30000, 40000, 60000}) {
        SCOPED_TRACE(kib);
        std::remove((folder / "exata3").c_str());
        launch.in_child = [kib] { set_limit(RLIMIT_AS, static_cast<rlim_t>(kib) * 1024); };
        const Ended r = run(folder.path(), launch);
        ASSERT_TRUE(r.exited) << "signal " << r.signal;
        if (r.status == 0) {
            ++solved;
            EXPECT_EQ(ScratchFolder::read(folder / "exata3"), unlimited);
        } else {
            ++refused;
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find("needs "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("(the address-space limit, ulimit -v)"), std::string::npos) << r.err;
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(solved, 0);
}

}  // namespace
}  // namespace advdiff::testing
