"""The tables of a sweep: results.csv (one row per run), history.csv and summary.md."""

import csv
import math

from . import study as study_mod
from .fit import power_fit

# Settings of the run, then the numbers of its report, then derived values.
SETTING_COLUMNS = ("run", "group", "folder", "status", "error", "mode", "solver",
                   "solver_name", "case", "problem_kind", "flow_angle", "peclet_code", "gamma",
                   "grid", "levels", "coarsest_nx", "coarsest_ny", "inner_setting", "tolerance",
                   "msi_tolerance", "initial_estimate", "max_iterations", "window")
REPORT_COLUMNS = ("seconds_per_run", "repetitions", "elapsed_seconds", "outer_iterations",
                  "inner_iterations", "nx", "ny", "unknowns", "initial_norm", "final_norm",
                  "last_rate", "average_rate", "discretisation_error", "linf_error")
DERIVED_COLUMNS = ("mean_seconds", "h", "reduction_factor", "history_rows", "wall_seconds",
                   "worker", "host")
COLUMNS = SETTING_COLUMNS + REPORT_COLUMNS + DERIVED_COLUMNS

# Settings that separate one series of runs (a line in a plot) from another; the grid is
# what varies along a series.
SERIES_COLUMNS = ("case", "mode", "solver", "coarsest_nx", "coarsest_ny", "inner_setting",
                  "tolerance", "msi_tolerance", "initial_estimate", "gamma", "max_iterations")


def make_row(run, folder, window, status, error, parsed, wall_seconds, worker=None, host=None):
    p = run.params
    row = dict.fromkeys(COLUMNS)
    row.update(run=run.index, group=run.group, folder=folder, status=status, error=error,
               mode=run.mode, solver=run.solver,
               solver_name=study_mod.SOLVER_NAMES.get(run.solver, "Elim_Gauss"),
               case=study_mod.case_label(run.case), problem_kind=run.case[0],
               flow_angle=run.case[1], peclet_code=run.case[2], gamma=p["gamma"],
               grid=run.grid_text(), nx=run.nx, ny=run.ny, unknowns=run.nx * run.ny,
               tolerance=p["tolerance"], initial_estimate=p["initial_estimate"],
               max_iterations=p["max_iterations"], window=window,
               wall_seconds=round(wall_seconds, 3), worker=worker, host=host)
    if run.solver == 2:
        row["msi_tolerance"] = p["msi_tolerance"]
    if run.mode == 1:
        row.update(levels=run.levels, coarsest_nx=run.coarsest[0], coarsest_ny=run.coarsest[1],
                   inner_setting=p["inner_iterations"])
    row["h"] = 1.0 / (run.nx - 1)
    if parsed is not None:
        for column in REPORT_COLUMNS:
            if parsed.get(column) is not None:
                row[column] = parsed[column]
        row["history_rows"] = len(parsed["history"])
        row["mean_seconds"] = mean_seconds(parsed)
        row["reduction_factor"] = reduction_factor(parsed)
    return row


def mean_seconds(parsed):
    """elapsed / repetitions: the printed time per simulation has only six decimals, which
    leaves one or two significant digits for small grids; the quotient keeps more."""
    elapsed, reps = parsed.get("elapsed_seconds"), parsed.get("repetitions")
    if elapsed is None or not reps or reps <= 0 or not math.isfinite(elapsed):
        return parsed.get("seconds_per_run")
    return elapsed / reps


def reduction_factor(parsed):
    """Mean factor by which one iteration shrinks the iteration-error norm."""
    n0, nk, k = parsed.get("initial_norm"), parsed.get("final_norm"), parsed.get("outer_iterations")
    if not k or k <= 0 or n0 is None or nk is None or not n0 > 0 or not nk > 0:
        return None
    if not (math.isfinite(n0) and math.isfinite(nk)):
        return None
    return (nk / n0) ** (1.0 / k)


def _cell(value):
    if value is None:
        return ""
    if isinstance(value, float):
        if math.isnan(value):
            return "NaN"
        if math.isinf(value):
            return "Infinity" if value > 0 else "-Infinity"
        return repr(value)
    return str(value)


def write_csv(path, rows):
    with open(path, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        w.writerow(COLUMNS)
        for row in rows:
            w.writerow([_cell(row[c]) for c in COLUMNS])


def write_history_csv(path, histories):
    """histories: run number -> [[iteration, norm], ...]."""
    with open(path, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f)
        w.writerow(("run", "iteration", "norm"))
        for run in sorted(histories):
            for iteration, norm in histories[run]:
                w.writerow((run, iteration, _cell(norm)))


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
            if len({row[c] for row in rows if row["mode"] == mode}) > 1:
                out.append(c)
                break
    return out


def series_label(row, columns):
    parts = []
    for c in columns:
        v = row[c]
        if c == "mode":
            parts.append(study_mod.MODE_NAMES.get(v, f"mode {v}"))
        elif c == "solver":
            parts.append(row["solver_name"])
        elif c == "case":
            parts.append(str(v))
        elif v is not None:
            short = {"coarsest_nx": "cx", "coarsest_ny": "cy", "inner_setting": "inner",
                     "initial_estimate": "init", "max_iterations": "max it",
                     "msi_tolerance": "msi tol", "tolerance": "tol"}.get(c, c)
            parts.append(f"{short} {v:g}" if isinstance(v, float) else f"{short} {v}")
    return " ".join(parts)


def group_series(rows):
    """[(label, rows sorted by unknowns)] in the order the series first appear."""
    columns = varying_series_columns(rows) if rows else []
    series = {}
    for row in rows:
        key = tuple(row[c] for c in columns)
        series.setdefault(key, []).append(row)
    return [(series_label(members[0], columns), sorted(members, key=lambda r: r["unknowns"]))
            for members in series.values()]


def series_fits(rows):
    """[(label, time exponent or None, order of accuracy or None, points)] of the ok runs."""
    ok = [r for r in rows if r["status"] == "ok"]
    out = []
    for label, members in group_series(ok):
        t = power_fit([r["unknowns"] for r in members], [r["mean_seconds"] for r in members])
        e = power_fit([r["h"] for r in members], [r["discretisation_error"] for r in members])
        out.append((label, t[0] if t else None, e[0] if e else None, len(members)))
    return out


# ---------------------------------------------------------------------------------------------
# summary.md

def _g(value, digits=4):
    if value is None:
        return ""
    if isinstance(value, float):
        if not math.isfinite(value):
            return _cell(value)
        return f"{value:.{digits}g}"
    return str(value)


def write_summary(path, rows, command, title, total_seconds, plots, notes=()):
    ok = sum(r["status"] == "ok" for r in rows)
    lines = [f"# {title}", "",
             f"Command: `{command}`", "",
             f"{len(rows)} runs, {ok} ok, {len(rows) - ok} not ok; {total_seconds:.1f} s in all.",
             *[line for note in notes for line in ("", note)],
             "", "| # | mode | solver | case | grid | levels | status | s/run | reps | "
             "outer it | unknowns | final norm | disc. error | max error |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        lines.append("| " + " | ".join([
            str(r["run"]), study_mod.MODE_NAMES.get(r["mode"], str(r["mode"])), r["solver_name"],
            r["case"], r["grid"], _g(r["levels"]), r["status"], _g(r["mean_seconds"]),
            _g(r["repetitions"]), _g(r["outer_iterations"]), _g(r["unknowns"]),
            _g(r["final_norm"], 3), _g(r["discretisation_error"], 4), _g(r["linf_error"], 4),
        ]) + " |")
    fits = series_fits(rows)
    if fits:
        lines += ["", "Fitted exponents (least squares on the log-log points of the ok runs): "
                      "time per simulation ~ unknowns^p, discretisation error ~ h^q.", "",
                  "| series | runs | p (time) | q (order of accuracy) |", "|---|---|---|---|"]
        for label, p, q, n in fits:
            lines.append(f"| {label} | {n} | {_g(p, 3)} | {_g(q, 3)} |")
    failed = [r for r in rows if r["status"] != "ok"]
    if failed:
        lines += ["", "Runs that did not complete:", ""]
        lines += [f"- run {r['run']} ({r['folder']}): {r['status']}: {r['error']}" for r in failed]
    if plots:
        lines += ["", "Plots:", ""]
        lines += [f"- [{name}]({name}.svg) ([PNG]({name}.png))" for name in plots]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
