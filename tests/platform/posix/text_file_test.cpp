// Text files on POSIX: permissions, file modes, FIFOs and devices, name limits, links to streams.

#include "platform/text_file.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "platform/run_error_of.hpp"
#include "platform/scratch_folder.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {
namespace {

using advdiff::testing::contains;
using advdiff::testing::run_error_of;
using advdiff::testing::ScratchFolder;

TEST(PlatformReadFile, RefusesAFifoWithoutWaitingForAWriter) {
    ScratchFolder folder;
    ASSERT_EQ(mkfifo((folder / "exata3").c_str(), 0600), 0);
    const auto read = run_error_of([&] { read_file(folder / "exata3", "exata3"); });
    const auto checked = run_error_of([&] { check_readable_file(folder / "exata3", "exata3"); });
    ASSERT_TRUE(read && checked);
    EXPECT_EQ(read->message(), "cannot be read: not a regular file");
    EXPECT_STREQ(checked->what(), read->what());
    EXPECT_EQ(folder.names(), std::vector<std::string>{"exata3"});
}

TEST(PlatformReadFile, ReportsAnUnreadableFile) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    ScratchFolder folder;
    folder.write("locked.ent", "secret");
    chmod((folder / "locked.ent").c_str(), 0);
    const auto error = run_error_of([&] { read_file(folder / "locked.ent", "locked.ent"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message(), "cannot be read: Permission denied");
}

TEST(PlatformWriteFileAtomically, NewFileGetsTheModeOfAnOrdinaryFile) {
    ScratchFolder folder;
    write_file_atomically(folder / "report.txt", "x");
    const mode_t mask = umask(0);
    umask(mask);
    struct stat info {};
    ASSERT_EQ(stat((folder / "report.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644 & ~mask);
}

TEST(PlatformWriteFileAtomically, FailureKeepsThePreviousFile) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    ScratchFolder folder;
    folder.write("report.txt", "previous");
    chmod(folder.path().c_str(), 0555);
    EXPECT_THROW(write_file_atomically(folder / "report.txt", "new"), RunError);
    chmod(folder.path().c_str(), 0755);
    EXPECT_EQ(ScratchFolder::read(folder / "report.txt"), "previous");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"report.txt"});
}

TEST(PlatformCheckWritableTarget, TakesTheLongestNameTheFileSystemTakesAndRefusesOneByteMore) {
    ScratchFolder folder;
    const long name_max = pathconf(folder.path().c_str(), _PC_NAME_MAX);
    ASSERT_GT(name_max, 0);
    const std::string longest(static_cast<std::size_t>(name_max), 'r');
    EXPECT_NO_THROW(check_writable_target(folder / longest, "--summary", 0, ""));
    write_file_atomically(folder / longest, "report");
    EXPECT_EQ(folder.names(), std::vector<std::string>{longest});

    const auto error = run_error_of([&] { check_writable_target(folder / (longest + "r"), "--summary", 0, ""); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(contains(error->message(), std::to_string(name_max + 1) + " bytes long")) << error->what();
    EXPECT_EQ(folder.names(), std::vector<std::string>{longest});
}

TEST(PlatformCheckWritableTarget, RejectsAFolderWithoutWritePermission) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "locked");
    chmod((folder / "locked").c_str(), 0555);
    const auto error = run_error_of(
        [&] { check_writable_target(folder / "locked/report.txt", "MG2D_000.ent", 21, "name"); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(contains(error->message(), "cannot create a file in the folder")) << error->what();
    EXPECT_TRUE(contains(error->message(), "Permission denied")) << error->what();
}

TEST(PlatformCheckWritableTarget, TakesShellCharactersLiterallyAndCreatesNothing) {
    ScratchFolder folder;
    const std::string name = "a b; $(touch pwned) `touch pwned` 'q\" > x.txt";
    EXPECT_NO_THROW(check_writable_target(folder / name, "SG2D_000.ent", 17, "report_file_name"));
    EXPECT_TRUE(folder.names().empty());
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    write_file_atomically(folder / name, "report");
    EXPECT_EQ(folder.names(), std::vector<std::string>{name});
}

TEST(PlatformCheckWritableTarget, LeavesAnExistingReportUntouched) {
    ScratchFolder folder;
    folder.write("report.txt", "last week's report");
    struct stat before {}, after {};
    ASSERT_EQ(stat((folder / "report.txt").c_str(), &before), 0);
    check_writable_target(folder / "report.txt", "SG2D_000.ent", 17, "report_file_name");
    ASSERT_EQ(stat((folder / "report.txt").c_str(), &after), 0);
    EXPECT_EQ(ScratchFolder::read(folder / "report.txt"), "last week's report");
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"report.txt"});
}

TEST(PlatformCheckOutputTarget, RefusesAnExistingTargetThatIsNotARegularFile) {
    ScratchFolder folder;
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
    const struct {
        std::string path;
        std::string kind;
    } cases[] = {
        {folder / "pipe", "a FIFO"},
        {"/dev/null", "a character device"},
    };
    for (const auto& c : cases) {
        const auto error = run_error_of([&] { check_output_target(c.path, {}, "MG2D_000.ent", 2, "report_file_name"); });
        ASSERT_TRUE(error) << c.path;
        EXPECT_EQ(error->message(), advdiff::quoted(c.path) + " exists and is " + c.kind + ", not a regular file");
    }
    struct stat info {};
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"pipe"}));
}

TEST(PlatformCheckOutputTarget, RefusesANameThatLeadsToAStreamOfAProcess) {
    ScratchFolder folder;
    ASSERT_EQ(symlink("/proc/self/fd/2", (folder / "to-stderr").c_str()), 0);
    ASSERT_EQ(symlink("/proc/self/fd/99", (folder / "to-closed").c_str()), 0);  // no such descriptor
    ASSERT_EQ(symlink("/dev/stdout", (folder / "to-stdout").c_str()), 0);
    const struct {
        std::string path;
        std::string message_part;
    } cases[] = {
        {"/dev/stdout", "\"/dev/stdout\" leads to \"/proc/self/fd/1\", this program's standard output"},
        {"/proc/self/fd/0", "\"/proc/self/fd/0\" is this program's standard input"},
        {folder / "to-stderr", "this program's standard error"},
        {folder / "to-stdout", "leads to \"/proc/self/fd/1\", this program's standard output"},
        {folder / "to-closed", "leads to \"/proc/self/fd/99\", a link the system keeps for a running program"},
    };
    for (const auto& c : cases) {
        const auto error = run_error_of([&] { check_output_target(c.path, {}, "--summary", 0, ""); });
        ASSERT_TRUE(error) << c.path;
        EXPECT_TRUE(contains(error->message(), c.message_part)) << error->message();
        EXPECT_TRUE(contains(error->message(), "not a file name")) << error->message();
    }
    // Written after all (the checks ran long before): the link stays as it was.
    EXPECT_THROW(write_file_atomically(folder / "to-closed", "summary"), RunError);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"to-closed", "to-stderr", "to-stdout"}));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "to-closed"));
}

TEST(PlatformWriteFileAtomically, NeverReplacesAFifoThatAppearedUnderTheName) {
    ScratchFolder folder;
    ASSERT_EQ(mkfifo((folder / "relat.txt").c_str(), 0600), 0);
    const auto error = run_error_of([&] { write_file_atomically(folder / "relat.txt", "report\n"); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(contains(error->message(), "not a regular file")) << error->message();
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"relat.txt"}));
    struct stat info {};
    ASSERT_EQ(lstat((folder / "relat.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

}  // namespace
}  // namespace advdiff::platform
