#include "output/fields_vti.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "output/json.hpp"

namespace advdiff::output {

namespace {

constexpr int kArrayCount = 4;
// The error array is formed in pieces of this many values.
constexpr std::size_t kErrorPiece = 8192;

std::string_view raw(const void* bytes, std::size_t size) { return {static_cast<const char*>(bytes), size}; }

}  // namespace

std::uint64_t fields_vti_bytes() { return kErrorPiece * sizeof(double) + 4096; }

void write_fields_vti(const ProblemState& state, const report::RunResults& results,
                      const std::function<void(std::string_view)>& out) {
    const int Nx = state.Nx, Ny = state.Ny;
    const std::size_t n = state.N > 0 ? static_cast<std::size_t>(state.N) : 0;
    const std::uint64_t array_bytes = static_cast<std::uint64_t>(n) * sizeof(double);
    const std::string extent = "0 " + std::to_string(Nx - 1) + " 0 " + std::to_string(Ny - 1) + " 0 0";
    // Shortest round-trip forms: the spacing reads back as the very hx, hy of the run.
    const std::string spacing = json_number(state.hx) + " " + json_number(state.hy) + " 1";

    const std::string_view names[kArrayCount] = {"TNum", "T_Analitica", "error", "reference_solution"};
    std::string head;
    head += "<?xml version=\"1.0\"?>\n";
    head += "<VTKFile type=\"ImageData\" version=\"1.0\" byte_order=\"";
    head += std::endian::native == std::endian::little ? "LittleEndian" : "BigEndian";
    head += "\" header_type=\"UInt64\">\n";
    head += "  <ImageData WholeExtent=\"" + extent + "\" Origin=\"0 0 0\" Spacing=\"" + spacing + "\">\n";
    head += "    <Piece Extent=\"" + extent + "\">\n";
    head += "      <PointData Scalars=\"TNum\">\n";
    for (int a = 0; a < kArrayCount; ++a) {
        const std::uint64_t offset = static_cast<std::uint64_t>(a) * (sizeof(std::uint64_t) + array_bytes);
        head += "        <DataArray type=\"Float64\" Name=\"";
        head += names[a];
        head += "\" NumberOfComponents=\"1\" format=\"appended\" offset=\"" + std::to_string(offset) + "\"/>\n";
    }
    head += "      </PointData>\n";
    head += "      <CellData>\n      </CellData>\n";
    head += "    </Piece>\n";
    head += "  </ImageData>\n";
    head += "  <AppendedData encoding=\"raw\">\n   _";
    out(head);

    const auto field = [&](std::span<const double> values) {
        out(raw(&array_bytes, sizeof array_bytes));
        out(raw(values.data(), static_cast<std::size_t>(array_bytes)));
    };
    field(std::span(state.TNum).first(n));
    field(std::span(results.analytic).first(n));
    // The error as the report forms it: T_Analitica - TNum at every node, one subtraction each.
    out(raw(&array_bytes, sizeof array_bytes));
    std::vector<double> error(std::min(kErrorPiece, n));
    for (std::size_t first = 0; first < n; first += kErrorPiece) {
        const std::size_t count = std::min(kErrorPiece, n - first);
        for (std::size_t k = 0; k < count; ++k) error[k] = results.analytic[first + k] - state.TNum[first + k];
        out(raw(error.data(), count * sizeof(double)));
    }
    field(std::span(state.reference_solution).first(n));

    out("\n  </AppendedData>\n</VTKFile>\n");
}

}  // namespace advdiff::output
