#include "platform/console.hpp"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "platform/windows/internals.hpp"

namespace advdiff::platform {

namespace {

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

bool detail::attached_to_console() {
    return is_console(GetStdHandle(STD_INPUT_HANDLE)) && is_console(GetStdHandle(STD_OUTPUT_HANDLE));
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    // argv holds the arguments in the ANSI code page, with characters it lacks already replaced
    // by look-alikes; the wide command line holds what was typed.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int k = 0; k < count; ++k) arguments.push_back(detail::narrow(wide[k]));
    LocalFree(wide);
    return arguments;
}

void write_to_standard_error(std::string_view text) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (is_console(handle)) {
        const std::wstring wide = detail::widen(text);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace advdiff::platform
