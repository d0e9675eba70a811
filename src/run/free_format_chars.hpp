#pragma once
// The characters of the free format that the input files and the reference files share.

#include <string>
#include <string_view>

#include "state/run_error.hpp"

namespace advdiff::run {

// Blanks separate items; a tab, a form feed and a stray CR count as blanks.
inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; }
// A comma or a slash ends an item as a blank does (the slash ends the line's values too).
inline bool ends_item(char c) { return is_blank(c) || c == ',' || c == '/'; }

// The item as an error message shows it: long items cut.
inline std::string quoted(std::string_view item) { return advdiff::quoted(item, 40); }

}  // namespace advdiff::run
