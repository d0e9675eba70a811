#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <memory>
#include <string>

#include "platform/scratch_folder.hpp"
#include "run/free_format.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {
namespace {

using namespace std::string_literals;

enum class Kind { integer, real, text };

// Reads one value of `kind` from `contents`; returns the value as text ("%.17g" for reals).
std::string read_one(const std::string& contents, Kind kind) {
    FreeFormatReader reader("f.ent", contents);
    switch (kind) {
    case Kind::integer: {
        int v = -1;
        reader.read_int("s", v);
        return std::to_string(v);
    }
    case Kind::real: {
        double v = -1.0;
        reader.read_double("s", v);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        return buf;
    }
    case Kind::text: {
        std::string v = "previous";
        reader.read_text("s", v, 10);
        return v;
    }
    }
    return {};
}

std::string error_of(const std::string& contents, Kind kind) {
    try {
        read_one(contents, kind);
    } catch (const RunError& e) {
        return e.what();
    }
    return "no error";
}

TEST(FreeFormatReaderTest, AcceptedFormsGiveTheirValues) {
    struct Case { std::string contents; Kind kind; std::string expected; };
    const Case cases[] = {
        {"1   modo multigrid\n", Kind::integer, "1"},
        {"  -42,7\n", Kind::integer, "-42"},
        {"+7/\n", Kind::integer, "7"},
        {"\n   \n\t12\tcomentário\n", Kind::integer, "12"},
        {"5\r\n", Kind::integer, "5"},
        {"\xEF\xBB\xBF" "3\n", Kind::integer, "3"},
        {"2147483647\n", Kind::integer, "2147483647"},
        {"-2147483648\n", Kind::integer, "-2147483648"},
        {"1D-6  Tolerancia\n", Kind::real, "9.9999999999999995e-07"},
        {"1d-6\n", Kind::real, "9.9999999999999995e-07"},
        {"1e-6\n", Kind::real, "9.9999999999999995e-07"},
        {"0.1\r\n", Kind::real, "0.10000000000000001"},
        {"+.5\n", Kind::real, "0.5"},
        {"5.\n", Kind::real, "5"},
        {"-2.5E+3,\n", Kind::real, "-2500"},
        {"10\n", Kind::real, "10"},
        {"1E-400\n", Kind::real, "0"},
        {"relat final.txt\n", Kind::text, "relat     "},
        {"'relat fi'\n", Kind::text, "relat fi  "},
        {"\"it''s\"\n", Kind::text, "it''s     "},
        {"'it''s'  nome\n", Kind::text, "it's      "},
        {"'a\"b'\r\n", Kind::text, "a\"b       "},
        {"abcdefghijklmno\n", Kind::text, "abcdefghij"},
        {"nome,x\n", Kind::text, "nome      "},
        {"''\n", Kind::text, "          "},
        {"relat\xF3rio\n", Kind::text, "relat\xF3rio "},
    };
    for (const Case& c : cases) EXPECT_EQ(read_one(c.contents, c.kind), c.expected) << c.contents;
}

TEST(FreeFormatReaderTest, WrongFormsAreErrorsNamingFileLineAndSetting) {
    struct Case { std::string contents; Kind kind; std::string expected; };
    const Case cases[] = {
        {"\n10.0\n", Kind::integer, "f.ent:2: s: expected an integer, found \"10.0\""},
        {"2*7\n", Kind::integer, "f.ent:1: s: expected an integer, found \"2*7\""},
        {"1;2\n", Kind::integer, "expected an integer, found \"1;2\""},
        {"1.5\n", Kind::integer, "expected an integer, found \"1.5\""},
        {"99999999999\n", Kind::integer, "expected an integer from -2147483648 to 2147483647, found \"99999999999\""},
        {"2147483648\n", Kind::integer, "from -2147483648 to 2147483647"},
        {"-\n", Kind::integer, "expected an integer, found \"-\""},
        {"NaN\n", Kind::real, "expected a real number, found \"NaN\""},
        {"Infinity\n", Kind::real, "expected a real number, found \"Infinity\""},
        {"inf\n", Kind::real, "found \"inf\""},
        {"0x10\n", Kind::real, "found \"0x10\""},
        {"1+2\n", Kind::real, "expected a real number, found \"1+2\""},
        {"1E\n", Kind::real, "found \"1E\""},
        {"1E5D2\n", Kind::real, "expected a real number, found \"1E5D2\""},
        {".\n", Kind::real, "found \".\""},
        {"1E400\n", Kind::real, "expected a real number within the double range, found \"1E400\""},
        {"'relat final\n", Kind::text, "f.ent:1: s: expected a text closed by ' on the same line, found \"'relat final\" (unclosed delimiter)"},
        {"\"abc'\r\n", Kind::text, "unclosed delimiter"},
        {"'abc'def ghi\n", Kind::text, "expected a text, found \"'abc'def\""},
        {"\n\n", Kind::integer, "f.ent:3: s: expected an integer, found end of file"},
        {"  \n  ", Kind::real, "f.ent:3: s: expected a real number, found end of file"},
        {"", Kind::text, "f.ent:1: s: expected a text, found end of file"},
        {"\xEF\xBB\xBF", Kind::integer, "f.ent:1: s: expected an integer, found end of file"},
        {"\n\0002\n"s, Kind::integer, "f.ent:2: s: not a text file: it holds the control byte 0x00"},
        {"1 comment \x7F\n"s, Kind::integer, "f.ent:1: s: not a text file: it holds the control byte 0x7F"},
        {"1 \x1A\n", Kind::integer, "f.ent:1: s: not a text file: it holds the control byte 0x1A"},
    };
    for (const Case& c : cases) EXPECT_NE(error_of(c.contents, c.kind).find(c.expected), std::string::npos)
        << c.contents << " -> " << error_of(c.contents, c.kind);
}

TEST(FreeFormatReaderTest, NullValuesKeepThePreviousValueAndLinesAreCounted) {
    FreeFormatReader reader("f.ent", "title\n,\n  / comment\n\n ,'x'\n4\n");
    reader.skip_line("title");
    EXPECT_EQ(reader.line(), 1);
    int i = 17;
    double d = 2.5;
    std::string t = "kept";
    reader.read_int("a", i);
    EXPECT_EQ(reader.line(), 2);
    reader.read_double("b", d);
    reader.read_text("c", t, 35);
    EXPECT_EQ(reader.line(), 5);
    reader.read_int("d", i);
    EXPECT_EQ(reader.line(), 6);
    EXPECT_EQ(d, 2.5);
    EXPECT_EQ(t, "kept");
    EXPECT_EQ(i, 4);
    EXPECT_THROW(reader.skip_line("e"), RunError);
}

TEST(FreeFormatReaderTest, SkippedFirstLineMayHoldAnythingButEndOfFile) {
    FreeFormatReader reader("dados1.ent", "'unclosed 2*7 NaN\n1\n");
    reader.skip_line("title");
    int v = 0;
    reader.read_int("run_mode", v);
    EXPECT_EQ(v, 1);
    FreeFormatReader empty("dados1.ent", "");
    try {
        empty.skip_line("title");
        FAIL();
    } catch (const RunError& e) {
        EXPECT_EQ(std::string(e.what()), "dados1.ent:1: title: expected a line, found end of file");
    }
}

TEST(FreeFormatReaderTest, RandomBytesNeverCrashTheReader) {
    const std::string alphabet = "0123456789+-.eEdD,/;*'\" \t\r\n\f\x01\xFF\xEF" "Na\0"s;
    std::mt19937_64 random(20240611);
    for (int trial = 0; trial < 20000; ++trial) {
        std::string contents(random() % 64, ' ');
        for (char& c : contents) c = alphabet[random() % alphabet.size()];
        try {
            FreeFormatReader reader("fuzz", contents);
            int i = 0;
            double d = 0.0;
            std::string t(35, ' ');
            for (int k = 0; k < 100; ++k) {
                switch (k % 4) {
                case 0: reader.skip_line("x"); break;
                case 1: reader.read_int("x", i); break;
                case 2: reader.read_double("x", d); break;
                case 3: reader.read_text("x", t, 35); EXPECT_EQ(t.size(), 35u); break;
                }
            }
            FAIL() << "100 reads from a short text did not reach the end";
        } catch (const RunError& e) {
            EXPECT_EQ(e.file(), "fuzz");
            EXPECT_GE(e.line(), 1);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Reading a file: line by line, only as far as the values asked for.

std::string written(const testing::ScratchFolder& folder, const std::string& name, const std::string& text) {
    folder.write(name, text);
    return folder / name;
}

TEST(FreeFormatFileTest, ReadsValuesAcrossPiecesAndLongCommentLinesLikeTextInMemory) {
    testing::ScratchFolder folder;
    // Values and lines that straddle the 64 KiB pieces the file is read in, CR LF line ends, a
    // comment of 3 MiB after a value.
    std::string text = "\xEF\xBB\xBFtitulo\r\n";
    for (int k = 0; k < 5000; ++k) text += "  " + std::to_string(k) + "   comentario " + std::string(k % 37, 'x') + "\r\n";
    text += "'a b' " + std::string(3 << 20, '#') + "\n\n   \n2.5D3\n";
    const std::string path = written(folder, "SG2D_000.ent", text);
    FreeFormatReader from_file = FreeFormatReader::open(path, "SG2D_000.ent");
    FreeFormatReader in_memory("SG2D_000.ent", text);
    for (FreeFormatReader* reader : {&from_file, &in_memory}) {
        reader->skip_line("title");
        for (int k = 0; k < 5000; ++k) {
            int value = -1;
            reader->read_int("v", value);
            ASSERT_EQ(value, k);
            ASSERT_EQ(reader->line(), k + 2);
        }
        std::string name;
        reader->read_text("name", name, 5);
        EXPECT_EQ(name, "a b  ");
        double real = 0.0;
        reader->read_double("r", real);
        EXPECT_EQ(real, 2500.0);
        EXPECT_EQ(reader->line(), 5005);
        try {
            reader->read_int("after", *std::make_unique<int>());
            FAIL() << "no end of file";
        } catch (const RunError& e) {
            EXPECT_STREQ(e.what(), "SG2D_000.ent:5006: after: expected an integer, found end of file");
        }
    }
}

TEST(FreeFormatFileTest, AValueBeyondWhatIsKeptOfALineIsAnErrorNotACutValue) {
    const std::string blanks(1 << 20, ' ');
    const std::string digits(1 << 20, '7');
    const struct {
        std::string contents;
        Kind kind;
    } cases[] = {
        {blanks + "12\n", Kind::integer},
        {"0." + digits + "\n", Kind::real},
        {"'" + blanks + "x'\n", Kind::text},
        {digits + digits + "\n", Kind::text},
    };
    for (const auto& c : cases)
        EXPECT_EQ(error_of(c.contents, c.kind), "f.ent:1: s: the value on this line is longer than 1048576 characters, "
                                                "which is more than a value can be");
    EXPECT_EQ(read_one(blanks.substr(10) + "12 " + blanks + digits + "\n", Kind::integer), "12");
}

}  // namespace
}  // namespace advdiff::run
