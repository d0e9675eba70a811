#pragma once
// A fresh folder in the system's temporary folder for one test, removed with everything in it
// afterwards.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace advdiff::testing {

class ScratchFolder {
public:
    ScratchFolder() {
        namespace fs = std::filesystem;
        // create_directory creates or reports an existing folder; a name taken already is tried
        // again with other random letters, as mkdtemp would.
        static std::mt19937_64 random{std::random_device{}()};
        const fs::path temporary = fs::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = "advdiff-platform-";
            for (int k = 0; k < 8; ++k) name += "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
            if (fs::create_directory(temporary / name)) {
                path_ = (temporary / name).string();
                return;
            }
        }
        throw std::runtime_error("no fresh folder in " + temporary.string());
    }
    ~ScratchFolder() {
        // Tests take permissions away from the folder or its entries; give them back first.
        namespace fs = std::filesystem;
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (const auto& entry : fs::directory_iterator(path_, ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Names in the folder (hidden ones included), sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            result.push_back(entry.path().filename().string());
        std::sort(result.begin(), result.end());
        return result;
    }

    void write(const std::string& name, const std::string& content) const {
        std::ofstream(*this / name, std::ios::binary) << content;
    }

    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::string path_;
};

}  // namespace advdiff::testing
