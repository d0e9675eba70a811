#pragma once
// Opening a file in the user's text editor.

#include <string>

namespace advdiff::platform {

// Opens `path` in the user's editor and waits until the editor ends, ignoring its result.
// The editor is $VISUAL, else $EDITOR, split on blanks into a program and its arguments, with the
// file name appended as one more argument; where neither is set, notepad on Windows and no editor
// elsewhere. It is started without a shell. Nothing happens when `enabled` is false, when there is
// no editor, or when nobody is there to use it: standard input or standard output not a terminal
// (POSIX), the program not attached to a console (Windows).
void open_in_editor(const std::string& path, bool enabled);

}  // namespace advdiff::platform
