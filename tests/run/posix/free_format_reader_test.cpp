// The free-format reader on POSIX: a sparse file of gigabytes after the values.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/run_error_of.hpp"
#include "platform/scratch_folder.hpp"
#include "run/free_format.hpp"
#include "state/run_error.hpp"

namespace advdiff::run {
namespace {

// The error of reading `count` integers from the file at `path`.
std::string error_of_file(const std::string& path, int count) {
    const auto error = testing::run_error_of([&] {
        FreeFormatReader reader = FreeFormatReader::open(path, "MG2D_000.ent");
        int v = 0;
        for (int k = 0; k < count; ++k) reader.read_int("v", v);
    });
    return error ? error->what() : "no error";
}

TEST(FreeFormatFileTest, ReadsNoFurtherThanTheLastValueAskedFor) {
    testing::ScratchFolder folder;
    // A 4 GiB hole (zero bytes) after the values: never read, so neither slow nor refused.
    folder.write("MG2D_000.ent", "1\n2\n");
    const std::string path = folder / "MG2D_000.ent";
    ASSERT_EQ(truncate(path.c_str(), off_t{4} << 30), 0);
    FreeFormatReader reader = FreeFormatReader::open(path, "MG2D_000.ent");
    int a = 0, b = 0;
    reader.read_int("a", a);
    reader.read_int("b", b);
    EXPECT_EQ(a + b, 3);
    // The hole on the line of a value is read, and refused at its first byte.
    EXPECT_NE(error_of_file(path, 3).find("MG2D_000.ent:3: v: not a text file: it holds the control byte 0x00"),
              std::string::npos);
    // A file that is a hole from its start: refused on its first line.
    ASSERT_EQ(truncate(path.c_str(), 0), 0);
    ASSERT_EQ(truncate(path.c_str(), off_t{40} << 30), 0);
    EXPECT_NE(error_of_file(path, 1).find("MG2D_000.ent:1: v: not a text file: it holds the control byte 0x00"),
              std::string::npos);
}

}  // namespace
}  // namespace advdiff::run
