// The report's layout decisions: opening lines and date, which lines each solver and run mode
// writes, the last-iteration rate, the accuracy measures and the iteration-norm table.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "model/model_problem.hpp"
#include "platform/scratch_folder.hpp"
#include "report/report.hpp"

namespace advdiff::report {
namespace {

using Lines = std::vector<std::string>;

// The report is ISO 8859-1; expected texts are written in UTF-8 here (two-byte letters only).
std::string latin1(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        out += (c >= 0xC0 && i + 1 < utf8.size()) ? static_cast<char>(((c & 0x1F) << 6) | (utf8[++i] & 0x3F))
                                                   : static_cast<char>(c);
    }
    return out;
}

Lines lines_of(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

Lines starting_with(const Lines& lines, std::string_view utf8) {
    Lines found;
    for (const std::string& l : lines)
        if (l.rfind(latin1(utf8), 0) == 0) found.push_back(l);
    return found;
}

std::string padded(std::string name) {
    name.resize(kReportNameWidth, ' ');
    return name;
}

// A finished 3 x 3 run of the 45-degree case whose TNum is the analytic solution;
// norm_history(n) = 2^-n.
ProblemState finished(int run_mode, int solver_kind, int iteration_count) {
    ProblemState s;
    s.settings = {.run_mode = run_mode, .solver_kind = solver_kind, .report_file_name = padded("rep.txt"),
                  .problem_kind = 1, .flow_angle = 45, .peclet_code = 1, .coarsening_p = 2.0, .coarsening_q = 1.0,
                  .inner_iterations = 3, .tolerance = 1e-8, .msi_tolerance = 1e-3, .initial_estimate = 1,
                  .print_history = 1, .history_interval = 5};
    s.Nx = s.Ny = 3;
    s.N = 9;
    s.hx = s.hy = 0.5;
    const model::ModelCase c = model::make_model_case(s.settings);
    for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 3; ++i) s.TNum.push_back(model::analytic_solution(c, (i - 1) * 0.5, (j - 1) * 0.5));
    s.stats.iteration_count = iteration_count;
    for (int n = 0; n <= 30; ++n) s.stats.norm_history.push_back(std::ldexp(1.0, -n));
    return s;
}

Lines report_lines(const ProblemState& s, platform::LocalDateTime when = {2008, 6, 5, 9, 5, 7}) {
    return lines_of(compose_report(s, when));
}

TEST(ReportOpening, NameLineAndDateLineHaveFixedWidths) {
    const std::tuple<platform::LocalDateTime, const char*, const char*> cases[] = {
        {{2008, 6, 5, 14, 30, 45}, "5/6/2008    ", "14:30:45"},
        {{2008, 6, 5, 9, 5, 7}, "5/6/2008    ", "9:5:7   "},
        {{2024, 1, 1, 0, 0, 0}, "1/1/2024    ", "0:0:0   "},
        {{2026, 12, 23, 14, 3, 5}, "23/12/2026  ", "14:3:5  "},
    };
    for (const auto& [when, date, time] : cases) {
        const Lines lines = report_lines(finished(2, 1, 3), when);
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[0], "");
        EXPECT_EQ(lines[1], "Simulacao : " + std::string(15, ' ') + padded("rep.txt"));
        EXPECT_EQ(lines[1].size(), 62u);
        EXPECT_EQ(lines[2], "");
        EXPECT_EQ(lines[3], std::string("Data da simulacao: ") + date + "     as " + time);
    }
}

TEST(ReportSolverBlock, EachSolverWritesItsOwnLines) {
    struct Case {
        int solver_kind;
        const char* name;
        std::size_t estimate_lines, tolerance_lines, rate_lines;
    };
    const Case cases[] = {{1, "Gauss-Seidel", 1, 1, 2}, {2, "MSI", 1, 2, 2}, {3, "ADI", 1, 1, 2},
                          {4, "Elim_Gauss", 0, 0, 0},   {7, "Elim_Gauss", 1, 1, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.solver_kind);
        const Lines lines = report_lines(finished(2, c.solver_kind, 3));
        EXPECT_EQ(starting_with(lines, "Solver"), Lines{std::string("Solver                       : ") + c.name});
        EXPECT_EQ(starting_with(lines, "Estimativa inicial      :   1").size(), c.estimate_lines);
        EXPECT_EQ(starting_with(lines, "             OBS:  Se  1: c.i. TNum = 0").size(), c.estimate_lines);
        EXPECT_EQ(starting_with(lines, "Tolerancia").size(), c.tolerance_lines);
        EXPECT_EQ(starting_with(lines, "Taxa de").size(), c.rate_lines);
    }
    EXPECT_EQ(starting_with(report_lines(finished(2, 2, 3)), "Tolerancia"),
              (Lines{"Tolerancia                   :   1.0000E-08", "Tolerancia para o MSI        :   1.0000E-03"}));
    // Solver 4: the condition line, one empty line, the numerical-model title.
    const Lines direct = report_lines(finished(2, 4, 1));
    const auto condition = std::find_if(direct.begin(), direct.end(),
                                        [](const std::string& l) { return l.rfind("Condicao contorno", 0) == 0; });
    ASSERT_LT(condition + 2, direct.end());
    EXPECT_EQ(condition[1], "");
    EXPECT_EQ(condition[2], latin1("***** Dados do Modelo Numérico ***** "));
}

TEST(ReportStatistics, SingleGridInnerIterationsAndLastIterationRate) {
    // compose_report prints inner_iterations as the state holds it (write_report sets it to 1).
    EXPECT_EQ(starting_with(report_lines(finished(2, 1, 3)), "Iterações internas"),
              Lines{latin1("Iterações internas                                 :             3")});
    EXPECT_EQ(starting_with(report_lines(finished(2, 1, 3)), "Taxa de Convergencia média"),
              Lines{latin1("Taxa de Convergencia média                         :    0.0000E+00")});
    const std::tuple<int, double, const char*> cases[] = {
        {1, 0.5, "*************"}, {0, 0.5, "*************"},  // fewer than two iterations
        {3, 0.125, "   2.0000E+00"},                              // (0.25 - 0.5) / (0.125 - 0.25)
        {3, 0.25, "    -Infinity"},                               // last two norms equal
    };
    for (const auto& [count, last, rate] : cases) {
        ProblemState s = finished(2, 3, count);
        s.stats.norm_history[3] = last;
        EXPECT_EQ(starting_with(report_lines(s), "Taxa de convergência")[0].substr(53), rate) << count;
    }
    ProblemState flat = finished(2, 1, 3);
    flat.stats.norm_history[1] = flat.stats.norm_history[2] = flat.stats.norm_history[3] = 0.25;
    EXPECT_EQ(starting_with(report_lines(flat), "Taxa de convergência")[0].substr(53), "          NaN");
}

TEST(ReportStatistics, EachModeWritesItsBlockWithItsOwnColonColumnAndOrder) {
    // From the heading on: multigrid labels end in column 52 (colon in 53), single-grid ones in 51;
    // the multigrid block lists iterations before the grid, the single-grid block the grid first.
    struct Case {
        int run_mode;
        const char* heading;
        std::size_t colon;
        std::vector<std::string> labels;  // label lines in order, up to the first norm
    };
    const Case cases[] = {
        {1, "*********** Saidas ***********", 52,
         {"Tempo de processamento (s)", "Número de vezes que a simulação foi repetida", "Tempo de cada simulação",
          "Iterações externas", "Iterações internas", "Numero de incognitas da malha em x",
          "Numero de incognitas da malha em y", "Numero de incognitas total da malha",
          "Numero de incognitas da malha mais grossa em x", "Numero de incognitas da malha mais grossa em y",
          "Número de niveis em x e y", "Norma L1 média do erro de it com base na est inic"}},
        {2, "***** Saidas: Singlegrid ************ ", 51,
         {"Tempo de processamento (s)", "Número de vezes que a simulação foi repetida", "Tempo de cada simulação",
          "Numero de incognitas da malha em x", "Numero de incognitas da malha em y",
          "Numero de incognitas total da malha", "Iterações externas", "Iterações internas",
          "Norma L1 média do erro de it com base na est inic"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.run_mode);
        const Lines lines = report_lines(finished(c.run_mode, 1, 3));
        const auto heading = std::find(lines.begin(), lines.end(), c.heading);
        ASSERT_NE(heading, lines.end());
        EXPECT_EQ(heading[-1], "");
        EXPECT_EQ(heading[-2], "");
        std::vector<std::string> labels;
        for (auto l = heading + 1; l != lines.end() && labels.size() < c.labels.size(); ++l) {
            if (l->empty()) continue;
            ASSERT_GT(l->size(), c.colon + 2) << *l;
            EXPECT_EQ(l->substr(c.colon, 2), ": ") << *l;
            std::string label = l->substr(0, c.colon);
            label.erase(label.find_last_not_of(' ') + 1);
            labels.push_back(label);
        }
        std::vector<std::string> expected;
        for (const std::string& label : c.labels) expected.push_back(latin1(label));
        EXPECT_EQ(labels, expected);
    }
}

TEST(ReportHistory, ListsFirstMultiplesOfTheIntervalAndLast) {
    struct Case {
        int iteration_count, interval, print_history, solver_kind;
        std::vector<int> rows;
        bool table;
    };
    const Case cases[] = {
        {23, 5, 1, 1, {1, 5, 10, 15, 20, 23}, true}, {23, -5, 1, 2, {1, 5, 10, 15, 20, 23}, true},
        {23, 0, 1, 3, {1, 23}, true},                {2, 5, 1, 1, {1, 2}, true},
        {1, 3, 1, 1, {1}, true},                     {0, 5, 1, 1, {}, true},
        {23, 5, 0, 1, {}, false},                    {23, 5, 2, 1, {}, false},
        {23, 5, 1, 4, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("count " + std::to_string(c.iteration_count) + " interval " + std::to_string(c.interval));
        ProblemState s = finished(2, c.solver_kind, c.iteration_count);
        s.settings.history_interval = c.interval;
        s.settings.print_history = c.print_history;
        const Lines lines = report_lines(s);
        const auto linf = std::find_if(lines.begin(), lines.end(),
                                       [](const std::string& l) { return l.rfind("Norma infinita", 0) == 0; });
        ASSERT_NE(linf, lines.end());
        Lines expected;
        if (c.table) expected = {"", latin1("  Iteração       Norma")};
        for (int n : c.rows) {
            char row[64];
            std::snprintf(row, sizeof row, "%8d   %.16E", n, std::ldexp(1.0, -n));
            expected.push_back(row);
        }
        EXPECT_EQ(Lines(linf + 1, lines.end()), expected);
    }
    EXPECT_EQ(report_lines(finished(2, 1, 1)).back(), "       1   5.0000000000000000E-01");
}

TEST(ReportFile, WriteReportSetsSingleGridInnerIterationsToOne) {
    const testing::ScratchFolder folder;
    const std::string path = folder / "out.txt";
    ProblemState s = finished(2, 1, 3);
    s.settings.report_file_name = path + "   ";
    write_report(s, false);
    EXPECT_EQ(s.settings.inner_iterations, 1);
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(starting_with(lines_of(text), "Iterações internas"),
              Lines{latin1("Iterações internas                                 :             1")});
}

}  // namespace
}  // namespace advdiff::report
