"""Turns a planned run into a task (see tasks.py) and files what the task brought back."""

import json
import os

from . import inputs, report, tasks

PROGRAM = tasks.PROGRAM
REFERENCE = tasks.REFERENCE
REPORT_FILE = "report.txt"


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


def reference_key(run):
    """Runs on the same grid and test case share their reference solution (the exact solution
    of the discrete system does not depend on the solver or the run mode)."""
    p = run.params
    return (f"{run.nx}x{run.ny}-{p['problem_kind']}_{p['flow_angle']}_{p['peclet_code']}"
            f"-gamma{p['gamma']!r}")


def make_task(run, binaries, window, timeout, fields=False):
    """The self-contained task of one run (see tasks.py)."""
    files = inputs.run_files(run.mode, run.params,
                             f"advdiff2d-sweep run {run.index}: {run.label()}")
    return {"name": run.slug(), "files": files, "reference_key": reference_key(run),
            "reference_file": f"exata{run.params['reference_file_index']}",
            "window": float(window), "timeout": float(window + timeout), "fields": fields,
            "bin_dir": binaries.bin_dir}


def store_result(task, result, folder):
    """Writes a run's input files and what the run brought back into its folder."""
    os.makedirs(folder, exist_ok=True)
    for name, text in task["files"].items():
        with open(os.path.join(folder, name), "w", encoding="latin-1", newline="") as f:
            f.write(text)
    if result.get("report_text") is not None:
        with open(os.path.join(folder, REPORT_FILE), "w", encoding="latin-1",
                  newline="") as f:
            f.write(result["report_text"])
    if result.get("summary") is not None:
        with open(os.path.join(folder, tasks.SUMMARY_FILE), "w", encoding="utf-8") as f:
            json.dump(result["summary"], f, indent=1)
    if result.get("fields_vti") is not None:
        with open(os.path.join(folder, tasks.FIELDS_FILE), "wb") as f:
            f.write(result["fields_vti"])


def run_one(run, folder, binaries, window, timeout):
    """Runs a simulation; returns (status, error message, parsed report or None, seconds)."""
    task = make_task(run, binaries, window, timeout)
    return file_result(run, task, tasks.run_task(task), folder)


def file_result(run, task, result, folder):
    """Reads and files the result of a run's task, wherever it ran; returns (status, error
    message, parsed report or None, seconds)."""
    parsed = None
    if result["status"] == "ok":
        try:
            parsed = report.parse_report(result["report_text"], run.params["report_file_name"])
        except report.ReportError as e:
            result.update(status="failed", error=f"report: {e}")
    try:
        store_result(task, result, folder)
    except OSError as e:
        result.update(status="failed", error=f"files: {e.filename}: {e.strerror}")
        parsed = None
    return result["status"], result["error"], parsed, result["wall_seconds"]
