#include "platform/editor.hpp"

#include "platform/internals.hpp"

namespace advdiff::platform {

namespace {

std::vector<std::string> split_on_blanks(const char* text) {
    std::vector<std::string> words;
    if (text == nullptr) return words;
    std::string word;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == ' ' || *p == '\t') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += *p;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

}  // namespace

std::vector<std::string> detail::editor_command(const char* visual, const char* editor,
                                                const std::string& path) {
    std::vector<std::string> argv = split_on_blanks(visual);
    if (argv.empty()) argv = split_on_blanks(editor);
    if (argv.empty()) return argv;
    // Editors read a leading '-' as an option and a leading '+' as a command to run; "./" keeps
    // such a name an ordinary file name without changing the file it names.
    if (!path.empty() && (path.front() == '-' || path.front() == '+'))
        argv.push_back("./" + path);
    else
        argv.push_back(path);
    return argv;
}

}  // namespace advdiff::platform
