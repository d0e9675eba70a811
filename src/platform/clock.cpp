#include "platform/clock.hpp"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <ratio>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

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

double profile_ticks() {
#if defined(__x86_64__) || defined(__i386__)
    // Every x86 processor of the last fifteen years counts at a constant rate, whatever its clock
    // speed and on every core; TickRate measures that rate.
    return static_cast<double>(__rdtsc());
#else
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

TickRate::TickRate() : ticks_(profile_ticks()), seconds_(monotonic_seconds()) {}

double TickRate::seconds_per_tick() const {
    const double ticks = profile_ticks() - ticks_;
    const double seconds = monotonic_seconds() - seconds_;
    return ticks > 0 ? seconds / ticks : 0.0;
}

double elapsed_time() {
    static detail::ElapsedClock clock;
    return clock.elapsed();
}

}  // namespace advdiff::platform
