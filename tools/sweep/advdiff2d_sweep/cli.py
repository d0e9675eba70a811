"""Command line of advdiff2d-sweep."""

import argparse
import contextlib
import json
import os
import shlex
import shutil
import sys
import time

from . import cluster, inputs, report, results, runner
from . import study as study_mod

PROG = "advdiff2d-sweep"
DEFAULT_WINDOW = 1.0
DEFAULT_TIMEOUT = 600.0
PLOT_NAMES = ("time_vs_unknowns", "iterations_vs_unknowns", "error_vs_h", "history")
OUTPUT_FILES = ("results.csv", "history.csv", "summary.md", "plan.json")
OUTPUT_FOLDERS = ("runs", "references")

DESCRIPTION = """\
Runs advdiff2d over a set of settings and collects the numbers of every report.

A study is a base case (a folder holding dados1.ent and MG2D_000.ent and/or SG2D_000.ent)
and the settings to vary, given as comma-separated lists on the command line and/or in a
JSON study file (--study; see tools/sweep/README.md). Every combination runs in its own
folder OUT/runs/NNN-...: the input files are written, the reference solution is made with
advdiff2d-reference, and advdiff2d --no-edit --window W runs there.

Grids: --levels L gives multigrid runs L levels above the coarsest grid n (finest grid
(n-1)*2^(L-1)+1; n is the base case's coarsest grid, else 3) and single-grid runs that same
finest grid, so that both modes can be compared; --nx N gives the finest grid directly
(N or NxxNy). Without either, every run uses the grid of the base case's own run mode.

Written into OUT: results.csv (one row per run: settings, status, error message, every
number of the report), history.csv (the norm tables), summary.md, plan.json and the plots
time_vs_unknowns, iterations_vs_unknowns, error_vs_h and history (PNG and SVG).
"""

EPILOG = """\
examples:
  advdiff2d-sweep examples/multigrid-gs-65 -o /tmp/sweep --mode 1,2 --levels 3,4,5 --window 0.5
  advdiff2d-sweep --study tools/sweep/studies/multigrid-vs-singlegrid/study.json -o /tmp/study
  advdiff2d-sweep --study study.json -o /tmp/study --scheduler tcp://10.0.0.5:8786
  advdiff2d-sweep --read report.txt

Progress goes to stderr when it is a terminal. Exit status: 0 when the sweep ran and at
least one run completed (failed runs are recorded in results.csv), 1 when nothing could run
(binaries missing, every run failed, unreadable report for --read), 2 for bad usage
(options, study file, base case files, output folder not empty without --force, a
scheduler that cannot be reached).
"""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        raise SystemExit(_fail(2, message))


def _fail(code, message):
    print(f"{PROG}: error: {message}", file=sys.stderr)
    return code


def build_parser():
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    default_bin = os.path.normpath(os.path.join(here, "..", "..", "build"))
    p = _Parser(prog=PROG, description=DESCRIPTION, epilog=EPILOG,
                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("base", nargs="?", metavar="BASE",
                   help="base case folder (overrides the study file's base)")
    p.add_argument("--study", metavar="FILE", help="JSON study file")
    p.add_argument("-o", "--out", metavar="DIR", help="output folder (created if missing)")
    p.add_argument("--read", metavar="REPORT",
                   help="print the values of one advdiff2d report as JSON and exit "
                        "(NaN and infinities as the strings the report prints)")
    p.add_argument("--bin-dir", metavar="DIR",
                   help=f"folder of advdiff2d and advdiff2d-reference (default: {default_bin}; "
                        "with --scheduler: the folder on the workers, default their PATH)")
    p.add_argument("--window", metavar="W", type=float,
                   help=f"timing window of each run in seconds (default: the study file's, "
                        f"else {DEFAULT_WINDOW:g})")
    p.add_argument("--timeout", metavar="S", type=float,
                   help=f"give up the reference step after S seconds and a run after W + S "
                        f"(default: the study file's, else {DEFAULT_TIMEOUT:g})")
    p.add_argument("--force", action="store_true",
                   help="replace the results of an earlier sweep in OUT")
    p.add_argument("--dry-run", action="store_true",
                   help="list the runs and exit without running them")
    w = p.add_argument_group("where the runs go (default: one after the other on this machine)")
    w.add_argument("--jobs", metavar="N", type=int,
                   help="run N at a time in local worker processes: they share this machine's "
                        "cores, so the timings are for quick looks only")
    w.add_argument("--scheduler", metavar="ADDRESS",
                   help="send the runs to the workers of a Dask distributed scheduler, e.g. "
                        "tcp://10.0.0.5:8786 (start workers with --nthreads 1, one per core "
                        "at most; see README.md)")
    p.set_defaults(default_bin=default_bin)
    g = p.add_argument_group("settings to vary (comma-separated lists; they replace the same "
                             "setting in every group of a study file)")
    g.add_argument("--nx", metavar="LIST", help="finest grids: N (N x N) or NxxNy")
    g.add_argument("--levels", metavar="LIST",
                   help="multigrid level counts (single-grid runs use the same finest grid)")
    for name, (_, text) in study_mod.AXES.items():
        if name != "grid":
            g.add_argument("--" + name.replace("_", "-"), dest=name, metavar="LIST", help=text)
    return p


def _prepare_out(out, force):
    if os.path.exists(out) and not os.path.isdir(out):
        raise study_mod.UsageError(f"{out}: not a folder")
    if os.path.isdir(out) and os.listdir(out):
        if not force:
            raise study_mod.UsageError(f"{out}: folder is not empty (--force replaces the "
                                       "results of an earlier sweep)")
        for name in OUTPUT_FOLDERS:
            shutil.rmtree(os.path.join(out, name), ignore_errors=True)
        names = list(OUTPUT_FILES) + [f"{n}.{e}" for n in PLOT_NAMES for e in ("png", "svg")]
        for name in names:
            if os.path.isfile(os.path.join(out, name)):
                os.remove(os.path.join(out, name))
    os.makedirs(out, exist_ok=True)


class Progress:
    def __init__(self, total, enabled):
        self.total, self.enabled, self.start = total, enabled, time.monotonic()

    def elapsed(self):
        return time.monotonic() - self.start

    def begin(self, run):
        if self.enabled:
            sys.stderr.write(f"[{run.index}/{self.total}] {run.label()} ... ")
            sys.stderr.flush()

    def end(self, status, wall):
        if self.enabled:
            sys.stderr.write(f"{status} {wall:.2f} s (elapsed {self.elapsed():.1f} s)\n")
            sys.stderr.flush()

    def note(self, text):
        if self.enabled:
            print(text, file=sys.stderr)


def _read_command(path):
    try:
        parsed = report.read_report(path)
    except report.ReportError as e:
        return _fail(1, str(e))
    print(json.dumps(report.to_json_value(parsed), indent=1, ensure_ascii=False))
    return 0


def _plan_json(path, runs, args, window, timeout, base):
    data = {"command": [PROG] + args, "base": os.path.abspath(base), "window": window,
            "timeout": timeout,
            "runs": [{"run": r.index, "folder": f"runs/{r.slug()}", "group": r.group,
                      "mode": r.mode, "parameters": r.params} for r in runs]}
    with open(path, "w", encoding="utf-8") as f:
        json.dump(data, f, indent=1)


def main(argv=None):
    argv = list(sys.argv[1:] if argv is None else argv)
    args = build_parser().parse_args(argv)
    if args.read:
        return _read_command(args.read)
    stack = contextlib.ExitStack()  # holds the executor (a pool, a scheduler connection)
    try:
        study = study_mod.load_study(args.study) if args.study else study_mod.Study()
        base_folder = args.base or study.base
        if not base_folder:
            raise study_mod.UsageError("no base case: give BASE or a study file with 'base'")
        given = {name: getattr(args, name) for name in list(study_mod.AXES) + ["nx", "levels"]
                 if name != "grid" and getattr(args, name) is not None}
        overrides = study_mod.axes_from_mapping(given, "command line")
        window = args.window if args.window is not None else study.window
        window = DEFAULT_WINDOW if window is None else window
        timeout = args.timeout if args.timeout is not None else study.timeout
        timeout = DEFAULT_TIMEOUT if timeout is None else timeout
        if not (window >= 0 and timeout > 0) or window == float("inf"):
            raise study_mod.UsageError("--window must be >= 0 and --timeout > 0 seconds")
        base = inputs.BaseCase(base_folder)
        runs = study_mod.plan_runs(base, study, overrides)
        if args.dry_run:
            for r in runs:
                print(f"{r.index:4d}  {r.slug()}")
            return 0
        if not args.out:
            raise study_mod.UsageError("no output folder: give -o DIR")
        if args.jobs is not None and args.jobs < 1:
            raise study_mod.UsageError("--jobs must be at least 1")
        if args.jobs is not None and args.scheduler:
            raise study_mod.UsageError("--jobs and --scheduler exclude each other (the "
                                       "scheduler's workers set how many runs go at once)")
        binaries = runner.Binaries(args.bin_dir or args.default_bin)
        missing = None if args.scheduler else binaries.missing()
        if missing:
            return _fail(1, missing)
        executor = stack.enter_context(cluster.make_executor(
            args.jobs, args.scheduler, args.bin_dir,
            lambda text: print(f"{PROG}: warning: {text}", file=sys.stderr)))
        _prepare_out(args.out, args.force)
    except (study_mod.UsageError, inputs.InputError) as e:
        stack.close()
        return _fail(2, str(e))
    except cluster.ExecutorError as e:
        return _fail(e.exit_code, str(e))
    except OSError as e:
        stack.close()
        return _fail(1, f"{e.filename}: {e.strerror}")

    out = args.out
    progress = Progress(len(runs), sys.stderr.isatty())
    tasks = [runner.make_task(run, binaries, window, timeout) for run in runs]
    if args.scheduler:
        for task in tasks:
            task["bin_dir"] = args.bin_dir  # a folder on the workers; None: their PATH
    if isinstance(executor, cluster.LocalPool):
        print(f"{PROG}: note: {executor.notes[0].rstrip('.')}", file=sys.stderr)
    one_by_one = isinstance(executor, cluster.Sequential)
    done = {}
    interrupted = False
    try:
        with stack, contextlib.closing(executor.results(
                tasks, started=lambda i: progress.begin(runs[i]))) as finished:
            for i, result in finished:
                run = runs[i]
                status, error, parsed, wall = runner.file_result(
                    run, tasks[i], result, os.path.join(out, f"runs/{run.slug()}"))
                if not one_by_one:
                    progress.begin(run)
                progress.end(status if status == "ok" else f"{status}: {error}", wall)
                done[i] = (status, error, parsed, wall, result.get("worker"), result.get("host"))
    except KeyboardInterrupt:
        interrupted = True
        progress.note("interrupted")
    rows, histories = [], {}
    for i, run in enumerate(runs):
        status, error, parsed, wall, worker, host = done.get(
            i, ("not run", "interrupted", None, 0.0, None, None))
        rows.append(results.make_row(run, f"runs/{run.slug()}", window, status, error, parsed,
                                     wall, worker, host))
        if parsed is not None and parsed["history"]:
            histories[run.index] = parsed["history"]

    command = shlex.join([PROG] + argv)
    results.write_csv(os.path.join(out, "results.csv"), rows)
    results.write_history_csv(os.path.join(out, "history.csv"), histories)
    _plan_json(os.path.join(out, "plan.json"), runs, argv, window, timeout, base_folder)
    try:
        from . import plots
        written = plots.write_plots(out, rows, histories)
    except Exception as e:  # a plotting problem must not lose the tables
        print(f"{PROG}: warning: plots not written: {e}", file=sys.stderr)
        written = []
    results.write_summary(os.path.join(out, "summary.md"), rows, command,
                          study.description or "advdiff2d sweep", progress.elapsed(), written,
                          executor.notes + cluster.worker_notes(rows))
    ok = sum(r["status"] == "ok" for r in rows)
    progress.note(f"{len(rows)} runs, {ok} ok, {len(rows) - ok} not ok, in "
                  f"{progress.elapsed():.1f} s; results in {out}")
    if interrupted:
        return 130
    if ok == 0:
        return _fail(1, f"no run completed (see {os.path.join(out, 'results.csv')})")
    return 0
