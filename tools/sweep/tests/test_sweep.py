"""The whole sweep on a tiny study: runs, CSV, plots, exit statuses."""

import csv
import subprocess

import pytest
from conftest import REPO, SCRIPT

from advdiff2d_sweep import cli

BASE = REPO / "examples" / "multigrid-gs-65"
PLOTS = ("time_vs_unknowns", "iterations_vs_unknowns", "error_vs_h", "history")


def test_tiny_study_records_every_run_and_draws_the_plots(build_dir, tmp_path):
    out = tmp_path / "out"
    # Level count 1 is refused by the programs: one run fails and the sweep goes on.
    done = subprocess.run([SCRIPT, BASE, "-o", out, "--bin-dir", build_dir, "--mode", "1,2",
                           "--levels", "1,3,4", "--window", "0"],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""  # quiet when stderr is not a terminal
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
