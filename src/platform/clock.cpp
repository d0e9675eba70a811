#include "platform/clock.hpp"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <ratio>

#include "platform/internals.hpp"

namespace advdiff::platform {

namespace {

using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;  // 100 ns

std::int64_t ticks_now() {
    return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

double detail::ElapsedClock::elapsed() {
    bool recorded_here = false;
    std::call_once(started_, [&] {
        start_ticks_ = ticks_now();
        recorded_here = true;
    });
    if (recorded_here) return 0.0;
    const std::int64_t difference = ticks_now() - start_ticks_;
    return static_cast<double>(difference) / 10000000.0;
}

double monotonic_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double elapsed_time() {
    static detail::ElapsedClock clock;
    return clock.elapsed();
}

}  // namespace advdiff::platform
