#include "multigrid/hierarchy.hpp"

#include <cmath>
#include <cstdint>
#include <limits>

namespace advdiff::multigrid {

namespace {
constexpr double kIntMax = static_cast<double>(std::numeric_limits<int>::max());
}

std::optional<GridHierarchy> setup_hierarchy(int level_count, int coarsest_nx, int coarsest_ny,
                                             double coarsening_p, std::string* why) {
    auto fail = [&](std::string message) -> std::optional<GridHierarchy> {
        if (why) *why = std::move(message);
        return std::nullopt;
    };
    if (level_count < 1) return fail("there must be at least one level");

    // Built from the coarse end; a count that leaves the 32-bit range stops the construction at
    // once, so an absurd level_count never allocates anything large.
    std::vector<int> nx_coarse_first{coarsest_nx};
    std::vector<int> ny_coarse_first{coarsest_ny};
    for (int k = level_count - 1; k >= 1; --k) {
        const double nx = std::trunc(static_cast<double>(nx_coarse_first.back() - 1) * coarsening_p + 1.0);
        const double ny = std::trunc(static_cast<double>(ny_coarse_first.back() - 1) * coarsening_p + 1.0);
        if (!(std::fabs(nx) <= kIntMax) || !(std::fabs(ny) <= kIntMax))
            return fail("level " + std::to_string(k) + " would have more than 2147483647 nodes in a direction");
        nx_coarse_first.push_back(static_cast<int>(nx));
        ny_coarse_first.push_back(static_cast<int>(ny));
    }

    GridHierarchy h;
    h.level_nx.assign(nx_coarse_first.rbegin(), nx_coarse_first.rend());
    h.level_ny.assign(ny_coarse_first.rbegin(), ny_coarse_first.rend());
    std::int64_t total = 0;
    for (int k = 1; k <= level_count; ++k) {
        const std::int64_t nodes = static_cast<std::int64_t>(h.level_nx[static_cast<std::size_t>(k - 1)]) *
                                   h.level_ny[static_cast<std::size_t>(k - 1)];
        if (nodes > std::numeric_limits<int>::max() || nodes < std::numeric_limits<int>::min())
            return fail("level " + std::to_string(k) + " has " + std::to_string(nodes) +
                        " nodes, more than 2147483647");
        h.level_nodes.push_back(static_cast<int>(nodes));
        total += nodes;
        if (total > std::numeric_limits<int>::max())
            return fail("the levels together have more than 2147483647 nodes");
    }
    return h;
}

}  // namespace advdiff::multigrid
