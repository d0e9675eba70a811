#pragma once
// Text files: whole-file reading, atomic replacement, output-name checks, ISO 8859-1 text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace advdiff::platform {

// The whole content of a file, read in pieces through a heap buffer. Throws as FileReader
// (file_reader.hpp) does: RunError(display_name, 0, "", ...) when the file is missing, is a
// directory or anything else that is not a regular file, or cannot be read. Never creates a file.
std::string read_file(const std::string& path, const std::string& display_name);

// Checks that `path` can be opened for reading as FileReader opens it, and throws the same errors;
// reads nothing. For files that are read only later, after a long computation.
void check_readable_file(const std::string& path, const std::string& display_name);

// A file written in pieces and put in place only when complete: the pieces go to a temporary file
// in the same folder, registered with the interrupt handlers (signals.hpp), which remove it, and
// commit() renames it into place (rename; MoveFileExW replacing the existing file on Windows), so
// that a failure never leaves a half-written file and never destroys the previous one. Every
// failure throws RunError(path, 0, "", "cannot be written: ...") after removing the temporary file;
// a writer destroyed before commit() removes it too.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(std::string_view bytes);
    // Closes the temporary file and renames it to `path`, unless something other than a regular
    // file (a folder, a device, a FIFO, a link to a process's descriptor) has appeared there.
    void commit();

private:
    [[noreturn]] void discard(const std::string& why);
    [[noreturn]] void fail(const std::string& why) const;

    std::string path_;
    std::string temporary_;      // empty once renamed or removed
    std::intptr_t file_ = -1;    // the temporary file: a descriptor on POSIX, a handle on Windows
};

// Replaces the file `path` with `bytes` through an AtomicFileWriter.
void write_file_atomically(const std::string& path, std::string_view bytes);

// A file a run reads, which none of its outputs may replace.
struct ProtectedFile {
    std::string path;
    std::string description;  // how a message names it: "the input file dados1.ent"
};

// Checks, before any work is done, that `path` can later be written by write_file_atomically and
// that writing it destroys nothing it should not: the name is not empty and does not name a
// folder; if something of that name exists, it is a regular file (not a device, a FIFO, a socket);
// it is none of `protected_files`, however either is spelled (same_target of file_identity.hpp); its
// folder exists and a file can be created there; its last part and the whole name are no longer
// than the folder's file system and the system take; and no link on the way to it is one the
// system keeps for a process (/dev/stdout, /proc/self/fd/1: the program's own streams, which an
// atomic write would replace rather than write into). On Windows also: the name is one Windows
// keeps as written (no device such as CON or NUL, no name part ending in a dot or a blank, no ':'
// but a drive's, none of ? * < > " |), and an existing file is neither read-only nor held open by
// another program, either of which would stop the final rename. Leaves no file behind. Throws
// RunError(display_name, line, setting, ...) naming what is wrong otherwise.
void check_output_target(const std::string& path, const std::vector<ProtectedFile>& protected_files,
                         const std::string& display_name, long line, const std::string& setting);

// check_output_target with nothing to protect.
void check_writable_target(const std::string& path, const std::string& display_name, long line,
                           const std::string& setting);

// UTF-8 text (as written in the sources) -> ISO 8859-1, one byte per character. Every character
// must be in U+0000..U+00FF; anything else is a programming error and throws std::logic_error.
std::string utf8_to_latin1(std::string_view utf8);

}  // namespace advdiff::platform
