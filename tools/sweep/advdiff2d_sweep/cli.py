"""Command line of advdiff2d-sweep."""

import argparse
import contextlib
import errno
import fcntl
import json
import logging
import os
import re
import shlex
import shutil
import signal
import socket
import sys
import time
import warnings

from . import fields as fields_mod
from . import cluster, description, inputs, results, runner, tasks
from . import study as study_mod
from . import summary as summary_mod

PROG = "advdiff2d-sweep"
DEFAULT_WINDOW = 1.0
DEFAULT_TIMEOUT = 600.0
MAX_JOBS = 256  # local worker processes at most (each run is one more process besides)
PLOT_NAMES = ("time_vs_unknowns", "iterations_vs_unknowns", "error_vs_h", "history")
OUTPUT_FILES = ("results.csv", "history.csv", "rates.csv", "summary.md", "plan.json")
OUTPUT_FOLDERS = ("runs", "fields")
LOCK_FILE = ".advdiff2d-sweep.lock"  # held in OUT while a sweep writes there
# Where an installed tool's launcher finds the programs: a file of this name beside it holds
# their folder, relative to it (written by cmake --install).
PROGRAMS_FOLDER_FILE = "programs-folder"

DESCRIPTION = """\
Runs advdiff2d over a set of settings and collects the numbers of every run.

A study is a base case (a folder holding dados1.ent and MG2D_000.ent and/or SG2D_000.ent)
and the settings to vary, given as comma-separated lists on the command line and/or in a
JSON study file (--study; see tools/sweep/README.md). Every combination runs in its own
folder OUT/runs/NNN-...: the input files are written, the reference solution is made with
advdiff2d-reference, and advdiff2d --no-edit --strict --window W --summary runs; its summary
(JSON) gives the numbers. The settings, their forms and accepted codes and the test cases are
those advdiff2d --describe-inputs gives; a combination that selects nothing is refused, as
--strict refuses it, and a wrong name is answered with the accepted ones.

Grids: --levels L gives multigrid runs L levels above the coarsest grid n (finest grid
(n-1)*2^(L-1)+1; n is the base case's coarsest grid, else 3) and single-grid runs that same
finest grid, so that both modes can be compared; --nx N gives the finest grid directly
(N or NxxNy). Without either, every run uses the grid of the base case's own run mode.

Written into OUT: results.csv (one row per run: settings, status, converged, stop reason,
error message, every number of the summary), history.csv (the norm histories), rates.csv
(mean and maximum error: ratio and order between refinements), summary.md (with a ranking of
the methods per test case and grid), plan.json and the plots
time_vs_unknowns, iterations_vs_unknowns, error_vs_h and history (PNG and SVG); with
--fields, each run's fields file and OUT/fields/<run>.png. results.csv and summary.md are
rewritten after every finished run.
"""

EPILOG = """\
examples:
  advdiff2d-sweep examples/multigrid-gs-65 -o /tmp/sweep --mode 1,2 --levels 3,4,5 --window 0.5
  advdiff2d-sweep --study tools/sweep/studies/multigrid-vs-singlegrid/study.json -o /tmp/study
  advdiff2d-sweep --study study.json -o /tmp/study --scheduler tcp://10.0.0.5:8786
  advdiff2d-sweep --read summary.json

Progress goes to stderr when it is a terminal. OUT is locked while a sweep writes there: a
second sweep on it stops. With --jobs a run starts only when the memory it states
(advdiff2d --memory-needed) fits in what is left. Manual page: advdiff2d-sweep(1).
Exit status: 0 when the sweep ran and at least one run completed (failed runs are recorded in
results.csv), 1 when nothing could run (binaries missing or too old to describe their input
files, every run failed, unreadable summary for --read), 2 for bad usage (options, study
file, base case files, a combination that selects nothing, output paths, an output folder
in use by another sweep, a plan of more than 100000 runs, a scheduler that cannot be reached),
130 on Ctrl-C and 143 on SIGTERM (the runs done so far are written).
"""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        raise SystemExit(_fail(2, message))


def printable(text):
    """A text for one line of a terminal: control characters (a newline, ESC, BEL) written as
    escapes, and bytes that were not UTF-8 (in a file name, say) as \\xNN."""
    out = []
    for c in str(text):
        if "\udc80" <= c <= "\udcff":
            out.append(f"\\x{ord(c) - 0xdc00:02x}")
        elif c < " " or "\x7f" <= c <= "\x9f" or c in "\u2028\u2029" or "\ud800" <= c <= "\udfff":
            out.append(c.encode("unicode_escape").decode("ascii") if c < "\ud800" or c > "\udfff"
                       else f"\\u{ord(c):04x}")
        else:
            out.append(c)
    return "".join(out)


def _fail(code, message):
    print(f"{PROG}: error: {printable(message)}", file=sys.stderr)
    return code


def _warn(message):
    print(f"{PROG}: warning: {printable(message)}", file=sys.stderr)


def _quiet_libraries(terminal):
    """With stderr not a terminal the sweep prints errors only: the plotting library's
    warnings and log lines (a font cache it cannot write, a glyph a font lacks) are dropped;
    on a terminal each is one warning line."""
    if terminal:
        warnings.showwarning = lambda message, *rest, **kw: _warn(str(message))
        return
    warnings.simplefilter("ignore")
    logging.getLogger("matplotlib").setLevel(logging.ERROR)


def _seconds(text):
    """A number of seconds: digits with an optional point and exponent (no inf, nan, 1_0)."""
    if not re.fullmatch(r"(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?", text.strip()):
        raise argparse.ArgumentTypeError(f"'{text[:40]}' is not a number of seconds")
    return float(text)


def default_bin_dir():
    """Where the programs are: for an installed tool, the folder installed with it; in the
    source tree, the repository's build folder, else the folder of the advdiff2d found on the
    PATH."""
    here = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
    try:
        with open(os.path.join(here, PROGRAMS_FOLDER_FILE), encoding="utf-8") as f:
            return os.path.normpath(os.path.join(here, f.read().strip()))
    except OSError:
        pass
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
    p.add_argument("--bin-dir", metavar="DIR",
                   help=f"folder of advdiff2d and advdiff2d-reference (default: {default_bin}; "
                        "with --scheduler: the folder on the workers, default their PATH)")
    p.add_argument("--window", metavar="W", type=_seconds,
                   help=f"timing window of each run in seconds (default: the study file's, "
                        f"else {DEFAULT_WINDOW:g})")
    p.add_argument("--timeout", metavar="S", type=_seconds,
                   help=f"give up a run (reference and simulation) after W + S seconds "
                        f"(default: the study file's, else {DEFAULT_TIMEOUT:g})")
    p.add_argument("--fields", action="store_true",
                   help="keep each run's fields file (runs/<run>/fields.vti) and draw the "
                        "solution and its error (fields/<run>.png)")
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
    if [n for n in os.listdir(out) if n != LOCK_FILE] and not force:
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


class OutputLock:
    """Holds OUT for one sweep, from the first file it writes to the last: a second sweep on
    the same folder says who has it and stops. The lock (a POSIX record lock, which the
    sweep's worker processes do not inherit) goes with the process however it ends; the file
    is removed when the sweep ends."""

    def __init__(self, out):
        self.out = out
        self.path = os.path.join(out, LOCK_FILE)
        self.fd = None

    def __enter__(self):
        os.makedirs(self.out, exist_ok=True)
        while True:
            try:
                fd = os.open(self.path, os.O_RDWR | os.O_CREAT | os.O_CLOEXEC | os.O_NOFOLLOW,
                             0o644)
            except OSError as e:
                raise study_mod.UsageError(f"{self.path}: cannot be used as the folder's lock "
                                           f"({e.strerror})") from None
            try:
                fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError as e:
                holder = os.read(fd, 200).decode("utf-8", "replace").strip()
                os.close(fd)
                if e.errno not in (errno.EACCES, errno.EAGAIN):
                    raise study_mod.UsageError(f"{self.path}: cannot be locked "
                                               f"({e.strerror})") from None
                raise study_mod.UsageError(
                    f"{self.out}: in use by another sweep ({holder or 'starting'}); wait until "
                    "it ends, or give another folder") from None
            # The sweep that held it may have removed the file meanwhile: then this lock is
            # on a file nobody else will find, and the new one is tried.
            try:
                same = os.path.samestat(os.fstat(fd), os.stat(self.path,
                                                              follow_symlinks=False))
            except OSError:
                same = False
            if same:
                break
            os.close(fd)
        os.ftruncate(fd, 0)
        os.write(fd, (f"process {os.getpid()} on {socket.gethostname()} since "
                      f"{time.strftime('%Y-%m-%d %H:%M:%S')}\n").encode())
        self.fd = fd
        return self

    def __exit__(self, *exc):
        if self.fd is not None:
            try:
                os.unlink(self.path)
            except OSError:
                pass
            os.close(self.fd)
            self.fd = None
        return False


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
            sys.stderr.write(f"[{run.index}/{self.total}] {printable(run.label())} ... ")
            sys.stderr.flush()

    def end(self, status, wall):
        if self.enabled:
            sys.stderr.write(f"{printable(status)} {wall:.2f} s (elapsed "
                             f"{self.elapsed():.1f} s)\n")
            sys.stderr.flush()

    def note(self, text):
        if self.enabled:
            print(printable(text), file=sys.stderr)

    @contextlib.contextmanager
    def step(self, text):
        """A line for work after the runs (a plot, a picture): what, then how long it took."""
        if self.enabled:
            sys.stderr.write(f"{printable(text)} ... ")
            sys.stderr.flush()
        began = time.monotonic()
        yield
        if self.enabled:
            sys.stderr.write(f"{time.monotonic() - began:.1f} s\n")
            sys.stderr.flush()


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


# The signals taken. The exception a handler raises is lost when the handler happens to run inside
# a callback whose exceptions Python reports and ignores (the fork hooks around starting a program
# are one): the sweep then stops at the next finished run, its status still says it was
# interrupted, and the lost exception is not printed as a traceback.
_received = []


def _on_signal(signum, frame):
    _received.append(signum)
    raise Interrupted(signum)


def _unraisable(info):
    if not isinstance(info.exc_value, Interrupted):
        sys.__unraisablehook__(info)


def _settings(args, d):
    """The study, its runs and the timing settings; UsageError or InputError when unusable.
    d is the program's description of its input files."""
    study = study_mod.load_study(args.study, d) if args.study else study_mod.Study()
    base_folder = args.base or study.base
    if not base_folder:
        raise study_mod.UsageError("no base case: give BASE or a study file with 'base'")
    given = {name: getattr(args, name) for name in list(study_mod.AXES) + ["nx", "levels"]
             if name != "grid" and getattr(args, name) is not None}
    overrides = study_mod.axes_from_mapping(given, "command line", d)
    window = args.window if args.window is not None else study.window
    window = DEFAULT_WINDOW if window is None else window
    timeout = args.timeout if args.timeout is not None else study.timeout
    timeout = DEFAULT_TIMEOUT if timeout is None else timeout
    limit = study_mod.MAX_SECONDS
    if not (0 <= window <= limit and 0 < timeout <= limit):
        raise study_mod.UsageError(f"--window must be from 0 to {limit:g} and --timeout above "
                                   f"0 and at most {limit:g} seconds")
    base = inputs.BaseCase(base_folder, d)
    runs = study_mod.plan_runs(base, study, overrides)
    return study, base_folder, runs, window, timeout


class Sweep:
    """The rows of a sweep as its runs finish, and the tables written after each one."""

    def __init__(self, out, runs, window, command, title, progress, description):
        self.out, self.runs, self.window = out, runs, window
        self.description = description
        self.command, self.title, self.progress = command, title, progress
        self.rows, self.histories = {}, {}
        self.notes = ()  # lines for summary.md about where the runs went

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
                              self.title, self.progress.elapsed(), list(plots), planned,
                              self.notes + cluster.worker_notes(rows))

    def not_run(self):
        for run in self.runs:
            if run.index not in self.rows:
                self.rows[run.index] = results.make_row(
                    run, self.folder(run), self.window,
                    {"status": "not run", "error": "interrupted"})


def _description(args, executor):
    """The program's description of its input files: from the workers' program with
    --scheduler, else from the program here (binaries: its folder)."""
    if executor is not None:
        return executor.description(), None
    binaries = runner.Binaries(args.bin_dir or args.default_bin)
    missing = binaries.missing()
    if missing:
        raise cluster.ExecutorError(missing, 1)
    try:
        return description.describe(binaries.program), binaries
    except description.DescriptionError as e:
        raise cluster.ExecutorError(str(e), 1) from None


def main(argv=None):
    argv = list(sys.argv[1:] if argv is None else argv)
    args = build_parser().parse_args(argv)
    _quiet_libraries(sys.stderr.isatty())
    if args.read:
        return _read_command(args.read)
    stack = contextlib.ExitStack()  # holds the executor: a pool, a scheduler connection
    lock = None
    try:
        if args.jobs is not None and not 1 <= args.jobs <= MAX_JOBS:
            raise study_mod.UsageError(f"--jobs must be from 1 to {MAX_JOBS}")
        on_cluster = args.scheduler is not None
        if args.jobs is not None and on_cluster:
            raise study_mod.UsageError("--jobs and --scheduler exclude each other (the "
                                       "scheduler's workers set how many runs go at once)")
        executor = None
        if on_cluster:
            executor = stack.enter_context(cluster.make_executor(None, args.scheduler,
                                                                 args.bin_dir, _warn))
        d, binaries = _description(args, executor)
        study, base_folder, runs, window, timeout = _settings(args, d)
        if args.dry_run:
            for r in runs:
                print(f"{r.index:4d}  {r.slug()}")
            stack.close()
            return 0
        if not args.out:
            raise study_mod.UsageError("no output folder: give -o DIR")
        if args.fields:
            fields_mod.check_available()
        check_out(args.out, args.force)
        lock = OutputLock(args.out).__enter__()
        if executor is None:
            executor = stack.enter_context(cluster.make_executor(min(args.jobs or 1, len(runs))))
        prepare_out(args.out)
    except (study_mod.UsageError, inputs.InputError, fields_mod.FieldsError) as e:
        stack.close()
        if lock is not None:
            lock.__exit__()
        return _fail(2, str(e))
    except cluster.ExecutorError as e:
        stack.close()
        if lock is not None:
            lock.__exit__()
        return _fail(e.exit_code, str(e))
    except OSError as e:
        stack.close()
        if lock is not None:
            lock.__exit__()
        return _fail(1, f"{e.filename}: {e.strerror}")

    out = args.out
    progress = Progress(len(runs), sys.stderr.isatty())
    sweep = Sweep(out, runs, window, _command_text([PROG] + argv),
                  study.description or "advdiff2d sweep", progress, d)
    # With --scheduler, --bin-dir is a folder on the workers (None: their PATH).
    bin_dir = args.bin_dir if on_cluster else binaries.bin_dir
    task_list = [runner.make_task(r, bin_dir, window, timeout, args.fields) for r in runs]
    sweep.notes = executor.notes
    if isinstance(executor, cluster.LocalPool):
        _note(executor.notes[0].rstrip("."))
    one_by_one = isinstance(executor, cluster.Sequential)
    status = 0
    del _received[:]
    previous = {signal.SIGTERM: signal.signal(signal.SIGTERM, _on_signal)}
    if signal.getsignal(signal.SIGINT) is signal.default_int_handler:  # not where it is ignored
        previous[signal.SIGINT] = signal.signal(signal.SIGINT, _on_signal)
    sys.unraisablehook = _unraisable
    try:
        try:
            with stack, contextlib.closing(executor.results(
                    task_list, started=lambda i: progress.begin(runs[i]))) as finished:
                for i, result in finished:
                    row = sweep.record(runs[i], task_list[i], result)
                    if not one_by_one:  # runs finish in any order: one whole line each
                        progress.begin(runs[i])
                    progress.end(row["status"] if row["status"] == "ok"
                                 else f"{row['status']}: {row['error']}", row["wall_seconds"])
                    if _received:
                        raise Interrupted(_received[0])
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
        for signum, handler in previous.items():
            signal.signal(signum, handler)
        sys.unraisablehook = sys.__unraisablehook__
        lock.__exit__()
    return status or (128 + _received[0] if _received else 0)


def _note(text):
    print(f"{PROG}: note: {printable(text)}", file=sys.stderr)


def _command_text(argv):
    """The command line as a shell would take it back, with bytes that are not UTF-8 (from a
    file name) written as \\xNN so that the UTF-8 tables can hold it."""
    return printable(shlex.join(argv))


def _finish(sweep, runs, argv, window, timeout, base_folder, fields):
    """The tables, plots and pictures after the last run; a non-zero status or 0."""
    out = sweep.out
    rows = sweep.ordered_rows()
    sweep.write_tables()
    results.write_history_csv(os.path.join(out, "history.csv"), sweep.histories)
    results.write_rates_csv(os.path.join(out, "rates.csv"), rows)
    _plan_json(os.path.join(out, "plan.json"), runs, argv, window, timeout, base_folder)
    try:
        with sweep.progress.step("loading the plotting library"):
            from . import plots
        written = plots.write_plots(out, rows, sweep.histories,
                                    lambda name: sweep.progress.step(f"plot {name}"))
    except Exception as e:  # a plotting problem must not lose the tables
        _warn(f"plots not written: {e}")
        written = []
    if fields:
        try:
            fields_mod.write_pictures(out, rows, lambda k, n, name: sweep.progress.step(
                f"[{k}/{n}] fields/{name}.png"))
        except Exception as e:
            _warn(f"field pictures not written: {e}")
    sweep.write_tables(written)
    ok = sum(r["status"] == "ok" for r in rows)
    sweep.progress.note(f"{len(rows)} runs, {ok} ok, {len(rows) - ok} not ok, in "
                        f"{sweep.progress.elapsed():.1f} s; results in {out}")
    if any(r["status"] == "not run" for r in rows):
        return None
    if ok == 0:
        return _fail(1, f"no run completed (see {os.path.join(out, 'results.csv')})")
    return 0
