"""The installed tool: it runs the programs installed with it, the bundled study from the
installation prefix, and its manual page names every option it has."""

import csv
import os
import re
import shutil
import subprocess

import pytest
from conftest import REPO

from advdiff2d_sweep import cli

MAN_PAGE = REPO / "man" / "advdiff2d-sweep.1"


def test_the_installed_tool_runs_the_bundled_study_with_the_installed_programs(build_dir,
                                                                                tmp_path):
    if not (build_dir / "cmake_install.cmake").is_file():
        pytest.skip(f"{build_dir} is not a CMake build folder")
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", build_dir, "--prefix", prefix], check=True,
                   capture_output=True, timeout=120)
    study = prefix / "share" / "advdiff2d" / "sweep" / "studies" / "multigrid-vs-singlegrid"
    # Called by its full path from elsewhere, with no program on the PATH.
    done = subprocess.run([prefix / "bin" / "advdiff2d-sweep", "--study", study / "study.json",
                           "-o", "out", "--levels", "3", "--window", "0"], cwd=tmp_path,
                          capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, PATH="/usr/bin:/bin"))
    assert done.returncode == 0, done.stderr
    with open(tmp_path / "out" / "results.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == 4 and {r["status"] for r in rows} == {"ok"}
    plan = (tmp_path / "out" / "plan.json").read_text()
    assert str(study / "base") in plan
    if shutil.which("man"):
        page = subprocess.run(["man", "-l", prefix / "share" / "man" / "man1" /
                               "advdiff2d-sweep.1"], capture_output=True, text=True,
                              env=dict(os.environ, MANWIDTH="80"), timeout=60)
        assert page.returncode == 0 and "advdiff2d-sweep" in page.stdout, page.stderr


def test_the_manual_page_names_every_option_and_renders_from_the_source_tree():
    text = MAN_PAGE.read_text().replace("\\-", "-")
    options = [o for action in cli.build_parser()._actions for o in action.option_strings
               if o.startswith("--")]
    assert len(options) > 20
    assert [o for o in options if not re.search(re.escape(o) + r"\b", text)] == []
    if shutil.which("man"):
        page = subprocess.run(["man", "-l", MAN_PAGE], capture_output=True, text=True,
                              env=dict(os.environ, MANWIDTH="80"), timeout=60)
        assert page.returncode == 0 and "EXIT STATUS" in page.stdout, page.stderr
