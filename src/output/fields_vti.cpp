#include "output/fields_vti.hpp"

#include <bit>
#include <cstring>
#include <span>
#include <string_view>

#include "output/json.hpp"

namespace advdiff::output {

namespace {

// Everything but the raw values is well under this.
constexpr std::uint64_t kXmlBytes = 2048;
constexpr int kArrayCount = 4;

void append_raw(std::string& out, const void* bytes, std::size_t size) {
    out.append(static_cast<const char*>(bytes), size);
}

}  // namespace

std::uint64_t fields_vti_bytes(std::uint64_t nodes) {
    return kXmlBytes + kArrayCount * (sizeof(std::uint64_t) + nodes * sizeof(double));
}

std::string compose_fields_vti(const ProblemState& state, const report::RunResults& results) {
    const int Nx = state.Nx, Ny = state.Ny;
    const std::size_t n = state.N > 0 ? static_cast<std::size_t>(state.N) : 0;
    const std::uint64_t array_bytes = static_cast<std::uint64_t>(n) * sizeof(double);
    const std::string extent = "0 " + std::to_string(Nx - 1) + " 0 " + std::to_string(Ny - 1) + " 0 0";
    // Shortest round-trip forms: the spacing reads back as the very hx, hy of the run.
    const std::string spacing = json_number(state.hx) + " " + json_number(state.hy) + " 1";

    const std::string_view names[kArrayCount] = {"TNum", "T_Analitica", "error", "reference_solution"};
    std::string out;
    out.reserve(static_cast<std::size_t>(fields_vti_bytes(n)));
    out += "<?xml version=\"1.0\"?>\n";
    out += "<VTKFile type=\"ImageData\" version=\"1.0\" byte_order=\"";
    out += std::endian::native == std::endian::little ? "LittleEndian" : "BigEndian";
    out += "\" header_type=\"UInt64\">\n";
    out += "  <ImageData WholeExtent=\"" + extent + "\" Origin=\"0 0 0\" Spacing=\"" + spacing + "\">\n";
    out += "    <Piece Extent=\"" + extent + "\">\n";
    out += "      <PointData Scalars=\"TNum\">\n";
    for (int a = 0; a < kArrayCount; ++a) {
        const std::uint64_t offset = static_cast<std::uint64_t>(a) * (sizeof(std::uint64_t) + array_bytes);
        out += "        <DataArray type=\"Float64\" Name=\"";
        out += names[a];
        out += "\" NumberOfComponents=\"1\" format=\"appended\" offset=\"" + std::to_string(offset) + "\"/>\n";
    }
    out += "      </PointData>\n";
    out += "      <CellData>\n      </CellData>\n";
    out += "    </Piece>\n";
    out += "  </ImageData>\n";
    out += "  <AppendedData encoding=\"raw\">\n   _";

    const auto field = [&](std::span<const double> values) {
        append_raw(out, &array_bytes, sizeof array_bytes);
        append_raw(out, values.data(), static_cast<std::size_t>(array_bytes));
    };
    field(std::span(state.TNum).first(n));
    field(std::span(results.analytic).first(n));
    // The error as the report forms it: T_Analitica - TNum at every node, one subtraction each.
    append_raw(out, &array_bytes, sizeof array_bytes);
    for (std::size_t k = 0; k < n; ++k) {
        const double error = results.analytic[k] - state.TNum[k];
        append_raw(out, &error, sizeof error);
    }
    field(std::span(state.reference_solution).first(n));

    out += "\n  </AppendedData>\n</VTKFile>\n";
    return out;
}

}  // namespace advdiff::output
