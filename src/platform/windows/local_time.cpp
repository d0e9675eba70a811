#include "platform/local_time.hpp"

#include <windows.h>

namespace advdiff::platform {

LocalDateTime local_date_time() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    LocalDateTime result;
    result.year = now.wYear;
    result.month = now.wMonth;
    result.day = now.wDay;
    result.hour = now.wHour;
    result.minute = now.wMinute;
    result.second = now.wSecond;
    return result;
}

}  // namespace advdiff::platform
