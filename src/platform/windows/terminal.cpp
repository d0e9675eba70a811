#include "platform/terminal.hpp"

#include <windows.h>

namespace advdiff::platform {

// _isatty() is also true for the NUL device; only a console answers GetConsoleMode.
bool standard_error_is_terminal() {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace advdiff::platform
