#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

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
        {".\n", Kind::real, "found \".\""},
        {"1E400\n", Kind::real, "expected a real number within the double range, found \"1E400\""},
        {"'relat final\n", Kind::text, "f.ent:1: s: expected a text closed by ' on the same line, found \"'relat final\" (unclosed delimiter)"},
        {"\"abc'\r\n", Kind::text, "unclosed delimiter"},
        {"'abc'def ghi\n", Kind::text, "expected a text, found \"'abc'def\""},
        {"\n\n", Kind::integer, "f.ent:3: s: expected an integer, found end of file"},
        {"  \n  ", Kind::real, "f.ent:3: s: expected a real number, found end of file"},
        {"", Kind::text, "f.ent:1: s: expected a text, found end of file"},
        {"\xEF\xBB\xBF", Kind::integer, "f.ent:1: s: expected an integer, found end of file"},
        {"1\n\0002\n"s, Kind::integer, "f.ent:2: not a text file: it holds the control byte 0x00"},
        {"1 \x1A\n", Kind::integer, "f.ent:1: not a text file: it holds the control byte 0x1A"},
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

}  // namespace
}  // namespace advdiff::run
