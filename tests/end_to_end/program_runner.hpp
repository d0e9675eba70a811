#pragma once
// Running a built program of the project in a folder, as the end-to-end tests do. The one place
// of the tests that starts processes, and so the one that differs between POSIX (fork and exec)
// and Windows (CreateProcessW).

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>

#include "platform/windows/internals.hpp"
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/scratch_folder.hpp"

namespace advdiff::testing {

#ifdef _WIN32
inline constexpr bool kOnWindows = true;
using ProcessId = unsigned long;
#else
inline constexpr bool kOnWindows = false;
using ProcessId = pid_t;
#endif

struct Ended {
    bool exited = false;    // ended by exit(), not by a signal or the time limit
    int status = -1;        // its exit status
    int signal = 0;         // the signal that ended it, when not exited
    bool timed_out = false;
    long max_rss_kib = 0;   // its peak resident memory (Windows: its peak working set)
    double seconds = 0.0;   // from start to end
    std::string out;        // standard output and error, line ends as \n
    std::string err;
};

struct Launch {
    std::vector<std::string> args = {"--no-edit", "--window", "0"};
    const char* binary = ADVDIFF_BINARY;
    std::function<void()> in_child;                 // POSIX: before exec (limits, cgroup)
    std::function<void(ProcessId)> while_running;   // in the test, once the program runs
    std::optional<double> interrupt_after;          // seconds after which Ctrl-C is sent (SIGINT;
                                                    // Windows: Ctrl-Break, with has_console())
    double limit_seconds = 120.0;
    // Environment variables to set (a value) or to remove (none) for the program.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    // Standard input and output are the test's own terminal or console instead of the null device
    // and a file, so that the program finds someone to open an editor for.
    bool console = false;
    std::string stdout_path;  // POSIX: where standard output goes instead of a log ("/dev/full")
    int stderr_fd = -1;       // POSIX: a descriptor for standard error instead of a log
};

#ifdef _WIN32

using platform::detail::widen;

// This process's environment with `changes` applied, as CreateProcessW takes it.
inline std::wstring environment_block(const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
    std::wstring block;
    wchar_t* const strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const std::wstring name = text.substr(0, text.find(L'=', 1));
        bool changed = false;
        for (const auto& change : changes)
            changed = changed || CompareStringOrdinal(name.c_str(), -1, widen(change.first).c_str(), -1, TRUE) == CSTR_EQUAL;
        if (!changed) block += text + L'\0';
    }
    FreeEnvironmentStringsW(strings);
    for (const auto& [name, value] : changes)
        if (value) block += widen(name) + L"=" + widen(*value) + L'\0';
    return block + L'\0';
}

// Whether this process has a console that the programs it starts share: they can then be sent
// Ctrl-Break and find a console for an editor (Launch::console).
inline bool has_console() {
    const HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = 0;
    const bool console = out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode) != 0;
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    return console;
}

inline std::string without_carriage_returns(std::string text) {
    std::string result;
    for (std::size_t k = 0; k < text.size(); ++k)
        if (!(text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')) result += text[k];
    return result;
}

// Runs the program of `launch` in `folder`: standard input from NUL, standard output and error
// into files outside the folder (unless launch.console), no other handle of the test inherited.
// Kills it after the time limit.
inline Ended run(const std::string& folder, const Launch& launch) {
    ScratchFolder logs;  // outside the case folder, which must stay unchanged
    const std::string out_path = logs / "stdout", err_path = logs / "stderr";
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    auto open = [&](const wchar_t* name, DWORD access, DWORD disposition) {
        return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    const HANDLE in = launch.console ? open(L"CONIN$", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING)
                                     : open(L"NUL", GENERIC_READ, OPEN_EXISTING);
    const HANDLE out = launch.console ? open(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING)
                                      : open(widen(out_path).c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE err = open(widen(err_path).c_str(), GENERIC_WRITE, CREATE_ALWAYS);

    std::vector<std::wstring> arguments = {widen(launch.binary)};
    for (const std::string& argument : launch.args) arguments.push_back(widen(argument));
    std::wstring command = platform::detail::command_line(arguments);
    std::wstring environment = environment_block(launch.environment);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    Ended ended;
    const auto start = std::chrono::steady_clock::now();
    // A process group of its own, so that a Ctrl-Break sent to it reaches it alone.
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (launch.interrupt_after ? CREATE_NEW_PROCESS_GROUP : 0);
    const bool started =
        in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
        CreateProcessW(widen(launch.binary).c_str(), command.data(), nullptr, nullptr, TRUE, flags, environment.data(),
                       widen(folder).c_str(), &startup, &process) != 0;
    for (const HANDLE h : {in, out, err})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!started) return ended;
    CloseHandle(process.hThread);
    if (launch.while_running) launch.while_running(process.dwProcessId);
    DWORD limit = static_cast<DWORD>(launch.limit_seconds * 1000);
    if (launch.interrupt_after) {
        const auto before = static_cast<DWORD>(*launch.interrupt_after * 1000);
        if (WaitForSingleObject(process.hProcess, before) == WAIT_TIMEOUT)
            GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId);
        limit -= before < limit ? before : limit;
    }
    if (WaitForSingleObject(process.hProcess, limit) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        ended.timed_out = true;
    }
    ended.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    DWORD status = 0;
    if (!ended.timed_out && GetExitCodeProcess(process.hProcess, &status) != 0) {
        ended.exited = true;
        ended.status = static_cast<int>(status);
    }
    PROCESS_MEMORY_COUNTERS counters{};
    if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters) != 0)
        ended.max_rss_kib = static_cast<long>(counters.PeakWorkingSetSize / 1024);
    CloseHandle(process.hProcess);
    ended.out = without_carriage_returns(ScratchFolder::read(out_path));
    ended.err = without_carriage_returns(ScratchFolder::read(err_path));
    return ended;
}

#else

inline bool has_console() { return isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0; }

inline void set_limit(int resource, rlim_t value) {
    struct rlimit limit {};
    getrlimit(resource, &limit);
    limit.rlim_cur = value;
    if (setrlimit(resource, &limit) != 0) _exit(125);
}

// Runs the program of `launch` in `folder`: standard input from /dev/null, standard output and
// error into files outside the folder (unless launch.console), every signal at its default action
// and none blocked (a test runner may have started us otherwise), no core files. Kills it after
// the time limit.
inline Ended run(const std::string& folder, const Launch& launch) {
    ScratchFolder logs;  // outside the case folder, which must stay unchanged
    const std::string out_path = logs / "stdout", err_path = logs / "stderr";
    std::vector<std::string> argv_strings = {launch.binary};
    argv_strings.insert(argv_strings.end(), launch.args.begin(), launch.args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_strings) argv.push_back(a.data());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        // A freshly started program's signal state, whatever the test runner left behind.
        for (int signo = 1; signo < NSIG; ++signo) signal(signo, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        set_limit(RLIMIT_CORE, 0);
        const int in = launch.console ? STDIN_FILENO : open("/dev/null", O_RDONLY);
        const std::string& out_file = launch.stdout_path.empty() ? out_path : launch.stdout_path;
        const int out = launch.console ? STDOUT_FILENO : open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err =
            launch.stderr_fd >= 0 ? launch.stderr_fd : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(folder.c_str()) != 0)
            _exit(126);
        for (const auto& [name, value] : launch.environment) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        if (launch.in_child) launch.in_child();
        execv(argv[0], argv.data());
        _exit(127);
    }
    Ended ended;
    if (child < 0) return ended;
    if (launch.while_running) launch.while_running(child);
    int status = 0;
    bool interrupted = false;
    struct rusage usage {};
    for (;;) {
        const pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) break;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ended.seconds = elapsed;
        if (launch.interrupt_after && !interrupted && elapsed >= *launch.interrupt_after) {
            kill(child, SIGINT);
            interrupted = true;
        }
        if (elapsed > launch.limit_seconds) {
            kill(child, SIGKILL);
            wait4(child, &status, 0, &usage);
            ended.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ended.exited = !ended.timed_out && WIFEXITED(status);
    if (ended.exited) ended.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
    ended.max_rss_kib = usage.ru_maxrss;
    ended.out = ScratchFolder::read(out_path);
    ended.err = ScratchFolder::read(err_path);
    return ended;
}

#endif

// Everything in a folder: path -> kind, permissions, size and content (of readable regular files
// up to 64 MiB). Any new, removed or changed entry (a report, a temporary file, a rewritten input)
// makes two snapshots differ.
inline std::map<std::string, std::string> snapshot(const std::string& folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        // Lexically: a link to a stream (/proc/self/fd/1) has no canonical path to compare.
        const std::string name = e.path().lexically_relative(folder).string();
        const fs::file_status status = fs::symlink_status(e.path());
        const bool regular = fs::is_regular_file(status);
        const auto size = regular ? fs::file_size(e.path()) : 0;
        std::string description = std::to_string(static_cast<int>(status.type())) + " " +
                                  std::to_string(static_cast<unsigned>(status.permissions())) + " " +
                                  std::to_string(size) + " ";
        if (regular && (status.permissions() & fs::perms::owner_read) != fs::perms::none && size < (64u << 20))
            description += ScratchFolder::read(e.path().string());
        entries[name] = description;
    }
    return entries;
}

}  // namespace advdiff::testing
