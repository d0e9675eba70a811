// The reference-file reader on POSIX: a sparse file of gigabytes after the values and a FIFO.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/run_error_of.hpp"
#include "platform/scratch_folder.hpp"
#include "run/reference_file.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {
namespace {

TEST(ReferenceFileTest, AHugeFileAfterTheValuesIsNotRead) {
    // Two gigabytes (sparse, so they cost no disk) after the values: the reader stops at the last
    // value the grid needs, so neither its time nor its memory depend on them.
    testing::ScratchFolder folder;
    folder.write("exata4", "1\n2\n3\n4\n");
    const std::string path = folder / "exata4";
    ASSERT_EQ(truncate(path.c_str(), 2LL << 30), 0);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    std::vector<double> out(4);
    read_reference_values(path, 2, 2, out);
    EXPECT_EQ(out, (std::vector<double>{1, 3, 2, 4}));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);  // kilobytes

    // A FIFO is refused, without blocking, as every file that is not a regular one.
    ASSERT_EQ(mkfifo((folder / "exata5").c_str(), 0600), 0);
    std::vector<double> one(1);
    const auto error = testing::run_error_of([&] { read_reference_values(folder / "exata5", 1, 1, one); });
    ASSERT_TRUE(error);
    EXPECT_STREQ(error->what(), (folder / "exata5" + ": cannot be read: not a regular file").c_str());
}

}  // namespace
}  // namespace advdiff::run
