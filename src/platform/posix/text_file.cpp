#include "platform/text_file.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#if defined(__linux__)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif
#include <unistd.h>

#include "platform/file_identity.hpp"
#include "platform/posix/internals.hpp"
#include "platform/signals.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {

namespace {

std::string error_text(int error) { return std::strerror(error); }


struct PathParts {
    std::string folder;  // "." for a bare name
    std::string base;    // empty when the path ends in a slash
};

PathParts split_path(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

// What the file system of a folder allows: the longest name in it and the longest path.
struct NameLimits {
    std::size_t name_max;
    std::size_t path_max;  // including the terminating NUL
};

NameLimits name_limits(const std::string& folder) {
    const long name_max = pathconf(folder.c_str(), _PC_NAME_MAX);
    const long path_max = pathconf(folder.c_str(), _PC_PATH_MAX);
    return {name_max > 0 ? static_cast<std::size_t>(name_max) : std::size_t{255},
            path_max > 0 ? static_cast<std::size_t>(path_max) : std::size_t{4096}};
}

// mkstemp template for a temporary file next to the target: "<folder>/.<base>.XXXXXX". The base
// is shortened where the folder's limits require it, so that a target of the longest allowed name
// or path still has a temporary file.
std::string temporary_template(const PathParts& parts) {
    const NameLimits limits = name_limits(parts.folder);
    constexpr std::size_t kAround = 8;  // "." before the base, ".XXXXXX" after it
    std::size_t keep = std::min<std::size_t>(parts.base.size(), 200);
    keep = std::min(keep, limits.name_max > kAround ? limits.name_max - kAround : 0);
    const std::size_t fixed = parts.folder.size() + 1 + kAround + 1;  // with the slash and the NUL
    keep = std::min(keep, limits.path_max > fixed ? limits.path_max - fixed : 0);
    return parts.folder + "/." + parts.base.substr(0, keep) + ".XXXXXX";
}

// Whether `folder` is on the proc file system, where every link is one the system keeps for a
// running process (its open files, its working folder, its program).
bool on_process_file_system(const std::string& folder) {
#if defined(__linux__)
    struct statfs info {};
    return statfs(folder.c_str(), &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
#else
    (void)folder;
    return false;
#endif
}

std::string link_text(const std::string& link) {
    std::string target(4096, '\0');
    const ssize_t length = readlink(link.c_str(), target.data(), target.size());
    target.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return target;
}

// The first name on the way from `path` through its links that lies on the proc file system: a
// link the system keeps for a running process rather than a file name (/dev/stdout leads to
// /proc/self/fd/1), even where the descriptor it stands for is closed. Writing a file under such a
// name would replace the file behind the descriptor (or the link), never write into the stream it
// stands for.
struct ProcessLink {
    std::string link;    // as met on the way: "/proc/self/fd/1"
    std::string target;  // what it reads as: "/home/u/out.txt", "pipe:[8231]"; empty if nothing
    int own_descriptor;  // the descriptor 0, 1 or 2 of this process it stands for, or -1
};

std::optional<ProcessLink> process_link_on_the_way(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {  // the system's own limit on links followed
        const PathParts parts = split_path(current);
        if (on_process_file_system(parts.folder)) {
            int descriptor = -1;
            char* folder = realpath(parts.folder.c_str(), nullptr);
            if (folder != nullptr && folder == "/proc/" + std::to_string(getpid()) + "/fd" &&
                parts.base.size() == 1 && parts.base[0] >= '0' && parts.base[0] <= '2')
                descriptor = parts.base[0] - '0';
            std::free(folder);
            return ProcessLink{current, link_text(current), descriptor};
        }
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return std::nullopt;
        const std::string target = link_text(current);
        if (target.empty()) return std::nullopt;
        current = target.front() == '/' ? target : parts.folder + "/" + target;
    }
    return std::nullopt;
}

std::string process_link_message(const std::string& path, const ProcessLink& found) {
    constexpr const char* kStreams[] = {"standard input", "standard output", "standard error"};
    std::string message = advdiff::quoted(path);
    message += found.link != path ? " leads to " + advdiff::quoted(found.link) + "," : std::string(" is");
    message += found.own_descriptor >= 0 ? std::string(" this program's ") + kStreams[found.own_descriptor]
                                         : std::string(" a link the system keeps for a running program");
    if (!found.target.empty()) message += " (now " + advdiff::quoted(found.target) + ")";
    return message + ", not a file name: writing there would replace what it points to, not write into it";
}

mode_t current_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Creates a temporary file from `name_template` (replaced by the actual name) and registers it
// with the interrupt handlers in one step. Returns the descriptor, or -1 with errno set.
int create_registered_temporary(std::string& name_template) {
    detail::InterruptsBlocked blocked;
    const int fd = mkstemp(name_template.data());
    if (fd >= 0) register_temporary_file(name_template);
    return fd;
}

void remove_registered_temporary(const std::string& name) {
    detail::InterruptsBlocked blocked;
    unlink(name.c_str());
    register_temporary_file("");
}

bool write_all(int fd, std::string_view bytes, int& error) {
    const char* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}


}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string path) : path_(std::move(path)) {
    const PathParts parts = split_path(path_);
    if (parts.base.empty()) fail(error_text(EISDIR));
    std::string temporary = temporary_template(parts);
    const int fd = create_registered_temporary(temporary);
    if (fd < 0) fail(error_text(errno));
    temporary_ = std::move(temporary);
    file_ = fd;
    // mkstemp creates the file readable by the owner only; the file gets the mode any new file of
    // the user would get.
    if (fchmod(static_cast<int>(file_), static_cast<mode_t>(0644) & ~current_umask()) != 0) discard(error_text(errno));
}

AtomicFileWriter::~AtomicFileWriter() {
    if (file_ >= 0) close(static_cast<int>(file_));
    if (!temporary_.empty()) remove_registered_temporary(temporary_);
}

void AtomicFileWriter::write(std::string_view bytes) {
    int error = 0;
    if (!write_all(static_cast<int>(file_), bytes, error)) discard(error_text(error));
}

void AtomicFileWriter::commit() {
    const int fd = static_cast<int>(file_);
    file_ = -1;
    if (close(fd) != 0) discard(error_text(errno));

    // Whatever the checks before the run found, a folder, a device, a FIFO or a link to a
    // process's descriptor that has appeared under the name since is never replaced.
    struct stat existing {};
    if (stat(path_.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode))
        discard(S_ISDIR(existing.st_mode) ? error_text(EISDIR) : "it exists and is not a regular file");
    if (const std::optional<ProcessLink> found = process_link_on_the_way(path_))
        discard(process_link_message(path_, *found));

    detail::InterruptsBlocked blocked;
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) discard(error_text(errno));
    register_temporary_file("");
    temporary_.clear();
}

void AtomicFileWriter::discard(const std::string& why) {
    if (file_ >= 0) close(static_cast<int>(file_));
    file_ = -1;
    if (!temporary_.empty()) remove_registered_temporary(temporary_);
    temporary_.clear();
    fail(why);
}

namespace {

const char* kind_of_file(mode_t mode) {
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

}  // namespace

void check_output_target(const std::string& path, const std::vector<ProtectedFile>& protected_files,
                         const std::string& display_name, long line, const std::string& setting) {
    auto fail = [&](const std::string& message) {
        throw RunError(display_name, line, setting, message);
    };
    if (path.empty()) fail("the file name is empty");
    // Before anything follows the name: /dev/stdout and its kind are names of a stream, not of a
    // file, even where the file behind them is a regular one.
    if (const std::optional<ProcessLink> found = process_link_on_the_way(path)) fail(process_link_message(path, *found));
    struct stat info {};
    const bool exists = stat(path.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) fail(advdiff::quoted(path) + " is a directory, not a file");
    const PathParts parts = split_path(path);
    if (parts.base.empty()) fail(advdiff::quoted(path) + " names a directory, not a file");
    if (exists && !S_ISREG(info.st_mode))
        fail(advdiff::quoted(path) + " exists and is " + kind_of_file(info.st_mode) + ", not a regular file");
    for (const ProtectedFile& other : protected_files)
        if (same_target(path, other.path))
            fail(advdiff::quoted(path) + " is " + other.description + ", which writing there would replace");

    struct stat folder {};
    if (stat(parts.folder.c_str(), &folder) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            fail("the folder " + advdiff::quoted(parts.folder) + " does not exist");
        fail("the folder " + advdiff::quoted(parts.folder) + " cannot be used: " + error_text(error));
    }
    if (!S_ISDIR(folder.st_mode)) fail(advdiff::quoted(parts.folder) + " is not a folder");
    // A name too long for the folder's file system would only fail when the file is put in place,
    // after the run: the temporary file's shortened name does not show it.
    const NameLimits limits = name_limits(parts.folder);
    if (parts.base.size() > limits.name_max)
        fail("the last part of " + advdiff::quoted(path, 60) + " is " + std::to_string(parts.base.size()) +
             " bytes long; the file system of the folder " + advdiff::quoted(parts.folder, 60) + " allows at most " +
             std::to_string(limits.name_max));
    if (path.size() >= limits.path_max)
        fail(advdiff::quoted(path, 60) + " is " + std::to_string(path.size()) + " bytes long; the system takes names of at most " +
             std::to_string(limits.path_max - 1));

    // Permissions, read-only file systems, quotas on names: only creating a file tells for sure.
    // The probe has the name a real temporary file would have and is removed at once.
    std::string probe = temporary_template(parts);
    const int fd = create_registered_temporary(probe);
    if (fd < 0) {
        const int error = errno;
        fail("cannot create a file in the folder " + advdiff::quoted(parts.folder) + ": " + error_text(error));
    }
    close(fd);
    remove_registered_temporary(probe);
}

}  // namespace advdiff::platform
