#include "platform/file_reader.hpp"

#include <cstring>

#include "platform/internals.hpp"

namespace advdiff::platform {

FileReader::FileReader(const std::string& path, const std::string& display_name, std::size_t chunk_bytes)
    : display_name_(display_name),
      capacity_(chunk_bytes < 4096 ? 4096 : chunk_bytes),
      buffer_(new char[capacity_]),  // before the open, so that nothing can throw with it open
      begin_(buffer_.get()),
      end_(buffer_.get()) {
    file_ = detail::open_for_reading(path, display_name_);
}

FileReader::~FileReader() { detail::close_file(file_); }

const char* FileReader::refill(const char* from, std::size_t want) {
    if (want > capacity_) want = capacity_;
    const std::size_t kept = static_cast<std::size_t>(end_ - from);
    if (kept >= want || eof_) return from;
    char* const base = buffer_.get();
    if (from != base) std::memmove(base, from, kept);
    std::size_t filled = kept;
    while (filled < want && !eof_) {
        const std::size_t got = detail::read_some(file_, base + filled, capacity_ - filled, display_name_);
        if (got == 0) {
            eof_ = true;
            break;
        }
        filled += got;
        bytes_read_ += got;
        last_byte_ = base[filled - 1];
    }
    begin_ = base;
    end_ = base + filled;
    return base;
}

}  // namespace advdiff::platform
