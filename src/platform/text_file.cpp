#include "platform/text_file.hpp"

#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "platform/file_reader.hpp"
#include "state/run_error.hpp"

namespace advdiff::platform {

std::string read_file(const std::string& path, const std::string& display_name) {
    constexpr std::size_t kPiece = 256 * 1024;
    FileReader file(path, display_name, kPiece);
    std::string content;
    for (const char* from = file.end();;) {
        from = file.refill(from, kPiece);
        if (from == file.end()) break;
        content.append(from, file.end());
        from = file.end();
    }
    return content;
}

void check_readable_file(const std::string& path, const std::string& display_name) {
    FileReader opened(path, display_name, 0);
}

void AtomicFileWriter::fail(const std::string& why) const {
    throw RunError(path_, 0, "", "cannot be written: " + why);
}

void write_file_atomically(const std::string& path, std::string_view bytes) {
    AtomicFileWriter file(path);
    file.write(bytes);
    file.commit();
}

void check_writable_target(const std::string& path, const std::string& display_name, long line,
                           const std::string& setting) {
    check_output_target(path, {}, display_name, line, setting);
}

std::string utf8_to_latin1(std::string_view utf8) {
    auto reject = [](std::size_t at, const std::string& why) {
        throw std::logic_error("text for ISO 8859-1 output, byte " + std::to_string(at) + ": " + why);
    };
    std::string latin1;
    latin1.reserve(utf8.size());
    std::size_t at = 0;
    while (at < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        if (lead < 0x80) {
            latin1 += static_cast<char>(lead);
            ++at;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t code = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        } else {
            reject(at, "not UTF-8");
        }
        if (utf8.size() - at < length) reject(at, "incomplete UTF-8 sequence");
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[at + k]);
            if ((next & 0xC0) != 0x80) reject(at, "incomplete UTF-8 sequence");
            code = (code << 6) | (next & 0x3F);
        }
        constexpr std::uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < shortest[length]) reject(at, "overlong UTF-8 sequence");
        if (code > 0xFF) {
            char name[16];
            std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code));
            reject(at, std::string(name) + " has no ISO 8859-1 form");
        }
        latin1 += static_cast<char>(code);
        at += length;
    }
    return latin1;
}

}  // namespace advdiff::platform
