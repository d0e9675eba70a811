#include "platform/editor.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/internals.hpp"

namespace advdiff::platform {
namespace {

using Words = std::vector<std::string>;

TEST(PlatformEditorCommand, PrefersVisualSplitsOnBlanksAndAppendsTheFileAsOneArgument) {
    const struct {
        const char* visual;
        const char* editor;
        std::string path;
        Words argv;
    } cases[] = {
        {"vim", "nano", "report.txt", {"vim", "report.txt"}},
        {nullptr, "nano", "report.txt", {"nano", "report.txt"}},
        {"", "nano -w", "report.txt", {"nano", "-w", "report.txt"}},
        {" \t ", "nano", "report.txt", {"nano", "report.txt"}},
        {"  code\t --wait  ", nullptr, "my report; rm -rf x.txt", {"code", "--wait", "my report; rm -rf x.txt"}},
        {"vi", nullptr, "+!touch pwned", {"vi", "./+!touch pwned"}},
        {"vi", nullptr, "-c:q", {"vi", "./-c:q"}},
        {"vi", nullptr, "/tmp/-r.txt", {"vi", "/tmp/-r.txt"}},
        {nullptr, nullptr, "report.txt", {}},
        {"", " ", "report.txt", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(detail::editor_command(c.visual, c.editor, c.path), c.argv)
            << (c.visual ? c.visual : "(unset)") << " / " << (c.editor ? c.editor : "(unset)");
}

}  // namespace
}  // namespace advdiff::platform
