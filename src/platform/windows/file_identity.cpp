#include "platform/file_identity.hpp"

#include <windows.h>

#include "platform/windows/internals.hpp"

namespace advdiff::platform {

std::optional<detail::FileId> detail::file_id(const std::string& path) {
    // No access asked for: the handle only reads the file's information, so that a file another
    // program holds open, or one without read permission, still shows who it is. A folder needs
    // FILE_FLAG_BACKUP_SEMANTICS to be opened at all.
    const HANDLE handle = CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return std::nullopt;
    return FileId{info.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool detail::same_name(const std::string& a, const std::string& b) {
    const std::wstring wa = widen(a), wb = widen(b);
    return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()),
                                TRUE) == CSTR_EQUAL;
}

bool same_target(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    const std::optional<detail::FileId> ia = detail::file_id(a), ib = detail::file_id(b);
    if (ia && ib) return *ia == *ib;
    if (ia.has_value() != ib.has_value()) return false;
    const detail::PathParts pa = detail::split_path(a), pb = detail::split_path(b);
    if (!detail::same_name(pa.base, pb.base)) return false;
    const std::optional<detail::FileId> fa = detail::file_id(pa.folder), fb = detail::file_id(pb.folder);
    return fa && fb && *fa == *fb;
}

}  // namespace advdiff::platform
