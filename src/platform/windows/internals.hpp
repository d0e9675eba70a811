#pragma once
// Pieces of the Windows side of the platform layer that its files share and the Windows tests
// exercise directly: the conversion of the program's narrow strings for the wide API, error texts,
// the rules of Windows file names, file identity, and the lock that keeps the console handler
// from removing a temporary file in the middle of its creation or renaming.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/internals.hpp"

namespace advdiff::platform::detail {

// The program's narrow strings are ISO 8859-1 (the report name as read from the parameter file,
// the arguments as program_arguments gives them): each byte is the character of the same number,
// so the wide form takes the bytes one by one.
std::wstring widen(std::string_view latin1);

// Wide text (a system message, an environment variable) as ISO 8859-1; a character outside it
// becomes '?'.
std::string narrow(std::wstring_view wide);

// What a Windows error code means, in the words the POSIX side's messages use where there are
// such ("No such file or directory", "Permission denied", "No space left on device"), else the
// system's own text.
std::string error_text(unsigned long error);

// A path cut at its last separator (\ or /). `folder` keeps the drive or UNC root whole ("C:\",
// "\\server\share\"), is "C:" for "C:name" (the current folder of drive C) and "." for a bare
// name; `base` is empty when the path ends in a separator.
struct PathParts {
    std::string folder;
    std::string base;
};
PathParts split_path(const std::string& path);

// Why `path` cannot name an ordinary file on Windows, as the end of a message that follows the
// quoted name, or empty when it can: a device name (CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9,
// with or without an extension), a name part ending in a dot or a blank (Windows drops them, so
// "dados1.ent." would be dados1.ent), a ':' other than a drive's (an alternate data stream),
// one of ? * < > " | or a control character, a device or extended path (\\.\, \\?\).
std::string name_problem(const std::string& path);

// Whether two names of a folder are the same name for Windows: equal ignoring case.
bool same_name(const std::string& a, const std::string& b);

// The identity of an existing file or folder: its volume's serial number and its index on the
// volume (the inode of POSIX). Empty when it does not exist or cannot be opened.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};
std::optional<FileId> file_id(const std::string& path);

// Holds the console handler back for its lifetime (it may be nested), so that creating or renaming
// a temporary file and its registration with the handler happen as one step for it.
class InterruptsBlocked : HeldForLifetime {
public:
    InterruptsBlocked();
    ~InterruptsBlocked();
};

// While a started program (the editor) runs, Ctrl-C and Ctrl-Break are its own: the console
// handler ignores them in the meantime.
class EditorRunning : HeldForLifetime {
public:
    EditorRunning();
    ~EditorRunning();
};

// Whether this process has a console to work with: standard input and standard output are both
// console handles (GetConsoleMode succeeds on each). A redirected stream, NUL included, is not one.
bool attached_to_console();

// The command line that gives a program started by CreateProcessW exactly `arguments` (the first
// one its name), as the C runtime of that program splits it: an argument with blanks, tabs or
// quotes, or an empty one, in quotes, backslashes doubled before a quote and a quote as \".
std::wstring command_line(std::span<const std::wstring> arguments);

}  // namespace advdiff::platform::detail
