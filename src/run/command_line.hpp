#pragma once
// What the programs' main() functions share: the error line and its exit status.

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "state/run_error.hpp"

namespace advdiff::run {

// Runs `body`; a failure becomes one line "<program>: error: <what>" on stderr and exit status 1.
template <typename Body>
int run_reporting_errors(const char* program, Body&& body) {
    try {
        body();
        return 0;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: error: out of memory\n", program);
    } catch (const std::exception& e) {  // RunError and anything unforeseen
        std::fprintf(stderr, "%s: error: %s\n", program, e.what());
    }
    return 1;
}

// Command-line misuse: one error line, the usage line, exit status 2.
inline int usage_error(const char* program, const std::string& message, const char* usage) {
    std::fprintf(stderr, "%s: error: %s\n%s\n", program, message.c_str(), usage);
    return 2;
}

}  // namespace advdiff::run
