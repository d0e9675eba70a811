#include "platform/file_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "state/run_error.hpp"

namespace advdiff::platform {

FileReader::FileReader(const std::string& path, const std::string& display_name, std::size_t chunk_bytes)
    : display_name_(display_name), capacity_(chunk_bytes < 4096 ? 4096 : chunk_bytes) {
    auto fail = [&](const std::string& message) {
        if (fd_ >= 0) close(fd_);
        throw RunError(display_name_, 0, "", message);
    };
    // O_NONBLOCK keeps a FIFO without a writer from blocking the open; such files are refused
    // below anyway.
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) fail("no such file");
        if (error == EISDIR) fail("is a directory, not a file");
        fail(std::string("cannot be read: ") + std::strerror(error));
    }
    struct stat info {};
    if (fstat(fd_, &info) != 0) fail(std::string("cannot be read: ") + std::strerror(errno));
    if (S_ISDIR(info.st_mode)) fail("is a directory, not a file");
    if (!S_ISREG(info.st_mode)) fail("cannot be read: not a regular file");
    buffer_.reset(new char[capacity_]);
    begin_ = end_ = buffer_.get();
}

FileReader::~FileReader() {
    if (fd_ >= 0) close(fd_);
}

const char* FileReader::refill(const char* from, std::size_t want) {
    if (want > capacity_) want = capacity_;
    const std::size_t kept = static_cast<std::size_t>(end_ - from);
    if (kept >= want || eof_) return from;
    char* const base = buffer_.get();
    if (from != base) std::memmove(base, from, kept);
    std::size_t filled = kept;
    while (filled < want && !eof_) {
        const ssize_t got = read(fd_, base + filled, capacity_ - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw RunError(display_name_, 0, "", std::string("cannot be read: ") + std::strerror(errno));
        }
        if (got == 0) {
            eof_ = true;
            break;
        }
        filled += static_cast<std::size_t>(got);
        bytes_read_ += static_cast<std::size_t>(got);
        last_byte_ = base[filled - 1];
    }
    begin_ = base;
    end_ = base + filled;
    return base;
}

}  // namespace advdiff::platform
