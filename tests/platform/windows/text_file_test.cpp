// Text files on Windows: identity by volume and file index, names compared ignoring case, devices
// refused, a report that another program holds open found before the run, the limits on a name's
// length, and files written in pieces.

#include "platform/text_file.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_identity.hpp"
#include "platform/scratch_folder.hpp"
#include "platform/windows/internals.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {
namespace {

namespace fs = std::filesystem;
using advdiff::testing::ScratchFolder;
using Names = std::vector<std::string>;

std::string message_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const RunError& error) {
        return error.message();
    }
    return "(no error)";
}

// Holds `path` open as another program would: reading allowed to others, deleting and renaming
// not (the share mode of most editors and spreadsheets).
class HeldOpen {
public:
    explicit HeldOpen(const std::string& path)
        : handle_(CreateFileW(detail::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldOpen() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

TEST(WindowsFileIdentity, VolumeAndIndexNameAFileHoweverItIsSpelled) {
    ScratchFolder folder;
    folder.write("dados1.ent", "titulo\n2\n");
    fs::create_directory(folder / "sub");
    const std::string dados = folder / "dados1.ent";
    for (const std::string& other : {folder / "DADOS1.ENT", folder / "sub\\..\\dados1.ent",
                                     folder.path() + "\\.\\Dados1.Ent"})
        EXPECT_TRUE(same_target(dados, other)) << other;
    // Not yet there: the same folder and the same name but for case.
    EXPECT_TRUE(same_target(folder / "relat.txt", folder / "sub\\..\\RELAT.TXT"));
    EXPECT_FALSE(same_target(folder / "relat.txt", folder / "sub\\relat.txt"));
    EXPECT_FALSE(same_target(dados, folder / "dados1.ent.txt"));
    // Two files never share an identity, and one file keeps its own across spellings.
    folder.write("other.ent", "x");
    EXPECT_NE(detail::file_id(dados), detail::file_id(folder / "other.ent"));
    EXPECT_EQ(detail::file_id(dados), detail::file_id(folder / "Dados1.ENT"));
}

TEST(WindowsCheckOutputTarget, RefusesDevicesAndNamesWindowsWouldChangeCreatingNothing) {
    ScratchFolder folder;
    for (const std::string name : {"NUL", "con.txt", "aux", "COM1.log", "relat.txt.", "relat.txt ", "relat.txt:x",
                                   "rel*.txt"}) {
        const std::string message = message_of([&] { check_writable_target(folder / name, "SG2D_000.ent", 2, "report_file_name"); });
        EXPECT_EQ(message.rfind(advdiff::quoted(folder / name) + " ", 0), 0u) << message;
        EXPECT_EQ(message.find("the folder"), std::string::npos) << message;
    }
    EXPECT_EQ(folder.names(), Names{});
}

TEST(WindowsCheckOutputTarget, FindsATargetHeldOpenOrReadOnlyBeforeTheRun) {
    ScratchFolder folder;
    folder.write("relat.txt", "last week's report");
    {
        const HeldOpen spreadsheet(folder / "relat.txt");
        ASSERT_TRUE(spreadsheet.held());
        const std::string message =
            message_of([&] { check_writable_target(folder / "relat.txt", "SG2D_000.ent", 2, "report_file_name"); });
        EXPECT_EQ(message, advdiff::quoted(folder / "relat.txt") +
                               " is open in another program, which keeps it from being replaced; close it there first");
        // Should it be opened after the check, the write fails as cleanly, keeping the old report.
        const std::string written = message_of([&] { write_file_atomically(folder / "relat.txt", "new report"); });
        EXPECT_EQ(written, "cannot be written: it is open in another program");
    }
    EXPECT_EQ(ScratchFolder::read(folder / "relat.txt"), "last week's report");
    EXPECT_EQ(folder.names(), Names{"relat.txt"});

    fs::permissions(folder / "relat.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_EQ(message_of([&] { check_writable_target(folder / "relat.txt", "SG2D_000.ent", 2, "report_file_name"); }),
              advdiff::quoted(folder / "relat.txt") + " is read-only, so the new file cannot replace it");
    fs::permissions(folder / "relat.txt", fs::perms::owner_write, fs::perm_options::add);
}

TEST(WindowsCheckOutputTarget, LeavesAnExistingReportUntouched) {
    ScratchFolder folder;
    folder.write("relat.txt", "last week's report");
    const auto identity = detail::file_id(folder / "relat.txt");
    const auto written = fs::last_write_time(folder / "relat.txt");
    check_writable_target(folder / "relat.txt", "SG2D_000.ent", 2, "report_file_name");
    EXPECT_EQ(detail::file_id(folder / "relat.txt"), identity);
    EXPECT_EQ(fs::last_write_time(folder / "relat.txt"), written);
    EXPECT_EQ(ScratchFolder::read(folder / "relat.txt"), "last week's report");
    EXPECT_EQ(folder.names(), Names{"relat.txt"});
}

TEST(WindowsCheckOutputTarget, TakesTheLongestPathTheSystemTakesAndRefusesLongerNamesBeforeTheRun) {
    ScratchFolder folder;
    // A name part of 256 characters: longer than any Windows file system takes.
    const std::string part = message_of([&] { check_writable_target(folder / std::string(256, 'r'), "--summary", 0, ""); });
    EXPECT_NE(part.find("is 256 characters long; the file system of the folder"), std::string::npos) << part;
    // A full path of MAX_PATH - 1 characters is written (its temporary file shortened to fit); one
    // more is refused.
    wchar_t full[MAX_PATH + 1];
    const std::size_t folder_length = GetFullPathNameW(detail::widen(folder.path()).c_str(), MAX_PATH + 1, full, nullptr);
    ASSERT_LT(folder_length + 2, std::size_t{MAX_PATH - 1});
    const std::string longest(MAX_PATH - 1 - folder_length - 1, 'r');
    EXPECT_EQ(message_of([&] { check_writable_target(folder / longest, "--summary", 0, ""); }), "(no error)");
    write_file_atomically(folder / longest, "summary");
    EXPECT_EQ(folder.names(), Names{longest});
    const std::string path = message_of([&] { check_writable_target(folder / (longest + "r"), "--summary", 0, ""); });
    EXPECT_NE(path.find(std::to_string(MAX_PATH) + " characters long as a full path"), std::string::npos) << path;
    EXPECT_EQ(folder.names(), Names{longest});
}

TEST(WindowsAtomicFileWriter, PiecesReplaceTheFileOnlyWhenCommitted) {
    ScratchFolder folder;
    folder.write("summary.json", "last week's summary");
    {
        AtomicFileWriter abandoned(folder / "summary.json");
        abandoned.write("{\"half\": ");
    }
    EXPECT_EQ(folder.names(), Names{"summary.json"});
    EXPECT_EQ(ScratchFolder::read(folder / "summary.json"), "last week's summary");
    AtomicFileWriter writer(folder / "summary.json");
    writer.write("{\"whole\": ");
    writer.write("true}\n");
    EXPECT_EQ(ScratchFolder::read(folder / "summary.json"), "last week's summary");
    writer.commit();
    EXPECT_EQ(ScratchFolder::read(folder / "summary.json"), "{\"whole\": true}\n");
    EXPECT_EQ(folder.names(), Names{"summary.json"});
}

TEST(WindowsWriteFileAtomically, WritesAnIso88591NameAsItsCharacters) {
    ScratchFolder folder;
    write_file_atomically(folder / "rel\xE1t\xF3rio.txt", "report");
    EXPECT_TRUE(fs::exists(fs::path(folder.path()) / L"rel\u00e1t\u00f3rio.txt"));
    EXPECT_EQ(fs::directory_iterator(folder.path())->path().filename().wstring(), L"rel\u00e1t\u00f3rio.txt");
}

}  // namespace
}  // namespace advdiff::platform
