#pragma once
// Local date and time for the report's date line.

namespace advdiff::platform {

struct LocalDateTime {
    int year = 0;
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60
};

// The machine's local date and time now.
LocalDateTime local_date_time();

}  // namespace advdiff::platform
