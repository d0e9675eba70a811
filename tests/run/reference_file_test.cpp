#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/scratch_folder.hpp"
#include "run/item_scanner.hpp"
#include "run/reference_file.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {
namespace {

using namespace std::string_literals;

std::string error_of(const std::string& path, int Nx, int Ny) {
    std::vector<double> out(static_cast<std::size_t>(Nx * Ny));
    try {
        read_reference_values(path, Nx, Ny, out);
    } catch (const RunError& e) {
        return e.what();
    }
    return "no error";
}

// Random doubles from random bit patterns (every exponent, subnormals, zeros, NaN, infinities).
std::vector<double> random_doubles(std::size_t count, bool finite_only) {
    std::mt19937_64 random(987654321);
    std::vector<double> values;
    while (values.size() < count) {
        const double v = std::bit_cast<double>(random());
        if (!finite_only || std::isfinite(v)) values.push_back(v);
    }
    values[0] = 0.0;
    values[1] = -0.0;
    values[2] = std::numeric_limits<double>::denorm_min();
    values[3] = std::numeric_limits<double>::max();
    values[4] = 1.0;
    values[5] = 1e100;
    return values;
}

TEST(ReferenceFileTest, NameCarriesTheIndexDigits) {
    EXPECT_EQ(reference_file_name(1), "exata1");
    EXPECT_EQ(reference_file_name(10), "exata10");
}

TEST(ReferenceFileTest, ValuesGoColumnByColumnAndOnlyTheFirstItemOfALineCounts) {
    testing::ScratchFolder folder;
    // \xEF\xBB\xBF: a byte-order mark; later lines: comment, blank lines, CR LF, D exponent, two
    // numbers on a line, lines after the last needed value.
    folder.write("exata3", "\xEF\xBB\xBF" "1  i=1 j=1\n\n  2,9\r\n\t3D0 4\n4.0/\n   \n+5E0\n-6e-0\nnot read\n,\n");
    std::vector<double> out(6, -1.0);
    read_reference_values(folder / "exata3", 3, 2, out);
    // The first six values go to nodes k = 1, 4, 2, 5, 3, 6.
    EXPECT_EQ(out, (std::vector<double>{1, 3, 5, 2, 4, -6}));
}

TEST(ReferenceFileTest, BadFilesNameFileAndLine) {
    testing::ScratchFolder folder;
    const std::string name = folder / "exata1";
    struct Case { std::string contents; std::string expected; };
    const Case cases[] = {
        {"1\n2\n\n3\n4\n", name + ":6: expected Nx*Ny = 6 values, found 4"},
        {"1\n2\n3\n4\n   ", name + ":6: expected Nx*Ny = 6 values, found 4"},
        {"", name + ":1: expected Nx*Ny = 6 values, found 0"},
        {"1\n2\n3\nNaN\n5\n6\n", name + ":4: expected a number, found \"NaN\""},
        {"1\n2\n1+2\n", name + ":3: expected a number, found \"1+2\""},
        {"1\n2\x01\n", name + ":2: expected a number, found \"2\\x01\""},
        {"1\n, 2\n", name + ":2: expected a number, found a null value"},
        {"1\n/\n", name + ":2: expected a number, found a null value"},
        {"1\n2\n3\n4\n5\n1E309\n", name + ":6: expected a number within the double range, found \"1E309\""},
        // An item longer than a line keeps is refused, not read cut nor gathered in memory.
        {"1\n0." + std::string(1 << 20, '1') + "\n",
         name + ":2: the value on this line is longer than 1048576 characters"},
    };
    for (const Case& c : cases) {
        folder.write("exata1", c.contents);
        EXPECT_EQ(error_of(name, 3, 2).rfind(c.expected, 0), 0u) << error_of(name, 3, 2);
    }
    EXPECT_EQ(error_of(folder / "exata2", 3, 2), folder / "exata2" + ": no such file");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"exata1"});
}

TEST(ReferenceFileTest, RandomBytesNeverCrashTheReader) {
    testing::ScratchFolder folder;
    const std::string alphabet = "0123456789+-.eEdD,/;* \t\r\n\f\x01\xFF\xEF" "Na\0"s;
    std::mt19937_64 random(31337);
    std::vector<double> out(12);
    for (int trial = 0; trial < 300; ++trial) {
        std::string contents(random() % 80, ' ');
        for (char& c : contents) c = alphabet[random() % alphabet.size()];
        folder.write("exata1", contents);
        try {
            read_reference_values(folder / "exata1", 4, 3, out);
        } catch (const RunError& e) {
            EXPECT_GE(e.line(), 1);
        }
    }
}

TEST(ReferenceFileTest, WriteGivesPrintfDigitsAndReadsBackBitIdentical) {
    testing::ScratchFolder folder;
    const int Nx = 250, Ny = 160;
    const std::vector<double> finite = random_doubles(Nx * Ny, true);
    write_reference_values(folder / "exata5", Nx, Ny, finite);
    std::vector<double> back(finite.size());
    read_reference_values(folder / "exata5", Nx, Ny, back);
    for (std::size_t k = 0; k < finite.size(); ++k)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back[k]), std::bit_cast<std::uint64_t>(finite[k])) << k;

    // NaN and infinities too, spelt as printf's "%.16E" spells them where it keeps the sign of a
    // NaN (glibc; the Windows C runtime drops it): the file is the same on every system. i outer,
    // j inner.
    std::vector<double> any = random_doubles(Nx * Ny, false);
    any[7] = std::numeric_limits<double>::infinity();
    any[8] = -std::numeric_limits<double>::infinity();
    any[9] = std::numeric_limits<double>::quiet_NaN();
    any[10] = -std::numeric_limits<double>::quiet_NaN();
    write_reference_values(folder / "exata6", Nx, Ny, any);
    std::string expected;
    char line[64];
    for (int i = 0; i < Nx; ++i)
        for (int j = 0; j < Ny; ++j) {
            const double value = any[static_cast<std::size_t>(j * Nx + i)];
            if (std::isnan(value)) std::snprintf(line, sizeof line, "%sNAN\n", std::signbit(value) ? "-" : "");
            else std::snprintf(line, sizeof line, "%.16E\n", value);
            expected += line;
        }
    // Compared whole, not through EXPECT_EQ, whose line diff of two 40000-line texts takes
    // gigabytes.
    const std::string written = testing::ScratchFolder::read(folder / "exata6");
    const auto difference = std::mismatch(written.begin(), written.end(), expected.begin(), expected.end());
    EXPECT_TRUE(written == expected) << "first difference at byte " << (difference.first - written.begin()) << ": "
                                     << written.substr(static_cast<std::size_t>(difference.first - written.begin()), 40);
}

TEST(ReferenceFileTest, WriteGivesPrintfDigitsWhereValuesUsuallyLie) {
    // Values from 1e-13 to 1e19 (where the writer forms the digits in integers, and either side of
    // it), each sign; the doubles next to powers of ten; and exact ties at the seventeenth digit,
    // L / 2^a with L 5^a an eighteen-digit number ending in 5, which round to the even neighbour.
    std::mt19937_64 random(24680);
    std::uniform_real_distribution<double> decades(-13.0, 19.0);
    std::vector<double> values;
    for (int n = 0; n < 200000; ++n) values.push_back((n % 2 ? -1.0 : 1.0) * std::pow(10.0, decades(random)));
    for (int e = -13; e <= 18; ++e) {
        const double p = std::pow(10.0, e);
        for (const double v : {p, std::nextafter(p, 0.0), std::nextafter(p, 1e300), 9.999999999999999e-1 * p, 5.0 * p})
            values.push_back(v);
    }
    for (int a = 3; a <= 25; ++a) {
        const double five = std::pow(5.0, a);
        std::uniform_int_distribution<std::uint64_t> odd(static_cast<std::uint64_t>(1e17 / five) / 2 + 1,
                                                         static_cast<std::uint64_t>(1e18 / five) / 2 - 1);
        for (int n = 0; n < 40; ++n) values.push_back(std::ldexp(static_cast<double>(2 * odd(random) + 1), -a));
    }
    testing::ScratchFolder folder;
    write_reference_values(folder / "exata7", 1, static_cast<int>(values.size()), values);
    const std::string written = testing::ScratchFolder::read(folder / "exata7");
    std::size_t at = 0;
    char line[64];
    for (const double v : values) {
        const int length = std::snprintf(line, sizeof line, "%.16E\n", v);
        ASSERT_EQ(written.substr(at, static_cast<std::size_t>(length)), line) << std::hexfloat << v;
        at += static_cast<std::size_t>(length);
    }
    EXPECT_EQ(at, written.size());
}

// The value the number syntax gives an item (the reader's general way).
double general_value(const std::string& item) {
    double value = 0.0;
    EXPECT_EQ(parse_real_item(item, value), NumberStatus::ok) << item;
    return value;
}

// Items in the forms files hold: the writer's "%.16E", shortest and longest round trips, few
// digits, D exponents, signs, leading zeros, 19 and 20 digits, and decimal numbers that lie
// exactly halfway between two doubles or next to such a point.
std::vector<std::string> number_items() {
    std::vector<std::string> items;
    std::mt19937_64 random(2024);
    char text[80];
    const char* formats[] = {"%.16E", "%.17g", "%.15e", "%.3f", "%.19e", "%.20e", "%.1E", "%.10E"};
    for (int n = 0; n < 60000; ++n) {
        double v = std::bit_cast<double>(random());
        if (!std::isfinite(v)) continue;
        // Mostly ordinary magnitudes, where the quick conversion applies.
        int exponent = 0;
        if (n % 4 != 0) v = std::ldexp(std::frexp(v, &exponent), static_cast<int>(random() % 120) - 60);
        std::snprintf(text, sizeof text, formats[n % 8], v);
        std::string item = text;
        if (n % 5 == 0)
            if (const auto e = item.find_first_of("eE"); e != std::string::npos) item[e] = n % 2 ? 'D' : 'd';
        if (n % 7 == 0 && item[0] != '-') item = "+" + item;
        // (Built by concatenation: g++ 12 misreads string::insert here as an overlapping copy.)
        if (n % 11 == 0) {
            const std::size_t digits = item[0] == '-' || item[0] == '+' ? 1 : 0;
            item = item.substr(0, digits) + "000" + item.substr(digits);
        }
        items.push_back(item);
    }
    // Halfway between two doubles and one unit beside it, in the 17th to 19th digit.
    for (std::uint64_t m : {9007199254740993ULL, 9007199254740995ULL, 18014398509481987ULL}) {
        for (std::uint64_t d : {m, m - 1, m + 1, m * 10, m * 100 + 1, m * 100 - 1}) {
            items.push_back(std::to_string(d));
            items.push_back(std::to_string(d) + "E-10");
            items.push_back("0." + std::to_string(d) + "E5");
        }
    }
    items.push_back("5E-324");
    items.push_back("2.2250738585072011E-308");  // just below the smallest normal double
    items.push_back("1.7976931348623157E308");
    items.push_back("-0.0000000000000000E+00");
    items.push_back("0E9999");
    items.push_back("123456789012345678901234567890");
    return items;
}

TEST(ReferenceFileTest, EveryFormReadsAsTheGeneralConversionAndAsTheNearestDouble) {
    testing::ScratchFolder folder;
    const std::vector<std::string> items = number_items();
    std::string contents;
    for (const std::string& item : items) contents += item + "\n";
    folder.write("exata1", contents);
    std::vector<double> out(items.size());
    read_reference_values(folder / "exata1", 1, static_cast<int>(items.size()), out);
    for (std::size_t k = 0; k < items.size(); ++k) {
        // The reader's inline conversion gives the bits of the general one.
        ASSERT_EQ(std::bit_cast<std::uint64_t>(out[k]), std::bit_cast<std::uint64_t>(general_value(items[k])))
            << items[k];
#if defined(__GLIBC__)
        // Both give the nearest double: the C library's strtod, an independent conversion that is
        // correctly rounded in glibc, agrees (it takes E exponents only).
        std::string e_item = items[k];
        if (const auto d = e_item.find_first_of("dD"); d != std::string::npos) e_item[d] = 'E';
        const double nearest = std::strtod(e_item.c_str(), nullptr);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(out[k]), std::bit_cast<std::uint64_t>(nearest)) << items[k];
#endif
    }
}

TEST(ReferenceFileTest, WriterFormConversionGivesTheNearestDoubleOrDeclines) {
    // Random 17-digit decimals over the exponents it takes and beyond, either sign: where it
    // converts, the general conversion gives the same bits (and glibc's strtod, which rounds
    // correctly); it declines only at or near halfway points and outside its range.
    std::mt19937_64 random(19);
    char text[40];
    long in_range = 0, taken = 0;
    for (int n = 0; n < 400000; ++n) {
        const std::uint64_t w = 10000000000000000u + random() % 90000000000000000u;
        const int exponent = static_cast<int>(random() % 50) - 30;
        std::snprintf(text, sizeof text, "%s%d.%016lluE%+03d", random() % 2 ? "-" : "", static_cast<int>(w / 10000000000000000u),
                      static_cast<unsigned long long>(w % 10000000000000000u), exponent);
        const std::string item = text;
        double value = 0.0;
        const bool converted = detail::writer_form_value(item.data(), item.data() + item.size(), value);
        // Counted below 1E15 only: above, the decimals include exact halfway points.
        if (exponent >= -26 && exponent <= 14) in_range += 1, taken += converted;
        if (!converted) continue;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(general_value(item))) << item;
#if defined(__GLIBC__)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(std::strtod(text, nullptr))) << item;
#endif
    }
    EXPECT_GT(taken, in_range - in_range / 500);  // two rounding patterns in 2^11 decline
    EXPECT_LE(taken, in_range);

    // Edges of the range and of rounding, signed zeros, and items of other forms.
    const struct {
        const char* item;
        bool converted;
    } cases[] = {{"9.9999999999999999E-01", true},   {"1.0000000000000000E-26", true},
                 {"9.9999999999999999E+16", true},   {"-0.0000000000000000E+00", true},
                 {"0.0000000000000000E-99", true},   {"1.8014398509481987E+16", true},
                 {"1.8014398509481986E+16", false},  // halfway between 2^54 and 2^54 + 4
                 {"1.0000000000000000E-27", false},  {"1.0000000000000000E+17", false},
                 {"1.2345678901234567E-03 x", true}, {"1.2345678901234567E-03,", true},
                 {"1.2345678901234567E-03x", false}, {"1.2345678901234567e-03", false},
                 {"1.2345678901234567E-3", false},   {"+1.2345678901234567E-03", false},
                 {"0.1000000000000000E+00", false},  {"1.234567890123456:E-03", false},
                 {"1.23456789/1234567E-03", false},  {"1.2345678901234567E-0", false}};
    for (const auto& c : cases) {
        const std::string item = c.item;
        double value = 0.0;
        EXPECT_EQ(detail::writer_form_value(item.data(), item.data() + item.size(), value), c.converted) << item;
        if (c.converted) {
            const std::string number(first_item(item));
            EXPECT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(general_value(number))) << item;
        }
    }
}

TEST(ReferenceFileTest, LinesAcrossBufferChunksLongItemsAndCrLfReadAsShortFiles) {
    // Several chunks of the reader's buffer, with every line end, blank lines, comments, and a
    // 300 000-digit item, so that items, line ends and the blank runs fall across chunk edges.
    testing::ScratchFolder folder;
    std::mt19937_64 random(77);
    std::vector<std::string> items = number_items();
    items.resize(40000);
    items[1234] = "0." + std::string(300000, '0') + "1E300000";  // 0.1
    std::string contents;
    for (std::size_t k = 0; k < items.size(); ++k) {
        contents += std::string(random() % 3, ' ') + items[k];
        if (random() % 4 == 0) contents += "  comment " + std::string(random() % 200, 'x');
        contents += random() % 3 == 0 ? "\r\n" : "\n";
        if (random() % 10 == 0) contents += " \t\n";
    }
    folder.write("exata2", contents);
    std::vector<double> out(items.size());
    read_reference_values(folder / "exata2", 200, 200, out);
    for (int i = 0; i < 200; ++i)
        for (int j = 0; j < 200; ++j) {
            const std::size_t line = static_cast<std::size_t>(i) * 200 + static_cast<std::size_t>(j);
            ASSERT_EQ(std::bit_cast<std::uint64_t>(out[static_cast<std::size_t>(j) * 200 + static_cast<std::size_t>(i)]),
                      std::bit_cast<std::uint64_t>(general_value(items[line])))
                << items[line];
        }
    EXPECT_EQ(out[1234 % 200 * 200 + 1234 / 200], 0.1);

    // An error far into the file still names its line.
    std::string bad(500000, '\n');
    bad += "1.5\n2.5x\n";
    folder.write("exata3", bad);
    EXPECT_EQ(error_of(folder / "exata3", 1, 3), folder / "exata3" + ":500002: expected a number, found \"2.5x\"");
}

}  // namespace
}  // namespace advdiff::run
