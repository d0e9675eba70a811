"""Command line of advdiff2d-sweep."""

import argparse
import json
import os
import shlex
import shutil
import signal
import sys
import time

from . import fields as fields_mod
from . import inputs, results, runner, tasks
from . import study as study_mod
from . import summary as summary_mod

PROG = "advdiff2d-sweep"
DEFAULT_WINDOW = 1.0
DEFAULT_TIMEOUT = 600.0
PLOT_NAMES = ("time_vs_unknowns", "iterations_vs_unknowns", "error_vs_h", "history")
OUTPUT_FILES = ("results.csv", "history.csv", "rates.csv", "summary.md", "plan.json")
OUTPUT_FOLDERS = ("runs", "fields")

DESCRIPTION = """\
Runs advdiff2d over a set of settings and collects the numbers of every run.

A study is a base case (a folder holding dados1.ent and MG2D_000.ent and/or SG2D_000.ent)
and the settings to vary, given as comma-separated lists on the command line and/or in a
JSON study file (--study; see tools/sweep/README.md). Every combination runs in its own
folder OUT/runs/NNN-...: the input files are written, the reference solution is made with
advdiff2d-reference, and advdiff2d --no-edit --window W --summary runs; its summary (JSON)
gives the numbers.

Grids: --levels L gives multigrid runs L levels above the coarsest grid n (finest grid
(n-1)*2^(L-1)+1; n is the base case's coarsest grid, else 3) and single-grid runs that same
finest grid, so that both modes can be compared; --nx N gives the finest grid directly
(N or NxxNy). Without either, every run uses the grid of the base case's own run mode.

Written into OUT: results.csv (one row per run: settings, status, converged, stop reason,
error message, every number of the summary), history.csv (the norm histories), rates.csv
(error ratio and order between refinements), summary.md, plan.json and the plots
time_vs_unknowns, iterations_vs_unknowns, error_vs_h and history (PNG and SVG); with
--fields, each run's fields file and OUT/fields/<run>.png. results.csv and summary.md are
rewritten after every finished run.
"""

EPILOG = """\
examples:
  advdiff2d-sweep examples/multigrid-gs-65 -o /tmp/sweep --mode 1,2 --levels 3,4,5 --window 0.5
  advdiff2d-sweep --study tools/sweep/studies/multigrid-vs-singlegrid/study.json -o /tmp/study
  advdiff2d-sweep --read summary.json

Progress goes to stderr when it is a terminal. Exit status: 0 when the sweep ran and at
least one run completed (failed runs are recorded in results.csv), 1 when nothing could run
(binaries missing, every run failed, unreadable summary for --read), 2 for bad usage
(options, study file, base case files, output paths, a plan of more than 100000 runs),
130 on Ctrl-C and 143 on SIGTERM (the runs done so far are written).
"""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        raise SystemExit(_fail(2, message))


def _fail(code, message):
    print(f"{PROG}: error: {message}", file=sys.stderr)
    return code


def default_bin_dir():
    """The build folder of the repository the tool sits in, else (an installed tool) the
    folder of the advdiff2d found on the PATH."""
    here = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
    build = os.path.normpath(os.path.join(here, "..", "..", "build"))
    if tasks.program_path(build, tasks.PROGRAM) is None:
        found = tasks.program_path(None, tasks.PROGRAM)
        if found is not None:
            return os.path.dirname(os.path.abspath(found))
    return build


def build_parser():
    default_bin = default_bin_dir()
    p = _Parser(prog=PROG, description=DESCRIPTION, epilog=EPILOG,
                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("base", nargs="?", metavar="BASE",
                   help="base case folder (overrides the study file's base)")
    p.add_argument("--study", metavar="FILE", help="JSON study file")
    p.add_argument("-o", "--out", metavar="DIR", help="output folder (created if missing)")
    p.add_argument("--read", metavar="SUMMARY",
                   help="check and print one summary file (advdiff2d --summary FILE) and exit")
    p.add_argument("--bin-dir", metavar="DIR", default=default_bin,
                   help="folder of advdiff2d and advdiff2d-reference (default: %(default)s)")
    p.add_argument("--window", metavar="W", type=float,
                   help=f"timing window of each run in seconds (default: the study file's, "
                        f"else {DEFAULT_WINDOW:g})")
    p.add_argument("--timeout", metavar="S", type=float,
                   help=f"give up a run (reference and simulation) after W + S seconds "
                        f"(default: the study file's, else {DEFAULT_TIMEOUT:g})")
    p.add_argument("--fields", action="store_true",
                   help="keep each run's fields file (runs/<run>/fields.vti) and draw the "
                        "solution and its error (fields/<run>.png)")
    p.add_argument("--force", action="store_true",
                   help="replace the results of an earlier sweep in OUT")
    p.add_argument("--dry-run", action="store_true",
                   help="list the runs and exit without running them")
    g = p.add_argument_group("settings to vary (comma-separated lists; they replace the same "
                             "setting in every group of a study file)")
    g.add_argument("--nx", metavar="LIST", help="finest grids: N (N x N) or NxxNy")
    g.add_argument("--levels", metavar="LIST",
                   help="multigrid level counts (single-grid runs use the same finest grid)")
    for name, (_, text) in study_mod.AXES.items():
        if name != "grid":
            g.add_argument("--" + name.replace("_", "-"), dest=name, metavar="LIST", help=text)
    return p


def output_names():
    """Every file and folder a sweep writes into OUT."""
    files = list(OUTPUT_FILES) + [f"{n}.{e}" for n in PLOT_NAMES for e in ("png", "svg")]
    return files, list(OUTPUT_FOLDERS)


def check_out(out, force):
    """Refuses an output folder the sweep could not fill, before anything runs: not a
    folder, not empty without --force, or one of the sweep's own names taken by something
    the sweep would not replace (a folder where a table goes, a FIFO, a symbolic link)."""
    if os.path.lexists(out) and not os.path.isdir(out):
        raise study_mod.UsageError(f"{out}: not a folder")
    if not os.path.isdir(out):
        parent = os.path.dirname(os.path.abspath(out))
        if not os.path.isdir(parent):
            raise study_mod.UsageError(f"{out}: the folder above it does not exist")
        if not os.access(parent, os.W_OK | os.X_OK):
            raise study_mod.UsageError(f"{out}: cannot create it: no write permission")
        return
    if os.listdir(out) and not force:
        raise study_mod.UsageError(f"{out}: folder is not empty (--force replaces the "
                                   "results of an earlier sweep)")
    if not os.access(out, os.W_OK | os.X_OK):
        raise study_mod.UsageError(f"{out}: no write permission")
    files, folders = output_names()
    for name in files:
        path = os.path.join(out, name)
        if os.path.lexists(path) and (os.path.islink(path) or not os.path.isfile(path)):
            raise study_mod.UsageError(f"{path}: exists and is not a regular file, so the "
                                       "sweep cannot write it")
    for name in folders:
        path = os.path.join(out, name)
        if os.path.lexists(path) and (os.path.islink(path) or not os.path.isdir(path)):
            raise study_mod.UsageError(f"{path}: exists and is not a folder")


def prepare_out(out):
    """Clears the results of an earlier sweep (check_out has vetted every name)."""
    files, folders = output_names()
    if os.path.isdir(out):
        for name in folders:
            shutil.rmtree(os.path.join(out, name), ignore_errors=True)
        for name in files:
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
        doc = summary_mod.read_summary(path)
    except summary_mod.SummaryError as e:
        return _fail(1, str(e))
    except MemoryError:
        return _fail(1, f"{path}: not enough memory to read the whole summary")
    print(json.dumps(doc, indent=1, ensure_ascii=False))
    return 0


def _plan_json(path, runs, args, window, timeout, base):
    data = {"command": [PROG] + args, "base": os.path.abspath(base), "window": window,
            "timeout": timeout,
            "runs": [{"run": r.index, "folder": f"runs/{r.slug()}", "group": r.group,
                      "mode": r.mode, "parameters": r.items} for r in runs]}
    results.write_atomic(path, json.dumps(data, indent=1) + "\n")


class Interrupted(KeyboardInterrupt):
    """SIGTERM, handled like Ctrl-C: the runs done so far are written."""

    def __init__(self, signum):
        super().__init__(signum)
        self.status = 128 + signum


def _on_signal(signum, frame):
    raise Interrupted(signum)


def run_sequentially(tasks_in_order):
    """The local executor: one simulation at a time, in order. Yields (index, result)."""
    for i, task in enumerate(tasks_in_order):
        yield i, tasks.run_task(task)


def _settings(args):
    """The study, its runs and the timing settings; UsageError or InputError when unusable."""
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
    limit = study_mod.MAX_SECONDS
    if not (0 <= window <= limit and 0 < timeout <= limit):
        raise study_mod.UsageError(f"--window must be from 0 to {limit:g} and --timeout above "
                                   f"0 and at most {limit:g} seconds")
    base = inputs.BaseCase(base_folder)
    runs = study_mod.plan_runs(base, study, overrides)
    return study, base_folder, runs, window, timeout


class Sweep:
    """The rows of a sweep as its runs finish, and the tables written after each one."""

    def __init__(self, out, runs, window, command, title, progress):
        self.out, self.runs, self.window = out, runs, window
        self.command, self.title, self.progress = command, title, progress
        self.rows, self.histories = {}, {}

    def folder(self, run):
        return f"runs/{run.slug()}"

    def record(self, run, task, result):
        """Files a finished run (results may come in any order) and rewrites the tables."""
        values = None
        if result["status"] == "ok":
            values, why = results.summary_values(result)
            if values is None:
                result = dict(result, status="failed", error=why)
        try:
            runner.store_result(task, result, os.path.join(self.out, self.folder(run)))
        except OSError as e:
            result = dict(result, status="failed", error=f"files: {e.filename}: {e.strerror}")
            values = None
        row = results.make_row(run, self.folder(run), self.window, result, values)
        self.rows[run.index] = row
        if values is not None and values["history"]:
            self.histories[run.index] = values["history"]
        self.write_tables(planned=len(self.runs))
        return row

    def ordered_rows(self):
        return [self.rows[i] for i in sorted(self.rows)]

    def write_tables(self, plots=(), planned=None):
        rows = self.ordered_rows()
        results.write_csv(os.path.join(self.out, "results.csv"), rows)
        results.write_summary(os.path.join(self.out, "summary.md"), rows, self.command,
                              self.title, self.progress.elapsed(), list(plots), planned)

    def not_run(self):
        for run in self.runs:
            if run.index not in self.rows:
                self.rows[run.index] = results.make_row(
                    run, self.folder(run), self.window,
                    {"status": "not run", "error": "interrupted"})


def main(argv=None):
    argv = list(sys.argv[1:] if argv is None else argv)
    args = build_parser().parse_args(argv)
    if args.read:
        return _read_command(args.read)
    try:
        study, base_folder, runs, window, timeout = _settings(args)
        if args.dry_run:
            for r in runs:
                print(f"{r.index:4d}  {r.slug()}")
            return 0
        if not args.out:
            raise study_mod.UsageError("no output folder: give -o DIR")
        binaries = runner.Binaries(args.bin_dir)
        missing = binaries.missing()
        if missing:
            return _fail(1, missing)
        if args.fields:
            fields_mod.check_available()
        check_out(args.out, args.force)
        prepare_out(args.out)
    except (study_mod.UsageError, inputs.InputError, fields_mod.FieldsError) as e:
        return _fail(2, str(e))
    except OSError as e:
        return _fail(1, f"{e.filename}: {e.strerror}")

    out = args.out
    progress = Progress(len(runs), sys.stderr.isatty())
    sweep = Sweep(out, runs, window, shlex.join([PROG] + argv),
                  study.description or "advdiff2d sweep", progress)
    task_list = [runner.make_task(r, binaries.bin_dir, window, timeout, args.fields)
                 for r in runs]
    status = 0
    previous = signal.signal(signal.SIGTERM, _on_signal)
    try:
        try:
            if runs:
                progress.begin(runs[0])
            for i, result in run_sequentially(task_list):
                row = sweep.record(runs[i], task_list[i], result)
                progress.end(row["status"] if row["status"] == "ok"
                             else f"{row['status']}: {row['error']}", row["wall_seconds"])
                if i + 1 < len(runs):
                    progress.begin(runs[i + 1])
        except KeyboardInterrupt as e:
            status = getattr(e, "status", 130)
            progress.note("interrupted")
        sweep.not_run()
        status = _finish(sweep, runs, argv, window, timeout, base_folder, args.fields) or status
    except KeyboardInterrupt as e:  # a second signal while the tables are written
        return getattr(e, "status", 130)
    except OSError as e:
        return _fail(1, f"{e.filename}: {e.strerror}")
    finally:
        signal.signal(signal.SIGTERM, previous)
    return status


def _finish(sweep, runs, argv, window, timeout, base_folder, fields):
    """The tables, plots and pictures after the last run; a non-zero status or 0."""
    out = sweep.out
    rows = sweep.ordered_rows()
    sweep.write_tables()
    results.write_history_csv(os.path.join(out, "history.csv"), sweep.histories)
    results.write_rates_csv(os.path.join(out, "rates.csv"), rows)
    _plan_json(os.path.join(out, "plan.json"), runs, argv, window, timeout, base_folder)
    try:
        from . import plots
        written = plots.write_plots(out, rows, sweep.histories)
    except Exception as e:  # a plotting problem must not lose the tables
        print(f"{PROG}: warning: plots not written: {e}", file=sys.stderr)
        written = []
    if fields:
        try:
            fields_mod.write_pictures(out, rows)
        except Exception as e:
            print(f"{PROG}: warning: field pictures not written: {e}", file=sys.stderr)
    sweep.write_tables(written)
    ok = sum(r["status"] == "ok" for r in rows)
    sweep.progress.note(f"{len(rows)} runs, {ok} ok, {len(rows) - ok} not ok, in "
                        f"{sweep.progress.elapsed():.1f} s; results in {out}")
    if any(r["status"] == "not run" for r in rows):
        return None
    if ok == 0:
        return _fail(1, f"no run completed (see {os.path.join(out, 'results.csv')})")
    return 0
