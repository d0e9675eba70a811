#include "platform/local_time.hpp"

#include <windows.h>

namespace advdiff::platform {

LocalDateTime local_date_time() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace advdiff::platform
