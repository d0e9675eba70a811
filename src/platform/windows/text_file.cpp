#include "platform/text_file.hpp"

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/file_identity.hpp"
#include "platform/signals.hpp"
#include "platform/windows/internals.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {

namespace {

using detail::error_text;
using detail::widen;

// `name` in `folder` as split_path gives it: "C:" is drive C's current folder, a root ends in its
// separator already.
std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '\\' || last == '/' || (folder.size() == 2 && folder[1] == ':')) return folder + name;
    return folder + "\\" + name;
}

// A temporary file next to the target, "<folder>\.<base>.<six hex digits>", created (never an
// existing one opened) and registered with the console handler in one step. Returns its handle
// and sets `name`, or INVALID_HANDLE_VALUE with the error. Others may delete it while it is open,
// so that the handler can remove it whatever this thread is doing with it.
HANDLE create_registered_temporary(const detail::PathParts& parts, std::string& name, DWORD& error) {
    static unsigned counter = 0;
    const unsigned seed = GetCurrentProcessId() * 2654435761u ^ static_cast<unsigned>(GetTickCount64());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "%06x", (seed + 7919u * ++counter) & 0xFFFFFFu);
        // Appended piece by piece: GCC 12 takes `"." + text` for an overlapping copy (-Wrestrict).
        std::string base = ".";
        base += std::string_view(parts.base).substr(0, 200);
        base += '.';
        base += suffix;
        name = joined(parts.folder, base);
        detail::InterruptsBlocked blocked;
        const HANDLE handle = CreateFileW(widen(name).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            register_temporary_file(name);
            return handle;
        }
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

void remove_registered_temporary(const std::string& name) {
    detail::InterruptsBlocked blocked;
    DeleteFileW(widen(name).c_str());
    register_temporary_file("");
}

// Opens the existing `path` with the access a replacing rename needs (DELETE), as a probe: 0 when
// that works, else the error (ERROR_SHARING_VIOLATION when another program holds the file open
// without letting others delete it: an editor, a spreadsheet).
DWORD replace_access_error(const std::string& path) {
    const HANDLE handle = CreateFileW(widen(path).c_str(), DELETE | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(handle);
    return 0;
}

bool write_all(HANDLE handle, std::string_view bytes, DWORD& error) {
    constexpr std::size_t kLargestWrite = std::size_t{1} << 30;  // WriteFile counts in 32 bits
    while (!bytes.empty()) {
        const DWORD piece = static_cast<DWORD>(bytes.size() < kLargestWrite ? bytes.size() : kLargestWrite);
        DWORD written = 0;
        if (WriteFile(handle, bytes.data(), piece, &written, nullptr) == 0) {
            error = GetLastError();
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

void write_file_atomically(const std::string& path, std::string_view bytes) {
    auto fail = [&](const std::string& why) { throw RunError(path, 0, "", "cannot be written: " + why); };
    const detail::PathParts parts = detail::split_path(path);
    if (parts.base.empty()) fail("Is a directory");

    std::string temporary;
    DWORD error = 0;
    const HANDLE handle = create_registered_temporary(parts, temporary, error);
    if (handle == INVALID_HANDLE_VALUE) fail(error_text(error));

    // Every failure from here on removes the temporary file before reporting.
    auto discard = [&](const std::string& why, bool still_open) {
        if (still_open) CloseHandle(handle);
        remove_registered_temporary(temporary);
        fail(why);
    };
    if (!write_all(handle, bytes, error)) discard(error_text(error), true);
    if (CloseHandle(handle) == 0) discard(error_text(GetLastError()), false);

    // Whatever the checks before the run found, a folder that has appeared under the name since
    // is never replaced.
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        discard("Is a directory", false);

    // One rename that replaces the earlier file: a reader sees the old report or the new one,
    // never a part of either.
    detail::InterruptsBlocked blocked;
    if (MoveFileExW(widen(temporary).c_str(), widen(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        // A target held open reads as "access denied" here; the probe tells which it is.
        const DWORD error = GetLastError();
        const bool held = error == ERROR_ACCESS_DENIED && replace_access_error(path) == ERROR_SHARING_VIOLATION;
        discard(error_text(held ? ERROR_SHARING_VIOLATION : error), false);
    }
    register_temporary_file("");
}

void check_output_target(const std::string& path, const std::vector<ProtectedFile>& protected_files,
                         const std::string& display_name, long line, const std::string& setting) {
    auto fail = [&](const std::string& message) { throw RunError(display_name, line, setting, message); };
    if (path.empty()) fail("the file name is empty");
    if (const std::string problem = detail::name_problem(path); !problem.empty())
        fail(advdiff::quoted(path) + problem);
    const std::wstring wide = widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        fail(advdiff::quoted(path) + " is a directory, not a file");
    const detail::PathParts parts = detail::split_path(path);
    if (parts.base.empty()) fail(advdiff::quoted(path) + " names a directory, not a file");
    for (const ProtectedFile& other : protected_files)
        if (same_target(path, other.path))
            fail(advdiff::quoted(path) + " is " + other.description + ", which writing there would replace");

    if (exists) {
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
            fail(advdiff::quoted(path) + " is read-only, so the new file cannot replace it");
        // The final rename needs the file free of other programs that forbid its deletion (an
        // editor or a spreadsheet holding it open): asking for the same access now finds them.
        const DWORD error = replace_access_error(path);
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            fail(advdiff::quoted(path) + " is open in another program, which keeps it from being replaced; "
                                         "close it there first");
        if (error != 0) fail(advdiff::quoted(path) + " cannot be replaced: " + error_text(error));
    }

    const DWORD folder = GetFileAttributesW(widen(parts.folder).c_str());
    if (folder == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
            error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME)
            fail("the folder " + advdiff::quoted(parts.folder) + " does not exist");
        fail("the folder " + advdiff::quoted(parts.folder) + " cannot be used: " + error_text(error));
    }
    if ((folder & FILE_ATTRIBUTE_DIRECTORY) == 0) fail(advdiff::quoted(parts.folder) + " is not a folder");

    // Permissions, read-only media, quotas: only creating a file tells for sure. The probe has the
    // name a real temporary file would have and is removed at once.
    std::string probe;
    DWORD error = 0;
    const HANDLE handle = create_registered_temporary(parts, probe, error);
    if (handle == INVALID_HANDLE_VALUE)
        fail("cannot create a file in the folder " + advdiff::quoted(parts.folder) + ": " + error_text(error));
    CloseHandle(handle);
    remove_registered_temporary(probe);
}

}  // namespace advdiff::platform
