#include "platform/text_file.hpp"

#include <windows.h>

#include <algorithm>
#include <cstdint>
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

// The longest name part the file system of `folder` takes (its volume's maximum component length:
// 255 on NTFS and FAT32) and the longest full path the system takes (MAX_PATH less its terminating
// NUL: the program does not declare itself aware of longer paths), both in characters.
struct NameLimits {
    std::size_t name_max;
    std::size_t path_max;
};

NameLimits name_limits(const std::string& folder) {
    NameLimits limits{255, MAX_PATH - 1};
    // Asked of the folder itself, which may be a volume mounted in a folder of another one; no
    // access needed, and only the length asked for (a volume's label and serial number may need
    // rights to the device that an ordinary user lacks).
    const HANDLE handle = CreateFileW(widen(folder).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return limits;
    DWORD component = 0;
    if (GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, &component, nullptr, nullptr, 0) != 0 &&
        component > 0)
        limits.name_max = component;
    CloseHandle(handle);
    return limits;
}

// The length in characters of `path` made absolute, as the system sees it when it opens the file.
std::size_t full_length(const std::string& path) {
    const DWORD size = GetFullPathNameW(widen(path).c_str(), 0, nullptr, nullptr);  // with the NUL
    return size > 0 ? size - 1 : path.size();
}

// A temporary file next to the target, "<folder>\.<base>.<six hex digits>", created (never an
// existing one opened) and registered with the console handler in one step. The base is shortened
// where the folder's limits require it, so that a target of the longest allowed name or path still
// has a temporary file. Returns its handle and sets `name`, or INVALID_HANDLE_VALUE with the error.
// Others may delete it while it is open, so that the handler can remove it whatever this thread is
// doing with it.
HANDLE create_registered_temporary(const detail::PathParts& parts, std::string& name, DWORD& error) {
    constexpr std::size_t kAround = 8;  // "." before the base, "." and six digits after it
    const NameLimits limits = name_limits(parts.folder);
    std::size_t keep = std::min<std::size_t>(parts.base.size(), 200);
    keep = std::min(keep, limits.name_max > kAround ? limits.name_max - kAround : 0);
    const std::size_t fixed = full_length(joined(parts.folder, ".")) + kAround - 1;
    keep = std::min(keep, limits.path_max > fixed ? limits.path_max - fixed : 0);
    static unsigned counter = 0;
    const unsigned seed = GetCurrentProcessId() * 2654435761u ^ static_cast<unsigned>(GetTickCount64());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "%06x", (seed + 7919u * ++counter) & 0xFFFFFFu);
        // Appended piece by piece: GCC 12 takes `"." + text` for an overlapping copy (-Wrestrict).
        std::string base = ".";
        base += std::string_view(parts.base).substr(0, keep);
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

HANDLE as_handle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string path) : path_(std::move(path)) {
    const detail::PathParts parts = detail::split_path(path_);
    if (parts.base.empty()) fail("Is a directory");
    std::string temporary;
    DWORD error = 0;
    const HANDLE handle = create_registered_temporary(parts, temporary, error);
    if (handle == INVALID_HANDLE_VALUE) fail(error_text(error));
    temporary_ = std::move(temporary);
    file_ = reinterpret_cast<std::intptr_t>(handle);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (as_handle(file_) != INVALID_HANDLE_VALUE) CloseHandle(as_handle(file_));
    if (!temporary_.empty()) remove_registered_temporary(temporary_);
}

void AtomicFileWriter::write(std::string_view bytes) {
    DWORD error = 0;
    if (!write_all(as_handle(file_), bytes, error)) discard(error_text(error));
}

void AtomicFileWriter::commit() {
    const HANDLE handle = as_handle(file_);
    file_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    if (CloseHandle(handle) == 0) discard(error_text(GetLastError()));

    // Whatever the checks before the run found, a folder that has appeared under the name since
    // is never replaced.
    const std::wstring target = widen(path_);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        discard("Is a directory");

    // One rename that replaces the earlier file: a reader sees the old file or the new one, never a
    // part of either.
    detail::InterruptsBlocked blocked;
    if (MoveFileExW(widen(temporary_).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
        0) {
        // A target held open reads as "access denied" here; the probe tells which it is.
        const DWORD error = GetLastError();
        const bool held = error == ERROR_ACCESS_DENIED && replace_access_error(path_) == ERROR_SHARING_VIOLATION;
        discard(error_text(held ? ERROR_SHARING_VIOLATION : error));
    }
    register_temporary_file("");
    temporary_.clear();
}

void AtomicFileWriter::discard(const std::string& why) {
    if (as_handle(file_) != INVALID_HANDLE_VALUE) CloseHandle(as_handle(file_));
    file_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
    if (!temporary_.empty()) remove_registered_temporary(temporary_);
    temporary_.clear();
    fail(why);
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
    // A name too long for the volume or the system would only fail when the file is put in place,
    // after the run: the temporary file's shortened name does not show it.
    const NameLimits limits = name_limits(parts.folder);
    if (parts.base.size() > limits.name_max)
        fail("the last part of " + advdiff::quoted(path, 60) + " is " + std::to_string(parts.base.size()) +
             " characters long; the file system of the folder " + advdiff::quoted(parts.folder, 60) +
             " allows at most " + std::to_string(limits.name_max));
    if (const std::size_t length = full_length(path); length > limits.path_max)
        fail(advdiff::quoted(path, 60) + " is " + std::to_string(length) +
             " characters long as a full path; the system takes names of at most " + std::to_string(limits.path_max));

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
