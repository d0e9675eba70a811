"""The summary documents the sweep reads: from the program, and texts that are not ones."""

import json
import math
import os
import subprocess

import pytest
from conftest import GOLDEN, SCRIPT, copy_case

from advdiff2d_sweep import inputs, summary
from advdiff2d_sweep.summary import SummaryError, read_summary

CASES = sorted(p.name for p in GOLDEN.iterdir() if p.is_dir())


def _item(folder, setting, described):
    """The integer of a setting in a golden case's own parameter file."""
    base = inputs.BaseCase(str(folder), described)
    mode = base.default_mode()
    return base.integer(mode, setting)


@pytest.mark.parametrize("case", CASES)
def test_program_summary_values_match_the_inputs_of_the_run(case, build_dir, described,
                                                            tmp_path):
    folder = copy_case(GOLDEN / case, tmp_path / case)
    subprocess.run([build_dir / "advdiff2d", "--no-edit", "--window", "0", "--summary",
                    "s.json"], cwd=folder, check=True, capture_output=True)
    doc = read_summary(folder / "s.json")
    v = summary.values(doc)
    mode = inputs.BaseCase(str(folder), described).default_mode()
    assert doc["run_mode"] == mode
    if mode == 1:
        assert v["levels"] == _item(folder, "level_count", described)
        assert v["inner_iterations"] == _item(folder, "inner_iterations", described)
        assert (doc["levels"][-1]["Nx"], doc["levels"][-1]["Ny"]) == (
            _item(folder, "coarsest_nx", described), _item(folder, "coarsest_ny", described))
    else:
        assert (v["nx"], v["ny"]) == (_item(folder, "Nx", described), _item(folder, "Ny", described))
        assert v["levels"] is None and v["inner_iterations"] == 1
    assert v["unknowns"] == v["nx"] * v["ny"]
    assert v["repetitions"] == 1 and v["seconds_per_run"] == v["elapsed_seconds"]
    assert 0 <= v["discretisation_error"] <= v["linf_error"]
    assert v["converged"] is True and v["stop_reason"] in ("tolerance_reached", "direct_solve")
    assert len(v["history"]) == v["outer_iterations"] + 1
    assert v["history"][-1] == v["final_norm"] and v["history"][0] == v["initial_norm"]


def _doc(**changes):
    doc = {"format": "advdiff2d-summary", "format_version": 1, "run_mode": 2,
           "grid": {"Nx": 9, "Ny": 9, "N": 81}, "timing": {"repetition_count": 3,
                                                            "elapsed_seconds": 0.3},
           "iteration_count": 2, "converged": False, "stop_reason": "norm_not_finite",
           "initial_norm": 1.0, "final_norm": "NaN", "discretisation_error": "Infinity",
           "linf_error": "-Infinity", "last_iteration_rate": None,
           "norm_history": [1.0, 0.5, "NaN"]}
    doc.update(changes)
    return doc


def test_special_numbers_and_missing_parts_are_read():
    v = summary.values(_doc())
    assert math.isnan(v["final_norm"]) and math.isnan(v["history"][2])
    assert (v["discretisation_error"], v["linf_error"]) == (math.inf, -math.inf)
    assert v["last_rate"] is None and v["seconds_per_run"] is None
    assert (v["converged"], v["stop_reason"], v["unknowns"]) == (False, "norm_not_finite", 81)
    sparse = summary.values({"format": "advdiff2d-summary", "format_version": 1,
                             "grid": [], "iteration_count": True, "converged": "yes"})
    assert sparse["nx"] is None and sparse["outer_iterations"] is None
    assert sparse["converged"] is None and sparse["history"] == []


REPORT = (GOLDEN / "mg-gs-rotating-L5" / "expected-mg_gs.txt").read_bytes()


@pytest.mark.parametrize("content, message", [
    (b"", "not a JSON summary"),
    (REPORT, "this is a report, not a summary: run advdiff2d with --summary"),
    (b"run,status\n1,ok\n", "not a JSON summary"),
    (b"{\"a\": \xff}", "not UTF-8"),
    (b"[" * 200000 + b"]" * 200000, "nested too deeply"),
    (json.dumps({"format": "other"}).encode(), "not an advdiff2d summary"),
    (json.dumps(_doc(format_version="1")).encode(), "format_version"),
    (json.dumps(_doc(norm_history=7)).encode(), "norm_history"),
    (b'{"format": "advdiff2d-summary", "format_version": 1, "x": NaN}', "NaN is not"),
    (b'{"format": "advdiff2d-summary", "format_version": ' + b"9" * 5000 + b"}",
     "5000 digits"),
    (b'{"format": "advdiff2d-summary", "format_version": 1, "report_file": "r\\udc80"}',
     "report_file: holds a lone surrogate"),
], ids=["empty", "report", "csv", "latin-1", "deep", "format", "version", "history", "nan",
        "long-integer", "surrogate"])
def test_texts_that_are_not_summaries_are_refused(content, message, tmp_path):
    path = tmp_path / "file.json"
    path.write_bytes(content)
    with pytest.raises(SummaryError, match=message) as info:
        read_summary(path)
    assert str(path) in str(info.value) and "\n" not in str(info.value)


def test_files_that_are_not_regular_are_refused_unread(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    for path in (fifo, tmp_path, tmp_path / "missing"):
        with pytest.raises(SummaryError, match=f"{path}: (not a regular file|cannot read)"):
            read_summary(path)


def test_read_option_prints_the_whole_document_or_one_error_line(tmp_path, monkeypatch):
    # A million history entries (some 20 MB) come back whole.
    big = tmp_path / "big.json"
    big.write_text(json.dumps(_doc(norm_history=[1.0 / (i + 1) for i in range(10 ** 6)])))
    good = subprocess.run([SCRIPT, "--read", big], capture_output=True, text=True)
    assert good.returncode == 0, good.stderr
    assert len(json.loads(good.stdout)["norm_history"]) == 10 ** 6
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    report = tmp_path / "report.txt"
    report.write_bytes(REPORT)
    for bad in (fifo, report):
        refused = subprocess.run([SCRIPT, "--read", bad], capture_output=True, text=True,
                                 timeout=60)
        assert refused.returncode == 1 and refused.stdout == ""
        assert refused.stderr.count("\n") == 1 and str(bad) in refused.stderr
    # Past the bound the file is refused, not cut short.
    monkeypatch.setattr(summary, "MAX_SUMMARY_BYTES", 1000)
    with pytest.raises(SummaryError, match="too large"):
        read_summary(big)
