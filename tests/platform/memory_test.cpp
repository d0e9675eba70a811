#include "platform/memory.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "state/run_error.hpp"

namespace advdiff::platform {
namespace {

TEST(PlatformFormatBytes, PicksTheUnitAndRoundsToNearest) {
    constexpr std::uint64_t KiB = 1024, MiB = 1024 * KiB, GiB = 1024 * MiB;
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 bytes"},
        {1023, "1023 bytes"},
        {KiB, "1 KiB"},
        {100 * KiB, "100 KiB"},
        {KiB + KiB / 2, "2 KiB"},  // halves round up
        {KiB + KiB / 2 - 1, "1 KiB"},
        {812 * MiB, "812 MiB"},
        {GiB - 1, "1024 MiB"},
        {GiB, "1.0 GiB"},
        {12 * GiB + 4 * GiB / 10 + 1, "12.4 GiB"},
        {2 * GiB - GiB / 40, "2.0 GiB"},  // 1.975 carries into the whole part
        {std::numeric_limits<std::uint64_t>::max(), "17179869184.0 GiB"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_bytes(c.bytes), c.text) << c.bytes;
}

TEST(PlatformRequireMemory, RefusesMoreThanIsAvailableNamingTheSetting) {
    const auto available = available_memory_bytes();
    if (!available) GTEST_SKIP() << "no MemAvailable figure on this machine";
    EXPECT_GT(*available, 0u);
    EXPECT_NO_THROW(require_memory(0, "nothing", "SG2D_000.ent", 3, "Nx"));
    EXPECT_NO_THROW(require_memory(*available / 2, "half", "SG2D_000.ent", 3, "Nx"));
    try {
        require_memory(std::numeric_limits<std::uint64_t>::max(), "a 2049 x 2049 Gauss elimination band",
                       "SG2D_000.ent", 3, "Nx");
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_EQ(error.file(), "SG2D_000.ent");
        EXPECT_EQ(error.line(), 3);
        EXPECT_EQ(error.setting(), "Nx");
        const auto budget = memory_budget();
        ASSERT_TRUE(budget);
        EXPECT_EQ(error.message(), "a 2049 x 2049 Gauss elimination band needs 17179869184.0 GiB of memory, only " +
                                       format_bytes(budget->bytes) + " is available (" + budget->bound + ")");
    }
}

}  // namespace
}  // namespace advdiff::platform
