#include "report/report.hpp"

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

// The rate of the last iteration (run_results.hpp); with fewer than two earlier entries the field
// shows asterisks.
std::string last_iteration_rate(const RunResults& results) {
    return results.last_iteration_rate ? e13(*results.last_iteration_rate) : std::string(13, '*');
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
    const RunStatistics& stats = state.stats;
    const bool direct = s.solver_kind == kElimGauss;
    ReportText r;

    // Opening lines.
    r.line();
    r.raw_line("Simulacao : " + format_a(blank_padded(s.report_file_name, kReportNameWidth), 50));
    r.line();
    r.line("Data da simulacao: " + simulation_date(when) + "     as " + simulation_time(when));

    // Mathematical model (fixed texts).
    r.line().line();
    r.line("***** Dados do Modelo Matemático ***** ");
    r.line(" ");
    r.line("Equacao de Advecção Difusão 2D : Pex * d(T)/dx + Pey * d(T)/dy = d^2(T)/dx^2 + d^2(T)/dy^2 + S");
    r.line(" ");
    r.line("Termo Fonte para a Equacao de Advecção Difusão 2D : S = "
           "pi*((sen(pi*x)*pi-Pex*cos(pi*x))*(exp(Pex*x)-1)-2*Pex*cos(pi*x))*(exp(Pey*y)-1)/((exp(Pex)-1)*(exp(Pey)-1))");
    r.line(" ");

    // Boundary condition, initial estimate, numerical model.
    r.line("Condicao contorno       :TS(x,1)=0, TW(1,y)=0, TE(Nx,y)=0 e TN(x,Ny)=sen(pi*x)*(exp(Pex*x)-1)/(exp(Pex)-1)");
    r.line();
    if (!direct) {
        r.line("Estimativa inicial      : ", format_i(s.initial_estimate, 3));
        r.line("             OBS:  Se  1: c.i. TNum = 0");
        r.line("                       2: c.i. TNum = ?? ");
        r.line();
    }
    r.line("***** Dados do Modelo Numérico ***** ");
    r.line("Método                       : MDF ");

    // Discretisation and solver.
    r.line("Aproximação                  : UDS/CDS (Advecção/Difusão)");
    r.line("Solver                       : " + solver_name(s.solver_kind));
    if (!direct) r.line("Tolerancia                   :", e13(s.tolerance));
    if (s.solver_kind == kMsi) r.line("Tolerancia para o MSI        :", e13(s.msi_tolerance));

    const double first_norm = results.initial_norm;
    const double final_norm = results.final_norm;
    if (s.run_mode == kMultigrid) {
        r.line().line();
        r.line("***** Dados do Multigrid *****");
        r.line("Algoritmo                    :  FAS (algor. não-linear)");
        r.line("Ciclo                        :                   V");
        r.line("Razão de engrossamento : p/q :      ",
               format_f(s.coarsening_p, 9, 1) + "/" + format_f(s.coarsening_q, 4, 1));
        r.line("Restrição                    :             Injeção");
        r.line("Prolongação                  : Interpol. Bi-linear");
        r.line().line();
        r.line("*********** Saidas ***********");
        r.line("Tempo de processamento (s)                          : ", f13(stats.elapsed_seconds));
        r.line("Número de vezes que a simulação foi repetida        : ", i13(stats.repetition_count));
        r.line("Tempo de cada simulação                             : ", f13(stats.seconds_per_run));
        r.line();
        r.line("Iterações externas                                  : ", i13(stats.iteration_count));
        r.line("Iterações internas                                  : ", i13(s.inner_iterations));
        r.line();
        r.line("Numero de incognitas da malha em x                  : ", i13(state.Nx));
        r.line("Numero de incognitas da malha em y                  : ", i13(state.Ny));
        r.line("Numero de incognitas total da malha                 : ", i13(state.N));
        r.line();
        r.line("Numero de incognitas da malha mais grossa em x      : ", i13(s.coarsest_nx));
        r.line("Numero de incognitas da malha mais grossa em y      : ", i13(s.coarsest_ny));
        r.line();
        r.line("Número de niveis em x e y                           : ", i13(s.level_count));
        r.line();
        r.line("Norma L1 média do erro de it com base na est inic   : ", e13(first_norm));
        r.line("Convergiu com a norma L1 média do erro de iteração  : ", e13(final_norm));
    } else if (s.run_mode == kSingleGrid) {
        r.line().line();
        r.line("***** Saidas: Singlegrid ************ ");
        r.line("Tempo de processamento (s)                         : ", f13(stats.elapsed_seconds));
        r.line("Número de vezes que a simulação foi repetida       : ", i13(stats.repetition_count));
        r.line("Tempo de cada simulação                            : ", f13(stats.seconds_per_run));
        r.line();
        r.line("Numero de incognitas da malha em x                 : ", i13(state.Nx));
        r.line("Numero de incognitas da malha em y                 : ", i13(state.Ny));
        r.line("Numero de incognitas total da malha                : ",
               i13(static_cast<long long>(state.Nx) * state.Ny));
        r.line();
        r.line("Iterações externas                                 : ", i13(stats.iteration_count));
        r.line("Iterações internas                                 : ", i13(s.inner_iterations));
        r.line();
        r.line("Norma L1 média do erro de it com base na est inic  : ", e13(first_norm));
        r.line("Convergiu com a norma L1 média do erro de iteração : ", e13(final_norm));
        if (!direct) {
            r.line("Taxa de convergência na ultima iteracao            : ", last_iteration_rate(results));
            r.line("Taxa de Convergencia média                         : ", e13(stats.average_convergence_rate));
        }
    }

    // Accuracy.
    r.line();
    r.line("Erro de discretização na malha mais fina           : ",
           format_e(std::fabs(results.discretisation_error), 25, 16));
    r.line();
    r.line("Norma infinita (T_Analitica - T_Numerica)          : ", format_e(results.linf_error, 25, 16));

    // Iteration-norm table: iteration 1, every multiple of the interval (a negative interval acts
    // as its absolute value; 0 lists only the first and the last), and the last iteration.
    if (!direct && s.print_history == 1) {
        r.line();
        r.line("  Iteração       Norma");
        const long long interval = std::llabs(static_cast<long long>(s.history_interval));
        for (int n = 1; n <= stats.iteration_count; ++n) {
            const bool listed = n == 1 || n == stats.iteration_count || (interval != 0 && n % interval == 0);
            if (listed)
                r.line(format_i(n, 8) + format_e(stats.norm_history[static_cast<std::size_t>(n)], 25, 16));
        }
    }
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
