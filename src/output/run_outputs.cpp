#include "output/run_outputs.hpp"

#include "output/fields_vti.hpp"
#include "output/summary.hpp"
#include "platform/file_identity.hpp"
#include "platform/text_file.hpp"
#include "state/run_error.hpp"

namespace advdiff::output {

void check_output_targets(const OutputRequest& request, const std::vector<platform::ProtectedFile>& run_files) {
    struct Target {
        const char* option;
        const std::string& path;
    };
    const Target targets[] = {{"--summary", request.summary_path}, {"--fields", request.fields_path}};
    for (const Target& t : targets) {
        if (t.path.empty()) continue;
        platform::check_output_target(t.path, run_files, t.option, 0, "");
    }
    if (!request.summary_path.empty() && !request.fields_path.empty() &&
        platform::same_target(request.summary_path, request.fields_path))
        throw RunError("--fields", 0, "", quoted(request.fields_path) + " is the --summary file; name another file");
}

std::uint64_t output_bytes(const OutputRequest& request) {
    std::uint64_t bytes = 0;
    if (!request.summary_path.empty()) bytes += summary_bytes();
    if (!request.fields_path.empty()) bytes += fields_vti_bytes();
    return bytes;
}

namespace {

// Writes the file `path` atomically from what `write` hands its sink, piece by piece.
template <typename Write>
void write_streamed(const std::string& path, Write&& write) {
    platform::AtomicFileWriter file(path);
    write([&](std::string_view piece) { file.write(piece); });
    file.commit();
}

}  // namespace

void write_outputs(const OutputRequest& request, const ProblemState& state, const report::RunResults& results,
                   const SummaryContext& summary) {
    if (!request.summary_path.empty())
        write_streamed(request.summary_path, [&](const auto& out) { write_summary(state, results, summary, out); });
    if (!request.fields_path.empty())
        write_streamed(request.fields_path, [&](const auto& out) { write_fields_vti(state, results, out); });
}

}  // namespace advdiff::output
