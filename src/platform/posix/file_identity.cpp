#include "platform/file_identity.hpp"

#include <sys/stat.h>

namespace advdiff::platform {

namespace {

bool same_inode(const char* a, const char* b) {
    struct stat sa {}, sb {};
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

struct FolderAndBase {
    std::string folder;  // "." for a bare name
    std::string base;
};

FolderAndBase split(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

bool same_target(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa {}, sb {};
    const bool a_exists = stat(a.c_str(), &sa) == 0, b_exists = stat(b.c_str(), &sb) == 0;
    if (a_exists && b_exists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    if (a_exists != b_exists) return false;
    const FolderAndBase pa = split(a), pb = split(b);
    return pa.base == pb.base && same_inode(pa.folder.c_str(), pb.folder.c_str());
}

}  // namespace advdiff::platform
