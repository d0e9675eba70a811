#pragma once
// What the bad-input tests do to files that only some systems can do: make a FIFO, take the
// permissions away. Windows has no FIFOs in its file system and no permission bits; the cases
// that need them are skipped there.

#include <string>

namespace advdiff::testing {

// Whether the file system has FIFOs (make_fifo works).
bool has_fifos();

// Whether permission bits bind this process (set_permissions works, and the process is not root,
// who reads and writes everything).
bool permissions_bind();

void make_fifo(const std::string& path);

void set_permissions(const std::string& path, unsigned mode);

}  // namespace advdiff::testing
