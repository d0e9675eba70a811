#pragma once
// Reference-solution files exata1 .. exata11: the exact solution of the discrete system, one value
// per line, listed column by column of the grid (i = 1..Nx outer, j = 1..Ny inner).

#include <cstdint>
#include <span>
#include <string>

namespace advdiff::run {

// "exata" followed by the decimal digits of index.
std::string reference_file_name(int index);

// Reads Nx*Ny values from `path` into `out` (node order k = (j-1)*Nx + i, 0-based storage).
// Each value is the first item of its line (free format, as the input files; D exponents too);
// blank lines are skipped; lines after the last needed value are not read. Throws RunError naming
// the file (and the line) when it is missing, short, or holds something that is not a number.
// Fast: a file of several million lines is read in a fraction of a second.
void read_reference_values(const std::string& path, int Nx, int Ny, std::span<double> out);

// Bytes of the reference solution of an N-node grid.
inline std::uint64_t reference_solution_bytes(std::uint64_t N) { return N * sizeof(double); }

// Writes `values` (node order) in the layout above, 17 significant digits with an E exponent
// ("%.16E"), replacing `path` atomically.
void write_reference_values(const std::string& path, int Nx, int Ny, std::span<const double> values);

}  // namespace advdiff::run
