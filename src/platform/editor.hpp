#pragma once
// Opening a file in the user's text editor.

#include <string>

namespace advdiff::platform {

// Opens `path` in the user's editor and waits until the editor ends, ignoring its result.
// The editor is $VISUAL, else $EDITOR, split on blanks into a program and its arguments, with the
// file name appended as one more argument; it is started without a shell. Nothing happens when
// `enabled` is false, when neither variable is set, or when standard input or standard output is
// not a terminal.
void open_in_editor(const std::string& path, bool enabled);

}  // namespace advdiff::platform
