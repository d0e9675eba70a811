#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/scratch_folder.hpp"
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

    // NaN and infinities too, written as the C library writes them; i outer, j inner.
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
            std::snprintf(line, sizeof line, "%.16E\n", any[static_cast<std::size_t>(j * Nx + i)]);
            expected += line;
        }
    EXPECT_EQ(testing::ScratchFolder::read(folder / "exata6"), expected);
}

}  // namespace
}  // namespace advdiff::run
