// The parts of a Windows path and the names Windows does not take for ordinary files.

#include <array>
#include <string>

#include "platform/windows/internals.hpp"

namespace advdiff::platform {

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Length of the root of `path`: "\\server\share\" (a UNC path), "C:\" or "C:" (a drive), "\" (the
// root of the current drive), or 0 for a relative path.
std::size_t root_length(const std::string& path) {
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        std::size_t at = 2;
        for (int part = 0; part < 2 && at <= path.size(); ++part) {  // server, then share
            while (at < path.size() && !is_separator(path[at])) ++at;
            if (at < path.size()) ++at;
        }
        return at;
    }
    if (path.size() >= 2 && is_letter(path[0]) && path[1] == ':')
        return path.size() >= 3 && is_separator(path[2]) ? 3 : 2;
    if (!path.empty() && is_separator(path[0])) return 1;
    return 0;
}

// The devices that Windows finds under these names in any folder, with any extension.
// `stem` is a name part without its extension and trailing blanks.
bool is_device_name(std::string stem) {
    for (char& c : stem)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (stem == device) return true;
    if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0)) {
        // 1 to 9, and the superscript digits 1, 2 and 3 of ISO 8859-1.
        const auto digit = static_cast<unsigned char>(stem[3]);
        return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

}  // namespace

detail::PathParts detail::split_path(const std::string& path) {
    const std::size_t root = root_length(path);
    std::size_t last = std::string::npos;
    for (std::size_t k = root; k < path.size(); ++k)
        if (is_separator(path[k])) last = k;
    if (last == std::string::npos) return {root == 0 ? std::string(".") : path.substr(0, root), path.substr(root)};
    return {path.substr(0, last), path.substr(last + 1)};
}

std::string detail::name_problem(const std::string& path) {
    if (path.size() >= 4 && is_separator(path[0]) && is_separator(path[1]) && (path[2] == '.' || path[2] == '?') &&
        is_separator(path[3]))
        return " is a device or extended path (\\\\.\\ or \\\\?\\), not an ordinary file name";
    for (std::size_t k = 0; k < path.size(); ++k) {
        const char c = path[k];
        if (static_cast<unsigned char>(c) < 0x20) return " holds a control character, which a Windows file name cannot";
        for (const char forbidden : {'<', '>', '"', '|', '?', '*'})
            if (c == forbidden)
                return std::string(" holds the character ") + c + ", which a Windows file name cannot";
        if (c == ':' && !(k == 1 && is_letter(path[0])))
            return " holds ':', which Windows reads as the name of an alternate data stream, not of a file";
    }
    const std::size_t root = root_length(path);
    for (std::size_t begin = root; begin < path.size();) {
        std::size_t end = begin;
        while (end < path.size() && !is_separator(path[end])) ++end;
        const std::string part = path.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty() || part == "." || part == "..") continue;
        if (part.back() == '.' || part.back() == ' ')
            return " has a name part ending in a dot or a blank (\"" + part +
                   "\"), which Windows drops, so that it would name another file";
        std::string stem = part.substr(0, part.find('.'));
        while (!stem.empty() && stem.back() == ' ') stem.pop_back();
        if (is_device_name(stem)) return " names the device " + stem + ", not a file";
    }
    return {};
}

}  // namespace advdiff::platform
