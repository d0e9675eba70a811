#include "platform/editor.hpp"

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/internals.hpp"
#include "platform/windows/internals.hpp"

namespace advdiff::platform {

namespace {

std::optional<std::wstring> environment_variable(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    if (length == 0 || length >= size) return std::nullopt;
    value.resize(length);
    return value;
}

// The program `name` is: a name with a folder in it as it stands, else the first match in the
// folders of PATH, ".exe" added when the name has no extension (as a POSIX shell looks a command
// up in PATH). Unlike CreateProcessW's own search, the program's folder and the working folder,
// where the input files are, are not searched first.
std::optional<std::wstring> find_program(const std::wstring& name) {
    if (name.find_first_of(L"\\/:") != std::wstring::npos) return name;
    const std::optional<std::wstring> path = environment_variable(L"PATH");
    if (!path) return std::nullopt;
    std::wstring found(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = SearchPathW(path->c_str(), name.c_str(), L".exe", static_cast<DWORD>(found.size()),
                                         found.data(), nullptr);
        if (length == 0) return std::nullopt;
        if (length < found.size()) {
            found.resize(length);
            return found;
        }
        found.resize(length);
    }
}

}  // namespace

int detail::run_and_wait(const std::vector<std::string>& argv) {
    if (argv.empty()) return -1;
    std::vector<std::wstring> arguments;
    for (const std::string& argument : argv) arguments.push_back(widen(argument));
    const std::optional<std::wstring> program = find_program(arguments.front());
    if (!program) return -1;
    std::wstring line = command_line(arguments);

    // No handle of this process is inherited: the program gets the console, not the temporary
    // files or the standard streams' redirections of this one.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::fflush(nullptr);
    EditorRunning editor;
    if (CreateProcessW(program->c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process) == 0)
        return -1;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    const bool known = GetExitCodeProcess(process.hProcess, &status) != 0;
    CloseHandle(process.hProcess);
    // Exit codes from 0xC0000000 on are the system's for a crashed or killed program: no status
    // of its own, as for a program ended by a signal on POSIX.
    if (!known || status > 0x7FFFFFFFu) return -1;
    return static_cast<int>(status);
}

void open_in_editor(const std::string& path, bool enabled) {
    if (!enabled || !detail::attached_to_console()) return;
    const std::optional<std::wstring> visual = environment_variable(L"VISUAL");
    const std::optional<std::wstring> editor = environment_variable(L"EDITOR");
    const std::string visual_text = visual ? detail::narrow(*visual) : std::string();
    const std::string editor_text = editor ? detail::narrow(*editor) : std::string();
    std::vector<std::string> argv = detail::editor_command(visual ? visual_text.c_str() : nullptr,
                                                           editor ? editor_text.c_str() : nullptr, path);
    if (argv.empty()) argv = detail::editor_command("notepad", nullptr, path);
    // The name as Windows writes it, which every Windows editor reads: backslashes ("./-x" too).
    for (char& c : argv.back())
        if (c == '/') c = '\\';
    detail::run_and_wait(argv);  // the editor's result does not matter
}

}  // namespace advdiff::platform
