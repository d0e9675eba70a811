#include "platform/terminal.hpp"

#include <unistd.h>

namespace advdiff::platform {

bool standard_error_is_terminal() { return isatty(STDERR_FILENO) != 0; }

}  // namespace advdiff::platform
