// Fuzz target: the reader of the reference-solution files over arbitrary bytes.
//
// The reader takes a path, so the bytes go into one temporary file (made once, rewritten for every
// input, removed at exit), which is then read for several grid shapes, from a single node to more
// values than a small input holds, and for sizes with no node at all. Besides not crashing, the
// reader must keep these promises:
//   - every error is a RunError naming the file and a line of it (1 .. lines + 1), with a message
//     of one line (no LF or CR in it) that starts with FILE:LINE;
//   - every value it accepts is finite;
//   - a grid without nodes reads nothing and never fails.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "run/reference_file.hpp"
#include "state/run_error.hpp"

namespace {

using advdiff::RunError;

[[noreturn]] void broken(const char* promise, const std::string& detail) {
    std::fprintf(stderr, "broken promise: %s: %s\n", promise, detail.c_str());
    std::abort();
}

std::string temporary_path;

void remove_temporary() {
    if (!temporary_path.empty()) unlink(temporary_path.c_str());
}

// The temporary file, emptied and filled with `bytes`.
const std::string& file_holding(const std::uint8_t* data, std::size_t size) {
    static int fd = -1;
    if (fd < 0) {
        // In memory where there is a tmpfs: the file is rewritten for every input.
        std::string name = access("/dev/shm", W_OK) == 0 ? "/dev/shm/advdiff-fuzz-exata-XXXXXX"
                                                         : "/tmp/advdiff-fuzz-exata-XXXXXX";
        fd = mkstemp(name.data());
        if (fd < 0) broken("a temporary file can be made", name);
        temporary_path = name;
        std::atexit(remove_temporary);
    }
    if (ftruncate(fd, 0) != 0) broken("the temporary file can be emptied", temporary_path);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (written <= 0) broken("the temporary file can be written", temporary_path);
        done += static_cast<std::size_t>(written);
    }
    return temporary_path;
}

struct Shape {
    int nx;
    int ny;
};
constexpr Shape kShapes[] = {{1, 1}, {3, 2}, {2, 3}, {4, 4}, {17, 9}, {40, 40}, {0, 5}, {-3, 2}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = file_holding(data, size);
    long lines = 0;
    for (std::size_t k = 0; k < size; ++k) lines += data[k] == '\n';
    if (size > 0 && data[size - 1] != '\n') ++lines;

    for (const Shape shape : kShapes) {
        const std::size_t nodes =
            shape.nx > 0 && shape.ny > 0 ? static_cast<std::size_t>(shape.nx) * static_cast<std::size_t>(shape.ny) : 0;
        std::vector<double> values(nodes, -1.0);
        try {
            advdiff::run::read_reference_values(path, shape.nx, shape.ny, values);
        } catch (const RunError& e) {
            const std::string what = e.what();
            if (nodes == 0) broken("a grid without nodes never fails", what);
            if (e.file() != path) broken("the error names the file", what);
            if (e.line() < 1 || e.line() > lines + 1) broken("the error names a line of the file", what);
            if (what.find_first_of("\r\n") != std::string::npos) broken("the message is one line", what);
            if (what.rfind(path + ":" + std::to_string(e.line()) + ": ", 0) != 0)
                broken("the message starts with FILE:LINE", what);
            continue;
        }
        for (const double v : values)
            if (!std::isfinite(v)) broken("every accepted value is finite", std::to_string(v));
    }
    return 0;
}
