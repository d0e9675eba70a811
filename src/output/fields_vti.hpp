#pragma once
// The fields file: the finest grid's fields as VTK XML ImageData (.vti), which VTK readers and the
// visualisation tools built on them open directly.
//
// Origin 0 0 0, spacing hx hy 1, Nx x Ny x 1 points, x fastest (the node order of the fields).
// Point data, Float64: TNum (the numerical solution), T_Analitica (the analytic solution the
// report's accuracy uses), error (T_Analitica - TNum) and reference_solution (the reference file's
// values). The values are stored raw in an appended data block (little- or big-endian as the
// machine is, stated in the header), each array after a UInt64 byte count: full double precision,
// bit for bit.

#include <cstdint>
#include <string>

#include "report/run_results.hpp"
#include "state/problem_state.hpp"

namespace advdiff::output {

std::string compose_fields_vti(const ProblemState& state, const report::RunResults& results);

// Bytes the composed file takes for a grid of `nodes` nodes (held in memory while it is written).
std::uint64_t fields_vti_bytes(std::uint64_t nodes);

}  // namespace advdiff::output
