#pragma once
// The golden cases of tests/end_to_end/golden/ as inputs for other end-to-end tests: each folder
// holds the input files, the reference file and the expected report (expected-<report name>).

#include <filesystem>
#include <string>

namespace advdiff::testing {

// Copies the input files and the reference file of golden case `name` (not its expected report)
// into `folder`.
inline void copy_golden_inputs(const std::string& name, const std::string& folder) {
    namespace fs = std::filesystem;
    for (const auto& file : fs::directory_iterator(fs::path(ADVDIFF_SOURCE_DIR) / "tests/end_to_end/golden" / name)) {
        const std::string base = file.path().filename().string();
        if (base.rfind("expected-", 0) != 0) fs::copy_file(file.path(), fs::path(folder) / base);
    }
}

}  // namespace advdiff::testing
