// Standard streams of the built programs that a POSIX shell can take away: a lost write to
// standard output (a full disk, /dev/full) and a standard error nobody reads (a closed pipe) end
// with the program's own exit status.

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "end_to_end/golden_cases.hpp"
#include "end_to_end/program_runner.hpp"
#include "platform/scratch_folder.hpp"

namespace advdiff::testing {
namespace {

// Runs `binary` in `folder`, standard output to `stdout_path` (or a log), standard error to the
// descriptor `stderr_fd` (or a log).
Ended run(const std::string& folder, const char* binary, std::vector<std::string> args,
          const std::string& stdout_path = "", int stderr_fd = -1) {
    Launch launch;
    launch.binary = binary;
    launch.args = std::move(args);
    launch.stdout_path = stdout_path;
    launch.stderr_fd = stderr_fd;
    return testing::run(folder, launch);
}

TEST(StandardStreams, ALostWriteToStandardOutputIsAnError) {
    ScratchFolder work;
    for (const char* binary : {ADVDIFF_BINARY, ADVDIFF_REFERENCE_BINARY}) {
        for (const char* option : {"--help", "--version"}) {
            const Ended o = run(work.path(), binary, {option}, "/dev/full");
            EXPECT_EQ(o.status, 1) << binary << " " << option;
            EXPECT_NE(o.err.find("error: standard output:"), std::string::npos) << o.err;
        }
    }
    // The reference tool's one line, after it has written its file.
    copy_golden_inputs("sg-gs-rotating-17", work.path());
    const Ended o = run(work.path(), ADVDIFF_REFERENCE_BINARY, {}, "/dev/full");
    EXPECT_EQ(o.status, 1) << o.err;
}

TEST(StandardStreams, AStandardErrorNobodyReadsKeepsTheExitStatus) {
    ScratchFolder empty;  // no input files: an error of the run
    for (const auto& [args, status] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{"--no-edit"}, 1}, {{"--method=foo"}, 2}}) {
        const char* binary = args[0] == "--no-edit" ? ADVDIFF_BINARY : ADVDIFF_REFERENCE_BINARY;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        close(fds[0]);  // the reader is gone before the program writes
        const Ended o = run(empty.path(), binary, args, "", fds[1]);
        close(fds[1]);
        EXPECT_EQ(o.status, status) << binary;  // -1 would mean killed by SIGPIPE
    }
}

}  // namespace
}  // namespace advdiff::testing
