#include "platform/clock.hpp"
#include "platform/local_time.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/internals.hpp"

namespace advdiff::platform {
namespace {

TEST(PlatformElapsedClock, FirstReadingIsExactlyZeroAndLaterOnesNeverDecrease) {
    detail::ElapsedClock clock;
    EXPECT_EQ(clock.elapsed(), 0.0);
    double previous = 0.0;
    for (int k = 0; k < 100000; ++k) {
        const double now = clock.elapsed();
        ASSERT_GE(now, previous);
        previous = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(clock.elapsed(), 0.02);
    EXPECT_LT(clock.elapsed(), 60.0);
}

TEST(PlatformElapsedClock, RacingFirstCallsAgreeOnOneStart) {
    detail::ElapsedClock clock;
    std::vector<double> readings(8, -1.0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < readings.size(); ++t)
        threads.emplace_back([&, t] { readings[t] = clock.elapsed(); });
    for (auto& thread : threads) thread.join();
    int zeros = 0;
    for (double reading : readings) {
        EXPECT_GE(reading, 0.0);
        EXPECT_LT(reading, 10.0);
        zeros += reading == 0.0;
    }
    EXPECT_GE(zeros, 1);
    EXPECT_GE(clock.elapsed(), 0.0);
}

TEST(PlatformElapsedClock, ProcessClockNeverDecreases) {
    double previous = elapsed_time();
    EXPECT_GE(previous, 0.0);
    for (int k = 0; k < 1000; ++k) {
        const double now = elapsed_time();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(PlatformLocalDateTime, FieldsAreInTheirRanges) {
    const LocalDateTime now = local_date_time();
    EXPECT_GE(now.year, 2024);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12);
    EXPECT_TRUE(now.day >= 1 && now.day <= 31);
    EXPECT_TRUE(now.hour >= 0 && now.hour <= 23);
    EXPECT_TRUE(now.minute >= 0 && now.minute <= 59);
    EXPECT_TRUE(now.second >= 0 && now.second <= 60);
}

}  // namespace
}  // namespace advdiff::platform
