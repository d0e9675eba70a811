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
#include <functional>
#include <string>
#include <string_view>

#include "report/run_results.hpp"
#include "state/problem_state.hpp"

namespace advdiff::output {

// Writes the file through `out` in pieces: the XML head, then each array straight from the
// run's fields (the error array a piece at a time).
void write_fields_vti(const ProblemState& state, const report::RunResults& results,
                      const std::function<void(std::string_view)>& out);

// Bytes write_fields_vti holds beside the run's fields, whatever the grid.
std::uint64_t fields_vti_bytes();

}  // namespace advdiff::output
