#pragma once
// Whether two file names name the same file, however each is spelled.

#include <string>

namespace advdiff::platform {

// True when `a` and `b` are (or, once created, would be) the same file: both exist and share
// device and inode (Windows: volume serial number and file index), or they name the same entry of
// the same folder ("rep.txt", "./rep.txt", "sub/../rep.txt"; on Windows ignoring case, as it
// looks names up). Names whose folder cannot be examined count as different.
bool same_target(const std::string& a, const std::string& b);

}  // namespace advdiff::platform
