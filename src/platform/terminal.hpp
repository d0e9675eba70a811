#pragma once
// Whether a standard stream is a terminal, for output meant for a person watching (progress).

namespace advdiff::platform {

// True when standard error is a terminal (not a file or a pipe).
bool standard_error_is_terminal();

}  // namespace advdiff::platform
