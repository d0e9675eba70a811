#include "platform/local_time.hpp"

#include <ctime>

#include "state/run_error.hpp"

namespace advdiff::platform {

LocalDateTime local_date_time() {
    // localtime_r need not consult TZ by itself; tzset makes a TZ setting take effect.
    tzset();
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &parts) == nullptr)
        throw RunError("cannot read the local date and time");
    LocalDateTime result;
    result.year = parts.tm_year + 1900;
    result.month = parts.tm_mon + 1;
    result.day = parts.tm_mday;
    result.hour = parts.tm_hour;
    result.minute = parts.tm_min;
    result.second = parts.tm_sec;
    return result;
}

}  // namespace advdiff::platform
