#include "end_to_end/special_files.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace advdiff::testing {

bool has_fifos() { return true; }

bool permissions_bind() { return geteuid() != 0; }

void make_fifo(const std::string& path) { mkfifo(path.c_str(), 0644); }

void set_permissions(const std::string& path, unsigned mode) { chmod(path.c_str(), static_cast<mode_t>(mode)); }

}  // namespace advdiff::testing
