#pragma once
// The program's command line and its error output, in the narrow ISO 8859-1 strings that the
// rest of the program works with.

#include <string>
#include <string_view>
#include <vector>

namespace advdiff::platform {

// The command-line arguments, the program's name first. POSIX: the bytes of argv as given.
// Windows: the wide command line, each character converted to ISO 8859-1, the encoding of every
// name the program handles; a character outside it becomes '?', which no Windows file name may
// hold, so that such a name is refused rather than taken for another one.
std::vector<std::string> program_arguments(int argc, char** argv);

// Writes `text` (ISO 8859-1) to standard error. A Windows console is given the characters
// themselves, so that an accented letter of a file name shows right whatever its code page;
// anywhere else the bytes go out as they are.
void write_to_standard_error(std::string_view text);

}  // namespace advdiff::platform
