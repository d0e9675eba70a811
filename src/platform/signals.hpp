#pragma once
// Interrupts: Ctrl-C (SIGINT) and SIGTERM end the program promptly, leaving no temporary file.

#include <string>

namespace advdiff::platform {

// Installs handlers for SIGINT and SIGTERM that remove the registered temporary file (if any)
// and end the process with status 128 + signal number (130 for Ctrl-C).
void install_interrupt_handlers();

// The temporary file the handlers must remove; an empty path clears the registration.
void register_temporary_file(const std::string& path);

}  // namespace advdiff::platform
