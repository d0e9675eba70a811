"""Turns a planned run into a task (see tasks.py) and files what the task brought back."""

import json
import os

from . import inputs, tasks

PROGRAM = tasks.PROGRAM
REFERENCE = tasks.REFERENCE
REPORT_FILE = inputs.REPORT_NAME


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
    return (f"{run.nx}x{run.ny}-{run.case[0]}_{run.case[1]}_{run.case[2]}"
            f"-gamma{run.value('gamma')!r}-exata{run.value('reference_file_index')}")


def make_task(run, bin_dir, window, timeout, fields=False):
    """The self-contained task of one run (see tasks.py)."""
    return {"name": run.slug(), "files": run.files(), "reference_key": reference_key(run),
            "reference_file": f"exata{run.value('reference_file_index')}",
            "window": float(window), "timeout": float(window + timeout), "fields": fields,
            "bin_dir": bin_dir}


def _write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def store_result(task, result, folder):
    """Writes a run's input files and what the run brought back into its folder."""
    os.makedirs(folder, exist_ok=True)
    for name, text in task["files"].items():
        _write(os.path.join(folder, name), text.encode("latin-1"))
    if result.get("report_text") is not None:
        _write(os.path.join(folder, REPORT_FILE), result["report_text"].encode("latin-1"))
    if result.get("summary") is not None:
        _write(os.path.join(folder, tasks.SUMMARY_FILE),
               (json.dumps(result["summary"], indent=1) + "\n").encode("utf-8"))
    if result.get("fields_vti") is not None:
        _write(os.path.join(folder, tasks.FIELDS_FILE), result["fields_vti"])
