#include "run/input_description.hpp"

#include <type_traits>
#include <variant>

#include "model/model_problem.hpp"
#include "output/json.hpp"
#include "output/summary.hpp"
#include "run/input_files.hpp"
#include "run/item_scanner.hpp"
#include "state/problem_state.hpp"

namespace advdiff::run {

namespace {

constexpr int kFormatVersion = 1;

const char* type_name(const SettingField& field) {
    return std::visit(
        [](auto f) -> const char* {
            using F = decltype(f);
            if constexpr (std::is_same_v<F, TitleLine>) return "line";
            else if constexpr (std::is_same_v<F, UnusedInteger> || std::is_same_v<F, int SimulationSettings::*>)
                return "integer";
            else if constexpr (std::is_same_v<F, double SimulationSettings::*>) return "real";
            else return "text";
        },
        field);
}

const char* other_values_text(UnlistedCode unlisted) {
    switch (unlisted) {
        case UnlistedCode::refused: return "refused";
        case UnlistedCode::selects_nothing: return "select nothing; refused by --strict";
        case UnlistedCode::rotating_flow: return "the rotating flow; refused by --strict";
        case UnlistedCode::not_coded: break;
    }
    return nullptr;
}

void optional_text(output::JsonWriter& json, const char* text) {
    if (text != nullptr) json.string(text);
    else json.null();
}

void write_setting(output::JsonWriter& json, const InputSetting& row) {
    const bool integer_setting = std::holds_alternative<int SimulationSettings::*>(row.field);
    json.begin_object();
    json.key("position").integer(row.position);
    json.key("name").string(row.name);
    json.key("type").string(type_name(row.field));
    if (std::holds_alternative<std::string SimulationSettings::*>(row.field))
        json.key("max_length").integer(static_cast<std::int64_t>(kReportNameWidth));
    json.key("minimum");
    if (integer_setting && row.at_least != kNoLowerBound) json.integer(row.at_least);
    else json.null();
    json.key("maximum");
    if (integer_setting && row.at_most != kNoUpperBound) json.integer(row.at_most);
    else json.null();
    json.key("values");
    if (row.codes.empty()) {
        json.null();
    } else {
        json.begin_array();
        for (const SettingCode& code : row.codes)
            json.begin_object(true).key("value").integer(code.value).key("meaning").string(code.meaning).end_object();
        json.end_array();
    }
    json.key("other_values");
    optional_text(json, other_values_text(row.unlisted));
    json.key("used_when");
    optional_text(json, row.relevant.text);
    json.key("used").boolean(!std::holds_alternative<UnusedInteger>(row.field));
    json.key("meaning").string(row.meaning);
    json.end_object();
}

void write_file(output::JsonWriter& json, const InputFile& file) {
    json.begin_object();
    json.key("name").string(file.name);
    json.key("read_when").string(file.read_when);
    json.key("settings").begin_array();
    for (const InputSetting& row : file.settings) write_setting(json, row);
    json.end_array();
    json.end_object();
}

// One test case: the entry of a velocity-table row (problem_kind 1), or the rotating flow.
struct TestCase {
    int problem_kind;
    const model::VelocityRow* row;  // null for the rotating flow
};

void write_test_case(output::JsonWriter& json, const TestCase& t) {
    const model::VelocityRow* row = t.row;
    SimulationSettings s;
    s.problem_kind = t.problem_kind;
    if (row != nullptr) {
        s.flow_angle = row->flow_angle;
        s.peclet_code = row->peclet_code;
    }
    const bool rotating = row == nullptr;
    const bool diffusion = !rotating && row->flow_angle == 3;
    const bool bilinear = !rotating && !diffusion;

    json.begin_object();
    json.key("problem_kind").integer(t.problem_kind);
    json.key("flow_angle");
    if (rotating) json.null();
    else json.integer(row->flow_angle);
    json.key("peclet_code");
    if (rotating || row->any_peclet_code) json.null();
    else json.integer(row->peclet_code);
    json.key("name").string(output::test_case_name(s));
    json.key("Pex");
    if (rotating) json.null();
    else json.number(row->Pex);
    json.key("Pey");
    if (rotating) json.null();
    else json.number(row->Pey);
    if (rotating) {
        json.key("velocity").string(
            "u = 8 x^2 (1 - x)^2 (4 y^3 - 2 y), v = -8 (4 x^3 - 6 x^2 + 2 x)(y^4 - y^2): a divergence-free flow "
            "turning about the centre, 0 on the whole boundary");
        json.key("analytic_solution").string("T = x y u v, 0 on the whole boundary");
        json.key("source").string(
            "S = u dT/dx + v dT/dy - gamma (d2T/dx2 + d2T/dy2), evaluated from the exact derivatives of T");
        json.key("boundary_values").string("T = 0 on all four sides");
        json.key("accuracy").string(
            "between first order (upwind advection) and second (central diffusion): the discretisation error "
            "falls to between a half and a quarter when h halves");
    } else if (diffusion) {
        json.key("velocity").string("none: u = v = 0");
        json.key("analytic_solution").string("T = sin(pi x) sinh(pi y) / sinh(pi)");
        json.key("source").string("S = 0");
        json.key("boundary_values").string("T = sin(pi x) on the north side (y = 1), 0 on the other three sides");
        json.key("accuracy").string(
            "second order (central differences): the discretisation error falls to about a quarter when h halves");
    } else {
        json.key("velocity").string("u = Pex, v = Pey, the same at every node");
        json.key("analytic_solution")
            .string(row->Pex * row->Pey == 0.0 ? "T = Pex Pey x y, which is 0 everywhere (Pex Pey = 0)"
                                               : "T = Pex Pey x y");
        json.key("source").string("S = Pex Pey^2 x + Pex^2 Pey y (the same for every gamma)");
        json.key("boundary_values").string(
            "T = 0 on the south (y = 0) and west (x = 0) sides, T = Pex Pey x on the north side (y = 1), "
            "T = Pex Pey y on the east side (x = 1)");
        json.key("accuracy").string(
            "exact: upwind and central differences of a bilinear T are its derivatives, so the discrete solution "
            "equals the analytic one at the nodes, and the report's discretisation error is only what the "
            "iteration leaves (about the tolerance; round-off for Gauss elimination)");
    }
    json.key("scheme_exact").boolean(bilinear);
    json.end_object();
}

}  // namespace

std::string describe_inputs() {
    output::JsonWriter json;
    json.begin_object();
    json.key("format").string("advdiff2d-inputs");
    json.key("format_version").integer(kFormatVersion);
    json.key("program").string("advdiff2d");
    json.key("version").string(ADVDIFF_VERSION);

    json.key("syntax").begin_object();
    json.key("integer").string(kIntegerItemPattern);
    json.key("integer_range").begin_array(true).integer(-2147483647LL - 1).integer(2147483647).end_array();
    json.key("real").string(kRealItemPattern);
    json.key("real_range").string(
        "a real whose magnitude rounds beyond the largest double (1.7976931348623157e308) is refused; "
        "one too small for a double reads as 0");
    json.key("text").string(
        "the first item of the line, ending at a blank, a comma or a slash; or enclosed in apostrophes or "
        "quotation marks, when it may hold blanks and a doubled delimiter stands for one");
    json.key("null").string("a line starting with ',' or '/' leaves the setting 0 (a text empty)");
    json.key("comment").string("the rest of the line after the item is free text");
    json.key("blank_lines").string(
        "blank lines before a value are passed over; the title line of dados1.ent is skipped whatever it holds");
    json.key("items").string(
        "each value is the first item of a line of its own, after any blanks; an item ends at a blank, a tab, "
        "a comma, a slash or the end of the line; exponents are written with E or D (1E-8, 1D-8)");
    json.key("line_ends").string("LF or CR LF");
    json.end_object();

    json.key("files").begin_array();
    for (const InputFile* file : {&kModeFile, &kMultigridFile, &kSingleGridFile}) write_file(json, *file);
    json.end_array();

    json.key("test_cases").begin_array();
    for (const model::VelocityRow& row : model::kVelocityTable) write_test_case(json, {1, &row});
    write_test_case(json, {2, nullptr});
    json.end_array();

    json.key("hierarchy").begin_object();
    json.key("ratio").integer(2);
    json.key("rule").string(
        "level k has 2 (n(k+1) - 1) + 1 nodes in each direction; level 1 is the finest, level level_count the "
        "coarsest (coarsest_nx x coarsest_ny)");
    json.key("finest").string(
        "(coarsest_nx - 1) 2^(level_count - 1) + 1 by (coarsest_ny - 1) 2^(level_count - 1) + 1 nodes");
    json.key("limit").string("every level, and all levels together, at most 2147483647 nodes");
    json.end_object();

    json.key("reference_file").begin_object();
    json.key("name").string("exata<reference_file_index>");
    json.key("layout").string(
        "the exact solution of the finest grid's discrete system, one real per line, column by column: "
        "i = 1..Nx outer, j = 1..Ny inner; lines after the last value the grid needs are not read");
    json.key("made_by").string("advdiff2d-reference, from the same input files");
    json.end_object();

    json.end_object();
    return json.take();
}

}  // namespace advdiff::run
