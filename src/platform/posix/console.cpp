#include "platform/console.hpp"

#include <cstdio>

namespace advdiff::platform {

std::vector<std::string> program_arguments(int argc, char** argv) { return {argv, argv + argc}; }

void write_to_standard_error(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace advdiff::platform
