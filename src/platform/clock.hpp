#pragma once
// Elapsed time of the process, from a monotonic clock.

namespace advdiff::platform {

// Seconds since the first call in the process. The first call records the start instant (once,
// even if two threads race for it) and returns exactly 0.0; later calls return the time elapsed
// since then, counted in 100-nanosecond units and divided by 1e7. A monotonic clock is used
// because a wall clock can jump while the timing window is open.
double elapsed_time();

// Seconds of the same monotonic clock at full resolution, from an arbitrary origin.
double monotonic_seconds();

// A counter for timing short stretches cheaply (the profile of a run, --profile): the processor's
// time-stamp counter where there is one (some nanoseconds to read, against some tens for the
// monotonic clock), else the monotonic clock in nanoseconds. Only differences count; TickRate
// turns them into seconds.
double profile_ticks();

// The seconds per tick of profile_ticks(), measured against the monotonic clock between the
// object's construction and the call of seconds_per_tick(): the longer that stretch, the better
// (a millisecond gives six digits). 0 if the counter did not advance.
class TickRate {
public:
    TickRate();
    double seconds_per_tick() const;

private:
    double ticks_;
    double seconds_;
};

}  // namespace advdiff::platform
