// Properties of the free-format reader over many random values: whatever way a value may be
// written (signs, leading zeros, exponent letters E, e, D, d, blanks before it, a comment or a
// separator after it, CRLF or LF, blank lines between values), reading it back gives exactly the
// value written, bit for bit, and the reader reports the line it stood on.

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "run/free_format.hpp"
#include "run/item_scanner.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {
namespace {

std::string printed(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string printed(const char* format, int value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string with_exponent_letter(std::string text, char letter) {
    const std::size_t at = text.find_first_of("eE");
    if (at != std::string::npos) text[at] = letter;
    return text;
}

std::uint64_t bits_of(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Random finite doubles: random bit patterns (so every exponent, subnormals included) and the
// values at the edges of the range.
std::vector<double> some_doubles(std::mt19937_64& random, int count) {
    std::vector<double> values = {0.0,     -0.0,     DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, DBL_TRUE_MIN,
                                  -DBL_TRUE_MIN, 1.0, 0.1, 1e-8, 1e-6, 2.0, 1e308, 4.9e-324};
    while (static_cast<int>(values.size()) < count) {
        std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value)) values.push_back(value);
    }
    return values;
}

std::vector<int> some_ints(std::mt19937_64& random, int count) {
    std::vector<int> values = {0, 1, -1, INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, 10, -10};
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    std::uniform_int_distribution<int> small(-1000, 1000);
    while (static_cast<int>(values.size()) < count) values.push_back(values.size() % 2 ? any(random) : small(random));
    return values;
}

// The decorations a value may carry on its line.
const char* const kBefore[] = {"", "  ", "\t", " \t "};
const char* const kAfter[] = {"", "   Tolerancia", ",", ", 7", "/", "/ fim", "\t0", " 1 2 3"};
const char* const kLineEnd[] = {"\n", "\r\n"};

TEST(FreeFormatPropertyTest, EveryWrittenRealReadsBackBitForBit) {
    std::mt19937_64 random(7001);
    const char* const formats[] = {"%.17g", "%.17e", "%.17E", "%.16E", "%+.17g", "%.40f"};
    for (const double value : some_doubles(random, 4000)) {
        for (const char* format : formats) {
            // %.40f loses the digits of very small numbers; it serves only for moderate ones.
            if (std::strcmp(format, "%.40f") == 0 && (std::fabs(value) > 1e20 || std::fabs(value) < 1e-3)) continue;
            std::vector<std::string> spellings = {printed(format, value)};
            if (spellings[0].find_first_of("eE") != std::string::npos) {
                spellings.push_back(with_exponent_letter(spellings[0], 'D'));
                spellings.push_back(with_exponent_letter(spellings[0], 'd'));
            }
            for (const std::string& spelling : spellings) {
                const std::string line = std::string(kBefore[random() % 4]) + spelling + kAfter[random() % 8] +
                                         kLineEnd[random() % 2];
                FreeFormatReader reader("p.ent", line);
                double read = -12345.0;
                ASSERT_NO_THROW(reader.read_double("x", read)) << line;
                ASSERT_EQ(bits_of(read), bits_of(value)) << line << " gave " << printed("%.17g", read);
            }
        }
    }
}

TEST(FreeFormatPropertyTest, EveryWrittenIntegerReadsBackAsTheSameIntegerAndAsTheSameReal) {
    std::mt19937_64 random(7002);
    const char* const formats[] = {"%d", "%+d", "%012d", "%+015d"};
    for (const int value : some_ints(random, 4000)) {
        for (const char* format : formats) {
            const std::string line = std::string(kBefore[random() % 4]) + printed(format, value) +
                                     kAfter[random() % 8] + kLineEnd[random() % 2];
            FreeFormatReader reader("p.ent", line + line);
            int read = value == 0 ? 1 : 0;
            ASSERT_NO_THROW(reader.read_int("x", read)) << line;
            ASSERT_EQ(read, value) << line;
            // An integer is also a valid way to write a real, and every int is exact as a double.
            double real = 0.5;
            ASSERT_NO_THROW(reader.read_double("y", real)) << line;
            ASSERT_EQ(real, static_cast<double>(value)) << line;
        }
    }
}

TEST(FreeFormatPropertyTest, EveryTextInDelimitersReadsBackPaddedOrCut) {
    std::mt19937_64 random(7003);
    const std::string alphabet = "abcXYZ019 .,/;*'\"$()`\\-\xE7\xE3";
    for (int trial = 0; trial < 5000; ++trial) {
        std::string text(random() % 50, ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        const char delimiter = random() % 2 ? '\'' : '"';
        std::string written(1, delimiter);
        for (const char c : text) {
            written += c;
            if (c == delimiter) written += c;  // a doubled delimiter stands for one
        }
        written += delimiter;
        const std::string line = std::string(kBefore[random() % 4]) + written + kAfter[random() % 8] + kLineEnd[random() % 2];
        FreeFormatReader reader("p.ent", line);
        std::string read;
        ASSERT_NO_THROW(reader.read_text("name", read, 35)) << line;
        std::string expected = text;
        expected.resize(35, ' ');
        ASSERT_EQ(read, expected) << line;
    }
}

// A whole file of mixed values with blank lines between them: every value comes back, and
// line() names the physical line it stood on.
TEST(FreeFormatPropertyTest, MixedFilesReadBackInOrderWithTheirLines) {
    std::mt19937_64 random(7004);
    for (int trial = 0; trial < 300; ++trial) {
        const std::vector<double> reals = some_doubles(random, 40);
        const std::vector<int> ints = some_ints(random, 40);
        std::string file;
        long line = 0;
        std::vector<long> lines;
        std::vector<int> kinds;
        for (int k = 0; k < 40; ++k) {
            const int blank_lines = static_cast<int>(random() % 3);
            for (int b = 0; b < blank_lines; ++b) {
                file += b % 2 ? "  \t \r\n" : "\n";
                ++line;
            }
            const int kind = static_cast<int>(random() % 2);
            kinds.push_back(kind);
            file += std::string(kBefore[random() % 4]) +
                    (kind == 0 ? printed("%d", ints[static_cast<std::size_t>(k)])
                               : with_exponent_letter(printed("%.17e", reals[static_cast<std::size_t>(k)]), 'D')) +
                    kAfter[random() % 8] + kLineEnd[random() % 2];
            lines.push_back(++line);
        }
        FreeFormatReader reader("p.ent", file);
        for (std::size_t k = 0; k < 40; ++k) {
            if (kinds[k] == 0) {
                int v = 0;
                reader.read_int("i", v);
                ASSERT_EQ(v, ints[k]);
            } else {
                double v = 0;
                reader.read_double("r", v);
                ASSERT_EQ(bits_of(v), bits_of(reals[k]));
            }
            ASSERT_EQ(reader.line(), lines[k]);
        }
        int past_the_end = 0;
        EXPECT_THROW(reader.read_int("end", past_the_end), RunError);
    }
}

// The patterns --describe-inputs publishes (ECMAScript, as std::regex reads them) match exactly the
// items the parsers take: integers in the 32-bit range, reals of the right form (a real beyond the
// double range has the form and is refused for its size).
TEST(PublishedPatterns, MatchExactlyTheItemsTheParsersTake) {
    const std::regex integer(kIntegerItemPattern), real(kRealItemPattern);
    std::vector<std::string> items = {
        "0", "-0", "+7", "2147483647", "-2147483648", "2147483648", "-2147483649", "+2147483648", "0002147483647",
        "9999999999", "1000000000", "21474836470", "1.", ".5", ".", "-.5E+3", "1e", "1E+", "1d-8", "1D8", "1.5.2",
        "inf", "nan", "0x10", "1_0", "1e999", "-1e-999", "++1", "1 ", " 1", "1,", "e5", "5e5e5", "1.e3"};
    std::mt19937_64 random(20);
    const std::string alphabet = "0123456789+-.eEdDx ";
    for (int n = 0; n < 20000; ++n) {
        std::string item(1 + random() % 12, ' ');
        for (char& c : item) c = alphabet[random() % alphabet.size()];
        items.push_back(item);
    }
    for (int n = 0; n < 2000; ++n) items.push_back(std::to_string(static_cast<std::int64_t>(random()) >> (random() % 64)));
    for (const std::string& item : items) {
        int i = 0;
        double d = 0.0;
        EXPECT_EQ(std::regex_match(item, integer), parse_int_item(item, i) == NumberStatus::ok) << item;
        EXPECT_EQ(std::regex_match(item, real), parse_real_item(item, d) != NumberStatus::bad_form)
            << item;
    }
}

}  // namespace
}  // namespace advdiff::run
