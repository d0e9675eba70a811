"""One simulation of a study as a self-contained task.

A task carries the text of its input files, so it runs on any machine that has the two
programs, with no shared file system: it writes the files into a scratch folder of its own,
makes (or reuses) the reference solution, runs the simulation and brings back what it wrote.

    task = {
      "name": "mg-L5-gs-inner2",            # the run's folder name under OUT/runs/
      "files": {"dados1.ent": "...", "MG2D_000.ent": "..."},   # the input files' full text
      "reference_key": "...",               # equal for runs whose reference solution is the same
      "reference_file": "exata6",           # its name
      "window": 0.0,                        # --window seconds
      "timeout": 600.0,                     # seconds for the whole task
      "fields": False,                      # also ask for --fields
      "bin_dir": None,                      # where the two programs are; None: the PATH
    }

run_task(task) returns a dict: name, status ("ok", "failed", "timeout"; an executor whose
worker dies reports "lost"), returncode, stderr, error (one line: the step and the last line
of its message), report_text (ISO 8859-1 decoded), summary (the parsed summary JSON),
fields_vti (bytes), worker, host, nthreads, wall_seconds. It never raises for a failed run;
only an interruption (KeyboardInterrupt and the like) goes through.

Reference solutions depend on the grid and the test case only, so a process keeps the ones
it made in a cache folder of its own, keyed by reference_key: a worker computes each once.
"""

import atexit
import hashlib
import json
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time

PROGRAM = "advdiff2d"
REFERENCE = "advdiff2d-reference"
SUMMARY_FILE = "summary.json"
FIELDS_FILE = "fields.vti"
ENCODING = "latin-1"

_cache_lock = threading.Lock()
_cache_dir = None
_key_locks = {}


class _StepFailed(Exception):
    def __init__(self, status, message, returncode=None, stderr=""):
        super().__init__(message)
        self.status, self.returncode, self.stderr = status, returncode, stderr


def _remove_cache():
    if _cache_dir is not None:
        shutil.rmtree(_cache_dir, ignore_errors=True)


def _cache_folder():
    global _cache_dir
    with _cache_lock:
        if _cache_dir is None or not os.path.isdir(_cache_dir):
            _cache_dir = tempfile.mkdtemp(prefix="advdiff2d-references-")
            atexit.register(_remove_cache)
        return _cache_dir


def _key_lock(key):
    with _cache_lock:
        return _key_locks.setdefault(key, threading.Lock())


def _cache_path(key):
    digest = hashlib.sha256(key.encode("utf-8")).hexdigest()[:40]
    return os.path.join(_cache_folder(), digest)


def program_path(bin_dir, name):
    """The program in bin_dir, or as found on the PATH (None when it is not there)."""
    if bin_dir is None:
        return shutil.which(name)
    path = os.path.join(bin_dir, name)
    return path if os.path.isfile(path) and os.access(path, os.X_OK) else None


def last_line(text):
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    return lines[-1] if lines else ""


def _run_step(step, argv, folder, deadline):
    remaining = deadline - time.monotonic()
    if remaining <= 0:
        raise _StepFailed("timeout", f"{step}: not started, the task's time was used up")
    try:
        done = subprocess.run(argv, cwd=folder, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=remaining)
    except subprocess.TimeoutExpired as e:
        stderr = (e.stderr or b"").decode(ENCODING)
        raise _StepFailed("timeout", f"{step}: no result after {remaining:.3g} s",
                          None, stderr) from None
    except OSError as e:
        raise _StepFailed("failed", f"{step}: cannot start {argv[0]}: {e.strerror}") from None
    stderr = done.stderr.decode(ENCODING)
    if done.returncode != 0:
        why = last_line(stderr) or f"exit status {done.returncode}"
        raise _StepFailed("failed", f"{step}: {why}", done.returncode, stderr)
    return done.returncode, stderr


def _reference(task, scratch, deadline):
    """Puts the reference solution into the scratch folder, from the cache or made anew."""
    name = task["reference_file"]
    target = os.path.join(scratch, name)
    key = task.get("reference_key") or ""
    lock = _key_lock(key) if key else threading.Lock()
    with lock:
        cached = _cache_path(key) if key else None
        if cached and os.path.isfile(cached):
            shutil.copyfile(cached, target)
            return
        tool = program_path(task.get("bin_dir"), REFERENCE)
        if tool is None:
            raise _StepFailed("failed", f"reference: {REFERENCE} not found")
        _run_step("reference", [tool], scratch, deadline)
        if not os.path.isfile(target):
            raise _StepFailed("failed", f"reference: {name} was not written")
        if cached:
            part = cached + f".part{os.getpid()}.{threading.get_ident()}"
            shutil.copyfile(target, part)
            os.replace(part, cached)


def _read(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def _report_name(scratch, before, summary):
    """The report the program wrote: as the summary names it, else the one new file."""
    if summary and isinstance(summary.get("report_file"), str):
        return summary["report_file"]
    new = [n for n in os.listdir(scratch) if n not in before
           and n not in (SUMMARY_FILE, FIELDS_FILE)
           and os.path.isfile(os.path.join(scratch, n))]
    return new[0] if len(new) == 1 else None


def run_task(task):
    """Runs one simulation; the outcome, failed or not, is in the returned dict."""
    start = time.monotonic()
    result = {"name": task.get("name", ""), "status": "failed", "returncode": None,
              "stderr": "", "error": "", "report_text": None, "summary": None,
              "fields_vti": None, "worker": "local", "host": socket.gethostname(),
              "nthreads": 1, "wall_seconds": 0.0}
    scratch = None
    try:
        deadline = start + float(task.get("timeout", 600.0))
        scratch = tempfile.mkdtemp(prefix="advdiff2d-run-")
        for name, text in task["files"].items():
            with open(os.path.join(scratch, os.path.basename(name)), "w",
                      encoding=ENCODING, newline="") as f:
                f.write(text)
        _reference(task, scratch, deadline)
        before = set(os.listdir(scratch))
        program = program_path(task.get("bin_dir"), PROGRAM)
        if program is None:
            raise _StepFailed("failed", f"advdiff2d: {PROGRAM} not found")
        argv = [program, "--no-edit", "--window", repr(float(task.get("window", 0.0))),
                "--summary", SUMMARY_FILE]
        if task.get("fields"):
            argv += ["--fields", FIELDS_FILE]
        result["returncode"], result["stderr"] = _run_step("advdiff2d", argv, scratch, deadline)
        summary_path = os.path.join(scratch, SUMMARY_FILE)
        if os.path.isfile(summary_path):
            try:
                result["summary"] = json.loads(_read(summary_path).decode("utf-8"))
            except (ValueError, RecursionError) as e:
                raise _StepFailed("failed", f"summary: not readable JSON: {e}") from None
        report = _report_name(scratch, before, result["summary"])
        if report is None or not os.path.isfile(os.path.join(scratch, report)):
            raise _StepFailed("failed", "advdiff2d: the report was not written")
        result["report_text"] = _read(os.path.join(scratch, report)).decode(ENCODING)
        if task.get("fields"):
            path = os.path.join(scratch, FIELDS_FILE)
            if not os.path.isfile(path):
                raise _StepFailed("failed", "advdiff2d: the fields file was not written")
            result["fields_vti"] = _read(path)
        result["status"] = "ok"
    except _StepFailed as e:
        result.update(status=e.status, error=str(e), stderr=e.stderr or result["stderr"])
        if e.returncode is not None:
            result["returncode"] = e.returncode
    except OSError as e:
        result.update(status="failed", error=f"files: {e.filename}: {e.strerror}")
    except Exception as e:  # a malformed task is a failed run, not a crash of the worker
        result.update(status="failed", error=f"task: {type(e).__name__}: {e}")
    finally:
        if scratch is not None:
            shutil.rmtree(scratch, ignore_errors=True)
        result["wall_seconds"] = time.monotonic() - start
    return result
