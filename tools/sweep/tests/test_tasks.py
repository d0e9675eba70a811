"""run_task: one self-contained simulation in a scratch folder of its own."""

import os
import tempfile

from conftest import GOLDEN

from advdiff2d_sweep import tasks


def _task(build_dir, case="sg-gs-rotating-17", **extra):
    folder = GOLDEN / case
    files = {p.name: p.read_bytes().decode("latin-1") for p in folder.iterdir()
             if p.name.endswith(".ent")}
    task = {"name": case, "files": files, "reference_key": f"test-{case}",
            "reference_file": "exata1", "window": 0.0, "timeout": 120.0, "fields": False,
            "bin_dir": str(build_dir)}
    task.update(extra)
    return task


def _scratch_folders():
    return {n for n in os.listdir(tempfile.gettempdir()) if n.startswith("advdiff2d-run-")}


def test_a_run_brings_back_its_report_and_leaves_no_scratch_folder(build_dir):
    before = _scratch_folders()
    first = tasks.run_task(_task(build_dir))
    assert first["status"] == "ok", first["error"]
    assert "Simulacao" in first["report_text"]
    assert (first["worker"], first["nthreads"]) == ("local", 1) and first["host"]
    assert _scratch_folders() == before
    # The second run of the same reference key takes the cached reference: same report
    # values, without the reference tool (a bin_dir holding only the main program).
    only_program = tempfile.mkdtemp()
    try:
        os.symlink(build_dir / "advdiff2d", os.path.join(only_program, "advdiff2d"))
        again = tasks.run_task(_task(build_dir, bin_dir=only_program))
        assert again["status"] == "ok", again["error"]
        fresh = tasks.run_task(_task(build_dir, bin_dir=only_program, reference_key="other"))
        assert fresh["status"] == "failed" and "advdiff2d-reference not found" in fresh["error"]
    finally:
        os.unlink(os.path.join(only_program, "advdiff2d"))
        os.rmdir(only_program)


def test_failures_are_results_not_exceptions(build_dir, tmp_path):
    bad = _task(build_dir, reference_key="bad-level")
    bad["files"]["SG2D_000.ent"] = bad["files"]["SG2D_000.ent"].replace("17", "1", 1)
    failed = tasks.run_task(bad)
    assert failed["status"] == "failed" and failed["returncode"] not in (None, 0)
    assert failed["error"].startswith(("reference: ", "advdiff2d: ")) and failed["stderr"]
    assert tasks.run_task(_task(tmp_path))["status"] == "failed"  # no programs there
    malformed = tasks.run_task({"name": "x"})
    assert malformed["status"] == "failed" and malformed["error"].startswith("task: ")
    spent = tasks.run_task(_task(build_dir, reference_key="timeout", timeout=0.0))
    assert spent["status"] == "timeout"
