#include "report/report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/editor.hpp"
#include "platform/text_file.hpp"
#include "report/field_format.hpp"

namespace advdiff::report {

namespace {

// Report lines are ISO 8859-1; the fixed texts are written here in UTF-8 and converted.
class ReportText {
public:
    // A line made of fixed text (UTF-8) and already formatted fields (ASCII).
    ReportText& line(std::string_view utf8 = {}, std::string_view field = {}) {
        bytes_ += platform::utf8_to_latin1(utf8);
        bytes_ += field;
        bytes_ += '\n';
        return *this;
    }
    // A label (UTF-8) blank-padded to `width` characters, ": ", then the field.
    ReportText& labelled(std::string_view utf8, std::size_t width, std::string_view field) {
        std::string label = platform::utf8_to_latin1(utf8);
        label.resize(std::max(width, label.size()), ' ');
        bytes_ += label;
        bytes_ += ": ";
        bytes_ += field;
        bytes_ += '\n';
        return *this;
    }
    // A line whose text is already in ISO 8859-1.
    ReportText& raw_line(std::string_view latin1) {
        bytes_ += latin1;
        bytes_ += '\n';
        return *this;
    }
    std::string take() { return std::move(bytes_); }

private:
    std::string bytes_;
};

std::string blank_padded(std::string text, std::size_t width) {
    if (text.size() > width) text.resize(width);
    text.append(width - text.size(), ' ');
    return text;
}

// Date as day/month/year and time as hour:minute:second, each number without leading zeros;
// the year and the second are 4-character texts (blank-padded), the results 12 and 8 characters.
std::string simulation_date(const platform::LocalDateTime& t) {
    return blank_padded(std::to_string(t.day) + "/" + std::to_string(t.month) + "/" +
                            blank_padded(std::to_string(t.year), 4),
                        12);
}

std::string simulation_time(const platform::LocalDateTime& t) {
    return blank_padded(std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" +
                            blank_padded(std::to_string(t.second), 4),
                        8);
}

std::string solver_name(int solver_kind) {
    switch (solver_kind) {
        case kGaussSeidel: return "Gauss-Seidel";
        case kMsi: return "MSI";
        case kAdi: return "ADI";
        default: return "Elim_Gauss";
    }
}

std::string e13(double v) { return format_e(v, 13, 4); }
std::string i13(long long v) { return format_i(v, 13); }
std::string f13(double v) { return format_f(v, 13, 6); }
std::string e25(double v) { return format_e(v, 25, 16); }

// Opening lines: the simulation's name (the 35 characters of the name, trailing blanks included, in an
// A50 field) and the date and time it ended.
void opening_lines(ReportText& r, const std::string& report_file_name, const platform::LocalDateTime& when) {
    r.line();
    r.raw_line("Simulacao : " + format_a(blank_padded(report_file_name, kReportNameWidth), 50));
    r.line();
    r.line("Data da simulacao: " + simulation_date(when) + "     as " + simulation_time(when));
}

// The mathematical model: the same texts whatever case was run.
void model_lines(ReportText& r) {
    r.line().line();
    r.line("***** Dados do Modelo Matemático ***** ");
    r.line(" ");
    r.line("Equacao de Advecção Difusão 2D : Pex * d(T)/dx + Pey * d(T)/dy = d^2(T)/dx^2 + d^2(T)/dy^2 + S");
    r.line(" ");
    r.line("Termo Fonte para a Equacao de Advecção Difusão 2D : S = "
           "pi*((sen(pi*x)*pi-Pex*cos(pi*x))*(exp(Pex*x)-1)-2*Pex*cos(pi*x))*(exp(Pey*y)-1)/((exp(Pex)-1)*(exp(Pey)-1))");
    r.line(" ");
}

// Boundary condition, initial estimate (iterative solvers only) and numerical model.
void numerical_model_lines(ReportText& r, bool iterative, int initial_estimate) {
    r.line("Condicao contorno       :TS(x,1)=0, TW(1,y)=0, TE(Nx,y)=0 e TN(x,Ny)=sen(pi*x)*(exp(Pex*x)-1)/(exp(Pex)-1)");
    r.line();
    if (iterative) {
        r.line("Estimativa inicial      : ", format_i(initial_estimate, 3));
        r.line("             OBS:  Se  1: c.i. TNum = 0");
        r.line("                       2: c.i. TNum = ?? ");
        r.line();
    }
    r.line("***** Dados do Modelo Numérico ***** ");
    r.line("Método                       : MDF ");
}

// Discretisation, solver and its tolerances. The two tests are independent: an unlisted
// solver code prints "Elim_Gauss" and still the tolerance.
void solver_lines(ReportText& r, int solver_kind, double tolerance, double msi_tolerance) {
    r.line("Aproximação                  : UDS/CDS (Advecção/Difusão)");
    r.line("Solver                       : " + solver_name(solver_kind));
    if (solver_kind != kElimGauss) r.line("Tolerancia                   :", e13(tolerance));
    if (solver_kind == kMsi) r.line("Tolerancia para o MSI        :", e13(msi_tolerance));
}

// The multigrid data.
void multigrid_lines(ReportText& r, double coarsening_p, double coarsening_q) {
    r.line().line();
    r.line("***** Dados do Multigrid *****");
    r.line("Algoritmo                    :  FAS (algor. não-linear)");
    r.line("Ciclo                        :                   V");
    r.line("Razão de engrossamento : p/q :      ", format_f(coarsening_p, 9, 1) + "/" + format_f(coarsening_q, 4, 1));
    r.line("Restrição                    :             Injeção");
    r.line("Prolongação                  : Interpol. Bi-linear");
}

// How the run statistics of a mode are laid out: the two modes print the same lines under their
// own heading, with the colon one column apart; the multigrid block lists the iterations before
// the grid and adds the coarsest grid and the level count, the single-grid block lists the grid
// first, with the node count formed here as Nx * Ny.
struct StatisticsLayout {
    std::string_view heading;
    std::size_t label_width;  // the colon follows the label blank-padded to this width
    bool multigrid;
};

constexpr StatisticsLayout kMultigridStatistics{"*********** Saidas ***********", 52, true};
constexpr StatisticsLayout kSingleGridStatistics{"***** Saidas: Singlegrid ************ ", 51, false};

// The run statistics ("Saidas") of either mode.
void run_statistics_lines(ReportText& r, const StatisticsLayout& layout, const ProblemState& state,
                          const RunResults& results) {
    const SimulationSettings& s = state.settings;
    const RunStatistics& stats = state.stats;
    auto row = [&](std::string_view label, std::string_view field) { r.labelled(label, layout.label_width, field); };
    auto grid_rows = [&] {
        row("Numero de incognitas da malha em x", i13(state.Nx));
        row("Numero de incognitas da malha em y", i13(state.Ny));
        row("Numero de incognitas total da malha",
            i13(layout.multigrid ? state.N : static_cast<long long>(state.Nx) * state.Ny));
    };
    auto iteration_rows = [&] {
        row("Iterações externas", i13(stats.iteration_count));
        row("Iterações internas", i13(s.inner_iterations));
    };

    r.line().line();
    r.line(layout.heading);
    row("Tempo de processamento (s)", f13(stats.elapsed_seconds));
    row("Número de vezes que a simulação foi repetida", i13(stats.repetition_count));
    row("Tempo de cada simulação", f13(stats.seconds_per_run));
    r.line();
    if (layout.multigrid) iteration_rows();
    else grid_rows();
    r.line();
    if (layout.multigrid) grid_rows();
    else iteration_rows();
    r.line();
    if (layout.multigrid) {
        row("Numero de incognitas da malha mais grossa em x", i13(s.coarsest_nx));
        row("Numero de incognitas da malha mais grossa em y", i13(s.coarsest_ny));
        r.line();
        row("Número de niveis em x e y", i13(s.level_count));
        r.line();
    }
    row("Norma L1 média do erro de it com base na est inic", e13(results.initial_norm));
    row("Convergiu com a norma L1 média do erro de iteração", e13(results.final_norm));
    if (results.rate_printed) {
        // With fewer than two earlier entries there is no rate: the field shows asterisks.
        row("Taxa de convergência na ultima iteracao",
            results.last_iteration_rate ? e13(*results.last_iteration_rate) : std::string(13, '*'));
        row("Taxa de Convergencia média", e13(stats.average_convergence_rate));
    }
}

// Accuracy of TNum against the analytic solution (the colon after 51 columns, as in the
// single-grid statistics).
void accuracy_lines(ReportText& r, const RunResults& results) {
    r.line();
    r.labelled("Erro de discretização na malha mais fina", 51, e25(std::fabs(results.discretisation_error)));
    r.line();
    r.labelled("Norma infinita (T_Analitica - T_Numerica)", 51, e25(results.linf_error));
}

void history_lines(ReportText& r, const SimulationSettings& s, const RunStatistics& stats) {
    r.line();
    r.line("  Iteração       Norma");
    for (int n = 1; n <= stats.iteration_count; ++n)
        if (history_lists(s, n, stats.iteration_count))
            r.line(format_i(n, 8) + e25(stats.norm_history[static_cast<std::size_t>(n)]));
}

}  // namespace

std::string report_path(const SimulationSettings& settings) {
    std::string name = settings.report_file_name;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

std::string compose_report(const ProblemState& state, const platform::LocalDateTime& when) {
    return compose_report(state, derive_run_results(state), when);
}

std::string compose_report(const ProblemState& state, const RunResults& results,
                           const platform::LocalDateTime& when) {
    const SimulationSettings& s = state.settings;
    const bool iterative = s.solver_kind != kElimGauss;
    ReportText r;
    opening_lines(r, s.report_file_name, when);
    model_lines(r);
    numerical_model_lines(r, iterative, s.initial_estimate);
    solver_lines(r, s.solver_kind, s.tolerance, s.msi_tolerance);
    if (s.run_mode == kMultigrid) {
        multigrid_lines(r, s.coarsening_p, s.coarsening_q);
        run_statistics_lines(r, kMultigridStatistics, state, results);
    } else if (s.run_mode == kSingleGrid) {
        run_statistics_lines(r, kSingleGridStatistics, state, results);
    }
    accuracy_lines(r, results);
    if (iterative && s.print_history == 1) history_lines(r, s, state.stats);
    return r.take();
}

void write_report(ProblemState& state, bool edit) { write_report(state, derive_run_results(state), edit); }

void write_report(ProblemState& state, const RunResults& results, bool edit) {
    if (state.settings.run_mode == kSingleGrid) state.settings.inner_iterations = 1;
    const platform::LocalDateTime when = platform::local_date_time();
    const std::string path = report_path(state.settings);
    platform::write_file_atomically(path, compose_report(state, results, when));
    platform::open_in_editor(path, edit);
}

}  // namespace advdiff::report
