#include "platform/signals.hpp"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/windows/internals.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {

namespace {

// The console handler runs on a thread of its own, which the system starts for each event. It
// takes this lock before it removes the registered temporary file, and keeps it until the process
// has ended; the main thread takes it around the creation and the renaming of a temporary file.
std::recursive_mutex& temporary_lock() {
    static std::recursive_mutex lock;
    return lock;
}

std::wstring temporary_path;             // guarded by temporary_lock()
std::atomic<int> editors_running{0};     // EditorRunning objects alive

BOOL WINAPI end_on_console_event(DWORD event) {
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (interrupt && editors_running.load() > 0) return TRUE;  // the editor's, not ours
    temporary_lock().lock();  // never released: the process ends with it held
    if (!temporary_path.empty()) DeleteFileW(temporary_path.c_str());
    // The statuses a POSIX shell shows for SIGINT and SIGHUP.
    ExitProcess(interrupt ? 130 : 129);
}

}  // namespace

detail::InterruptsBlocked::InterruptsBlocked() { temporary_lock().lock(); }

detail::InterruptsBlocked::~InterruptsBlocked() { temporary_lock().unlock(); }

detail::EditorRunning::EditorRunning() { ++editors_running; }

detail::EditorRunning::~EditorRunning() { --editors_running; }

void install_interrupt_handlers() {
    if (SetConsoleCtrlHandler(end_on_console_event, TRUE) == 0)
        throw RunError("cannot install the console control handler: " + detail::error_text(GetLastError()));
}

void register_temporary_file(const std::string& path) {
    detail::InterruptsBlocked blocked;
    temporary_path = detail::widen(path);
}

void survive_broken_pipes() {}

}  // namespace advdiff::platform
