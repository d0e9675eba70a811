#pragma once
// What the Krylov iteration of the reference tool asks of an approximate inverse: z ~ A^-1 r,
// deterministic (the same r gives the same z, bit for bit, at every call). z is kept in single
// precision: it only has to point the iteration the right way, and the flexible GMRES that takes
// it accounts for the very values it holds.

#include <span>

namespace advdiff::reference {

class Preconditioner {
public:
    virtual ~Preconditioner() = default;
    // z ~ A^-1 r; r and z are fields of the grid in node order.
    virtual void apply(std::span<const double> r, std::span<float> z) = 0;
};

}  // namespace advdiff::reference
