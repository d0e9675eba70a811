"""Runs one simulation of a study in its own folder: input files, reference, program, report."""

import os
import shutil
import subprocess
import time

from . import inputs, report

PROGRAM = "advdiff2d"
REFERENCE = "advdiff2d-reference"


class Binaries:
    def __init__(self, bin_dir):
        self.bin_dir = os.path.abspath(bin_dir)
        self.program = os.path.join(self.bin_dir, PROGRAM)
        self.reference = os.path.join(self.bin_dir, REFERENCE)

    def missing(self):
        """Message naming the binaries that are not there or not executable, or None."""
        bad = [p for p in (self.program, self.reference)
               if not (os.path.isfile(p) and os.access(p, os.X_OK))]
        if bad:
            return f"no executable {' or '.join(bad)} (build the project, or give --bin-dir)"
        return None


class StepFailed(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


def _last_line(text):
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    return lines[-1] if lines else ""


def _run_step(step, argv, folder, timeout):
    try:
        done = subprocess.run(argv, cwd=folder, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout)
    except subprocess.TimeoutExpired:
        raise StepFailed("timeout", f"{step}: no result after {timeout:g} s") from None
    except OSError as e:
        raise StepFailed("failed", f"{step}: cannot start {argv[0]}: {e.strerror}") from None
    if done.returncode != 0:
        why = _last_line(done.stderr.decode("latin-1")) or f"exit status {done.returncode}"
        raise StepFailed("failed", f"{step}: {why}")


class ReferenceCache:
    """Reference solutions already computed in this sweep.

    The reference is the exact solution of the discrete system, which depends on the grid and
    the test case only, not on the solver or the mode; runs that share both reuse one file.
    """

    def __init__(self, folder):
        self.folder = folder

    @staticmethod
    def _key(run):
        p = run.params
        return (f"{run.nx}x{run.ny}-{p['problem_kind']}_{p['flow_angle']}_{p['peclet_code']}"
                f"-gamma{p['gamma']!r}")

    def fetch(self, run, target):
        source = os.path.join(self.folder, self._key(run))
        if os.path.isfile(source):
            shutil.copyfile(source, target)
            return True
        return False

    def store(self, run, source):
        os.makedirs(self.folder, exist_ok=True)
        shutil.copyfile(source, os.path.join(self.folder, self._key(run)))


def run_one(run, folder, binaries, window, timeout, cache):
    """Runs a simulation; returns (status, error message, parsed report or None)."""
    try:
        os.makedirs(folder, exist_ok=True)
        inputs.write_run_files(folder, run.mode, run.params,
                               f"advdiff2d-sweep run {run.index}: {run.label()}")
        index = run.params["reference_file_index"]
        reference_file = os.path.join(folder, f"exata{index}")
        if not cache.fetch(run, reference_file):
            _run_step("reference", [binaries.reference], folder, timeout)
            if not os.path.isfile(reference_file):
                raise StepFailed("failed", f"reference: exata{index} was not written")
            cache.store(run, reference_file)
        _run_step("advdiff2d", [binaries.program, "--no-edit", "--window", repr(window)],
                  folder, window + timeout)
        path = os.path.join(folder, run.params["report_file_name"])
        if not os.path.isfile(path):
            raise StepFailed("failed", f"report: {run.params['report_file_name']} was not "
                                       "written")
        return "ok", "", report.read_report(path)
    except StepFailed as e:
        return e.status, str(e), None
    except report.ReportError as e:
        return "failed", f"report: {e}", None
    except OSError as e:
        return "failed", f"files: {e.filename}: {e.strerror}", None


def timed_run(run, folder, binaries, window, timeout, cache):
    start = time.monotonic()
    status, error, parsed = run_one(run, folder, binaries, window, timeout, cache)
    return status, error, parsed, time.monotonic() - start
