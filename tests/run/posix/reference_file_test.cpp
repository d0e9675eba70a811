// The reference-file reader on POSIX: a sparse file of gigabytes after the values and a FIFO.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/scratch_folder.hpp"
#include "run/reference_file.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {
namespace {

std::string error_of(const std::string& path, int Nx, int Ny) {
    std::vector<double> out(static_cast<std::size_t>(Nx * Ny));
    try {
        read_reference_values(path, Nx, Ny, out);
    } catch (const RunError& e) {
        return e.what();
    }
    return "no error";
}

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
    EXPECT_EQ(error_of(folder / "exata5", 1, 1), folder / "exata5" + ": cannot be read: not a regular file");
}

}  // namespace
}  // namespace advdiff::run
