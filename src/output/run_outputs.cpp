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

std::uint64_t output_bytes(const OutputRequest& request, std::uint64_t nodes) {
    return request.fields_path.empty() ? 0 : fields_vti_bytes(nodes);
}

void write_outputs(const OutputRequest& request, const ProblemState& state, const report::RunResults& results,
                   const SummaryContext& summary) {
    if (!request.summary_path.empty())
        platform::write_file_atomically(request.summary_path, compose_summary(state, results, summary));
    if (!request.fields_path.empty())
        platform::write_file_atomically(request.fields_path, compose_fields_vti(state, results));
}

}  // namespace advdiff::output
