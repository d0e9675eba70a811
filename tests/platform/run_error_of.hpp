#pragma once
// The error an action stops with, for tests that check messages.

#include <functional>
#include <optional>
#include <string>

#include "state/run_error.hpp"

namespace advdiff::testing {

// The RunError `action` throws, or none when it returns.
inline std::optional<RunError> run_error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const RunError& error) {
        return error;
    }
    return std::nullopt;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace advdiff::testing
