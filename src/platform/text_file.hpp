#pragma once
// Text files: whole-file reading, atomic replacement, report-name checks, ISO 8859-1 text.

#include <string>
#include <string_view>

namespace advdiff::platform {

// The whole content of a file. Throws RunError(display_name, 0, "", ...) when the file is missing,
// is a directory, or cannot be read. Never creates a file.
std::string read_file(const std::string& path, const std::string& display_name);

// Replaces the file `path` with `bytes`: writes a temporary file in the same folder, flushes it,
// and renames it into place, so that a failure never leaves a half-written file and never
// destroys the previous one. While the temporary file exists it is registered with the interrupt
// handler (signals.hpp), which removes it. Throws RunError naming `path` on failure, after removing
// the temporary file.
void write_file_atomically(const std::string& path, std::string_view bytes);

// Checks, before any work is done, that `path` can later be written by write_file_atomically:
// the name is not empty, is not a directory, its folder exists, and a file can be created there.
// Leaves no file behind. Throws RunError(display_name, line, setting, ...) otherwise.
void check_writable_target(const std::string& path, const std::string& display_name, long line,
                           const std::string& setting);

// UTF-8 text (as written in the sources) -> ISO 8859-1, one byte per character. Every character
// must be in U+0000..U+00FF; anything else is a programming error and throws std::logic_error.
std::string utf8_to_latin1(std::string_view utf8);

}  // namespace advdiff::platform
