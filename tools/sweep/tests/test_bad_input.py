"""Input a careless or hostile user gives the sweep: one error line, status 2, nothing run,
nothing written; and interruptions that leave the tables of the runs done."""

import csv
import os
import signal
import subprocess
import time

import pytest
from conftest import REPO, SCRIPT

from advdiff2d_sweep import cli

BASE = REPO / "examples" / "single-grid-gs-33"


def _sweep(*args, timeout=60):
    return subprocess.run([SCRIPT, *map(str, args)], capture_output=True, text=True,
                          timeout=timeout)


def _refused(done, message):
    assert done.returncode == 2, done.stderr
    errors = done.stderr.splitlines()
    assert len(errors) == 1 and "error:" in errors[0] and message in errors[0], done.stderr
    assert "Traceback" not in done.stderr


@pytest.mark.parametrize("text, message", [
    ("[" * 200000 + "]" * 200000, "nested too deeply"),
    ('{"base": "b", "timeout": Infinity}', "Infinity is not a JSON number"),
    ('{"timeout": 1e400}', "out of range"),
    ('{"levels": ' + "7" * 5000 + "}", "an integer of 5000 digits"),
    ('{"levels": [3], "groups": [{"levels": 99999999999}]}', "32-bit"),
    ('{"levels": "' + "7" * 5000 + '"}', "does not fit a 32-bit integer"),
    ('{"window": -1}', "window: must be a number of seconds from 0"),
    ('{"groups": {}}', "groups: must be a non-empty list"),
    # JSON can write half of a UTF-16 pair, which no table or terminal takes: refused as the
    # study is read, not after its first run.
    ('{"description": "a \\ud800 b"}', "description: holds a lone surrogate (\\ud800)"),
    ('{"groups": [{"name": "\\udfff", "levels": 3}]}', "groups: item 1: name: holds a lone surrogate"),
    ('{"levels": [3], "x\\ud83d": 1}', "holds a lone surrogate (\\ud83d)"),
    ('{"description": "two\\nlines"}', "description: holds the control character U+000A"),
    ('{"groups": [{"name": "bell\\u0007", "levels": 3}]}', "name: holds the control character"),
], ids=["deep", "infinity", "overflow", "long-integer", "int32", "long-text", "negative",
        "groups", "surrogate-description", "surrogate-name", "surrogate-key", "newline",
        "bell"])
def test_study_files_that_cannot_be_used(text, message, build_dir, tmp_path):
    study = tmp_path / "study.json"
    study.write_text(text)
    done = _sweep(BASE, "--study", study, "-o", tmp_path / "out", "--bin-dir", build_dir)
    _refused(done, message)
    assert not (tmp_path / "out").exists()


def test_files_that_are_not_regular_never_block(build_dir, tmp_path):
    fifo = tmp_path / "study.json"
    os.mkfifo(fifo)
    _refused(_sweep(BASE, "--study", fifo, "-o", tmp_path / "out", "--bin-dir", build_dir),
             "not a regular file")
    base = tmp_path / "base"
    base.mkdir()
    (base / "SG2D_000.ent").write_bytes((BASE / "SG2D_000.ent").read_bytes())
    os.mkfifo(base / "dados1.ent")
    _refused(_sweep(base, "-o", tmp_path / "out", "--bin-dir", build_dir),
             "dados1.ent: not a regular file")
    assert not (tmp_path / "out").exists()


def test_a_second_sweep_on_a_folder_in_use_says_so_and_stops(build_dir, tmp_path):
    out = tmp_path / "out"
    command = [SCRIPT, BASE, "-o", out, "--bin-dir", build_dir, "--levels", "3,4,5",
               "--window", "1", "--force"]
    first = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        for _ in range(1200):
            if (out / "runs").exists() or first.poll() is not None:
                break
            time.sleep(0.05)
        second = _sweep(*command[1:], "--solver", "msi")
        _, err = first.communicate(timeout=120)
    finally:
        first.kill()
    assert first.returncode == 0, err
    _refused(second, f"{out}: in use by another sweep (process {first.pid} on ")
    with open(out / "results.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert [r["solver"] for r in rows] == ["1"] * 3 and {r["status"] for r in rows} == {"ok"}
    assert sorted(p.name for p in (out / "runs").iterdir()) == [r["folder"][5:] for r in rows]
    assert not [n for n in os.listdir(out) if n.startswith(".")]  # the lock went with it


def test_a_plan_past_the_bound_is_refused_before_it_is_built(build_dir, capsys):
    many = lambda n, f: ",".join(f(i) for i in range(1, n + 1))  # noqa: E731
    code = cli.main([str(BASE), "--dry-run", "--bin-dir", str(build_dir), "--tolerance", many(299, lambda i: f"{i}e-12"),
                     "--gamma", many(399, lambda i: f"{i}e-3"),
                     "--max-iterations", many(399, str)])
    assert code == 2
    err = capsys.readouterr().err
    assert "47601099 runs, more than the 100000" in err and err.count("\n") == 1


@pytest.mark.parametrize("make, message", [
    (lambda out: (out / "results.csv").mkdir(), "results.csv: exists and is not a regular"),
    (lambda out: os.mkfifo(out / "summary.md"), "summary.md: exists and is not a regular"),
    (lambda out: (out / "runs").write_text("x"), "runs: exists and is not a folder"),
    (lambda out: (out / "fields").symlink_to("/"), "fields: exists and is not a folder"),
])
def test_every_output_path_is_checked_before_the_first_run(make, message, build_dir,
                                                           tmp_path):
    out = tmp_path / "out"
    out.mkdir()
    make(out)
    before = sorted(os.listdir(out))
    done = _sweep(BASE, "-o", out, "--force", "--bin-dir", build_dir, "--window", "0",
                  "--levels", "3")
    _refused(done, message)
    assert sorted(os.listdir(out)) == before


@pytest.mark.parametrize("signum, status", [(signal.SIGTERM, 143), (signal.SIGINT, 130)])
def test_an_interrupted_sweep_leaves_the_table_of_the_runs_done(signum, status, build_dir,
                                                                 tmp_path):
    out = tmp_path / "out"
    sweep = subprocess.Popen([SCRIPT, BASE, "-o", out, "--bin-dir", build_dir, "--mode", "1,2",
                              "--levels", "3,4,5", "--window", "0.5"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        for _ in range(1200):  # the table appears once the first run is done
            if (out / "results.csv").exists() or sweep.poll() is not None:
                break
            time.sleep(0.05)
        sweep.send_signal(signum)
        _, err = sweep.communicate(timeout=60)
    finally:
        sweep.kill()
    assert sweep.returncode == status and "Traceback" not in err
    with open(out / "results.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == 6 and rows[0]["status"] == "ok"
    assert {r["status"] for r in rows} <= {"ok", "not run"}
    assert all(int(r["outer_iterations"]) > 0 for r in rows if r["status"] == "ok")
    assert "6 runs" in (out / "summary.md").read_text()
    assert not [n for n in os.listdir(out) if n.startswith(".")]  # no temporary files left
