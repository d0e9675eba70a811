#pragma once
// Sequential reading of a regular file in chunks through one heap buffer, so that the memory a
// reader takes does not depend on the length of the file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace advdiff::platform {

class FileReader {
public:
    // Opens `path` for reading. Throws RunError(display_name, 0, "", ...) with the messages of
    // read_file when the file is missing, is a directory, is not a regular file or cannot be read.
    // Never creates a file and never blocks on a FIFO.
    FileReader(const std::string& path, const std::string& display_name, std::size_t chunk_bytes = 1 << 18);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // The bytes read and not yet consumed.
    const char* begin() const { return begin_; }
    const char* end() const { return end_; }

    // Keeps the bytes from `from` (within the window) on, and reads more after them until at least
    // `want` bytes are buffered from `from` or the file has ended (want is at most the chunk
    // size). Returns the new position of `from`. Throws RunError on a read error.
    const char* refill(const char* from, std::size_t want);

    // True once the file has given all its bytes.
    bool at_end_of_file() const { return eof_; }
    // The last byte read so far ('\0' before any), and how many bytes were read in all.
    char last_byte() const { return last_byte_; }
    std::size_t bytes_read() const { return bytes_read_; }

private:
    std::string display_name_;
    std::intptr_t file_ = -1;  // detail::NativeFile
    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;  // written by read() before it is read
    const char* begin_;
    const char* end_;
    bool eof_ = false;
    std::size_t bytes_read_ = 0;
    char last_byte_ = '\0';
};

}  // namespace advdiff::platform
