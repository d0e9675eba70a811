// The calls on an open file that the shared FileReader needs, with descriptors.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/internals.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {

detail::NativeFile detail::open_for_reading(const std::string& path, const std::string& display_name) {
    int fd = -1;
    auto fail = [&](const std::string& message) {
        if (fd >= 0) close(fd);
        throw RunError(display_name, 0, "", message);
    };
    // O_NONBLOCK keeps a FIFO without a writer from blocking the open; such files are refused
    // below anyway.
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) fail("no such file");
        if (error == EISDIR) fail("is a directory, not a file");
        fail(std::string("cannot be read: ") + std::strerror(error));
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) fail(std::string("cannot be read: ") + std::strerror(errno));
    if (S_ISDIR(info.st_mode)) fail("is a directory, not a file");
    if (!S_ISREG(info.st_mode)) fail("cannot be read: not a regular file");
    return fd;
}

std::size_t detail::read_some(NativeFile file, char* into, std::size_t capacity, const std::string& display_name) {
    for (;;) {
        const ssize_t got = read(static_cast<int>(file), into, capacity);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR)
            throw RunError(display_name, 0, "", std::string("cannot be read: ") + std::strerror(errno));
    }
}

void detail::close_file(NativeFile file) noexcept {
    if (file >= 0) close(static_cast<int>(file));
}

}  // namespace advdiff::platform
