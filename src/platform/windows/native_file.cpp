// The calls on an open file that the shared FileReader needs, with handles.

#include <windows.h>

#include <string>

#include "platform/internals.hpp"
#include "platform/windows/internals.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {

detail::NativeFile detail::open_for_reading(const std::string& path, const std::string& display_name) {
    auto fail = [&](const std::string& message) { throw RunError(display_name, 0, "", message); };
    const std::wstring wide = widen(path);
    // Others may go on reading, writing or renaming the file meanwhile, as on POSIX.
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            fail("is a directory, not a file");
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) fail("no such file");
        fail("cannot be read: " + error_text(error));
    }
    // Devices (NUL, CON, COM1), pipes and consoles are not files to read values from.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        fail("cannot be read: not a regular file");
    }
    return reinterpret_cast<NativeFile>(handle);
}

std::size_t detail::read_some(NativeFile file, char* into, std::size_t capacity, const std::string& display_name) {
    constexpr std::size_t kLargestRead = std::size_t{1} << 30;  // ReadFile counts in 32 bits
    DWORD got = 0;
    if (ReadFile(reinterpret_cast<HANDLE>(file), into, static_cast<DWORD>(capacity < kLargestRead ? capacity : kLargestRead),
                 &got, nullptr) == 0) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
        throw RunError(display_name, 0, "", "cannot be read: " + error_text(error));
    }
    return got;
}

void detail::close_file(NativeFile file) noexcept {
    if (file != -1) CloseHandle(reinterpret_cast<HANDLE>(file));
}

}  // namespace advdiff::platform
