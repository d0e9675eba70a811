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
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

}  // namespace advdiff::platform
