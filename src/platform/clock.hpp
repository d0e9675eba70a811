#pragma once
// Elapsed time of the process, from a monotonic clock.

namespace advdiff::platform {

// Seconds since the first call in the process. The first call records the start instant (once,
// even if two threads race for it) and returns exactly 0.0; later calls return the time elapsed
// since then, counted in 100-nanosecond units and divided by 1e7. A monotonic clock is used
// because a wall clock can jump while the timing window is open.
double elapsed_time();

// Seconds of the same monotonic clock at full resolution, from an arbitrary origin: for the
// differences that the profile of a run (--profile) sums.
double monotonic_seconds();

}  // namespace advdiff::platform
