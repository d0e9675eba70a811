"""The tables of a sweep: results.csv (one row per run), history.csv, rates and summary.md.

Every table is written to a temporary file beside its target and renamed over it, so a
reader (or an interruption) only ever sees a whole table.
"""

import csv
import io
import math
import os
import tempfile

from . import study as study_mod
from . import summary as summary_mod
from .fit import power_fit

# Settings of the run, then the numbers of its summary, then derived values.
SETTING_COLUMNS = ("run", "group", "folder", "status", "error", "converged", "stop_reason",
                   "mode", "solver", "solver_name", "case", "test_case", "scheme_exact",
                   "problem_kind",
                   "flow_angle", "peclet_code", "gamma", "grid", "levels", "coarsest_nx",
                   "coarsest_ny", "inner_setting", "tolerance", "msi_tolerance",
                   "initial_estimate", "max_iterations", "window")
REPORT_COLUMNS = ("seconds_per_run", "repetitions", "elapsed_seconds", "outer_iterations",
                  "inner_iterations", "nx", "ny", "unknowns", "initial_norm", "final_norm",
                  "last_rate", "last_reduction_factor", "discretisation_error", "linf_error")
DERIVED_COLUMNS = ("mean_seconds", "h", "reduction_factor", "history_rows", "wall_seconds",
                   "worker", "host", "nthreads")
COLUMNS = SETTING_COLUMNS + REPORT_COLUMNS + DERIVED_COLUMNS

# Settings that separate one series of runs (a line in a plot) from another; the grid is
# what varies along a series.
SERIES_COLUMNS = ("case", "mode", "solver", "coarsest_nx", "coarsest_ny", "inner_setting",
                  "tolerance", "msi_tolerance", "initial_estimate", "gamma", "max_iterations")

# An error this close to the iteration error the stopping test leaves (the tolerance), or to
# round-off, says nothing about the discretisation: its order is not computed. Neither is it
# for a case the scheme solves exactly, whose error is the iteration error alone.
ROUNDOFF_FLOOR = 1e-13
NOISE_FACTOR = 100.0
EXACT, AT_TOLERANCE, AT_ROUNDOFF, NOT_FINITE = ("exact for this case", "at the tolerance",
                                                "at round-off", "not finite")


def make_row(run, folder, window, result, values=None):
    """A row from a planned run, the task's result and the values of its summary."""
    row = dict.fromkeys(COLUMNS)
    solver = run.solver
    case = run.test_case()
    row.update(run=run.index, group=run.group, folder=folder, status=result["status"],
               error=result.get("error") or "", mode=run.mode, solver=solver,
               solver_name=study_mod.SOLVER_NAMES.get(solver, str(solver)),
               case=run.case_label(), test_case=case.name if case else None,
               scheme_exact=case.scheme_exact if case else None, problem_kind=run.case[0],
               flow_angle=run.case[1], peclet_code=run.case[2], gamma=run.value("gamma"),
               grid=run.grid_text(), nx=run.nx, ny=run.ny, unknowns=run.nx * run.ny,
               tolerance=run.value("tolerance"),
               initial_estimate=run.value("initial_estimate"),
               max_iterations=run.value("max_iterations"), window=window,
               wall_seconds=round(result.get("wall_seconds") or 0.0, 3),
               worker=result.get("worker"), host=result.get("host"),
               nthreads=result.get("nthreads"))
    if solver == 2:
        row["msi_tolerance"] = run.value("msi_tolerance")
    if run.mode == 1:
        row.update(levels=run.levels, coarsest_nx=run.coarsest[0], coarsest_ny=run.coarsest[1],
                   inner_setting=run.value("inner_iterations"))
    if values is not None:
        for column in REPORT_COLUMNS + ("solver_name", "test_case", "converged",
                                        "stop_reason", "levels"):
            if values.get(column) is not None:
                row[column] = values[column]
        row["history_rows"] = len(values["history"])
        row["mean_seconds"] = mean_seconds(values)
        row["reduction_factor"] = reduction_factor(values)
    if row["nx"]:
        row["h"] = 1.0 / (row["nx"] - 1) if row["nx"] > 1 else None
    return row


def mean_seconds(values):
    """elapsed / repetitions, the time per simulation the plots and fits use."""
    elapsed, reps = values.get("elapsed_seconds"), values.get("repetitions")
    if elapsed is None or not reps or reps <= 0 or not math.isfinite(elapsed):
        return values.get("seconds_per_run")
    return elapsed / reps


def reduction_factor(values):
    """Mean factor by which one iteration shrinks the iteration-error norm."""
    n0, nk, k = values.get("initial_norm"), values.get("final_norm"), values.get("outer_iterations")
    if not k or k <= 0 or n0 is None or nk is None or not n0 > 0 or not nk > 0:
        return None
    if not (math.isfinite(n0) and math.isfinite(nk)):
        return None
    return (nk / n0) ** (1.0 / k)


def fit_ok(row):
    """A completed run whose iteration converged: the only kind the fits use."""
    return row["status"] == "ok" and row["converged"] is True


def _cell(value):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        if math.isnan(value):
            return "NaN"
        if math.isinf(value):
            return "Infinity" if value > 0 else "-Infinity"
        return repr(value)
    return str(value)


def write_atomic(path, text):
    """Writes a whole file under its name: a temporary file beside it, then a rename."""
    folder = os.path.dirname(os.path.abspath(path))
    fd, part = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".")
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        os.chmod(part, 0o644)
        os.replace(part, path)
    except BaseException:
        try:
            os.unlink(part)
        except OSError:
            pass
        raise


def _csv_text(header, rows):
    buf = io.StringIO()
    w = csv.writer(buf)
    w.writerow(header)
    w.writerows(rows)
    return buf.getvalue()


def write_csv(path, rows):
    write_atomic(path, _csv_text(COLUMNS, ([_cell(row[c]) for c in COLUMNS] for row in rows)))


def write_history_csv(path, histories):
    """histories: run number -> [norm after iteration 0, 1, ...]."""
    write_atomic(path, _csv_text(("run", "iteration", "norm"),
                                 ((run, i, _cell(norm)) for run in sorted(histories)
                                  for i, norm in enumerate(histories[run]))))


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


# ---------------------------------------------------------------------------------------------
# Series of runs.

def varying_series_columns(rows):
    """The series settings that vary within a run mode (mode and solver always name a
    series; settings that differ only because multigrid and single-grid files differ, such
    as the iteration bound, do not)."""
    out = []
    for c in SERIES_COLUMNS:
        if c in ("mode", "solver"):
            out.append(c)
            continue
        for mode in {row["mode"] for row in rows}:
            if len({row[c] for row in rows if row["mode"] == mode} - {None}) > 1:
                out.append(c)
                break
    return out


def setting_text(row, column, columns=()):
    """A setting of a series in words, with its unit where it has one."""
    v = row[column]
    if column == "mode":
        return study_mod.MODE_WORDS.get(v, f"run mode {v}")
    if column == "solver":
        return row["solver_name"]
    if column == "case":
        return row["test_case"] or str(v)
    if v is None:
        return None
    number = f"{v:g}" if isinstance(v, float) else str(v)
    if column == "coarsest_nx":
        return f"coarsest grid {v} x {row['coarsest_ny']} nodes"
    if column == "coarsest_ny":
        return None if "coarsest_nx" in columns else f"coarsest grid {row['coarsest_nx']} x {v} nodes"
    if column == "inner_setting":
        return f"{v} inner sweep{'s' if v != 1 else ''} per level"
    if column == "max_iterations":
        return f"at most {v} {'V-cycles' if row['mode'] == 1 else 'iterations'}"
    words = {"tolerance": "tolerance", "msi_tolerance": "MSI tolerance",
             "initial_estimate": "initial estimate", "gamma": "gamma"}
    return f"{words.get(column, column)} {number}"


def series_label(row, columns):
    """'multigrid Gauss-Seidel, 2 inner sweeps per level, tolerance 1e-08': the method, then
    the other settings that set the series apart."""
    method = " ".join(t for t in (setting_text(row, c, columns) for c in columns
                                  if c in ("mode", "solver")) if t)
    rest = [t for t in (setting_text(row, c, columns) for c in columns
                        if c not in ("mode", "solver")) if t]
    return ", ".join([method] + rest) if method else ", ".join(rest)


def group_series(rows):
    """[(label, rows sorted by unknowns)] in the order the series first appear."""
    columns = varying_series_columns(rows) if rows else []
    series = {}
    for row in rows:
        key = tuple(row[c] for c in columns)
        series.setdefault(key, []).append(row)
    return [(series_label(members[0], columns),
             sorted(members, key=lambda r: r["unknowns"] or 0))
            for members in series.values()]


def error_note(row, column="discretisation_error"):
    """Why an error says nothing about the discretisation ("" when it does): the scheme is
    exact for the case (the error is the iteration error), the error is within a small
    factor of the tolerance the run stopped at, or of round-off."""
    if row.get("scheme_exact"):
        return EXACT
    e = row[column]
    if e is None or not math.isfinite(e):
        return NOT_FINITE
    tolerance = max((t for t in (row.get("tolerance"), row.get("final_norm"))
                     if isinstance(t, (int, float)) and math.isfinite(t)), default=0.0)
    if e <= 0 or e < NOISE_FACTOR * max(tolerance, ROUNDOFF_FLOOR):
        return AT_ROUNDOFF if tolerance < ROUNDOFF_FLOOR else AT_TOLERANCE
    return ""


def error_is_noise(row, column="discretisation_error"):
    return bool(error_note(row, column))


def series_fits(rows):
    """[(label, time exponent, order of accuracy, points, note)] of the converged runs; the
    order leaves out errors that say nothing of the discretisation (note says why)."""
    out = []
    for label, members in group_series([r for r in rows if fit_ok(r)]):
        t = power_fit([r["unknowns"] for r in members], [r["mean_seconds"] for r in members])
        clean = [r for r in members if not error_is_noise(r)]
        e = power_fit([r["h"] for r in clean], [r["discretisation_error"] for r in clean])
        note = ""
        if len(clean) < len(members):
            notes = ", ".join(sorted({error_note(r) for r in members} - {""}))
            note = (f"no order: errors {notes}" if len(clean) < 2 else
                    f"{len(members) - len(clean)} error(s) left out ({notes})")
        out.append((label, t[0] if t else None, e[0] if e else None, len(members), note))
    return out


def _refinement_steps(members, column):
    """(ratio, order, note) of an error column between successive refinements."""
    steps = []
    for prev, cur in zip([None] + members[:-1], members):
        ratio = order = None
        note = error_note(cur, column)
        if prev is not None and not note and not error_is_noise(prev, column):
            ratio = prev[column] / cur[column]
            order = math.log(ratio) / math.log(prev["h"] / cur["h"])
        elif prev is not None and not note:
            note = "coarser error " + error_note(prev, column)
        steps.append((ratio, order, note))
    return steps


def rate_table(rows):
    """Per series, the mean and maximum errors' ratio and observed order between successive
    refinements: [(label, [(row, mean (ratio, order, note), max (ratio, order, note))])]."""
    out = []
    for label, members in group_series([r for r in rows if fit_ok(r)]):
        members = sorted(members, key=lambda r: -(r["h"] or 0))
        mean = _refinement_steps(members, "discretisation_error")
        top = _refinement_steps(members, "linf_error")
        out.append((label, list(zip(members, mean, top))))
    return out


RATE_COLUMNS = ("series", "run", "grid", "h", "discretisation_error", "error_ratio", "order",
                "note", "max_error", "max_error_ratio", "max_order", "max_note")


def write_rates_csv(path, rows):
    lines = []
    for label, steps in rate_table(rows):
        for row, (ratio, order, note), (max_ratio, max_order, max_note) in steps:
            lines.append((label, row["run"], row["grid"], _cell(row["h"]),
                          _cell(row["discretisation_error"]), _cell(ratio), _cell(order), note,
                          _cell(row["linf_error"]), _cell(max_ratio), _cell(max_order),
                          max_note))
    write_atomic(path, _csv_text(RATE_COLUMNS, lines))


# ---------------------------------------------------------------------------------------------
# summary.md

def _g(value, digits=4):
    if value is None:
        return ""
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, float):
        if not math.isfinite(value):
            return _cell(value)
        return f"{value:.{digits}g}"
    return str(value)


def summary_text(rows, command, title, total_seconds, plots, planned=None, notes=()):
    ok = sum(r["status"] == "ok" for r in rows)
    unconverged = [r for r in rows if r["status"] == "ok" and r["converged"] is not True]
    head = f"{len(rows)} runs, {ok} ok, {len(rows) - ok} not ok"
    if planned is not None and planned > len(rows):
        head += f" ({planned - len(rows)} of the {planned} planned still to run)"
    lines = [f"# {title}", "", f"Command: `{command}`", "",
             f"{head}; {total_seconds:.1f} s in all.", "",
             *[line for note in notes for line in (note, "")],
             "| # | mode | solver | case | grid | levels | status | converged | s/run | reps | "
             "outer it | unknowns | final norm | disc. error | max error |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        lines.append("| " + " | ".join([
            str(r["run"]), study_mod.MODE_NAMES.get(r["mode"], str(r["mode"])), r["solver_name"],
            r["case"], r["grid"], _g(r["levels"]), r["status"],
            _g(r["converged"]) + (f" ({r['stop_reason']})" if r["converged"] is False else ""),
            _g(r["mean_seconds"]), _g(r["repetitions"]), _g(r["outer_iterations"]),
            _g(r["unknowns"]), _g(r["final_norm"], 3), _g(r["discretisation_error"], 4),
            _g(r["linf_error"], 4),
        ]) + " |")
    fits = series_fits(rows)
    if fits:
        lines += ["", "Fitted exponents (least squares on the log-log points of the runs that "
                      "converged): time per simulation ~ unknowns^p, discretisation error ~ h^q.",
                  "", "| series | runs | p (time) | q (order of accuracy) | note |",
                  "|---|---|---|---|---|"]
        for label, p, q, n, note in fits:
            lines.append(f"| {label} | {n} | {_g(p, 3)} | {_g(q, 3)} | {note} |")
    rates = [(label, steps) for label, steps in rate_table(rows) if len(steps) > 1]
    if rates:
        lines += ["", "Error between successive refinements (ratio of the coarser grid's error "
                      "to this one's, and the order log(ratio) / log(h ratio)), for the mean and "
                      "the maximum error; no order where an error is at the tolerance the run "
                      "stopped at, at round-off, or where the scheme is exact for the case (the "
                      "error is then the iteration error alone).", "",
                  "| series | grid | h | mean error | ratio | order | max error | ratio | order |",
                  "|---|---|---|---|---|---|---|---|---|"]
        for label, steps in rates:
            for row, (ratio, order, note), (mratio, morder, mnote) in steps:
                lines.append(f"| {label} | {row['grid']} | {_g(row['h'])} | "
                             f"{_g(row['discretisation_error'])} | {_g(ratio, 3)} | "
                             f"{_g(order, 3) if order is not None else note or ''} | "
                             f"{_g(row['linf_error'])} | {_g(mratio, 3)} | "
                             f"{_g(morder, 3) if morder is not None else mnote or ''} |")
    lines += ranking_lines(rows)
    if unconverged:
        lines += ["", "Runs that did not converge (drawn hollow, left out of every fit):", ""]
        lines += [f"- run {r['run']} ({r['folder']}): {r['stop_reason'] or 'no stop reason'}, "
                  f"{_g(r['outer_iterations'])} iterations, final norm {_g(r['final_norm'], 3)}"
                  for r in unconverged]
    failed = [r for r in rows if r["status"] != "ok"]
    if failed:
        lines += ["", "Runs that did not complete:", ""]
        lines += [f"- run {r['run']} ({r['folder']}): {r['status']}: {r['error']}" for r in failed]
    if plots:
        lines += ["", "Plots:", ""]
        lines += [f"- [{name}]({name}.svg) ([PNG]({name}.png))" for name in plots]
    return "\n".join(lines) + "\n"


def ranking(rows):
    """Per test case and grid with more than one completed run: the runs that converged,
    fastest first, as (row, unknowns per second, speed-up against the slowest), then those
    that did not, as (row, None, None). [((test case, grid), label columns, entries)]."""
    done = [r for r in rows if r["status"] == "ok"]
    groups = {}
    for r in done:
        groups.setdefault((r["test_case"] or r["case"], r["grid"]), []).append(r)
    out = []
    for key, members in groups.items():
        if len(members) < 2:
            continue
        converged = sorted((r for r in members if fit_ok(r) and _positive(r["mean_seconds"])),
                           key=lambda r: r["mean_seconds"])
        slowest = converged[-1]["mean_seconds"] if converged else None
        entries = [(r, r["unknowns"] / r["mean_seconds"] if r["unknowns"] else None,
                    slowest / r["mean_seconds"]) for r in converged]
        entries += [(r, None, None) for r in members if r not in converged]
        columns = [c for c in varying_series_columns(members) if c != "case"]
        out.append((key, columns, entries))
    return out


def _positive(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v) and v > 0


def ranking_lines(rows):
    lines = []
    for (case, grid), columns, entries in ranking(rows):
        if not lines:
            lines += ["", "## Ranking per test case and grid", "",
                      "The runs that converged, fastest first: time per simulation, outer "
                      "iterations (V-cycles for multigrid), time per iteration, unknowns per "
                      "second (unknowns / time per simulation) and the speed-up against the "
                      "slowest of them."]
        lines += ["", f"{case}, {grid.replace('x', ' x ')} nodes:", "",
                  "| rank | method | s/run | iterations | s/iteration | unknowns/s | speed-up |",
                  "|---|---|---|---|---|---|---|"]
        rank = 0
        for row, rate, speedup in entries:
            label = series_label(row, columns)
            iterations = row["outer_iterations"]
            per = (row["mean_seconds"] / iterations if _positive(row["mean_seconds"])
                   and isinstance(iterations, int) and iterations > 0 else None)
            if speedup is None:
                lines.append(f"| - | {label} | {_g(row['mean_seconds'])} | {_g(iterations)} | "
                             f"{_g(per, 3)} | | did not converge "
                             f"({row['stop_reason'] or 'no stop reason'}) |")
                continue
            rank += 1
            lines.append(f"| {rank} | {label} | {_g(row['mean_seconds'])} | {_g(iterations)} | "
                         f"{_g(per, 3)} | {_g(rate, 3)} | {speedup:.2f} |")
    return lines


def write_summary(path, rows, command, title, total_seconds, plots, planned=None, notes=()):
    write_atomic(path, summary_text(rows, command, title, total_seconds, plots, planned, notes))


def summary_values(result):
    """The table values of a task's summary, or None (and the reason) when it has none."""
    doc = result.get("summary")
    if doc is None:
        return None, "advdiff2d: no summary (a build without --summary?)"
    try:
        summary_mod.check(doc, "summary")
    except summary_mod.SummaryError as e:
        return None, str(e)
    return summary_mod.values(doc), ""
