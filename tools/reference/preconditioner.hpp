#pragma once
// What the Krylov iteration of the reference tool asks of an approximate inverse: z = M^-1 r for
// a fixed linear M (the same r gives the same z, bit for bit, at every call).

#include <span>

namespace advdiff::reference {

class Preconditioner {
public:
    virtual ~Preconditioner() = default;
    // z = M^-1 r; r and z are fields of the grid in node order and do not overlap.
    virtual void apply(std::span<const double> r, std::span<double> z) = 0;
};

}  // namespace advdiff::reference
