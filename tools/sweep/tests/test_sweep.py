"""The whole sweep on a tiny study: runs, CSV, plots, exit statuses."""

import csv
import os
import subprocess
import sys
import warnings

import pytest
from conftest import REPO, SCRIPT

from advdiff2d_sweep import cli

BASE = REPO / "examples" / "multigrid-gs-65"
PLOTS = ("time_vs_unknowns", "iterations_vs_unknowns", "error_vs_h", "history")


def test_tiny_study_records_every_run_and_draws_the_plots(build_dir, tmp_path):
    out = tmp_path / "out"
    (tmp_path / "file").write_text("")
    # Level count 1 is refused by the programs: one run fails and the sweep goes on. The
    # plotting library has no writable folder for its cache here, which it warns about.
    done = subprocess.run([SCRIPT, BASE, "-o", out, "--bin-dir", build_dir, "--mode", "1,2",
                           "--levels", "1,3,4", "--window", "0"],
                          capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, MPLCONFIGDIR=str(tmp_path / "file" / "x")))
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""  # quiet when stderr is not a terminal: errors only
    with open(out / "results.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    got = [(r["mode"], r["grid"], r["levels"], r["status"]) for r in rows]
    assert got == [("1", "3x3", "1", "failed"), ("1", "9x9", "3", "ok"),
                   ("1", "17x17", "4", "ok"), ("2", "3x3", "", "ok"), ("2", "9x9", "", "ok"),
                   ("2", "17x17", "", "ok")]
    assert "level_count" in rows[0]["error"] and rows[0]["seconds_per_run"] == ""
    for r in rows[1:]:
        assert r["error"] == "" and r["repetitions"] == "1"
        assert int(r["outer_iterations"]) > 0 and float(r["final_norm"]) < 1e-9
        assert int(r["unknowns"]) == int(r["nx"]) * int(r["ny"])
        assert (out / r["folder"] / "report.txt").is_file()
    # Both modes solve the same discrete system on the same grid.
    assert rows[2]["discretisation_error"][:6] == rows[5]["discretisation_error"][:6]
    for name in PLOTS:
        for ext in ("png", "svg"):
            assert (out / f"{name}.{ext}").stat().st_size > 1000
    summary = (out / "summary.md").read_text()
    assert "6 runs, 5 ok, 1 not ok" in summary and "level_count" in summary
    assert all(r["converged"] == "true" for r in rows[1:]) and rows[0]["converged"] == ""
    assert {r["stop_reason"] for r in rows[1:]} == {"tolerance_reached"}
    assert (out / r["folder"] / "summary.json").is_file()


def test_runs_that_do_not_converge_are_marked_and_not_fitted(build_dir, tmp_path):
    out = tmp_path / "out"
    done = subprocess.run([SCRIPT, REPO / "examples" / "single-grid-gs-33", "-o", out,
                           "--bin-dir", build_dir, "--levels", "3,4,5", "--max-iterations",
                           "20,20000", "--window", "0", "--fields"],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    rows = {r["folder"].split("/")[-1]: r for r in csv.DictReader(open(out / "results.csv"))}
    # The iteration bound is part of every run's name: it is the setting that varies.
    assert sorted(rows) == ["001-sg-gs-rotating-9x9-maxit20", "002-sg-gs-rotating-17x17-maxit20",
                            "003-sg-gs-rotating-33x33-maxit20",
                            "004-sg-gs-rotating-9x9-maxit20000",
                            "005-sg-gs-rotating-17x17-maxit20000",
                            "006-sg-gs-rotating-33x33-maxit20000"]
    bounded = [r for name, r in rows.items() if name.endswith("maxit20")]
    assert all((r["status"], r["converged"], r["stop_reason"], r["outer_iterations"]) ==
               ("ok", "false", "iteration_bound_reached", "20") for r in bounded)
    summary = (out / "summary.md").read_text()
    assert "Runs that did not converge (drawn hollow, left out of every fit)" in summary
    # Only the three converged runs are fitted.
    fits = [line for line in summary.splitlines()
            if line.startswith("| single grid Gauss-Seidel | 3 |")]
    assert len(fits) == 1
    # --fields: each run's fields file and its picture.
    from advdiff2d_sweep import fields
    for name, r in rows.items():
        assert (out / "fields" / f"{name}.png").stat().st_size > 10000
        got = fields.read_fields(out / r["folder"] / "fields.vti")
        n = int(r["nx"])
        assert got["arrays"]["TNum"].shape == (n, n) and got["hx"] == float(r["h"])
        assert abs(got["arrays"]["error"]).max() == float(r["linf_error"])


def test_run_names_show_every_setting_that_varies(build_dir, capsys):
    assert cli.main([str(BASE), "--dry-run", "--bin-dir", str(build_dir), "--inner", "1,2",
                     "--tolerance", "1e-8,1e-10", "--levels", "3"]) == 0
    names = capsys.readouterr().out.split()[1::2]
    assert names == ["001-mg-gs-rotating-9x9-L3-inner1-tol1E-08",
                     "002-mg-gs-rotating-9x9-L3-inner1-tol1E-10",
                     "003-mg-gs-rotating-9x9-L3-inner2-tol1E-08",
                     "004-mg-gs-rotating-9x9-L3-inner2-tol1E-10"]


def test_exit_statuses(build_dir, tmp_path, capsys):
    common = [str(BASE), "--bin-dir", str(build_dir), "--window", "0"]
    assert cli.main(common + ["-o", str(tmp_path / "a"), "--mode", "1", "--levels", "1"]) == 1
    assert cli.main(common + ["-o", str(tmp_path / "a"), "--levels", "3"]) == 2  # not empty
    assert cli.main(common + ["-o", str(tmp_path / "b"), "--nx", "20", "--mode", "1"]) == 2
    assert cli.main([str(BASE), "-o", str(tmp_path / "c"), "--bin-dir", str(tmp_path)]) == 1
    assert not (tmp_path / "b").exists() and not (tmp_path / "c").exists()
    with pytest.raises(SystemExit) as bad_option:
        cli.main(common + ["--levels"])
    assert bad_option.value.code == 2
    errors = [line for line in capsys.readouterr().err.splitlines() if "error:" in line]
    assert len(errors) == 5


def test_progress_on_a_terminal_runs_on_through_the_plots(build_dir, tmp_path, capsys,
                                                          monkeypatch):
    monkeypatch.setattr(warnings, "showwarning", warnings.showwarning)  # put back afterwards
    monkeypatch.setattr(sys.stderr, "isatty", lambda: True)
    assert cli.main([str(BASE), "-o", str(tmp_path / "out"), "--bin-dir", str(build_dir),
                     "--mode", "mg", "--levels", "3,4", "--window", "0"]) == 0
    lines = capsys.readouterr().err.splitlines()
    assert lines[1].startswith("[2/2] mg gs rotating 17x17 L4 ... ok ")
    assert [line.split(" ... ")[0] for line in lines[2:-1]] == [
        "loading the plotting library", *[f"plot {name}" for name in PLOTS]]
    assert lines[-1].startswith("2 runs, 2 ok, 0 not ok")
