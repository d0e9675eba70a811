#include "platform/text_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>

#include "platform/run_error_of.hpp"
#include "platform/scratch_folder.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {
namespace {

using advdiff::testing::contains;
using advdiff::testing::run_error_of;
using advdiff::testing::ScratchFolder;

// ---------------------------------------------------------------------------------------------
// utf8_to_latin1

TEST(PlatformUtf8ToLatin1, GivesOneByteForEveryCharacter) {
    const struct {
        std::string utf8;
        std::string latin1;
    } cases[] = {
        {"Número de iterações", "N\xFAmero de itera\xE7\xF5" "es"},
        {"Razão de engrossamento", "Raz\xE3o de engrossamento"},
        {"", ""},
        {"plain ASCII\r\n\t~", "plain ASCII\r\n\t~"},
        {std::string("nul\0inside", 10), std::string("nul\0inside", 10)},
        {"\xC2\x80", "\x80"},  // U+0080, lowest two-byte character
        {"\xC3\xBF", "\xFF"},  // U+00FF, highest character that fits
    };
    for (const auto& c : cases) EXPECT_EQ(utf8_to_latin1(c.utf8), c.latin1) << c.utf8;
}

TEST(PlatformUtf8ToLatin1, RejectsCharactersAboveU00FFAndBrokenUtf8) {
    const char* cases[] = {
        "\xC4\x80",          // U+0100, first character beyond ISO 8859-1
        "euro \xE2\x82\xAC",  // U+20AC
        "\xF0\x9F\x98\x80",  // U+1F600
        "\xC3",              // sequence cut off at the end
        "\xC3x",             // lead byte without continuation
        "\x80",              // stray continuation byte
        "\xC1\x81",          // overlong 'A'
        "\xE0\x80\x81",      // overlong U+0001
        "\xFF",              // never valid in UTF-8
    };
    for (const char* text : cases) EXPECT_THROW(utf8_to_latin1(text), std::logic_error) << text;
}

// ---------------------------------------------------------------------------------------------
// read_file

TEST(PlatformReadFile, ReturnsTheExactBytes) {
    ScratchFolder folder;
    const std::string content("line 1\r\nno final newline \xE7\0 end", 30);
    folder.write("data.ent", content);
    EXPECT_EQ(read_file(folder / "data.ent", "data.ent"), content);
    folder.write("empty.ent", "");
    EXPECT_EQ(read_file(folder / "empty.ent", "empty.ent"), "");
}

TEST(PlatformReadFile, NamesTheReasonAndCreatesNothing) {
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "folder.ent");
    folder.write("plain.txt", "x");
    const struct {
        std::string name;
        std::string message;
    } cases[] = {
        {"missing.ent", "no such file"},
        {"plain.txt/inside.ent", "no such file"},
        {"folder.ent", "is a directory, not a file"},
    };
    for (const auto& c : cases) {
        const auto error = run_error_of([&] { read_file(folder / c.name, "shown-name"); });
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->file(), "shown-name");
        EXPECT_EQ(error->line(), 0);
        EXPECT_EQ(error->message(), c.message) << c.name;
    }
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"folder.ent", "plain.txt"}));
}

// ---------------------------------------------------------------------------------------------
// write_file_atomically

TEST(PlatformWriteFileAtomically, ReplacesTheFileAndLeavesNoTemporary) {
    std::string large(1 << 20, '\0');
    for (std::size_t k = 0; k < large.size(); ++k) large[k] = static_cast<char>(k * 7 + k / 251);
    for (const std::string& content : {std::string(), std::string("new\n"), large}) {
        ScratchFolder folder;
        folder.write("report.txt", "the previous report, longer than the new one\n");
        write_file_atomically(folder / "report.txt", content);
        EXPECT_EQ(ScratchFolder::read(folder / "report.txt"), content);
        EXPECT_EQ(folder.names(), std::vector<std::string>{"report.txt"});
    }
}

TEST(PlatformWriteFileAtomically, FailureThrowsNamingThePathAndLeavesNothing) {
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "taken");
    for (const std::string name : {"missing/report.txt", "taken"}) {
        const std::string path = folder / name;
        const auto error = run_error_of([&] { write_file_atomically(path, "content"); });
        ASSERT_TRUE(error) << name;
        EXPECT_EQ(error->file(), path);
        EXPECT_TRUE(contains(error->message(), "cannot be written")) << error->what();
        EXPECT_EQ(folder.names(), std::vector<std::string>{"taken"}) << name;
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder / "taken"));
}

// ---------------------------------------------------------------------------------------------
// check_writable_target

TEST(PlatformCheckWritableTarget, RejectsNamesThatCannotBeWritten) {
    ScratchFolder folder;
    std::filesystem::create_directory(folder / "results");
    folder.write("plain.txt", "x");
    const struct {
        std::string path;
        std::string message_part;
    } cases[] = {
        {"", "the file name is empty"},
        {folder / "results", "is a directory, not a file"},
        {folder / "results/", "is a directory, not a file"},
        {folder / "missing/report.txt", "does not exist"},
        {folder / "missing/", "names a directory, not a file"},
        {folder / "plain.txt/report.txt", "is not a folder"},
    };
    for (const auto& c : cases) {
        const auto error = run_error_of(
            [&] { check_writable_target(c.path, "SG2D_000.ent", 17, "report_file_name"); });
        ASSERT_TRUE(error) << c.path;
        EXPECT_EQ(error->file(), "SG2D_000.ent");
        EXPECT_EQ(error->line(), 17);
        EXPECT_EQ(error->setting(), "report_file_name");
        EXPECT_TRUE(contains(error->message(), c.message_part)) << error->what();
    }
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"plain.txt", "results"}));
}

// ---------------------------------------------------------------------------------------------
// read_file of a large file, check_readable_file

TEST(PlatformReadFile, ReadsAFileOfManyPiecesWhole) {
    ScratchFolder folder;
    std::string content;
    for (int k = 0; content.size() < 700000; ++k) content += std::to_string(k) + "\n";
    folder.write("big.ent", content);
    EXPECT_EQ(read_file(folder / "big.ent", "big.ent"), content);
}

TEST(PlatformCheckReadableFile, GivesTheErrorsOfReadingWithoutReading) {
    ScratchFolder folder;
    folder.write("exata1", "1\n");
    std::filesystem::create_directory(folder / "exata2");
    EXPECT_NO_THROW(check_readable_file(folder / "exata1", "exata1"));
    for (const char* name : {"exata2", "exata4"}) {
        const auto checked = run_error_of([&] { check_readable_file(folder / name, name); });
        const auto read = run_error_of([&] { read_file(folder / name, name); });
        ASSERT_TRUE(checked && read) << name;
        EXPECT_STREQ(checked->what(), read->what());
    }
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"exata1", "exata2"}));
}

// ---------------------------------------------------------------------------------------------
// check_output_target

TEST(PlatformCheckOutputTarget, RefusesAFileTheRunReadsHoweverItIsSpelled) {
    ScratchFolder folder;
    folder.write("dados1.ent", "titulo\n2\n");
    folder.write("exata3", "1\n");
    std::filesystem::create_directory(folder / "sub");
    std::filesystem::create_hard_link(folder / "exata3", folder / "hard-link");
    // Windows lets only some users make symbolic links, and wine none.
    std::error_code no_symbolic_links;
    std::filesystem::create_symlink("exata3", folder / "soft-link", no_symbolic_links);
    const std::vector<ProtectedFile> inputs = {{folder / "dados1.ent", "the input file dados1.ent"},
                                               {folder / "exata3", "the reference file exata3"},
                                               {folder / "not-yet", "the summary file not-yet"}};
    const struct {
        std::string name;
        std::string described;
    } clashes[] = {
        {"dados1.ent", "the input file dados1.ent"},
        {"./exata3", "the reference file exata3"},
        {"sub/../exata3", "the reference file exata3"},
        {"hard-link", "the reference file exata3"},
        {"soft-link", "the reference file exata3"},
        {"./sub/../not-yet", "the summary file not-yet"},  // neither exists: the names are compared
    };
    for (const auto& c : clashes) {
        if (c.name == "soft-link" && no_symbolic_links) continue;
        const std::string path = folder / c.name;
        const auto error = run_error_of([&] { check_output_target(path, inputs, "SG2D_000.ent", 2, "report_file_name"); });
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->file(), "SG2D_000.ent");
        EXPECT_EQ(error->line(), 2);
        EXPECT_EQ(error->setting(), "report_file_name");
        EXPECT_EQ(error->message(), advdiff::quoted(path) + " is " + c.described + ", which writing there would replace");
    }
    for (const char* fine : {"relat.txt", "sub/exata3", "exata33", "dados1.ent.txt"})
        EXPECT_NO_THROW(check_output_target(folder / fine, inputs, "SG2D_000.ent", 2, "report_file_name")) << fine;
    EXPECT_EQ(ScratchFolder::read(folder / "exata3"), "1\n");
}

}  // namespace
}  // namespace advdiff::platform
