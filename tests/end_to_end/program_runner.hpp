#pragma once
// Running a built program of the project in a folder, as the end-to-end tests do.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/scratch_folder.hpp"

namespace advdiff::testing {

struct Ended {
    bool exited = false;    // ended by exit(), not by a signal or the time limit
    int status = -1;        // its exit status
    int signal = 0;         // the signal that ended it, when not exited
    bool timed_out = false;
    long max_rss_kib = 0;   // its peak resident memory
    double seconds = 0.0;   // from start to end
    std::string out;
    std::string err;
};

struct Launch {
    std::vector<std::string> args = {"--no-edit", "--window", "0"};
    const char* binary = ADVDIFF_BINARY;
    std::function<void()> in_child;            // before exec: limits, cgroup
    std::function<void(pid_t)> while_running;  // in the test, once the program runs
    std::optional<double> interrupt_after;     // seconds after which SIGINT is sent
    double limit_seconds = 120.0;
};

inline void set_limit(int resource, rlim_t value) {
    struct rlimit limit {};
    getrlimit(resource, &limit);
    limit.rlim_cur = value;
    if (setrlimit(resource, &limit) != 0) _exit(125);
}

// Runs the program of `launch` in `folder`: standard input from /dev/null, standard output and
// error into files outside the folder, every signal at its default action and none blocked (a
// test runner may have started us otherwise), no core files. Kills it after the time limit.
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
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(folder.c_str()) != 0)
            _exit(126);
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

// Everything in a folder: path -> kind, mode, size and content (of readable regular files up to
// 64 MiB). Any new, removed or changed entry (a report, a temporary file, a rewritten input) makes
// two snapshots differ.
inline std::map<std::string, std::string> snapshot(const std::string& folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        // Lexically: a link to a stream (/proc/self/fd/1) has no canonical path to compare.
        const std::string name = e.path().lexically_relative(folder).string();
        struct stat info {};
        lstat(e.path().c_str(), &info);
        std::string description = std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " ";
        if (S_ISREG(info.st_mode) && (info.st_mode & S_IRUSR) && info.st_size < off_t{64 << 20})
            description += ScratchFolder::read(e.path());
        entries[name] = description;
    }
    return entries;
}

}  // namespace advdiff::testing
