// The narrow ISO 8859-1 strings of the program and the wide strings of the Windows API; error
// texts; command lines.

#include <windows.h>

#include <string>

#include "platform/windows/internals.hpp"

namespace advdiff::platform {

std::wstring detail::widen(std::string_view latin1) {
    std::wstring wide;
    wide.reserve(latin1.size());
    for (const char c : latin1) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

std::string detail::narrow(std::wstring_view wide) {
    std::string latin1;
    latin1.reserve(wide.size());
    for (const wchar_t c : wide) latin1 += c <= 0xFF ? static_cast<char>(c) : '?';
    return latin1;
}

std::string detail::error_text(unsigned long error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "No such file or directory";
        case ERROR_ACCESS_DENIED:
            return "Permission denied";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return "it is open in another program";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "No space left on device";
        case ERROR_WRITE_PROTECT:
            return "Read-only file system";
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return "File exists";
        case ERROR_FILENAME_EXCED_RANGE:
            return "File name too long";
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return "not a valid file name";
        case ERROR_DIRECTORY:
            return "Not a directory";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return "Cannot allocate memory";
        default:
            break;
    }
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result = length > 0 ? narrow(std::wstring_view(text, length)) : std::string();
    if (text != nullptr) LocalFree(text);
    // The system's texts end in a full stop and a line end.
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' ||
                               result.back() == '.'))
        result.pop_back();
    for (char& c : result)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    if (result.empty()) result = "Windows error " + std::to_string(error);
    return result;
}

std::wstring detail::command_line(std::span<const std::wstring> arguments) {
    std::wstring line;
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        const std::wstring& argument = arguments[k];
        if (k > 0) line += L' ';
        if (k == 0) {
            // The program's name ends at the next blank, or within quotes at the closing quote;
            // backslashes are not escapes there (and a file name cannot hold a quote).
            if (argument.find_first_of(L" \t") == std::wstring::npos && !argument.empty()) line += argument;
            else line += L'"' + argument + L'"';
            continue;
        }
        if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
            line += argument;
            continue;
        }
        line += L'"';
        std::size_t backslashes = 0;
        for (const wchar_t c : argument) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            // Backslashes are literal unless a quote follows them: then each is written twice and
            // the quote escaped with one more.
            line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, L'\\');  // before the closing quote
        line += L'"';
    }
    return line;
}

}  // namespace advdiff::platform
