#include "platform/text_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
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

// mkstemp template for a temporary file next to the target: "<folder>/.<base>.XXXXXX". The base
// is shortened so that a target name of the longest allowed length still leaves room for the
// suffix.
std::string temporary_template(const PathParts& parts) {
    return parts.folder + "/." + parts.base.substr(0, 200) + ".XXXXXX";
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

void write_file_atomically(const std::string& path, std::string_view bytes) {
    auto fail = [&](const std::string& why) { throw RunError(path, 0, "", "cannot be written: " + why); };
    const PathParts parts = split_path(path);
    if (parts.base.empty()) fail(error_text(EISDIR));

    std::string temporary = temporary_template(parts);
    const int fd = create_registered_temporary(temporary);
    if (fd < 0) fail(error_text(errno));

    // Every failure from here on removes the temporary file before reporting.
    auto discard = [&](const std::string& why, bool still_open) {
        if (still_open) close(fd);
        remove_registered_temporary(temporary);
        fail(why);
    };
    // mkstemp creates the file readable by the owner only; the report gets the mode any new file
    // of the user would get.
    if (fchmod(fd, static_cast<mode_t>(0644) & ~current_umask()) != 0) discard(error_text(errno), true);
    int error = 0;
    if (!write_all(fd, bytes, error)) discard(error_text(error), true);
    if (close(fd) != 0) discard(error_text(errno), false);

    // Whatever the checks before the run found, a folder, a device or a FIFO that has appeared
    // under the name since is never replaced.
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode))
        discard(S_ISDIR(existing.st_mode) ? error_text(EISDIR) : "it exists and is not a regular file", false);

    detail::InterruptsBlocked blocked;
    if (std::rename(temporary.c_str(), path.c_str()) != 0) discard(error_text(errno), false);
    register_temporary_file("");
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
