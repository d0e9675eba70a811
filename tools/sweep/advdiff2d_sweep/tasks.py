"""One simulation of a study as a self-contained task.

A task carries the text of its input files, so it runs on any machine that has the two
programs, with no shared file system: it writes the files into a scratch folder of its own,
makes (or reuses) the reference solution, asks the program how much memory the run needs,
runs the simulation and brings back what it wrote.

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

run_task(task, admit) returns a dict: name, status ("ok", "failed", "timeout"; an executor
whose worker dies reports "lost"), returncode, stderr, error (one line: the step and the last
line of its message), report_text (ISO 8859-1 decoded), summary (the parsed summary JSON),
fields_vti (bytes), memory_needed and memory_left (bytes, as the run started), worker, host,
nthreads, wall_seconds. It never raises for a failed run; only an interruption
(KeyboardInterrupt and the like) goes through. The program runs with --strict: a run whose
settings select nothing is refused, and exit status 3 is a run that completed without
converging.

admit(bytes), when given, is called with the run's stated need before the simulation starts
and returns once the run may start, with the memory left for it; a pool uses it to keep its
runs within the machine's memory.

Scratch: every folder a process makes lives in one folder of its own in the temporary folder,
named by its process id and start time. A process that ends removes it; one that is killed
cannot, so every task first removes those of processes that are gone, a pool removes a dead
worker's at once, and a study on a cluster has its workers do it when it ends. The programs a task starts die with the thread that
started them (Linux), so a killed worker leaves none running.

Reference solutions depend on the grid and the test case only, so a process keeps the ones
it made in its scratch folder, keyed by reference_key: a worker computes each once.
"""

import atexit
import ctypes
import ctypes.util
import hashlib
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

from . import memory

PROGRAM = "advdiff2d"
REFERENCE = "advdiff2d-reference"
SUMMARY_FILE = "summary.json"
FIELDS_FILE = "fields.vti"
ENCODING = "latin-1"
# The program's exit status for a run that ended without converging (with --strict).
NOT_CONVERGED = 3
SCRATCH_PREFIX = "advdiff2d-sweep-"

_lock = threading.Lock()
_owner_dir = None
_key_locks = {}


class _StepFailed(Exception):
    def __init__(self, status, message, returncode=None, stderr=""):
        super().__init__(message)
        self.status, self.returncode, self.stderr = status, returncode, stderr


# ---------------------------------------------------------------------------------------------
# Scratch folders.

def _start_time(pid):
    """The start time of a process (clock ticks since boot), or None where it cannot be read:
    with the process id it names a process, whose id alone may be reused."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[19]
    except (OSError, IndexError):
        return None


def _owner_name(pid):
    return f"{SCRATCH_PREFIX}{pid}-{_start_time(pid) or 0}"


def _alive(name):
    """Whether the process a scratch folder is named after is still running."""
    m = re.fullmatch(re.escape(SCRATCH_PREFIX) + r"(\d+)-(\d+)", name)
    if not m:
        return True  # not one of ours: left alone
    pid = int(m.group(1))
    if os.path.isdir("/proc/self"):
        return _owner_name(pid) == name
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except OSError:
        pass
    return True


def remove_stale_scratch(pid=None):
    """Removes the scratch folders of processes that are gone (or of the one process given,
    known dead); returns how many were removed."""
    root = tempfile.gettempdir()
    try:
        names = os.listdir(root)
    except OSError:
        return 0
    removed = 0
    for name in names:
        if not name.startswith(SCRATCH_PREFIX):
            continue
        if pid is not None and not name.startswith(f"{SCRATCH_PREFIX}{pid}-"):
            continue
        if pid is None and _alive(name):
            continue
        path = os.path.join(root, name)
        try:
            if os.stat(path).st_uid != os.getuid():
                continue
        except OSError:
            continue
        shutil.rmtree(path, ignore_errors=True)
        removed += 1
    return removed


def remove_own_scratch():
    global _owner_dir
    with _lock:
        if _owner_dir is not None:
            shutil.rmtree(_owner_dir, ignore_errors=True)
            _owner_dir = None


def _owner_folder():
    """This process's scratch folder (made on first use; a forked child makes its own)."""
    global _owner_dir
    with _lock:
        name = _owner_name(os.getpid())
        if _owner_dir is None or os.path.basename(_owner_dir) != name \
                or not os.path.isdir(_owner_dir):
            if _owner_dir is None:
                atexit.register(remove_own_scratch)
            _owner_dir = os.path.join(tempfile.gettempdir(), name)
            os.makedirs(os.path.join(_owner_dir, "references"), mode=0o700, exist_ok=True)
        return _owner_dir


def _key_lock(key):
    with _lock:
        return _key_locks.setdefault(key, threading.Lock())


def _cache_path(key):
    digest = hashlib.sha256(key.encode("utf-8")).hexdigest()[:40]
    return os.path.join(_owner_folder(), "references", digest)


# ---------------------------------------------------------------------------------------------
# Starting the programs.

def _find_prctl():
    if not os.path.isdir("/proc/self"):
        return None
    try:
        return ctypes.CDLL(ctypes.util.find_library("c") or None, use_errno=True).prctl
    except (OSError, AttributeError):
        return None


_prctl = _find_prctl()
_PR_SET_PDEATHSIG = 1


def _popen_kwargs():
    """On Linux, a program is killed when the thread that started it ends: a worker that is
    killed leaves no program running. (A parent gone between fork and prctl is caught by
    the parent id, which has changed then.)"""
    if _prctl is None:
        return {}
    parent = os.getpid()

    def die_with_parent():
        _prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
        if os.getppid() != parent:
            os._exit(1)

    return {"preexec_fn": die_with_parent}


def program_path(bin_dir, name):
    """The program in bin_dir, or as found on the PATH (None when it is not there)."""
    if bin_dir is None:
        return shutil.which(name)
    path = os.path.join(bin_dir, name)
    return path if os.path.isfile(path) and os.access(path, os.X_OK) else None


def last_line(text):
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    return lines[-1] if lines else ""


def signal_text(returncode, need=None, left=None):
    """What a negative exit status says: the signal that ended the program; SIGKILL, which
    only the kernel's out-of-memory killer or a person sends, with the run's memory figures."""
    number = -returncode
    try:
        name = signal.Signals(number).name
    except ValueError:
        name = f"signal {number}"
    text = f"killed by signal {number} ({name})"
    if number == signal.SIGKILL:
        text += ", probably out of memory"
        if need is not None:
            text += f": the run needs {memory.text(need)}"
            text += (f", {memory.text(left)} was left when it started" if left is not None
                     else "; the machine gives no figure of the memory left")
    return text


def _run_step(step, argv, folder, deadline, accepted=(0,), figures=(None, None)):
    """Runs one program; its exit status and its stdout and stderr text. A status not in
    `accepted` fails the step with the last line of the program's message."""
    remaining = deadline - time.monotonic()
    if remaining <= 0:
        raise _StepFailed("timeout", f"{step}: not started, the task's time was used up")
    try:
        done = subprocess.run(argv, cwd=folder, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=remaining, **_popen_kwargs())
    except subprocess.TimeoutExpired as e:
        stderr = (e.stderr or b"").decode(ENCODING)
        raise _StepFailed("timeout", f"{step}: no result after {remaining:.3g} s",
                          None, stderr) from None
    except OSError as e:
        raise _StepFailed("failed", f"{step}: cannot start {argv[0]}: {e.strerror}") from None
    stderr = done.stderr.decode(ENCODING)
    if done.returncode not in accepted:
        if done.returncode < 0:
            why = signal_text(done.returncode, *figures)
        else:
            why = last_line(stderr) or f"exit status {done.returncode}"
        raise _StepFailed("failed", f"{step}: {why}", done.returncode, stderr)
    return done.returncode, done.stdout.decode(ENCODING), stderr


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


def _program_options(task):
    """The options of the simulation, which --memory-needed is given as well: the program
    checks the run as it will be made."""
    options = ["--no-edit", "--strict", "--summary", SUMMARY_FILE]
    if task.get("fields"):
        options += ["--fields", FIELDS_FILE]
    return options


def _memory_needed(program, task, scratch, deadline):
    """The bytes the run needs, as the program states them after every check it makes before
    computing (a run it would refuse fails here, with its message)."""
    _, out, _ = _run_step("advdiff2d", [program, *_program_options(task), "--memory-needed"],
                          scratch, deadline)
    text = out.strip()
    if not text.isdigit() or len(text) > 30:
        raise _StepFailed("failed", "advdiff2d: --memory-needed printed no byte count "
                                    f"({text[:40]!r})")
    return int(text)


def run_task(task, admit=None):
    """Runs one simulation; the outcome, failed or not, is in the returned dict."""
    start = time.monotonic()
    result = {"name": task.get("name", ""), "status": "failed", "returncode": None,
              "stderr": "", "error": "", "report_text": None, "summary": None,
              "fields_vti": None, "memory_needed": None, "memory_left": None,
              "worker": "local", "host": socket.gethostname(), "nthreads": 1,
              "wall_seconds": 0.0}
    scratch = None
    try:
        deadline = start + float(task.get("timeout", 600.0))
        remove_stale_scratch()
        scratch = tempfile.mkdtemp(prefix="run-", dir=_owner_folder())
        for name, text in task["files"].items():
            with open(os.path.join(scratch, os.path.basename(name)), "w",
                      encoding=ENCODING, newline="") as f:
                f.write(text)
        _reference(task, scratch, deadline)
        before = set(os.listdir(scratch))
        program = program_path(task.get("bin_dir"), PROGRAM)
        if program is None:
            raise _StepFailed("failed", f"advdiff2d: {PROGRAM} not found")
        need = result["memory_needed"] = _memory_needed(program, task, scratch, deadline)
        if admit is not None:
            waiting = time.monotonic()
            result["memory_left"] = admit(need)
            deadline += time.monotonic() - waiting  # waiting for memory is not the run's time
        else:
            result["memory_left"] = memory.available()[0]
        argv = [program, *_program_options(task), "--window",
                repr(float(task.get("window", 0.0)))]
        result["returncode"], _, result["stderr"] = _run_step(
            "advdiff2d", argv, scratch, deadline, accepted=(0, NOT_CONVERGED),
            figures=(need, result["memory_left"]))
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
